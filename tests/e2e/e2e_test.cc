// Installers made by orvia-pack, run as a user runs them: the exit code, what
// the probe (the packed setup program) saw, and what is left on disk.
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <climits>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "mini_test.h"
#include "tests/support/windows_test_support.h"

namespace {

using orvia_test::ListDirectory;

constexpr DWORD kRunFailed = 0xFFFFFFFF;
constexpr DWORD kKeepFiles = 0x8004FFFF;
constexpr DWORD kUntagged = 0x80040750;

std::wstring InstallerPath(const char* name) {
  std::wstring path = orvia_test::WinePathOf(ORVIA_E2E_INSTALLERS) + L"\\";
  for (const char* p = name; *p; ++p)
    path += static_cast<wchar_t>(*p);
  return path + L".exe";
}

// Every directory a run may choose as its base.
std::vector<std::wstring> BaseCandidates() {
  wchar_t windows[MAX_PATH] = {}, program_files[MAX_PATH] = {}, temp[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_WINDOWS, nullptr, 0, windows);
  SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, program_files);
  GetTempPathW(MAX_PATH, temp);
  std::wstring temp_dir = temp;
  if (!temp_dir.empty() && temp_dir.back() == L'\\')
    temp_dir.pop_back();
  return {std::wstring(windows) + L"\\SystemTemp", std::wstring(program_files) + L"\\Orvia\\Temp",
          temp_dir};
}

using Snapshot = std::map<std::wstring, std::vector<std::wstring>>;

Snapshot TakeSnapshot() {
  Snapshot snapshot;
  for (const std::wstring& dir : BaseCandidates())
    snapshot[dir] = ListDirectory(dir);
  return snapshot;
}

// What is in `after` and not in `before`, as full paths.
std::vector<std::wstring> Added(const Snapshot& before, const Snapshot& after) {
  std::vector<std::wstring> added;
  for (const auto& [dir, names] : after) {
    const std::vector<std::wstring>& old = before.at(dir);
    for (const std::wstring& name : names) {
      if (std::find(old.begin(), old.end(), name) == old.end())
        added.push_back(dir + L"\\" + name);
    }
  }
  return added;
}

struct Report {
  bool ran = false;
  std::multimap<std::string, std::string> lines;
  std::string Get(const std::string& key) const {
    auto it = lines.find(key);
    return it == lines.end() ? "" : it->second;
  }
  std::vector<std::string> All(const std::string& key) const {
    std::vector<std::string> values;
    for (auto [it, end] = lines.equal_range(key); it != end; ++it)
      values.push_back(it->second);
    return values;
  }
};

Report ReadReport(const std::wstring& path) {
  Report report;
  std::string text = orvia_test::ReadFileBytes(path);
  report.ran = orvia_test::Exists(path);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end - start);
    size_t colon = line.find(": ");
    if (colon != std::string::npos)
      report.lines.emplace(line.substr(0, colon), line.substr(colon + 2));
    start = end == std::string::npos ? text.size() : end + 1;
  }
  return report;
}

struct Outcome {
  DWORD exit_code = 0;
  Report report;
  std::vector<std::wstring> left;  // new entries in the base candidates
};

class EndToEnd : public testing::Test {
 protected:
  void TearDown() override {
    SetEnvironmentVariableW(L"ORVIA_PROBE_EXIT", nullptr);
    SetEnvironmentVariableW(L"ORVIA_PROBE_REPORT", nullptr);
    SetEnvironmentVariableW(L"ORVIA_PROBE_SLEEP_MS", nullptr);
    for (const std::wstring& path : cleanup_)
      orvia_test::RemoveTree(path);
  }

  // Runs the installer with `arguments` and waits; the probe exits with
  // `probe_exit`. Anything the run leaves is removed again at tear-down.
  Outcome Run(const char* installer,
              const std::wstring& arguments,
              DWORD probe_exit = 0,
              const STARTUPINFOW* startup = nullptr) {
    const std::wstring report_path = scratch_.path() + L"\\report-" + std::to_wstring(++runs_);
    SetEnvironmentVariableW(L"ORVIA_PROBE_REPORT", report_path.c_str());
    SetEnvironmentVariableW(L"ORVIA_PROBE_EXIT", std::to_wstring(probe_exit).c_str());
    Snapshot before = TakeSnapshot();
    std::wstring line = L"\"" + InstallerPath(installer) + L"\"";
    if (!arguments.empty())
      line += L" " + arguments;
    STARTUPINFOW info = {};
    info.cb = sizeof(info);
    PROCESS_INFORMATION process = {};
    Outcome outcome;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        const_cast<STARTUPINFOW*>(startup ? startup : &info), &process)) {
      ADD_FAILURE() << "could not start " << installer;
      return outcome;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &outcome.exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    outcome.report = ReadReport(report_path);
    outcome.left = Added(before, TakeSnapshot());
    cleanup_.insert(cleanup_.end(), outcome.left.begin(), outcome.left.end());
    return outcome;
  }

  orvia_test::ScratchDirectory scratch_;
  int runs_ = 0;
  std::vector<std::wstring> cleanup_;
};

std::string Directory(const std::string& path) {
  return path.substr(0, path.rfind('\\'));
}

std::string Quoted(const std::string& path) {
  return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
}

TEST_F(EndToEnd, ExitCodePassesThroughAndNothingRemains) {
  for (DWORD code : {0u, 7u, 0x80070005u}) {
    SCOPED_TRACE(code);
    Outcome run = Run("probe", L"/silent", code);
    EXPECT_EQ(run.exit_code, code);
    ASSERT_TRUE(run.report.ran);
    // The setup program ran in the working directory, beside its companions
    // and the self copy; the current directory is the stub's own.
    const std::string own = run.report.Get("own_path");
    EXPECT_EQ(own.substr(own.rfind('\\') + 1), "probe.exe");
    std::vector<std::string> files = run.report.All("file");
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"OrviaUpdateSetup.exe", "probe.exe", "readme.txt"}));
    EXPECT_NE(run.report.Get("current_directory"), Directory(own));
    EXPECT_TRUE(run.left.empty()) << orvia_test::Narrow(run.left.empty() ? L"" : run.left[0]);
  }
}

TEST_F(EndToEnd, KeepFilesCodeLeavesTarballWorkingDirectoryAndSelfCopy) {
  Outcome run = Run("probe", L"/silent", kKeepFiles);
  EXPECT_EQ(run.exit_code, kKeepFiles);
  ASSERT_EQ(run.left.size(), 2u);
  std::wstring tarball, working;
  for (const std::wstring& path : run.left)
    (orvia_test::IsDirectory(path) ? working : tarball) = path;
  EXPECT_EQ(tarball.substr(tarball.rfind(L'\\') + 1, 3), L"KUT");
  EXPECT_EQ(orvia_test::Narrow(working), Directory(run.report.Get("own_path")));
  // The extracted members are gone; only the self copy stays with the directory.
  EXPECT_EQ(ListDirectory(working), std::vector<std::wstring>{L"OrviaUpdateSetup.exe"});
}

TEST_F(EndToEnd, SetupCommandLineTable) {
  const std::wstring stub = InstallerPath("probe");
  const std::string M = orvia_test::Narrow(stub);
  const struct {
    const wchar_t* arguments;
    const char* expected_tail;  // after the setup path; "$M" stands for the stub's path
  } cases[] = {
      {L"/silent /lang de", " /silent /lang de"},
      {L"/recover", " /recover \"$M\""},
      {L"/RECOVER", " /RECOVER"},
      {L"/recoverall x", " /recoverall x \"$M\""},
      {L"x /recover", " x /recover"},
      {L"/install x /NoMiTag", " /install x"},
      {L"/install x/nomitag", " /install x/nomitag"},
      {L"/nomitag ", " /nomitag "},
      {L"/nomitag", ""},
      {L"50% %s %1!s! %%", " 50% %s %1!s! %%"},
      // Through the narrow command line and back: the report is UTF-8.
      {L"/lang caf\u00e9", " /lang caf\xc3\xa9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(orvia_test::Narrow(c.arguments));
    Outcome run = Run("probe", c.arguments);
    ASSERT_TRUE(run.report.ran);
    std::string tail = c.expected_tail;
    size_t at = tail.find("$M");
    if (at != std::string::npos)
      tail.replace(at, 2, M);
    const std::string own = run.report.Get("own_path");
    EXPECT_EQ(run.report.Get("command_line"), Quoted(own) + tail);
    EXPECT_TRUE(run.left.empty());
  }
}

TEST_F(EndToEnd, SetupPathWithoutBlanksStandsUnquoted) {
  // Administrators take the Windows directory's SystemTemp when it exists.
  if (!IsUserAnAdmin())
    GTEST_SKIP() << "needs an administrator";
  const std::wstring system_temp = BaseCandidates()[0];
  ASSERT_TRUE(CreateDirectoryW(system_temp.c_str(), nullptr));
  Outcome run = Run("probe", L"/silent");
  const std::string own = run.report.Get("own_path");
  RemoveDirectoryW(system_temp.c_str());
  ASSERT_EQ(own.find(' '), std::string::npos) << own;
  EXPECT_EQ(Directory(Directory(own)), orvia_test::Narrow(system_temp));
  EXPECT_EQ(run.report.Get("command_line"), own + " /silent");
  EXPECT_TRUE(run.left.empty());
}

TEST_F(EndToEnd, NoArgumentsAndNoTagShowTheUntaggedBox) {
  // Signed or not, a copy without a tag cannot run without arguments.
  for (const char* installer : {"probe", "probe-signed"}) {
    SCOPED_TRACE(installer);
    const std::wstring box = scratch_.path() + L"\\box-" + std::to_wstring(runs_) + L".txt";
    HANDLE reader = orvia_test::Start(L"\"" + orvia_test::OwnDirectory() + L"box_reader.exe\" \"" +
                                      box + L"\" 60000");
    ASSERT_NE(reader, nullptr);
    Outcome run = Run(installer, L"");
    WaitForSingleObject(reader, 60000);
    DWORD reader_status = 1;
    GetExitCodeProcess(reader, &reader_status);
    CloseHandle(reader);
    EXPECT_EQ(run.exit_code, kUntagged);
    EXPECT_EQ(reader_status, 0u);
    std::string bytes = orvia_test::ReadFileBytes(box);
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2),
              L"VantuCompanyName Installer\nUnknown Installer Error");
    EXPECT_FALSE(run.report.ran);
    EXPECT_TRUE(run.left.empty());
  }
}

// A copy signed and then tagged by the tools hands the tag on; the signed
// copy it was made from, given arguments, runs without one.
TEST_F(EndToEnd, TaggedCopyHandsItsTagToTheSetupProgram) {
  const std::string tag = ORVIA_E2E_TAG;
  const std::string M = orvia_test::Narrow(InstallerPath("probe-tagged"));
  const struct {
    const char* installer;
    const wchar_t* arguments;
    std::string expected_tail;  // after the setup path
  } cases[] = {
      {"probe-tagged", L"", " /installsource taggedmi /install \"" + tag + "\""},
      {"probe-tagged", L"/silent /lang de", " /silent /lang de \"" + tag + "\""},
      {"probe-tagged", L"/silent /nomitag", " /silent"},
      {"probe-tagged", L"/recover", " /recover \"" + M + "\" \"" + tag + "\""},
      {"probe-signed", L"/silent", " /silent"},
      // The tag's bytes widen in the ANSI code page on their way.
      {"probe-tagged-cp1252", L"",
       " /installsource taggedmi /install \"appname=Caf\xc3\xa9&lang=fr\""},
      {"probe-served", L"", " /installsource taggedmi /install \"" ORVIA_E2E_SERVED_TAG "\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.installer) + " " + orvia_test::Narrow(c.arguments));
    Outcome run = Run(c.installer, c.arguments, 5);
    EXPECT_EQ(run.exit_code, 5u);
    ASSERT_TRUE(run.report.ran);
    EXPECT_EQ(run.report.Get("command_line"), Quoted(run.report.Get("own_path")) + c.expected_tail);
    EXPECT_TRUE(run.left.empty());
  }
}

TEST_F(EndToEnd, SetupProgramChoice) {
  const struct {
    const char* installer;
    DWORD exit_code;
    const char* runs;  // file name the probe ran as; null: no child
  } cases[] = {
      {"two-exes", 0, "first.exe"},
      {"exe-casing", 0, "Setup.EXE"},
      {"no-exe", kRunFailed, nullptr},
      // CreateProcessW's own error number: ERROR_BAD_EXE_FORMAT.
      {"not-a-program", 193, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.installer);
    Outcome run = Run(c.installer, L"/silent");
    EXPECT_EQ(run.exit_code, c.exit_code);
    EXPECT_EQ(run.report.ran, c.runs != nullptr);
    if (c.runs) {
      const std::string own = run.report.Get("own_path");
      EXPECT_EQ(own.substr(own.rfind('\\') + 1), c.runs);
    }
    EXPECT_TRUE(run.left.empty());
  }
}

TEST_F(EndToEnd, MinimisedStubStartsSetupShownNormally) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USECOUNTCHARS;
  startup.dwXCountChars = 80;
  startup.dwYCountChars = 25;
  startup.wShowWindow = SW_SHOWMINNOACTIVE;
  Outcome run = Run("probe", L"/silent", 0, &startup);
  ASSERT_TRUE(run.report.ran);
  EXPECT_EQ(run.report.Get("startup_flags"), "0x00000089");
  EXPECT_EQ(run.report.Get("show_window"), "1");
}

TEST_F(EndToEnd, TarballsFromOtherTools) {
  const struct {
    const char* installer;
    DWORD exit_code;
    std::vector<std::string> files;  // beside the probe
  } cases[] = {
      {"gnu-ustar", 0, {"OrviaUpdateSetup.exe", "readme.txt", "setup.exe"}},
      {"python-pax", 0, {"@PaxHeader", "OrviaUpdateSetup.exe", "readme.txt", "setup.exe"}},
      {"gnu-pax-flat", 0, {"@PaxHeader", "OrviaUpdateSetup.exe", "readme.txt", "setup.exe"}},
      // GNU tar's own extended-header names are members in a directory.
      {"gnu-pax", kRunFailed, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.installer);
    Outcome run = Run(c.installer, L"/silent");
    EXPECT_EQ(run.exit_code, c.exit_code);
    std::vector<std::string> files = run.report.All("file");
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, c.files);
    EXPECT_TRUE(run.left.empty());
  }
}

TEST_F(EndToEnd, DamagedAndEscapingArchivesStopTheRun) {
  const struct {
    const char* installer;
    const wchar_t* left_behind;  // a member whose writing failed part-way, with its directory
  } cases[] = {
      {"bad-magic", nullptr},
      {"header-cut", nullptr},
      {"data-cut", L"readme.txt"},
      {"refused-name", nullptr},
      {"directory-member", nullptr},
      {"member-in-directory", nullptr},
      {"escape-dotdot", nullptr},
      {"escape-drive", nullptr},
      {"escape-leading-slash", nullptr},
      {"escape-leading-backslash", nullptr},
      {"escape-device-nul", nullptr},
      {"escape-device-con", nullptr},
      {"escape-device-com-superscript", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.installer);
    Outcome run = Run(c.installer, L"/silent");
    EXPECT_EQ(run.exit_code, kRunFailed);
    EXPECT_FALSE(run.report.ran);
    if (!c.left_behind) {
      EXPECT_TRUE(run.left.empty()) << orvia_test::Narrow(run.left.empty() ? L"" : run.left[0]);
      continue;
    }
    ASSERT_EQ(run.left.size(), 1u);
    EXPECT_EQ(ListDirectory(run.left[0]), std::vector<std::wstring>{c.left_behind});
  }
  // Nothing landed where an escaping name would have put it: beside the
  // working directory (".."), at the current drive's root (a leading
  // separator) or on drive C: (a drive-relative name).
  std::vector<std::wstring> landing = {L"\\escaped.txt", L"C:\\escaped.txt"};
  for (const std::wstring& dir : BaseCandidates())
    landing.push_back(dir + L"\\escaped.txt");
  for (const std::wstring& path : landing)
    EXPECT_FALSE(orvia_test::Exists(path)) << orvia_test::Narrow(path);
}

TEST_F(EndToEnd, FourInstallersAtOnceUseTheirOwnDirectories) {
  // Long enough that all four setup programs run at the same time, even where
  // starting an installer takes seconds.
  SetEnvironmentVariableW(L"ORVIA_PROBE_SLEEP_MS", L"15000");
  SetEnvironmentVariableW(L"ORVIA_PROBE_EXIT", L"0");
  Snapshot before = TakeSnapshot();
  std::vector<HANDLE> processes;
  std::vector<std::wstring> reports;
  for (int i = 0; i < 4; ++i) {
    reports.push_back(scratch_.path() + L"\\parallel-" + std::to_wstring(i));
    SetEnvironmentVariableW(L"ORVIA_PROBE_REPORT", reports.back().c_str());
    processes.push_back(orvia_test::Start(L"\"" + InstallerPath("probe") + L"\" /silent"));
    ASSERT_NE(processes.back(), nullptr);
  }
  std::set<std::string> working_dirs;
  unsigned long last_start = 0, first_end = ULONG_MAX;
  for (int i = 0; i < 4; ++i) {
    WaitForSingleObject(processes[i], INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(processes[i], &code);
    CloseHandle(processes[i]);
    EXPECT_EQ(code, 0u);
    const Report report = ReadReport(reports[i]);
    working_dirs.insert(Directory(report.Get("own_path")));
    last_start = std::max(last_start, std::stoul("0" + report.Get("started_ms")));
    first_end = std::min(first_end, std::stoul("0" + report.Get("ended_ms")));
  }
  EXPECT_EQ(working_dirs.size(), 4u);
  // The four really ran at once: the last one started before the first one ended.
  EXPECT_TRUE(last_start > 0 && last_start < first_end) << last_start << " " << first_end;
  std::vector<std::wstring> left = Added(before, TakeSnapshot());
  cleanup_.insert(cleanup_.end(), left.begin(), left.end());
  EXPECT_TRUE(left.empty());
}

// The stub waits for its setup program only: a process that the setup
// program starts and leaves running does not hold the installer.
TEST_F(EndToEnd, ALongerLivedGrandchildDoesNotHoldTheInstaller) {
  SetEnvironmentVariableW(L"ORVIA_PROBE_SPAWN_DIR", scratch_.path().c_str());
  Outcome run = Run("probe", L"/silent", 3);
  SetEnvironmentVariableW(L"ORVIA_PROBE_SPAWN_DIR", nullptr);
  EXPECT_EQ(run.exit_code, 3u);
  const unsigned long pid = std::stoul("0" + run.report.Get("spawned_pid"));
  ASSERT_NE(pid, 0ul);
  HANDLE grandchild = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
  ASSERT_NE(grandchild, nullptr);
  // It sleeps two minutes; the installer has already returned.
  EXPECT_EQ(WaitForSingleObject(grandchild, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  TerminateProcess(grandchild, 0);
  WaitForSingleObject(grandchild, 30000);
  CloseHandle(grandchild);
  EXPECT_TRUE(run.left.empty());
}

}  // namespace
