// Starting the setup program: what the child is given and what comes back.
#include <string>
#include <vector>

#include "mini_test.h"
#include "stub/launch.h"
#include "tests/support/windows_test_support.h"

namespace {

using orvia::SystemWin32Api;
using orvia::WideString;

class LaunchApi : public SystemWin32Api {
 public:
  bool fail_create = false;
  bool fail_exit_code = false;
  DWORD startup_flags_given = STARTF_USESTDHANDLES;
  WORD show_given = SW_SHOWMINNOACTIVE;

  STARTUPINFOW seen_startup = {};
  DWORD seen_creation_flags = 0;
  BOOL seen_inherit = TRUE;
  bool seen_null_application = false;
  bool seen_null_directory = false;
  HANDLE child_process = nullptr;
  HANDLE child_thread = nullptr;
  std::vector<HANDLE> closed;  // in the order they were closed

  void GetStartupInfoW(LPSTARTUPINFOW startup) override {
    SystemWin32Api::GetStartupInfoW(startup);
    startup->dwFlags = startup_flags_given;
    startup->wShowWindow = show_given;
    startup->hStdInput = startup->hStdOutput = startup->hStdError = nullptr;
  }
  BOOL CreateProcessW(LPCWSTR application,
                      LPWSTR line,
                      LPSECURITY_ATTRIBUTES process_security,
                      LPSECURITY_ATTRIBUTES thread_security,
                      BOOL inherit,
                      DWORD flags,
                      LPVOID environment,
                      LPCWSTR directory,
                      LPSTARTUPINFOW startup,
                      LPPROCESS_INFORMATION info) override {
    seen_startup = *startup;
    seen_creation_flags = flags;
    seen_inherit = inherit;
    seen_null_application = application == nullptr;
    seen_null_directory = directory == nullptr;
    if (fail_create) {
      ::SetLastError(ERROR_BAD_EXE_FORMAT);
      return FALSE;
    }
    BOOL created =
        SystemWin32Api::CreateProcessW(application, line, process_security, thread_security,
                                       inherit, flags, environment, directory, startup, info);
    if (created) {
      child_process = info->hProcess;
      child_thread = info->hThread;
    }
    return created;
  }
  BOOL GetExitCodeProcess(HANDLE process, LPDWORD code) override {
    return fail_exit_code ? FALSE : SystemWin32Api::GetExitCodeProcess(process, code);
  }
  BOOL CloseHandle(HANDLE handle) override {
    closed.push_back(handle);
    return SystemWin32Api::CloseHandle(handle);
  }
};

WideString ProbeLine() {
  return WideString((L"\"" + orvia_test::OwnDirectory() + L"probe.exe\" arg").c_str());
}

TEST(LaunchAndWait, ChildIsShownNormallyWithTheStubsOtherFlags) {
  LaunchApi api;
  SetEnvironmentVariableW(L"ORVIA_PROBE_EXIT", L"7");
  const WideString line = ProbeLine();
  uint32_t exit_code = 0xDEAD;
  EXPECT_TRUE(orvia::LaunchAndWait(api, line, &exit_code));
  SetEnvironmentVariableW(L"ORVIA_PROBE_EXIT", nullptr);
  EXPECT_EQ(exit_code, 7u);
  EXPECT_EQ(
      api.seen_startup.dwFlags,
      static_cast<DWORD>(STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW | STARTF_FORCEOFFFEEDBACK));
  EXPECT_EQ(api.seen_startup.wShowWindow, SW_SHOWNORMAL);
  EXPECT_EQ(api.seen_creation_flags, static_cast<DWORD>(CREATE_UNICODE_ENVIRONMENT));
  EXPECT_FALSE(api.seen_inherit);
  EXPECT_TRUE(api.seen_null_application);
  EXPECT_TRUE(api.seen_null_directory);
  EXPECT_EQ(line, ProbeLine());  // the caller's line is untouched
  // The process handle first, then the thread handle.
  EXPECT_EQ(api.closed, std::vector<HANDLE>({api.child_process, api.child_thread}));
}

TEST(LaunchAndWait, FailedCreationLeavesTheErrorNumber) {
  LaunchApi api;
  api.fail_create = true;
  uint32_t exit_code = 0;
  EXPECT_FALSE(orvia::LaunchAndWait(api, ProbeLine(), &exit_code));
  EXPECT_EQ(exit_code, static_cast<uint32_t>(ERROR_BAD_EXE_FORMAT));
  EXPECT_TRUE(api.closed.empty());
}

TEST(LaunchAndWait, BothHandlesCloseWhenTheExitCodeCannotBeRead) {
  LaunchApi api;
  api.fail_exit_code = true;
  uint32_t exit_code = 0xFFFFFFFF;
  EXPECT_FALSE(orvia::LaunchAndWait(api, ProbeLine(), &exit_code));
  EXPECT_EQ(exit_code, 0xFFFFFFFFu);
  ASSERT_NE(api.child_process, nullptr);
  EXPECT_EQ(api.closed, std::vector<HANDLE>({api.child_process, api.child_thread}));
  // Without a slot there is nothing to fetch, so the launch succeeds; the
  // handles are closed all the same.
  LaunchApi no_slot;
  no_slot.fail_exit_code = true;
  EXPECT_TRUE(orvia::LaunchAndWait(no_slot, ProbeLine(), nullptr));
  ASSERT_NE(no_slot.child_process, nullptr);
  EXPECT_EQ(no_slot.closed, std::vector<HANDLE>({no_slot.child_process, no_slot.child_thread}));
}

}  // namespace
