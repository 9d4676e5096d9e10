// Run over the payload embedded in this test program (a "setup.exe" that is
// no program, and a readme), with single results replaced through the seam.
#include <string>
#include <vector>

#include "mini_test.h"
#include "stub/meta_installer.h"
#include "stub/result_codes.h"
#include "tests/support/windows_test_support.h"

namespace {

using orvia::SystemWin32Api;
using orvia::WideString;

class RunApi : public SystemWin32Api {
 public:
  explicit RunApi(const std::wstring& temp) : temp_(temp + L"\\") {}
  bool fail_self_copy = false;
  int boxes = 0;
  int processes = 0;
  std::vector<std::wstring> copies;

  BOOL IsUserAnAdmin() override { return FALSE; }
  DWORD GetTempPathW(DWORD, LPWSTR buffer) override {
    wcscpy(buffer, temp_.c_str());
    return static_cast<DWORD>(temp_.size());
  }
  BOOL CopyFileW(LPCWSTR from, LPCWSTR to, BOOL fail_if_exists) override {
    copies.push_back(to);
    return fail_self_copy ? FALSE : SystemWin32Api::CopyFileW(from, to, fail_if_exists);
  }
  int MessageBoxW(HWND, LPCWSTR, LPCWSTR, UINT) override {
    ++boxes;
    return IDOK;
  }
  BOOL CreateProcessW(LPCWSTR application,
                      LPWSTR line,
                      LPSECURITY_ATTRIBUTES ps,
                      LPSECURITY_ATTRIBUTES ts,
                      BOOL inherit,
                      DWORD flags,
                      LPVOID environment,
                      LPCWSTR directory,
                      LPSTARTUPINFOW startup,
                      LPPROCESS_INFORMATION info) override {
    ++processes;
    return SystemWin32Api::CreateProcessW(application, line, ps, ts, inherit, flags, environment,
                                          directory, startup, info);
  }

 private:
  std::wstring temp_;
};

struct RunCase {
  const char* name;
  const wchar_t* arguments;
  bool fail_self_copy;
  uint32_t result;
  int boxes;
  int processes;
  int registered;  // entries of cleanup_files when Run returns
};

TEST(RunSequence, Table) {
  const RunCase cases[] = {
      // The packed setup.exe is not a program: CreateProcessW's error number.
      {"setup cannot start", L"/silent", false, ERROR_BAD_EXE_FORMAT, 0, 1, 4},
      {"self copy fails", L"/silent", true, orvia::kRunFailed, 0, 0, 3},
      {"no arguments, no tag", L"", false, orvia::STUB_E_UNTAGGED, 1, 0, 4},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    orvia_test::ScratchDirectory scratch;
    RunApi api(scratch.path());
    api.fail_self_copy = c.fail_self_copy;
    std::vector<std::wstring> registered;
    {
      orvia::MetaInstaller installer(api, GetModuleHandleW(nullptr), WideString(c.arguments));
      EXPECT_EQ(installer.Run(), c.result);
      for (int32_t i = 0; i < installer.cleanup_files.Count(); ++i)
        registered.push_back(installer.cleanup_files.At(i).c_str());
      // The first extractor pass has already removed the members.
      const std::wstring working = installer.working_dir.c_str();
      const std::vector<std::wstring> expected_left =
          c.fail_self_copy ? std::vector<std::wstring>{}
                           : std::vector<std::wstring>{orvia::kSelfCopyName};
      EXPECT_EQ(orvia_test::ListDirectory(working), expected_left);
      ASSERT_EQ(registered.size(), static_cast<size_t>(c.registered));
      const std::wstring base = installer.base_dir.c_str();
      // Tarball first (in the base), then the members in archive order, then the self copy.
      EXPECT_EQ(registered[0].substr(0, base.size() + 3), base + L"KUT");
      EXPECT_EQ(registered[1], working + L"\\setup.exe");
      EXPECT_EQ(registered[2], working + L"\\readme.txt");
      if (c.registered == 4) {
        EXPECT_EQ(registered[3], working + L"\\OrviaUpdateSetup.exe");
      }
      EXPECT_EQ(installer.setup_path, WideString((working + L"\\setup.exe").c_str()));
      ASSERT_EQ(api.copies.size(), 1u);
      EXPECT_EQ(api.copies[0], working + L"\\OrviaUpdateSetup.exe");
      if (!c.fail_self_copy) {
        // A copy of the stub's own file (here the test program), byte for byte.
        EXPECT_TRUE(orvia_test::ReadFileBytes(api.copies[0]) ==
                    orvia_test::ReadFileBytes(orvia_test::OwnPath()));
      }
    }
    EXPECT_EQ(api.boxes, c.boxes);
    EXPECT_EQ(api.processes, c.processes);
    // The teardown left nothing of the run behind the base directory.
    EXPECT_TRUE(orvia_test::ListDirectory(scratch.path()).empty());
  }
}

}  // namespace
