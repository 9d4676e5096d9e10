// Builds string-table resource blocks for the tests and the fuzz seeds.
#ifndef ORVIA_TESTS_SUPPORT_STRING_BLOCK_H_
#define ORVIA_TESTS_SUPPORT_STRING_BLOCK_H_

#include <cstdint>
#include <string>
#include <vector>

namespace orvia {

// Each entry: a little-endian count of UTF-16 units, then the units.
inline std::vector<uint8_t> BuildStringBlock(const std::vector<std::u16string>& entries) {
  std::vector<uint8_t> block;
  for (const std::u16string& text : entries) {
    block.push_back(static_cast<uint8_t>(text.size()));
    block.push_back(static_cast<uint8_t>(text.size() >> 8));
    for (char16_t unit : text) {
      block.push_back(static_cast<uint8_t>(unit));
      block.push_back(static_cast<uint8_t>(unit >> 8));
    }
  }
  return block;
}

}  // namespace orvia

#endif  // ORVIA_TESTS_SUPPORT_STRING_BLOCK_H_
