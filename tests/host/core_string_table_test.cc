// Finding entries in string-table blocks built here byte by byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/string_table.h"
#include "tests/support/string_block.h"

namespace orvia {
namespace {

using Bytes = std::vector<uint8_t>;

// The failure report's block: entries 8 to 11 hold text, the rest are empty.
std::vector<std::u16string> ReportEntries() {
  std::vector<std::u16string> entries(16);
  entries[8] = u"VantuCompanyName";
  entries[9] = u"%1!s! \u5B89\u88C5\u7A0B\u5E8F";
  entries[10] = u"Unknown Installer Error";
  entries[11] = u"Installation failed.";
  return entries;
}

// Where entry `index` starts in the block of `entries`.
size_t StartOf(const std::vector<std::u16string>& entries, size_t index) {
  return BuildStringBlock({entries.begin(), entries.begin() + index}).size();
}

Bytes Prefix(const Bytes& block, size_t size) {
  return Bytes(block.begin(), block.begin() + size);
}

struct IdCase {
  uint32_t id;
  uint16_t block;
  unsigned entry;
};

TEST(StringTableTest, IdsFallIntoBlocksOfSixteen) {
  const IdCase cases[] = {
      {21120, 1321, 0},   // first id of the report's block
      {21127, 1321, 7},   // same block, an empty entry
      {21128, 1321, 8},   // IDS_COMPANY_NAME
      {21131, 1321, 11},  // IDS_UNSUPPORTED_OS
      {21135, 1321, 15},  // last id of the block
      {21136, 1322, 0},   // the next block
      {0, 1, 0},         {0xFFFF, 4096, 15},
  };
  for (const IdCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "id " << c.id);
    EXPECT_EQ(StringBlockOf(c.id), c.block);
    EXPECT_EQ(StringEntryOf(c.id), c.entry);
  }
}

struct EntryCase {
  const char* name;
  Bytes block;
  unsigned entry;
  const char16_t* text;  // null: absent
};

TEST(StringTableTest, FindsPresentEntriesAndNeverReadsPastTheBlock) {
  const std::vector<std::u16string> report = ReportEntries();
  const Bytes full = BuildStringBlock(report);
  // A count that claims far more units than the block holds.
  std::vector<std::u16string> overlong(16);
  overlong[8] = u"after";
  Bytes overlong_block = BuildStringBlock(overlong);
  overlong_block[2 * 2] = 0xFF;  // entry 2's count: 0x7FFF units
  overlong_block[2 * 2 + 1] = 0x7F;
  // A count of 300 needs its high byte to skip the right distance.
  std::vector<std::u16string> long_entry(2);
  long_entry[0] = std::u16string(300, u'x');
  long_entry[1] = u"next";

  const EntryCase cases[] = {
      {"entry 8", full, 8, u"VantuCompanyName"},
      {"entry 9, not ASCII", full, 9, u"%1!s! \u5B89\u88C5\u7A0B\u5E8F"},
      {"entry 10", full, 10, u"Unknown Installer Error"},
      {"entry 11", full, 11, u"Installation failed."},
      {"entry 0 empty", full, 0, nullptr},
      {"entry 7 empty", full, 7, nullptr},
      {"entry 12 empty", full, 12, nullptr},
      {"entry 15 empty, last in the block", full, 15, nullptr},
      {"entry 8 ends on the block's last byte", Prefix(full, StartOf(report, 9)), 8,
       u"VantuCompanyName"},
      {"entry 8 one unit short", Prefix(full, StartOf(report, 9) - 2), 8, nullptr},
      {"block cut inside entry 8's count", Prefix(full, StartOf(report, 8) + 1), 8, nullptr},
      {"block cut inside entry 9's units", Prefix(full, StartOf(report, 9) + 2 + 3), 9, nullptr},
      {"block cut before entry 9", Prefix(full, StartOf(report, 9)), 9, nullptr},
      {"block cut before entry 9, entry 12 wanted", Prefix(full, StartOf(report, 9)), 12, nullptr},
      {"empty block", Bytes(), 0, nullptr},
      {"count runs past the block", overlong_block, 2, nullptr},
      {"entry after a count that runs past", overlong_block, 8, nullptr},
      {"300 units", BuildStringBlock(long_entry), 0, long_entry[0].c_str()},
      {"entry after 300 units", BuildStringBlock(long_entry), 1, u"next"},
  };
  for (const EntryCase& c : cases) {
    SCOPED_TRACE(c.name);
    // An exact-size heap copy, so a sanitizer build sees any read past its end.
    const std::vector<uint8_t> block(c.block);
    size_t offset = 0;
    size_t count = 0;
    const bool found = FindStringTableEntry(block.data(), block.size(), c.entry, &offset, &count);
    if (!c.text) {
      EXPECT_FALSE(found);
      continue;
    }
    EXPECT_TRUE(found);
    if (!found)
      continue;
    ASSERT_LE(offset + 2 * count, block.size());
    std::u16string text;
    for (size_t i = 0; i < count; ++i)
      text.push_back(
          static_cast<char16_t>(block[offset + 2 * i] | (block[offset + 2 * i + 1] << 8)));
    EXPECT_EQ(text, c.text);
  }
}

}  // namespace
}  // namespace orvia
