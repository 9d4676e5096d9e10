// A stand-in setup program. Writes a report to the file named by
// ORVIA_PROBE_REPORT (UTF-8, one "key: value" per line) and exits with the
// code in ORVIA_PROBE_EXIT (decimal or 0x-hex; default 0). Reported: the
// command line, its own path, the files beside it, its startup flags and show
// mode, its current directory, and when it started and ended (GetTickCount;
// the start also as QueryPerformanceCounter, which the benchmark compares with
// the moment it started the installer).
// ORVIA_PROBE_SLEEP_MS keeps it running for a while, so that several
// installers overlap. ORVIA_PROBE_SPAWN_DIR makes it start a copy of itself
// from that directory that outlives it (two minutes), and report its id.
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

// Starts a copy of this program from `directory` that sleeps two minutes and
// reports nothing; returns its process id, or 0.
DWORD SpawnLongerLivedChild(const wchar_t* own, const wchar_t* directory) {
  wchar_t copy[MAX_PATH] = {};
  swprintf(copy, MAX_PATH, L"%ls\\grandchild.exe", directory);
  if (!CopyFileW(own, copy, FALSE))
    return 0;
  SetEnvironmentVariableW(L"ORVIA_PROBE_REPORT", nullptr);
  SetEnvironmentVariableW(L"ORVIA_PROBE_SPAWN_DIR", nullptr);
  SetEnvironmentVariableW(L"ORVIA_PROBE_SLEEP_MS", L"120000");
  wchar_t line[MAX_PATH + 2] = {};
  swprintf(line, MAX_PATH + 2, L"\"%ls\"", copy);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return 0;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return process.dwProcessId;
}

void Number(const wchar_t* key, unsigned long value) {
  wchar_t text[32];
  swprintf(text, 32, L"%lu", value);
  Line(key, text);
}

int wmain() {
  const DWORD started = GetTickCount();
  LARGE_INTEGER started_qpc = {};
  QueryPerformanceCounter(&started_qpc);
  wchar_t sleep_text[32] = {};
  const bool sleeps = GetEnvironmentVariableW(L"ORVIA_PROBE_SLEEP_MS", sleep_text, 32) != 0;
  wchar_t report_path[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"ORVIA_PROBE_REPORT", report_path, MAX_PATH)) {
    g_report = CreateFileW(report_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  }
  if (g_report != INVALID_HANDLE_VALUE) {
    Line(L"command_line", GetCommandLineW());
    Number(L"started_ms", started);
    wchar_t qpc_text[32];
    swprintf(qpc_text, 32, L"%lld", started_qpc.QuadPart);
    Line(L"started_qpc", qpc_text);
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
    wchar_t spawn_dir[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"ORVIA_PROBE_SPAWN_DIR", spawn_dir, MAX_PATH))
      Number(L"spawned_pid", SpawnLongerLivedChild(own, spawn_dir));
  }
  if (sleeps)
    Sleep(static_cast<DWORD>(std::wcstoul(sleep_text, nullptr, 10)));
  if (g_report != INVALID_HANDLE_VALUE) {
    Number(L"ended_ms", GetTickCount());
    CloseHandle(g_report);
  }
  wchar_t exit_text[32] = {};
  if (GetEnvironmentVariableW(L"ORVIA_PROBE_EXIT", exit_text, 32))
    return static_cast<int>(std::wcstoul(exit_text, nullptr, 0));
  return 0;
}
