#include "core/string_table.h"

#include "core/common/byte_order.h"

namespace orvia {

bool FindStringTableEntry(const uint8_t* block,
                          size_t size,
                          unsigned entry,
                          size_t* units_offset,
                          size_t* count) {
  size_t pos = 0;
  for (unsigned i = 0; i < entry; ++i) {
    if (size - pos < 2)
      return false;
    size_t skip = 2 + 2 * ReadLe16(block + pos);
    if (skip > size - pos)
      return false;
    pos += skip;
  }
  if (size - pos < 2)
    return false;
  size_t n = ReadLe16(block + pos);
  // An entry whose units would run past the block is treated as absent.
  if (n == 0 || 2 * n > size - pos - 2)
    return false;
  *units_offset = pos + 2;
  *count = n;
  return true;
}

}  // namespace orvia
