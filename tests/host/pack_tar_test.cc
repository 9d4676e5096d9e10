// The tarball writer and the member walk, checked field by field and with
// Python's tarfile as an independent reader.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/tool_test_support.h"
#include "tools/pack/tar_list.h"
#include "tools/pack/tar_writer.h"

namespace orvia {
namespace {

using Bytes = std::vector<uint8_t>;
using test_support::RunCommand;
using test_support::ScopedTempDir;

const std::string kTarDump = std::string(ORVIA_SOURCE_DIR) + "/tests/fixtures/pack/tar_dump.py";

std::string Field(const Bytes& header, size_t offset, size_t length) {
  return std::string(reinterpret_cast<const char*>(header.data() + offset), length);
}

Bytes Pattern(size_t size) {
  Bytes data(size);
  for (size_t i = 0; i < size; ++i)
    data[i] = static_cast<uint8_t>(i * 7 + 3);
  return data;
}

std::string Hex(const Bytes& data) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : data) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 15]);
  }
  return text.empty() ? "-" : text;
}

struct HeaderCase {
  std::string name;
  size_t size;
};

TEST(TarWriterTest, OneMemberHeaderDataAndPadding) {
  const HeaderCase cases[] = {
      {"a", 0},
      {"setup.exe", 1},
      {"block.bin", 511},
      {"exact.bin", 512},
      {"over.bin", 513},
      {std::string(99, 'n'), 9 * 512},    // member ends where a second end block must start
      {std::string(100, 'x'), 18 * 512},  // the name fills its field without a NUL
  };
  for (const HeaderCase& c : cases) {
    SCOPED_TRACE("name of " + std::to_string(c.name.size()) + " bytes, size " +
                 std::to_string(c.size));
    TarWriter writer;
    Bytes data = Pattern(c.size);
    std::string error;
    ASSERT_TRUE(writer.AddMember(c.name, data.data(), data.size(), &error)) << error;
    Bytes archive = writer.Finish();

    Bytes header(archive.begin(), archive.begin() + kTarBlockSize);
    std::string name_field = Field(header, 0, 100);
    EXPECT_EQ(name_field.substr(0, c.name.size()), c.name);
    EXPECT_EQ(name_field.find_first_not_of('\0', c.name.size()), std::string::npos);
    EXPECT_EQ(Field(header, 100, 8), std::string("0000644\0", 8));
    EXPECT_EQ(Field(header, 108, 8), std::string("0000000\0", 8));
    EXPECT_EQ(Field(header, 116, 8), std::string("0000000\0", 8));
    char size_text[16];
    std::snprintf(size_text, sizeof(size_text), "%011llo", static_cast<unsigned long long>(c.size));
    EXPECT_EQ(Field(header, 124, 12), std::string(size_text, 11) + std::string(1, '\0'));
    EXPECT_EQ(Field(header, 136, 12), std::string("00000000000\0", 12));
    EXPECT_EQ(header[156], '0');
    EXPECT_EQ(Field(header, 257, 8), std::string("ustar\0"
                                                 "00",
                                                 8));

    // Checksum: the sum of all bytes with the field counted as blanks.
    unsigned sum = 0;
    for (size_t i = 0; i < kTarBlockSize; ++i)
      sum += (i >= 148 && i < 156) ? ' ' : header[i];
    char sum_text[16];
    std::snprintf(sum_text, sizeof(sum_text), "%06o", sum);
    EXPECT_EQ(Field(header, 148, 8), std::string(sum_text) + std::string("\0 ", 2));

    size_t padded = (c.size + 511) / 512 * 512;
    EXPECT_TRUE(std::equal(data.begin(), data.end(), archive.begin() + kTarBlockSize));
    EXPECT_EQ(archive.size() % kTarRecordSize, 0u);
    EXPECT_GE(archive.size(), kTarBlockSize + padded + 2 * kTarBlockSize);
    EXPECT_LT(archive.size(), kTarBlockSize + padded + 2 * kTarBlockSize + kTarRecordSize);
    for (size_t i = kTarBlockSize + c.size; i < archive.size(); ++i)
      ASSERT_EQ(archive[i], 0) << "offset " << i;
  }
}

TEST(TarWriterTest, IndependentReaderSeesTheMembers) {
  ScopedTempDir dir;
  ASSERT_TRUE(dir.valid());
  const HeaderCase members[] = {
      {"setup.exe", 700}, {"empty.txt", 0}, {"Data.BIN", 512}, {std::string(100, 'L'), 3}};
  TarWriter writer;
  std::string expected;
  for (const HeaderCase& m : members) {
    Bytes data = Pattern(m.size);
    std::string error;
    ASSERT_TRUE(writer.AddMember(m.name, data.data(), data.size(), &error)) << error;
    expected += m.name + " " + std::to_string(m.size) + " 644 0 0 0 0 " + Hex(data) + "\n";
  }
  ASSERT_TRUE(test_support::WriteBytes(dir / "a.tar", writer.Finish()));
  test_support::CommandResult dump = RunCommand({"/usr/bin/python3", kTarDump, dir / "a.tar"}, dir);
  EXPECT_EQ(dump.status, 0) << dump.err;
  EXPECT_EQ(dump.out, expected);
}

TEST(TarWriterTest, RefusesNamesAndSizesTheStubCannotExtract) {
  struct Case {
    std::string name;
    uint64_t size;
    const char* reason;
  };
  const Case cases[] = {
      {"", 1, "empty member name"},
      {std::string(101, 'x'), 1, "name longer than 100 bytes"},
      {"dir/setup.exe", 1, "name contains a path separator"},
      {"dir\\setup.exe", 1, "name contains a path separator"},
      {"..", 1, "name is not a file name"},
      {std::string("a\0b", 3), 1, "name contains a NUL byte"},
      {"big.bin", 1ull << 31, "member of 2 GiB or more"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    TarWriter writer;
    std::string error;
    EXPECT_EQ(writer.AddMember(c.name, c.size, &error), nullptr);
    EXPECT_EQ(error, c.reason);
    EXPECT_EQ(writer.size(), 0u);
  }
}

TEST(TarMembersTest, WalksWhatTheWriterWrote) {
  TarWriter writer;
  const HeaderCase members[] = {{"one.exe", 513}, {"two", 0}, {"three.dll", 1024}};
  for (const HeaderCase& m : members) {
    std::string error;
    ASSERT_NE(writer.AddMember(m.name, m.size, &error), nullptr) << error;
  }
  Bytes archive = writer.Finish();
  std::vector<TarMember> listed;
  std::string error;
  ASSERT_TRUE(ListTarMembers(archive.data(), archive.size(), &listed, &error)) << error;
  ASSERT_EQ(listed.size(), 3u);
  size_t offset = 0;
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(listed[i].name, members[i].name);
    EXPECT_EQ(listed[i].size, members[i].size);
    EXPECT_EQ(listed[i].data_offset, offset + kTarBlockSize);
    offset += kTarBlockSize + (members[i].size + 511) / 512 * 512;
  }
}

TEST(TarMembersTest, RefusesWhatTheStubWouldFailOn) {
  TarWriter writer;
  std::string error;
  ASSERT_NE(writer.AddMember("setup.exe", 100, &error), nullptr);
  const Bytes good = writer.Finish();
  struct Case {
    const char* label;
    size_t offset;  // byte to change in the first header, or SIZE_MAX for none
    const char* text;
    size_t keep;  // bytes of the archive to keep
    const char* reason;
  };
  const Case cases[] = {
      {"no end block", SIZE_MAX, "", 1024, "ends without an end-of-archive block"},
      {"old magic", 257, "ustaX", good.size(), "no ustar header at offset 0"},
      {"negative size", 124, "-0000000144", good.size(), "has a negative size"},
      {"parent directory", 0, "../setup.exe", good.size(), "would leave the working directory"},
      {"device name", 0, "NUL.setup", good.size(), "open a device"},
      {"member in a directory", 0, "a/setup.exe", good.size(), "lies in a directory"},
      {"data past the end", 124, "00000100000", good.size(), "runs past the end"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Bytes bad(good.begin(), good.begin() + static_cast<ptrdiff_t>(c.keep));
    if (c.offset != SIZE_MAX)
      std::memcpy(bad.data() + c.offset, c.text, std::strlen(c.text));
    std::vector<TarMember> listed;
    EXPECT_FALSE(ListTarMembers(bad.data(), bad.size(), &listed, &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace orvia
