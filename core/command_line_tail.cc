#include "core/command_line_tail.h"

namespace orvia {

size_t FindCommandLineTail(const char* line, LeadBytePredicate is_lead_byte, void* context) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(line);
  size_t i = 0;
  bool quoted = false;
  while (p[i] && (quoted || p[i] > 0x20)) {
    if (p[i] == '"')
      quoted = !quoted;
    // A trail byte may look like a quote or a blank; it belongs to its lead byte.
    if (is_lead_byte(context, p[i]) && p[i + 1])
      ++i;
    ++i;
  }
  while (p[i] >= 1 && p[i] <= 0x20)
    ++i;
  return i;
}

}  // namespace orvia
