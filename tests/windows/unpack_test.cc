// The payload resource into the tarball file: where the file lies, when it is
// registered, what the returned handle reads.
#include <string>

#include "mini_test.h"
#include "stub/payload/unpack.h"
#include "stub/workdir/base_directory.h"
#include "tests/support/windows_test_support.h"

namespace {

using orvia::SystemWin32Api;
using orvia::WideString;

enum class Failure {
  kNone,
  kTempName,
  kFindResource,
  kLoadResource,
  kLockResource,
  kOpenTarball,
  kShortPayload,
  kWrite,
  kRewind,
};

class UnpackApi : public SystemWin32Api {
 public:
  explicit UnpackApi(Failure failure, const std::wstring& temp = L"")
      : failure_(failure), temp_(temp.empty() ? temp : temp + L"\\") {}
  // The user's temporary directory is the test's scratch directory.
  DWORD GetTempPathW(DWORD size, LPWSTR buffer) override {
    if (temp_.empty())
      return SystemWin32Api::GetTempPathW(size, buffer);
    wcsncpy(buffer, temp_.c_str(), size);
    return static_cast<DWORD>(temp_.size());
  }
  UINT GetTempFileNameW(LPCWSTR path, LPCWSTR prefix, UINT unique, LPWSTR name) override {
    return failure_ == Failure::kTempName
               ? 0
               : SystemWin32Api::GetTempFileNameW(path, prefix, unique, name);
  }
  HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) override {
    return failure_ == Failure::kFindResource ? nullptr
                                              : SystemWin32Api::FindResourceW(module, name, type);
  }
  HGLOBAL LoadResource(HMODULE module, HRSRC resource) override {
    return failure_ == Failure::kLoadResource ? nullptr
                                              : SystemWin32Api::LoadResource(module, resource);
  }
  LPVOID LockResource(HGLOBAL data) override {
    return failure_ == Failure::kLockResource ? nullptr : SystemWin32Api::LockResource(data);
  }
  HANDLE CreateFileW(LPCWSTR name,
                     DWORD access,
                     DWORD share,
                     LPSECURITY_ATTRIBUTES security,
                     DWORD creation,
                     DWORD flags,
                     HANDLE template_file) override {
    if (failure_ == Failure::kOpenTarball)
      return INVALID_HANDLE_VALUE;
    EXPECT_EQ(access, static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE));
    EXPECT_EQ(share, 0u);
    EXPECT_EQ(creation, static_cast<DWORD>(OPEN_ALWAYS));
    return SystemWin32Api::CreateFileW(name, access, share, security, creation, flags,
                                       template_file);
  }
  DWORD SizeofResource(HMODULE module, HRSRC resource) override {
    return failure_ == Failure::kShortPayload ? 12
                                              : SystemWin32Api::SizeofResource(module, resource);
  }
  BOOL WriteFile(HANDLE file,
                 LPCVOID data,
                 DWORD size,
                 LPDWORD written,
                 LPOVERLAPPED overlapped) override {
    if (failure_ == Failure::kWrite) {
      // A full disk: part of the tarball lands, the rest does not.
      SystemWin32Api::WriteFile(file, data, size / 2, written, overlapped);
      return FALSE;
    }
    return SystemWin32Api::WriteFile(file, data, size, written, overlapped);
  }
  BOOL SetFilePointerEx(HANDLE file,
                        LARGE_INTEGER distance,
                        PLARGE_INTEGER position,
                        DWORD method) override {
    return failure_ == Failure::kRewind
               ? FALSE
               : SystemWin32Api::SetFilePointerEx(file, distance, position, method);
  }

 private:
  Failure failure_;
  std::wstring temp_;
};

TEST(UnpackPayload, FailureTable) {
  const struct {
    const char* name;
    Failure failure;
    bool registered;
  } cases[] = {
      {"no temporary name", Failure::kTempName, false},
      {"resource missing", Failure::kFindResource, true},
      {"resource not loadable", Failure::kLoadResource, true},
      {"resource not lockable", Failure::kLockResource, true},
      {"tarball not opened", Failure::kOpenTarball, true},
      {"payload of 12 bytes", Failure::kShortPayload, true},
      {"write fails", Failure::kWrite, true},
      {"rewind fails", Failure::kRewind, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    orvia_test::ScratchDirectory scratch;
    UnpackApi api(c.failure);
    orvia::StringList cleanup_files;
    EXPECT_EQ(orvia::UnpackPayload(api, WideString(scratch.path().c_str()), &cleanup_files).get(),
              INVALID_HANDLE_VALUE);
    ASSERT_EQ(cleanup_files.Count(), c.registered ? 1 : 0);
    if (c.registered) {
      // The handle is closed again: the registered file can be deleted.
      const std::wstring tarball = cleanup_files.At(0).c_str();
      EXPECT_EQ(tarball.substr(0, scratch.path().size() + 4), scratch.path() + L"\\KUT");
      EXPECT_TRUE(DeleteFileW(tarball.c_str()));
    }
  }
}

TEST(UnpackPayload, HandleReadsTheTarballFromItsFirstByte) {
  orvia_test::ScratchDirectory scratch;
  UnpackApi api(Failure::kNone, scratch.path());
  WideString working_dir, base_dir;
  orvia::StringList cleanup_files;
  ASSERT_TRUE(orvia::UseUserTempDirectory(api, &working_dir, &base_dir));
  HANDLE tarball = orvia::UnpackPayload(api, base_dir, &cleanup_files).release();
  ASSERT_NE(tarball, INVALID_HANDLE_VALUE);
  std::string content;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(tarball, chunk, sizeof(chunk), &got, nullptr) && got > 0)
    content.append(chunk, got);
  CloseHandle(tarball);
  EXPECT_EQ(content, orvia_test::ReadFileBytes(orvia_test::WinePathOf(ORVIA_TEST_TARBALL)));
  // Beside the working directory, in the base directory, not inside it.
  ASSERT_EQ(cleanup_files.Count(), 1);
  const std::wstring path = cleanup_files.At(0).c_str();
  const std::wstring base = base_dir.c_str();
  EXPECT_EQ(base, scratch.path() + L"\\");
  EXPECT_EQ(path.substr(0, base.size()), base);
  EXPECT_EQ(path.find(L'\\', base.size()), std::wstring::npos);
  EXPECT_EQ(path.find(working_dir.c_str()), std::wstring::npos);
}

}  // namespace
