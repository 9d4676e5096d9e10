// The failure box as the user sees it: shown for real on the display, read
// back and closed by the box reader, in the language the session runs in
// (ORVIA_EXPECT_LANGUAGE: "en" or "zh").
#include <cstdlib>
#include <string>

#include "mini_test.h"
#include "stub/entry.h"
#include "stub/result_codes.h"
#include "tests/support/windows_test_support.h"

namespace {

using orvia::SystemWin32Api;

struct Texts {
  const wchar_t* caption;
  const wchar_t* unsupported_os;
  const wchar_t* unknown_error;
};

const Texts kEnglish = {
    L"VantuCompanyName Installer",
    L"Installation failed. VantuCompanyName Installer requires Windows 2000 Service Pack 4 or "
    L"better.",
    L"Unknown Installer Error"};
const Texts kChinese = {
    L"VantuCompanyName \u5b89\u88c5\u7a0b\u5e8f",
    L"\u5b89\u88c5\u5931\u8d25\u3002VantuCompanyName \u5b89\u88c5\u7a0b\u5e8f\u9700\u8981 "
    L"Windows 2000 Service Pack 4 \u6216\u66f4\u9ad8\u7248\u672c\u3002",
    L"\u672a\u77e5\u7684\u5b89\u88c5\u7a0b\u5e8f\u9519\u8bef"};

const Texts& Expected() {
  const char* language = std::getenv("ORVIA_EXPECT_LANGUAGE");
  return language && std::string(language) == "zh" ? kChinese : kEnglish;
}

class OldWindowsApi : public SystemWin32Api {
 public:
  BOOL VerifyVersionInfoW(LPOSVERSIONINFOEXW, DWORD, DWORDLONG) override { return FALSE; }
};

class FailingComApi : public SystemWin32Api {
 public:
  HRESULT CoInitializeEx(LPVOID, DWORD) override { return CO_E_INIT_TLS; }
};

// Shows the box through `api` while the reader waits for it; returns the
// exit code and fills caption and text as the reader saw them.
uint32_t RunWithBox(orvia::Win32Api& api, std::wstring& caption, std::wstring& text) {
  orvia_test::ScratchDirectory scratch;
  const std::wstring report = scratch.path() + L"\\box.txt";
  HANDLE reader = orvia_test::Start(L"\"" + orvia_test::OwnDirectory() + L"box_reader.exe\" \"" +
                                    report + L"\"");
  EXPECT_NE(reader, nullptr);
  uint32_t code = orvia::StubMain(api, GetModuleHandleW(nullptr));
  DWORD reader_status = 1;
  if (reader) {
    WaitForSingleObject(reader, 30000);
    GetExitCodeProcess(reader, &reader_status);
    CloseHandle(reader);
  }
  EXPECT_EQ(reader_status, 0u) << "the box reader found no box";
  std::string bytes = orvia_test::ReadFileBytes(report);
  std::wstring seen(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
  size_t newline = seen.find(L'\n');
  caption = seen.substr(0, newline);
  text = newline == std::wstring::npos ? L"" : seen.substr(newline + 1);
  return code;
}

TEST(FailureBox, UnsupportedWindows) {
  OldWindowsApi api;
  std::wstring caption, text;
  EXPECT_EQ(RunWithBox(api, caption, text), orvia::STUB_E_UNSUPPORTED_OS);
  EXPECT_EQ(caption, Expected().caption);
  EXPECT_EQ(text, Expected().unsupported_os);
}

TEST(FailureBox, ComStartFails) {
  FailingComApi api;
  std::wstring caption, text;
  EXPECT_EQ(RunWithBox(api, caption, text), static_cast<uint32_t>(CO_E_INIT_TLS));
  EXPECT_EQ(caption, Expected().caption);
  EXPECT_EQ(text, Expected().unknown_error);
}

}  // namespace
