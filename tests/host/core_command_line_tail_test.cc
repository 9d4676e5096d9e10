// The stub's arguments as the narrow command line hands them over.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/command_line_tail.h"

namespace orvia {
namespace {

// Stands in for the code page: the context holds the lowest lead byte, or 0
// for a single-byte code page.
bool LeadsFrom(void* context, unsigned char byte) {
  const unsigned lowest = *static_cast<const unsigned*>(context);
  return lowest != 0 && byte >= lowest;
}

constexpr unsigned kSingleByte = 0;
constexpr unsigned kDoubleByte = 0x81;

struct TailCase {
  const char* name;
  const char* line;  // may hold bytes after its NUL that must never be reached
  unsigned lowest_lead_byte;
  const char* tail;
};

TEST(CommandLineTailTest, SkipsProgramNameAndLeadingBlanks) {
  const TailCase cases[] = {
      {"only the program name", "setup.exe", kSingleByte, ""},
      {"quoted path with a blank", "\"C:\\Program Files\\setup.exe\" /recover x", kSingleByte,
       "/recover x"},
      {"three blanks before, two kept after", "setup.exe   /nomitag  ", kSingleByte, "/nomitag  "},
      {"blanks alone make no tail", "setup.exe   ", kSingleByte, ""},
      {"tab ends the name", "setup.exe\t/a", kSingleByte, "/a"},
      {"control bytes end the name and are skipped", "setup.exe\x01\x1f \t/a\x01", kSingleByte,
       "/a\x01"},
      {"quote inside the name hides a blank", "se\"tup x\".exe /a", kSingleByte, "/a"},
      {"unbalanced quote takes the rest", "\"setup.exe /a /b", kSingleByte, ""},
      {"blank first: empty program name", "  setup.exe /a", kSingleByte, "setup.exe /a"},
      {"empty line", "", kSingleByte, ""},
      {"trail byte that is a quote", "a\x81\" /b", kDoubleByte, "/b"},
      {"trail byte that is a blank", "a\x81 b /c", kDoubleByte, "/c"},
      {"same bytes in a single-byte code page", "a\x81 b /c", kSingleByte, "b /c"},
      {"lead byte right before the NUL", "a\x81\0 /x", kDoubleByte, ""},
  };
  for (const TailCase& c : cases) {
    SCOPED_TRACE(c.name);
    unsigned lowest = c.lowest_lead_byte;
    size_t offset = FindCommandLineTail(c.line, LeadsFrom, &lowest);
    // The tail is a suffix of the text before its NUL.
    ASSERT_LE(offset, std::strlen(c.line));
    EXPECT_EQ(std::string(c.line + offset), c.tail);
    EXPECT_EQ(offset + std::strlen(c.tail), std::strlen(c.line));
  }
}

}  // namespace
}  // namespace orvia
