// FindCommandLineTail on arbitrary lines and code pages.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/command_line_tail.h"

namespace {

// The context holds the lowest lead byte, or 0 for a single-byte code page.
bool LeadsFrom(void* context, unsigned char byte) {
  const unsigned lowest = *static_cast<const unsigned*>(context);
  return lowest != 0 && byte >= lowest;
}

}  // namespace

// Input: the lowest lead byte, then the line (its first NUL ends it).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  unsigned lowest = data[0];
  // Exactly the line and its NUL, so reading past the NUL shows.
  std::vector<char> line(data + 1, data + size);
  line.push_back('\0');
  const size_t offset = orvia::FindCommandLineTail(line.data(), LeadsFrom, &lowest);
  const size_t length = std::strlen(line.data());
  if (offset > length)
    std::abort();
  // The tail never starts with a blank or a control byte.
  const unsigned char first = static_cast<unsigned char>(line[offset]);
  if (first != 0 && first <= 0x20)
    std::abort();
  return 0;
}
