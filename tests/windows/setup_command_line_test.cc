// The setup program's command line for every form of stub arguments, with
// and without a tag.
#include <string>

#include "mini_test.h"
#include "stub/setup_command_line.h"
#include "tests/support/windows_test_support.h"

namespace {

using orvia::SystemWin32Api;
using orvia::WideString;

// The stub's own path, when the test wants one; empty: the lookup fails.
class OwnPathApi : public SystemWin32Api {
 public:
  explicit OwnPathApi(const wchar_t* own_path) : own_path_(own_path) {}
  DWORD GetModuleFileNameW(HMODULE module, LPWSTR name, DWORD size) override {
    if (module)
      return SystemWin32Api::GetModuleFileNameW(module, name, size);
    if (own_path_.empty())
      return 0;
    wcscpy(name, own_path_.c_str());
    return static_cast<DWORD>(own_path_.size());
  }

 private:
  std::wstring own_path_;
};

struct LineCase {
  const wchar_t* arguments;
  const char* tag;  // null: no tag
  const wchar_t* own_path;
  const wchar_t* setup_path;
  const wchar_t* line;  // null: no line (neither arguments nor tag)
};

TEST(SetupCommandLine, Table) {
  const wchar_t* S = L"C:\\Temp\\KUM1.tmp\\setup.exe";
  const wchar_t* M = L"C:\\dl\\OrviaUpdateSetup.exe";
  const LineCase cases[] = {
      {L"", "appguid=x&lang=en", M, S,
       L"C:\\Temp\\KUM1.tmp\\setup.exe /installsource taggedmi /install \"appguid=x&lang=en\""},
      {L"", nullptr, M, S, nullptr},
      {L"/silent x", "t", M, S, L"C:\\Temp\\KUM1.tmp\\setup.exe /silent x \"t\""},
      {L"/silent x", nullptr, M, S, L"C:\\Temp\\KUM1.tmp\\setup.exe /silent x"},
      {L"/recover", "t", M, S,
       L"C:\\Temp\\KUM1.tmp\\setup.exe /recover \"C:\\dl\\OrviaUpdateSetup.exe\" \"t\""},
      {L"/recover", nullptr, M, S,
       L"C:\\Temp\\KUM1.tmp\\setup.exe /recover \"C:\\dl\\OrviaUpdateSetup.exe\""},
      {L"/recover", "t", L"", S, L"C:\\Temp\\KUM1.tmp\\setup.exe /recover \"t\""},
      {L"/RECOVER", "t", M, S, L"C:\\Temp\\KUM1.tmp\\setup.exe /RECOVER \"t\""},
      {L"/recoverall x", nullptr, M, S,
       L"C:\\Temp\\KUM1.tmp\\setup.exe /recoverall x \"C:\\dl\\OrviaUpdateSetup.exe\""},
      {L"x /recover", nullptr, M, S, L"C:\\Temp\\KUM1.tmp\\setup.exe x /recover"},
      {L"/install x /NoMiTag", "t", M, S, L"C:\\Temp\\KUM1.tmp\\setup.exe /install x"},
      {L"/install x/nomitag", "t", M, S, L"C:\\Temp\\KUM1.tmp\\setup.exe /install x/nomitag \"t\""},
      {L"/nomitag ", "t", M, S, L"C:\\Temp\\KUM1.tmp\\setup.exe /nomitag  \"t\""},
      {L"/nomitag", "t", M, S, L"C:\\Temp\\KUM1.tmp\\setup.exe"},
      {L"/NOMITAG", nullptr, M, S, L"C:\\Temp\\KUM1.tmp\\setup.exe"},
      {L"/recover /nomitag", "t", M, S,
       L"C:\\Temp\\KUM1.tmp\\setup.exe /recover /nomitag \"C:\\dl\\OrviaUpdateSetup.exe\" \"t\""},
      {L"100% %s %1!s! done", "t", M, S, L"C:\\Temp\\KUM1.tmp\\setup.exe 100% %s %1!s! done \"t\""},
      {L"a", "t", M, L"C:\\Program Files\\Orvia\\Temp\\KUM2.tmp\\setup.exe",
       L"\"C:\\Program Files\\Orvia\\Temp\\KUM2.tmp\\setup.exe\" a \"t\""},
      {L"a  ", nullptr, M, S, L"C:\\Temp\\KUM1.tmp\\setup.exe a  "},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "arguments \"" << orvia_test::Narrow(c.arguments)
                                    << "\", tag " << (c.tag ? c.tag : "(none)"));
    OwnPathApi api(c.own_path);
    WideString line(L"stale");
    bool built = orvia::BuildSetupCommandLine(api, WideString(c.setup_path),
                                              WideString(c.arguments), c.tag, &line);
    EXPECT_EQ(built, c.line != nullptr);
    if (c.line) {
      EXPECT_STREQ(line.c_str(), c.line);
    }
  }
}

TEST(SetupCommandLine, NoMiTagSuffixIsTheLastNineCharacters) {
  SystemWin32Api api;
  const struct {
    const wchar_t* line;
    bool removed;
    const wchar_t* after;
  } cases[] = {
      {L"s /nomitag", true, L"s"},
      {L"s /NoMiTag", true, L"s"},
      {L" /nomitag", true, L""},
      {L"/nomitag", false, L"/nomitag"},
      {L"s /nomitag ", false, L"s /nomitag "},
      {L"s/nomitag", false, L"s/nomitag"},
      {L"", false, L""},
  };
  for (const auto& c : cases) {
    WideString line(c.line);
    EXPECT_EQ(orvia::RemoveNoMiTagSuffix(api, &line), c.removed) << orvia_test::Narrow(c.line);
    EXPECT_STREQ(line.c_str(), c.after);
  }
}

}  // namespace
