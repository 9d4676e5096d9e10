// Whole runs over the embedded payload (a "setup.exe" that is no program and a
// readme) in which one platform call fails once, and runs over the tarball cut
// short: the run's result, and what is left on disk once the MetaInstaller is
// gone.
#include <map>
#include <string>
#include <vector>

#include "mini_test.h"
#include "stub/meta_installer.h"
#include "stub/result_codes.h"
#include "tests/support/windows_test_support.h"

namespace {

using orvia::SystemWin32Api;
using orvia::WideString;

// The user route into a scratch directory; the named call fails the nth time.
class FaultApi : public SystemWin32Api {
 public:
  explicit FaultApi(const std::wstring& temp) : temp_(temp + L"\\") {}
  std::string fail_call;
  int fail_nth = 1;
  // Keeps only this many bytes of the tarball and reports the write as whole.
  DWORD tarball_cut = 0xFFFFFFFF;

  BOOL IsUserAnAdmin() override { return FALSE; }
  DWORD GetTempPathW(DWORD size, LPWSTR buffer) override {
    if (Fails("GetTempPathW"))
      return 0;
    wcsncpy(buffer, temp_.c_str(), size);
    return static_cast<DWORD>(temp_.size());
  }
  UINT GetTempFileNameW(LPCWSTR path, LPCWSTR prefix, UINT unique, LPWSTR name) override {
    return Fails("GetTempFileNameW", ERROR_ACCESS_DENIED)
               ? 0
               : SystemWin32Api::GetTempFileNameW(path, prefix, unique, name);
  }
  BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) override {
    return Fails("CreateDirectoryW", ERROR_ACCESS_DENIED)
               ? FALSE
               : SystemWin32Api::CreateDirectoryW(path, security);
  }
  HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) override {
    return Fails("FindResourceW") ? nullptr : SystemWin32Api::FindResourceW(module, name, type);
  }
  HGLOBAL LoadResource(HMODULE module, HRSRC resource) override {
    return Fails("LoadResource") ? nullptr : SystemWin32Api::LoadResource(module, resource);
  }
  LPVOID LockResource(HGLOBAL data) override {
    return Fails("LockResource") ? nullptr : SystemWin32Api::LockResource(data);
  }
  HANDLE CreateFileW(LPCWSTR name,
                     DWORD access,
                     DWORD share,
                     LPSECURITY_ATTRIBUTES security,
                     DWORD creation,
                     DWORD flags,
                     HANDLE template_file) override {
    if (Fails("CreateFileW", ERROR_ACCESS_DENIED))
      return INVALID_HANDLE_VALUE;
    HANDLE file =
        SystemWin32Api::CreateFileW(name, access, share, security, creation, flags, template_file);
    if (std::wstring(name).find(L"\\KUT") != std::wstring::npos)
      tarball_ = file;
    return file;
  }
  BOOL WriteFile(HANDLE file,
                 LPCVOID data,
                 DWORD size,
                 LPDWORD written,
                 LPOVERLAPPED overlapped) override {
    if (Fails("WriteFile", ERROR_DISK_FULL)) {
      // A full disk: part of the data lands, the rest does not.
      SystemWin32Api::WriteFile(file, data, size / 2, written, overlapped);
      ::SetLastError(ERROR_DISK_FULL);
      return FALSE;
    }
    if (file == tarball_ && size > tarball_cut) {
      BOOL wrote = SystemWin32Api::WriteFile(file, data, tarball_cut, written, overlapped);
      *written = size;
      return wrote;
    }
    return SystemWin32Api::WriteFile(file, data, size, written, overlapped);
  }
  BOOL SetFilePointerEx(HANDLE file,
                        LARGE_INTEGER distance,
                        PLARGE_INTEGER position,
                        DWORD method) override {
    return Fails("SetFilePointerEx")
               ? FALSE
               : SystemWin32Api::SetFilePointerEx(file, distance, position, method);
  }
  BOOL ReadFile(HANDLE file,
                LPVOID buffer,
                DWORD size,
                LPDWORD read,
                LPOVERLAPPED overlapped) override {
    return Fails("ReadFile") ? FALSE
                             : SystemWin32Api::ReadFile(file, buffer, size, read, overlapped);
  }
  DWORD SetFilePointer(HANDLE file, LONG distance, PLONG high, DWORD method) override {
    return Fails("SetFilePointer") ? INVALID_SET_FILE_POINTER
                                   : SystemWin32Api::SetFilePointer(file, distance, high, method);
  }
  DWORD GetModuleFileNameW(HMODULE module, LPWSTR name, DWORD size) override {
    return Fails("GetModuleFileNameW") ? 0 : SystemWin32Api::GetModuleFileNameW(module, name, size);
  }
  BOOL CopyFileW(LPCWSTR from, LPCWSTR to, BOOL fail_if_exists) override {
    return Fails("CopyFileW", ERROR_DISK_FULL)
               ? FALSE
               : SystemWin32Api::CopyFileW(from, to, fail_if_exists);
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
    if (Fails("CreateProcessW", ERROR_ACCESS_DENIED))
      return FALSE;
    return SystemWin32Api::CreateProcessW(application, line, process_security, thread_security,
                                          inherit, flags, environment, directory, startup, info);
  }

  int calls(const std::string& name) const {
    auto it = calls_.find(name);
    return it == calls_.end() ? 0 : it->second;
  }

 private:
  // Counts the call; true (with `error` as the last error) on the one to fail.
  bool Fails(const std::string& name, DWORD error = ERROR_GEN_FAILURE) {
    if (++calls_[name] != fail_nth || name != fail_call)
      return false;
    ::SetLastError(error);
    return true;
  }

  std::wstring temp_;
  HANDLE tarball_ = INVALID_HANDLE_VALUE;
  std::map<std::string, int> calls_;
};

// What a run leaves in `base`: the files of each directory left there, or
// the names of files left directly in it.
std::vector<std::wstring> LeftIn(const std::wstring& base) {
  std::vector<std::wstring> left;
  for (const std::wstring& name : orvia_test::ListDirectory(base)) {
    const std::wstring path = base + L"\\" + name;
    if (!orvia_test::IsDirectory(path)) {
      left.push_back(name);
      continue;
    }
    for (const std::wstring& inner : orvia_test::ListDirectory(path))
      left.push_back(L"<working>\\" + inner);
    if (orvia_test::ListDirectory(path).empty())
      left.push_back(L"<working>");
  }
  return left;
}

struct Outcome {
  uint32_t result = 0;
  std::vector<std::wstring> left;
};

Outcome RunWith(FaultApi& api, const std::wstring& base) {
  Outcome outcome;
  {
    // With arguments, so a missing tag changes nothing and no box is shown.
    orvia::MetaInstaller installer(api, GetModuleHandleW(nullptr), WideString(L"/silent"));
    outcome.result = installer.Run();
  }
  outcome.left = LeftIn(base);
  return outcome;
}

const uint32_t kRunFailed = orvia::kRunFailed;

TEST(FaultCampaign, EachCallFailingOnce) {
  const struct {
    const char* call;
    int nth;
    const char* what;
    uint32_t result;
    std::vector<std::wstring> left;
  } cases[] = {
      // setup.exe is no program: CreateProcessW's ERROR_BAD_EXE_FORMAT.
      {"", 1, "nothing fails", ERROR_BAD_EXE_FORMAT, {}},
      {"GetTempPathW", 1, "no temporary path", kRunFailed, {}},
      {"GetTempFileNameW", 1, "no name for the working directory", kRunFailed, {}},
      {"CreateDirectoryW", 1, "the base cannot be made", kRunFailed, {}},
      {"CreateDirectoryW", 2, "the working directory cannot be made", kRunFailed, {}},
      {"GetTempFileNameW", 2, "no name for the tarball", kRunFailed, {}},
      {"FindResourceW", 1, "no payload resource", kRunFailed, {}},
      {"LoadResource", 1, "payload not loadable", kRunFailed, {}},
      {"LockResource", 1, "payload not lockable", kRunFailed, {}},
      {"CreateFileW", 1, "the tarball cannot be opened", kRunFailed, {}},
      {"WriteFile", 1, "disk full during the tarball write", kRunFailed, {}},
      {"SetFilePointerEx", 1, "the tarball cannot be rewound", kRunFailed, {}},
      {"ReadFile", 1, "the first header cannot be read", kRunFailed, {}},
      {"SetFilePointer", 1, "the position in the tarball is unknown", kRunFailed, {}},
      {"CreateFileW", 2, "the first member cannot be created", kRunFailed, {}},
      // The member whose writing failed is registered nowhere: it stays, and
      // so does the working directory around it.
      {"WriteFile", 2, "disk full during a member write", kRunFailed, {L"<working>\\setup.exe"}},
      {"CreateFileW", 3, "the second member cannot be created", kRunFailed, {}},
      {"GetModuleFileNameW", 1, "no own path for the self copy", kRunFailed, {}},
      {"CopyFileW", 1, "the self copy fails", kRunFailed, {}},
      // With arguments a missing tag changes nothing.
      {"GetModuleFileNameW", 2, "no own path for the tag", ERROR_BAD_EXE_FORMAT, {}},
      {"CreateProcessW", 1, "the setup program cannot be started", ERROR_ACCESS_DENIED, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.what << " (" << c.call << " #" << c.nth << ")");
    orvia_test::ScratchDirectory scratch;
    FaultApi api(scratch.path());
    api.fail_call = c.call;
    api.fail_nth = c.nth;
    Outcome run = RunWith(api, scratch.path());
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(run.left, c.left);
    // The row really reached the call it means to fail.
    if (*c.call) {
      EXPECT_TRUE(api.calls(c.call) >= c.nth);
    }
  }
}

TEST(FaultCampaign, TarballCutAtEvery512ByteBoundary) {
  const std::string tarball = orvia_test::ReadFileBytes(orvia_test::WinePathOf(ORVIA_TEST_TARBALL));
  ASSERT_EQ(tarball.size(), 10240u);
  // setup.exe: header at 0, 21 bytes of data at 512; readme.txt: header at
  // 1024, 920 bytes of data at 1536; the end block at 2560.
  for (DWORD cut = 0; cut <= tarball.size(); cut += 512) {
    SCOPED_TRACE(cut);
    std::vector<std::wstring> left;
    uint32_t result = kRunFailed;
    if (cut == 512)
      left = {L"<working>\\setup.exe"};  // its data is missing
    if (cut == 1536 || cut == 2048)
      left = {L"<working>\\readme.txt"};  // cut in its data
    if (cut >= 3072)
      result = ERROR_BAD_EXE_FORMAT;  // whole: the run gets as far as the launch
    orvia_test::ScratchDirectory scratch;
    FaultApi api(scratch.path());
    api.tarball_cut = cut;
    Outcome run = RunWith(api, scratch.path());
    EXPECT_EQ(run.result, result);
    EXPECT_EQ(run.left, left);
  }
}

}  // namespace
