#include "tests/support/windows_test_support.h"

#include <algorithm>

#include "mini_test.h"

namespace orvia_test {

HANDLE Start(const std::wstring& command_line) {
  std::wstring line = command_line;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return nullptr;
  CloseHandle(process.hThread);
  return process.hProcess;
}

DWORD RunAndWait(const std::wstring& command_line) {
  HANDLE process = Start(command_line);
  if (!process)
    return 0xFFFFFFFE;
  WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return code;
}

std::wstring OwnPath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

std::wstring OwnDirectory() {
  std::wstring path = OwnPath();
  return path.substr(0, path.rfind(L'\\') + 1);
}

ScratchDirectory::ScratchDirectory() {
  wchar_t temp[MAX_PATH] = {};
  wchar_t name[MAX_PATH] = {};
  const DWORD length = GetTempPathW(MAX_PATH, temp);
  if (length == 0 || length >= MAX_PATH || GetTempFileNameW(temp, L"ots", 0, name) == 0) {
    ADD_FAILURE() << "no scratch directory: no temporary name";
    return;
  }
  DeleteFileW(name);
  if (!CreateDirectoryW(name, nullptr)) {
    ADD_FAILURE() << "no scratch directory: cannot create " << Narrow(name);
    return;
  }
  path_ = name;
}

ScratchDirectory::~ScratchDirectory() {
  // Only what this object made: a directory it could not make stays empty here.
  if (!path_.empty())
    RemoveTree(path_);
}

bool IsRemovableTree(const std::wstring& path) {
  // "X:\" and at least one name below it; never a drive's root or a relative path.
  return path.size() > 3 && path[1] == L':' && path[2] == L'\\' &&
         path.find_first_not_of(L'\\', 3) != std::wstring::npos;
}

void RemoveTree(const std::wstring& path) {
  if (!IsRemovableTree(path)) {
    ADD_FAILURE() << "refusing to remove " << Narrow(path);
    return;
  }
  for (const std::wstring& name : ListDirectory(path)) {
    std::wstring child = path + L"\\" + name;
    if (IsDirectory(child))
      RemoveTree(child);
    else
      DeleteFileW(child.c_str());
  }
  RemoveDirectoryW(path.c_str());
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  if (file != INVALID_HANDLE_VALUE) {
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
  }
}

std::string ReadFileBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return bytes;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0)
    bytes.append(chunk, got);
  CloseHandle(file);
  return bytes;
}

std::vector<std::wstring> ListDirectory(const std::wstring& directory) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((directory + L"\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE)
    return names;
  do {
    std::wstring name = found.cFileName;
    if (name != L"." && name != L"..")
      names.push_back(name);
  } while (FindNextFileW(find, &found));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

std::string Narrow(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr,
                      nullptr);
  return out;
}

std::wstring WinePathOf(const char* unix_path) {
  std::wstring path = L"Z:";
  for (const char* p = unix_path; *p; ++p)
    path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  return path;
}

}  // namespace orvia_test
