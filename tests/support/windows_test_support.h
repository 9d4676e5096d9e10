// Shared pieces of the Windows-side tests.
#ifndef ORVIA_TESTS_SUPPORT_WINDOWS_TEST_SUPPORT_H_
#define ORVIA_TESTS_SUPPORT_WINDOWS_TEST_SUPPORT_H_

#include <windows.h>

#include <string>
#include <vector>

namespace orvia_test {

// Runs `command_line`, waits, and returns its exit code; 0xFFFFFFFE when it
// could not be started.
DWORD RunAndWait(const std::wstring& command_line);

// Starts `command_line` without waiting; the caller owns the process handle.
HANDLE Start(const std::wstring& command_line);

// The directory of this test program, with a trailing backslash.
std::wstring OwnDirectory();
std::wstring OwnPath();

// A fresh, empty directory under the system's temporary directory, removed
// with everything in it at scope end. If it cannot be made, the test fails,
// path() is empty, and nothing is removed.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

// True for an absolute path below a drive's root: what RemoveTree accepts.
bool IsRemovableTree(const std::wstring& path);
// Deletes `path` and everything in it; refuses (and fails the test) for a
// drive's root, a relative or an empty path.
void RemoveTree(const std::wstring& path);
bool Exists(const std::wstring& path);
bool IsDirectory(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);
// Names directly inside `directory`, sorted, without "." and "..".
std::vector<std::wstring> ListDirectory(const std::wstring& directory);

std::string Narrow(const std::wstring& text);

// A Unix path of the build as Wine shows it: on drive Z:, with backslashes.
std::wstring WinePathOf(const char* unix_path);

}  // namespace orvia_test

#endif  // ORVIA_TESTS_SUPPORT_WINDOWS_TEST_SUPPORT_H_
