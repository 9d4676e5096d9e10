// Reads entries out of a string-table resource block.
#ifndef ORVIA_CORE_STRING_TABLE_H_
#define ORVIA_CORE_STRING_TABLE_H_

#include <cstddef>
#include <cstdint>

namespace orvia {

// String-table resources hold ids in blocks of 16: id n is entry n % 16 of
// block n / 16 + 1.
inline uint16_t StringBlockOf(uint32_t id) {
  return static_cast<uint16_t>(id / 16 + 1);
}
inline unsigned StringEntryOf(uint32_t id) {
  return id % 16;
}

// A block is 16 entries, each a 16-bit little-endian count of UTF-16 units
// followed by the units. Finds entry `entry` in the `size` bytes at `block`:
// true with the offset of its first unit and its unit count; false when the
// entry is empty or the block ends before it (including in its units).
bool FindStringTableEntry(const uint8_t* block,
                          size_t size,
                          unsigned entry,
                          size_t* units_offset,
                          size_t* count);

}  // namespace orvia

#endif  // ORVIA_CORE_STRING_TABLE_H_
