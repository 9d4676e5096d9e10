// Formatting and self-referencing edits of WideString.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "core/common/wide_string.h"

namespace orvia {
namespace {

// AppendFormatted takes its values as a pack; the tables hold them as lists.
void AppendWith(WideString& target,
                const wchar_t* format,
                const std::vector<const wchar_t*>& values) {
  switch (values.size()) {
    case 0:
      AppendFormatted(target, format);
      break;
    case 1:
      AppendFormatted(target, format, values[0]);
      break;
    case 2:
      AppendFormatted(target, format, values[0], values[1]);
      break;
    default:
      FAIL() << "add a case for " << values.size() << " values";
  }
}

struct FormatCase {
  const char* name;
  const wchar_t* target;
  const wchar_t* format;
  std::vector<const wchar_t*> values;
  const wchar_t* result;
};

TEST(AppendFormattedTest, ExpandsOnlyTheFormat) {
  const FormatCase cases[] = {
      {"value holding %s stays text", L"", L"[%s]", {L"%s"}, L"[%s]"},
      {"value holding %% stays text", L"", L"%s", {L"100%%"}, L"100%%"},
      {"%% in the format gives one percent", L"", L"100%% %s", {L"x"}, L"100% x"},
      {"values in order, after the old text", L"cmd ", L"%s=%s", {L"a", L"b"}, L"cmd a=b"},
      {"empty value", L"", L"\"%s\"", {L""}, L"\"\""},
      {"format without conversions", L"", L"/install", {}, L"/install"},
  };
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.name);
    WideString target(c.target);
    AppendWith(target, c.format, c.values);
    EXPECT_EQ(std::wstring(target.c_str(), target.length()), c.result);
  }
}

struct CutCase {
  const char* name;
  const wchar_t* target;
  const wchar_t* prefix;  // literal text of the format before its %s
  size_t value_length;
  size_t kept;  // units appended
};

TEST(AppendFormattedTest, CutsEachFormattedTextAt32765Units) {
  ASSERT_EQ(kMaxFormattedLength, 32765u);
  const CutCase cases[] = {
      {"exactly the limit", L"", L"", 32765, 32765},
      {"one past the limit", L"", L"", 32766, 32765},
      {"the format's own text counts", L"", L"ab", 32764, 32765},
      {"old text does not count", L"old", L"", 32766, 32765},
  };
  for (const CutCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring value(c.value_length, L'v');
    const std::wstring format = std::wstring(c.prefix) + L"%s";
    WideString target(c.target);
    AppendFormatted(target, format.c_str(), value.c_str());
    const std::wstring whole = std::wstring(c.prefix) + value;
    EXPECT_EQ(std::wstring(target.c_str(), target.length()),
              std::wstring(c.target) + whole.substr(0, c.kept));
  }
}

struct FatalCase {
  const char* name;
  const wchar_t* format;
  std::vector<const wchar_t*> values;
};

TEST(AppendFormattedDeathTest, BadFormatsRaiseIllegalInstruction) {
  const FatalCase cases[] = {
      {"unknown conversion", L"%d", {L"1"}},
      {"percent at the end", L"abc%", {}},
      {"missing value", L"%s %s", {L"one"}},
      {"null value", L"%s", {nullptr}},
      {"empty format", L"", {}},
      {"null format", nullptr, {}},
  };
  for (const FatalCase& c : cases) {
    SCOPED_TRACE(c.name);
    WideString target;
    EXPECT_DEATH(AppendWith(target, c.format, c.values), "fatal status 0xC000001D");
  }
}

enum class Edit { kAssign, kAppend, kAppendWhole };

struct AliasCase {
  const char* name;
  const wchar_t* text;
  Edit edit;
  size_t offset;  // the source is [offset, offset + length) of the string itself,
                  // or the string as a whole for kAppendWhole
  size_t length;
  const wchar_t* result;
};

TEST(WideStringTest, AssignsAndAppendsFromAPartOfItself) {
  // 15 units fill the first allocation, so appending them again must grow it
  // while the source still points into the old one.
  const wchar_t* const kFull = L"abcdefghijklmno";
  const AliasCase cases[] = {
      {"assign the tail", L"hello world", Edit::kAssign, 6, 5, L"world"},
      {"assign the whole", L"hello", Edit::kAssign, 0, 5, L"hello"},
      {"append the whole, growing", kFull, Edit::kAppend, 0, 15, L"abcdefghijklmnoabcdefghijklmno"},
      {"append the middle", L"abcdef", Edit::kAppend, 2, 3, L"abcdefcde"},
      {"append itself as a WideString", kFull, Edit::kAppendWhole, 0, 0,
       L"abcdefghijklmnoabcdefghijklmno"},
  };
  for (const AliasCase& c : cases) {
    SCOPED_TRACE(c.name);
    WideString s(c.text);
    const wchar_t* part = s.c_str() + c.offset;
    if (c.edit == Edit::kAssign)
      s.Assign(part, c.length);
    else if (c.edit == Edit::kAppend)
      s.Append(part, c.length);
    else
      s.Append(s);
    EXPECT_EQ(std::wstring(s.c_str(), s.length()), c.result);
  }
}

}  // namespace
}  // namespace orvia
