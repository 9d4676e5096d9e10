// Tar header fields, the position of the next header, member-name safety and
// the setup-program rule.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>

#include "core/payload/tar_header.h"

namespace orvia {
namespace {

constexpr int64_t k2GiB = int64_t{1} << 31;

// A header with every field that the reader ignores filled in, so that a
// field read past its end would show.
struct HeaderBytes {
  uint8_t block[kTarBlockSize];
};

HeaderBytes MakeHeader(const std::string& name, const std::string& size, const std::string& magic) {
  HeaderBytes h;
  std::memset(h.block, 0, sizeof(h.block));
  auto put = [&h](size_t offset, const std::string& bytes) {
    std::memcpy(h.block + offset, bytes.data(), bytes.size());
  };
  put(0, name.substr(0, 100));
  put(100, std::string("0000644\0", 8));  // mode
  put(108, std::string("0001750\0", 8));  // uid
  put(116, std::string("0001750\0", 8));  // gid
  put(124, size.substr(0, 12));
  put(136, std::string("14762427301\0", 12));  // mtime
  put(148, std::string("0123456\0", 8));       // checksum, never verified
  put(156, "0");                               // typeflag
  put(257, magic.substr(0, 6));
  put(263, "00");  // version
  put(265, "user");
  return h;
}

const std::string kPosixMagic("ustar\0", 6);
const std::string kGnuMagic("ustar ", 6);
const std::string kElevenDigits("00000001750\0", 12);  // 1000

struct ParseCase {
  const char* label;
  std::string name;
  std::string size;
  std::string magic;
  TarHeaderKind kind;
  std::string parsed_name;  // entries only
  int64_t parsed_size;      // entries only
};

TEST(TarHeaderTest, ParsesNameSizeAndMagic) {
  const std::string hundred(100, 'n');
  const ParseCase cases[] = {
      {"posix magic", "setup.exe", kElevenDigits, kPosixMagic, TarHeaderKind::kEntry, "setup.exe",
       01750},
      {"gnu magic", "setup.exe", kElevenDigits, kGnuMagic, TarHeaderKind::kEntry, "setup.exe",
       01750},
      {"name of 100 bytes without NUL, mode not taken", hundred, kElevenDigits, kPosixMagic,
       TarHeaderKind::kEntry, hundred, 01750},
      {"name ends at its first NUL", std::string("ab\0cd", 5), kElevenDigits, kPosixMagic,
       TarHeaderKind::kEntry, "ab", 01750},
      {"empty name", "", kElevenDigits, kPosixMagic, TarHeaderKind::kEntry, "", 01750},
      {"leading blanks", "f", std::string("   1750\0", 8), kPosixMagic, TarHeaderKind::kEntry, "f",
       01750},
      {"leading tab, newline, vt, ff, cr", "f", "\t\n\v\f\r17", kPosixMagic, TarHeaderKind::kEntry,
       "f", 017},
      {"plus sign", "f", "+17", kPosixMagic, TarHeaderKind::kEntry, "f", 017},
      {"minus sign", "f", "-17", kPosixMagic, TarHeaderKind::kEntry, "f", -017},
      {"blank after the sign", "f", "+ 17", kPosixMagic, TarHeaderKind::kEntry, "f", 0},
      {"no octal digit", "f", "89", kPosixMagic, TarHeaderKind::kEntry, "f", 0},
      {"stops at the first non-octal", "f", "7x1", kPosixMagic, TarHeaderKind::kEntry, "f", 7},
      {"stops at 8", "f", "178", kPosixMagic, TarHeaderKind::kEntry, "f", 017},
      {"all NUL", "f", std::string(12, '\0'), kPosixMagic, TarHeaderKind::kEntry, "f", 0},
      {"12 digits, not running into mtime", "f", "777777777777", kPosixMagic, TarHeaderKind::kEntry,
       "f", 0777777777777},
      {"four zero magic bytes, other fields set", "setup.exe", kElevenDigits,
       std::string("\0\0\0\0ar", 6), TarHeaderKind::kEnd, "", 0},
      {"old header without magic", "setup.exe", kElevenDigits, std::string(6, '\0'),
       TarHeaderKind::kEnd, "", 0},
      {"three zero bytes, then text", "setup.exe", kElevenDigits, std::string("\0\0\0r\0\0", 6),
       TarHeaderKind::kDamaged, "", 0},
      {"capital USTAR", "setup.exe", kElevenDigits, std::string("USTAR\0", 6),
       TarHeaderKind::kDamaged, "", 0},
      {"usta only", "setup.exe", kElevenDigits, std::string("usta\0\0", 6), TarHeaderKind::kDamaged,
       "", 0},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.label);
    const HeaderBytes h = MakeHeader(c.name, c.size, c.magic);
    const TarHeader header = ParseTarHeader(h.block);
    EXPECT_EQ(header.kind, c.kind);
    if (c.kind != TarHeaderKind::kEntry)
      continue;
    ASSERT_LE(header.name_length, kTarNameSize);
    EXPECT_EQ(header.name, reinterpret_cast<const char*>(h.block));
    EXPECT_EQ(std::string(header.name, header.name_length), c.parsed_name);
    EXPECT_EQ(header.size, c.parsed_size);
  }
}

struct NextCase {
  const char* label;
  int64_t data_start;
  int64_t size;
  int64_t next;  // -1: refused
};

TEST(TarHeaderTest, NextHeaderRoundsUpAndStaysBelow2GiB) {
  const NextCase cases[] = {
      {"size 0", 512, 0, 512},
      {"one byte", 512, 1, 1024},
      {"one byte short of a block", 512, 511, 1024},
      {"a whole block", 512, 512, 1024},
      {"one byte past a block", 512, 513, 1536},
      {"negative size", 512, -1, -1},
      {"size of 2 GiB", 512, k2GiB, -1},
      {"size past 4 GiB", 512, int64_t{1} << 32, -1},
      {"next header at the last block below 2 GiB", 512, k2GiB - 1024, k2GiB - 512},
      {"next header at 2 GiB", 1024, k2GiB - 1024, -1},
      {"data ends below 2 GiB, padding reaches it", 512, k2GiB - 513, -1},
      {"size below 2 GiB, entry past it", 4096, k2GiB - 1, -1},
  };
  for (const NextCase& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(NextTarHeaderPosition(c.data_start, c.size), c.next);
  }
}

struct NameCase {
  const char* name;
  bool safe;
};

TEST(TarHeaderTest, RefusesNamesThatLeaveTheDirectoryOrOpenADevice) {
  const NameCase cases[] = {
      {"..", false},
      {"a/../b", false},
      {"a\\..\\b", false},
      {"../x", false},
      {"x/..", false},
      {"C:x", false},
      {"c:\\x", false},
      {"a:b", false},
      {"/x", false},
      {"\\x", false},
      {"NUL", false},
      {"nul", false},
      {"con.txt", false},
      {"Con.Txt", false},
      {"COM1", false},
      {"lpt9.log", false},
      {"CONIN$", false},
      {"NUL .txt", false},
      {"sub/aux.h", false},
      {"././@PaxHeader", true},
      {"setup.exe", true},
      {"..a", true},
      {"a..", true},
      {"...", false},
      {"a/.. /b", false},
      {". .", false},
      {"./x", true},
      {"a/./b", true},
      {"COM10", true},
      {"CONSOLE", true},
      {"nul_x", true},
      {"x.nul", true},
      // Windows maps these to devices too; the superscripts are code page
      // 1252's bytes for one, two and three.
      {"COM0", false},
      {"lpt0.txt", false},
      {"COM\xB9", false},
      {"lpt\xB2.log", false},
      {"COM\xB3 .x", false},
      {"COM\xB4", true},
      {"COM\xBC", true},
      {"LPT", true},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name);
    // Exactly the name's bytes, as the header field gives them without a NUL,
    // and the same name widened as the stub widens it in code page 1252.
    const std::string name(c.name);
    EXPECT_EQ(IsSafeNarrowMemberName(name.data(), name.size()), c.safe);
    std::wstring wide;
    for (char byte : name)
      wide += static_cast<wchar_t>(static_cast<unsigned char>(byte));
    EXPECT_EQ(IsSafeMemberName(wide.c_str(), wide.size()), c.safe);
  }
}

struct SetupNameCase {
  const wchar_t* name;
  bool setup;
};

TEST(TarHeaderTest, SetupProgramNamesEndInExe) {
  const SetupNameCase cases[] = {
      {L"setup.exe", true}, {L".exe", false},   {L"a.exe", true},  {L"a.exe.txt", false},
      {L"a.exe ", false},   {L"./x.exe", true}, {L"a_exe", false}, {L"", false},
  };
  for (const SetupNameCase& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.name << '"');
    EXPECT_EQ(IsSetupProgramName(c.name, std::wcslen(c.name)), c.setup);
  }
}

}  // namespace
}  // namespace orvia
