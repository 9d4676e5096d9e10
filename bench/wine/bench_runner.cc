// Runs programs in turns under Wine and measures every run: the wall time, the
// time until the setup program started, the peak working set and the exit code.
//
//   bench_runner run ROUNDS NAME "COMMAND LINE" CLEAN_DIR [NAME "COMMAND LINE" CLEAN_DIR ...]
//   bench_runner copy SOURCE DESTINATION
//
// run: each round runs every program once, in the order given (A B A B ...),
// and prints one line per run:
//   run NAME ROUND SECONDS SETUP_START_SECONDS|- PEAK_WORKING_SET PEAK_PRIVATE EXIT_CODE
// The working set counts the system libraries' mapped pages too; the private
// bytes (largest sample, every 10 ms) count only the program's own memory.
// The setup program's start comes from the probe's report (ORVIA_PROBE_REPORT,
// inherited through the installer): its QueryPerformanceCounter value at start.
// CLEAN_DIR ("-" for none) is removed after every run, so that each run
// writes into a directory that does not exist yet.
// copy: CopyFileW into DESTINATION's directory, made when missing, for placing
// the inputs on the prefix's own drive.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "tests/support/windows_test_support.h"

namespace {

struct Program {
  const wchar_t* name;
  const wchar_t* command_line;
  const wchar_t* clean_dir;
};

double Seconds(LONGLONG ticks) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

LONGLONG Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

// The probe's "started_qpc: N" line, or -1 when there is no report.
LONGLONG ProbeStart(const std::wstring& report) {
  if (!orvia_test::Exists(report))
    return -1;
  const std::string text = orvia_test::ReadFileBytes(report);
  const char key[] = "started_qpc: ";
  const size_t at = text.find(key);
  return at == std::string::npos ? -1
                                 : std::strtoll(text.c_str() + at + sizeof(key) - 1, nullptr, 10);
}

struct Peaks {
  SIZE_T working_set = 0;
  SIZE_T private_bytes = 0;
};

// The working set's peak is a high-water mark the system keeps, so nothing is
// lost between polls; the private bytes are sampled, and a plateau shorter
// than a poll could be missed.
void Sample(HANDLE process, Peaks* peaks) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  if (!GetProcessMemoryInfo(process, &counters, sizeof(counters)))
    return;
  if (counters.PeakWorkingSetSize > peaks->working_set)
    peaks->working_set = counters.PeakWorkingSetSize;
  if (counters.PagefileUsage > peaks->private_bytes)
    peaks->private_bytes = counters.PagefileUsage;
}

bool RunOnce(const Program& program, unsigned round, const std::wstring& report) {
  DeleteFileW(report.c_str());
  std::wstring line = program.command_line;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  const LONGLONG started = Now();
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::printf("error %ls: CreateProcessW failed (%lu)\n", program.name, GetLastError());
    return false;
  }
  Peaks peaks;
  while (WaitForSingleObject(process.hProcess, 10) == WAIT_TIMEOUT)
    Sample(process.hProcess, &peaks);
  const LONGLONG ended = Now();
  Sample(process.hProcess, &peaks);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  const LONGLONG setup_started = ProbeStart(report);
  char setup[32] = "-";
  if (setup_started >= started)
    std::snprintf(setup, sizeof(setup), "%.3f", Seconds(setup_started - started));
  std::printf("run %ls %u %.3f %s %lu %lu 0x%08lX\n", program.name, round, Seconds(ended - started),
              setup, static_cast<unsigned long>(peaks.working_set),
              static_cast<unsigned long>(peaks.private_bytes), code);
  std::fflush(stdout);
  if (std::wcscmp(program.clean_dir, L"-") != 0 && orvia_test::Exists(program.clean_dir))
    orvia_test::RemoveTree(program.clean_dir);
  return true;
}

int Run(int argc, wchar_t** argv) {
  const unsigned rounds = static_cast<unsigned>(std::wcstoul(argv[2], nullptr, 10));
  if (rounds == 0 || (argc - 3) % 3 != 0 || argc == 3)
    return 2;
  std::vector<Program> programs;
  for (int i = 3; i < argc; i += 3)
    programs.push_back({argv[i], argv[i + 1], argv[i + 2]});
  // On Windows the desktop is always there when an installer starts. Under
  // Wine its process starts on demand and ends once nobody uses it, and the
  // installer (whose COM apartment makes a window) would pay for starting it in
  // every run: this window keeps it up for the whole benchmark.
  HWND keeper = CreateWindowExW(0, L"STATIC", L"bench_runner", 0, 0, 0, 0, 0, nullptr, nullptr,
                                nullptr, nullptr);
  if (!keeper)
    std::printf("warning: no window to keep the desktop up (%lu)\n", GetLastError());
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring report = std::wstring(temp) + L"orvia-bench-probe.txt";
  SetEnvironmentVariableW(L"ORVIA_PROBE_REPORT", report.c_str());
  for (unsigned round = 1; round <= rounds; ++round)
    for (const Program& program : programs)
      if (!RunOnce(program, round, report))
        return 1;
  DeleteFileW(report.c_str());
  if (keeper)
    DestroyWindow(keeper);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && std::wcscmp(argv[1], L"run") == 0)
    return Run(argc, argv);
  if (argc == 4 && std::wcscmp(argv[1], L"copy") == 0) {
    std::wstring directory = argv[3];
    const size_t slash = directory.find_last_of(L'\\');
    directory.resize(slash == std::wstring::npos ? 0 : slash);
    if (!directory.empty())
      CreateDirectoryW(directory.c_str(), nullptr);
    if (CopyFileW(argv[2], argv[3], FALSE))
      return 0;
    std::printf("error: cannot copy %ls to %ls (%lu)\n", argv[2], argv[3], GetLastError());
    return 1;
  }
  std::fputs(
      "usage: bench_runner run ROUNDS NAME \"COMMAND LINE\" CLEAN_DIR ...\n"
      "       bench_runner copy SOURCE DESTINATION\n",
      stderr);
  return 2;
}
