// FindStringTableEntry on arbitrary blocks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/common/byte_order.h"
#include "core/string_table.h"

// Input: the entry number (low four bits), then the block.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  const unsigned entry = data[0] & 0x0F;
  const uint8_t* block = data + 1;
  const size_t block_size = size - 1;
  size_t offset = 0;
  size_t count = 0;
  if (!orvia::FindStringTableEntry(block, block_size, entry, &offset, &count))
    return 0;
  // A found entry is not empty, lies inside the block and follows its count.
  if (count == 0 || offset < 2 || offset + 2 * count > block_size)
    std::abort();
  if (orvia::ReadLe16(block + offset - 2) != count)
    std::abort();
  return 0;
}
