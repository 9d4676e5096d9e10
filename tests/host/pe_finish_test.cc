// pe-finish run as a process on real images, checked with pefile.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/common/byte_order.h"
#include "core/common/pe_format.h"
#include "tests/support/tool_test_support.h"

namespace orvia {
namespace {

using test_support::CommandResult;
using test_support::ReadBytes;
using test_support::RunCommand;
using test_support::ScopedTempDir;
using test_support::WriteBytes;

const std::string kPeFinish = std::string(ORVIA_TOOLS_DIR) + "/pe-finish";
const std::string kTemplate = std::string(ORVIA_TOOLS_DIR) + "/fixtures/template.exe";
const std::string kPeDump = std::string(ORVIA_SOURCE_DIR) + "/tests/fixtures/pack/pe_dump.py";
const std::string kWineDir = "/usr/lib/i386-linux-gnu/wine/i386-windows/";

// The first line of pefile's dump that starts with `key`, without the key.
std::string Fact(const CommandResult& dump, const std::string& key) {
  std::istringstream lines(dump.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.compare(0, key.size() + 1, key + " ") == 0)
      return line.substr(key.size() + 1);
  }
  return "(no " + key + " line; pe_dump said: " + dump.err + ")";
}

struct GoodImage {
  const char* label;
  std::string source;
  bool odd_length;  // append one byte so the checksum's last odd byte counts
};

TEST(PeFinishTest, SetsCharacteristicsAndChecksumOnly) {
  const GoodImage cases[] = {
      {"mingw template", kTemplate, false},
      {"template of odd length", kTemplate, true},
      {"wine cabarc.exe", kWineDir + "cabarc.exe", false},
      {"wine regedit.exe", kWineDir + "regedit.exe", false},
  };
  for (const GoodImage& c : cases) {
    SCOPED_TRACE(c.label);
    ScopedTempDir dir;
    ASSERT_TRUE(dir.valid());
    std::vector<uint8_t> before = ReadBytes(c.source);
    ASSERT_GT(before.size(), 512u) << c.source;
    if (c.odd_length)
      before.push_back(0x5A);
    std::string image = dir / "image.exe";
    ASSERT_TRUE(WriteBytes(image, before));
    ASSERT_EQ(chmod(image.c_str(), 0750), 0);

    CommandResult run = RunCommand({kPeFinish, image}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");

    CommandResult dump = RunCommand({"/usr/bin/python3", kPeDump, image}, dir);
    EXPECT_EQ(Fact(dump, "characteristics"), "0x122");
    std::istringstream checksum(Fact(dump, "checksum"));
    std::string stored, computed;
    checksum >> stored >> computed;
    EXPECT_EQ(stored, computed);
    EXPECT_NE(stored, "0x0");

    // Only the two characteristics bytes and the four checksum bytes change.
    std::vector<uint8_t> after = ReadBytes(image);
    ASSERT_EQ(after.size(), before.size());
    uint32_t pe = ReadLe32(before.data() + kPeNtHeadersOffsetField);
    size_t characteristics = pe + 4 + 18;
    size_t checksum_field = pe + 4 + 20 + 64;
    for (size_t i = 0; i < after.size(); ++i) {
      bool patched = (i >= characteristics && i < characteristics + 2) ||
                     (i >= checksum_field && i < checksum_field + 4);
      if (!patched) {
        ASSERT_EQ(after[i], before[i]) << "byte " << i;
      }
    }
    struct stat st;
    ASSERT_EQ(stat(image.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
  }
}

// Each row makes one bad input from the template; the tool must refuse it
// with one line naming the file and the reason, and leave it as it was.
struct BadImage {
  const char* label;
  std::map<size_t, uint8_t> patch;  // offsets from the PE signature
  size_t truncate_to;               // 0: keep the whole file
  const char* reason;
};

TEST(PeFinishTest, RefusesBadImages) {
  const BadImage cases[] = {
      {"64-bit machine", {{4, 0x64}, {5, 0x86}}, 0, "not a 32-bit x86 image (machine 0x8664)"},
      {"PE32+ optional header", {{24, 0x0B}, {25, 0x02}}, 0, "not a PE32 image"},
      {"no PE signature", {{0, 'X'}}, 0, "not a PE image (no PE signature)"},
      {"DLL flag set", {{4 + 19, 0x21}}, 0, "is a DLL"},
      // Security directory (the fifth) given a size: PE signature + 24 + 96 + 4 * 8 + 4.
      {"already signed", {{24 + 96 + 32 + 4, 0x08}}, 0, "already signed (finish before signing)"},
      {"cut inside the section table", {}, 0x200, "truncated section table"},
      {"cut inside the DOS header", {}, 40, "not a PE image (no MZ header)"},
  };
  std::vector<uint8_t> original = ReadBytes(kTemplate);
  ASSERT_GT(original.size(), 1024u);
  uint32_t pe = original[60] | (original[61] << 8);
  for (const BadImage& c : cases) {
    SCOPED_TRACE(c.label);
    ScopedTempDir dir;
    ASSERT_TRUE(dir.valid());
    std::vector<uint8_t> bad = original;
    for (const auto& [offset, value] : c.patch)
      bad[pe + offset] = value;
    if (c.truncate_to != 0)
      bad.resize(c.truncate_to);
    std::string image = dir / "bad.exe";
    ASSERT_TRUE(WriteBytes(image, bad));

    CommandResult run = RunCommand({kPeFinish, image}, dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.find("pe-finish: " + image + ": "), 0u) << run.err;
    EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(ReadBytes(image), bad);
  }
}

TEST(PeFinishTest, RefusesMissingFilesDirectoriesAndBadUsage) {
  ScopedTempDir dir;
  ASSERT_TRUE(dir.valid());
  struct Case {
    const char* label;
    std::vector<std::string> args;
    std::string expected;  // start of stderr
  };
  const Case cases[] = {
      {"missing file",
       {dir / "absent.exe"},
       "pe-finish: " + (dir / "absent.exe") + ": no such file"},
      {"directory", {dir.path()}, "pe-finish: " + dir.path() + ": is a directory"},
      {"no argument", {}, "usage: pe-finish IMAGE"},
      {"two arguments", {kTemplate, kTemplate}, "usage: pe-finish IMAGE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<std::string> argv = {kPeFinish};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    CommandResult run = RunCommand(argv, dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.compare(0, c.expected.size(), c.expected), 0) << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "absent.exe"));
}

}  // namespace
}  // namespace orvia
