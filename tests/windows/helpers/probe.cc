// A stand-in setup program. Writes a report to the file named by
// ORVIA_PROBE_REPORT (UTF-8, one "key: value" per line) and exits with the
// code in ORVIA_PROBE_EXIT (decimal or 0x-hex; default 0). Reported: the
// command line, its own path, the files beside it, its startup flags and show
// mode, and its current directory. ORVIA_PROBE_SLEEP_MS keeps it running for
// a while, so that several installers overlap.
#include <windows.h>

#include <cstdlib>
#include <cwchar>

namespace {

HANDLE g_report = INVALID_HANDLE_VALUE;

void Write(const wchar_t* text) {
  char utf8[8192];
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof(utf8), nullptr, nullptr);
  DWORD written = 0;
  if (n > 1)
    WriteFile(g_report, utf8, n - 1, &written, nullptr);
}

void Line(const wchar_t* key, const wchar_t* value) {
  Write(key);
  Write(L": ");
  Write(value);
  Write(L"\n");
}

}  // namespace

int wmain() {
  wchar_t report_path[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"ORVIA_PROBE_REPORT", report_path, MAX_PATH)) {
    g_report = CreateFileW(report_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  }
  if (g_report != INVALID_HANDLE_VALUE) {
    Line(L"command_line", GetCommandLineW());
    wchar_t own[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    Line(L"own_path", own);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    wchar_t number[32];
    swprintf(number, 32, L"0x%08lX", startup.dwFlags);
    Line(L"startup_flags", number);
    swprintf(number, 32, L"%u", static_cast<unsigned>(startup.wShowWindow));
    Line(L"show_window", number);
    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    Line(L"current_directory", current);
    // The files beside the probe, as the stub left them for the setup program.
    wchar_t pattern[MAX_PATH] = {};
    wcscpy(pattern, own);
    wchar_t* slash = wcsrchr(pattern, L'\\');
    if (slash) {
      wcscpy(slash + 1, L"*");
      WIN32_FIND_DATAW found;
      HANDLE find = FindFirstFileW(pattern, &found);
      if (find != INVALID_HANDLE_VALUE) {
        do {
          if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            Line(L"file", found.cFileName);
        } while (FindNextFileW(find, &found));
        FindClose(find);
      }
    }
    CloseHandle(g_report);
  }
  wchar_t sleep_text[32] = {};
  if (GetEnvironmentVariableW(L"ORVIA_PROBE_SLEEP_MS", sleep_text, 32))
    Sleep(static_cast<DWORD>(std::wcstoul(sleep_text, nullptr, 10)));
  wchar_t exit_text[32] = {};
  if (GetEnvironmentVariableW(L"ORVIA_PROBE_EXIT", exit_text, 32))
    return static_cast<int>(std::wcstoul(exit_text, nullptr, 0));
  return 0;
}
