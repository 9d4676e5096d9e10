// Starts a program with a given command line and show mode, waits for it and
// prints its full 32-bit exit code (a Unix exit status keeps only 8 bits).
//   runner SHOW_MODE "COMMAND LINE"
// SHOW_MODE is a number (1 normal, 7 minimised without activation) or "-"
// for none. Prints "exit 0x%08X" or "create-failed <error>".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3)
    return 2;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  if (wcscmp(argv[1], L"-") != 0) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(std::wcstoul(argv[1], nullptr, 10));
  }
  // The child's whole command line is one argument of ours, so that the
  // caller decides its quoting exactly.
  wchar_t* child_line = _wcsdup(argv[2]);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, child_line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::printf("create-failed %lu\n", GetLastError());
    return 1;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::printf("exit 0x%08lX\n", code);
  std::fflush(stdout);
  return 0;
}
