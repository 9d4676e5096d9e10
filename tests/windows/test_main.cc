// gtest main, plus child modes that end the process through a fatal
// condition so that a test can read the exit status.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

#include "core/common/string_list.h"
#include "mini_test.h"
#include "stub/failure_report.h"
#include "stub/platform/win32_api.h"

namespace {

// Exits with the exception's code, or with 1 when it was continuable: the
// stub's fatal conditions must never be resumable.
LONG WINAPI ExitWithExceptionCode(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  TerminateProcess(GetCurrentProcess(),
                   (record->ExceptionFlags & EXCEPTION_NONCONTINUABLE) ? record->ExceptionCode : 1);
  return EXCEPTION_EXECUTE_HANDLER;
}

int RunChildMode(const wchar_t* mode) {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(ExitWithExceptionCode);
  if (wcscmp(mode, L"--child=format-missing") == 0) {
    // A format string the executable does not carry.
    orvia::SystemWin32Api api;
    orvia::WideString text;
    orvia::FormatResourceString(api, text, 21120, L"x");
    return 0;
  }
  if (wcscmp(mode, L"--child=string-list-at") == 0) {
    orvia::StringList list;
    list.Add(L"only");
    list.At(1);
    return 0;
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int wide_argc = 0;
  wchar_t** wide_argv = CommandLineToArgvW(GetCommandLineW(), &wide_argc);
  if (wide_argc > 1 && wcsncmp(wide_argv[1], L"--child=", 8) == 0)
    return RunChildMode(wide_argv[1]);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
