#include "stub/workdir/base_directory.h"

#include <shlobj.h>

#include "core/common/heap_buffer.h"
#include "stub/path_buffer.h"
#include "stub/result_codes.h"
#include "stub/workdir/directory_ops.h"

namespace orvia {
namespace {

struct AdminCandidate {
  int folder;
  const wchar_t* sub_path;
  bool create;
};

// Directories that only administrators can write to, so no other user can
// plant files in the working directory between extraction and launch.
constexpr AdminCandidate kAdminCandidates[] = {
    {CSIDL_WINDOWS, L"SystemTemp", false},
    {CSIDL_PROGRAM_FILES, L"Orvia\\Temp", true},
};

// The folder number without flags such as CSIDL_FLAG_CREATE.
constexpr int kCsidlFolderMask = 0xFF;

struct FolderFallback {
  int folder;
  const wchar_t* variable;
};

constexpr FolderFallback kFolderFallbacks[] = {
    {CSIDL_PROGRAM_FILES, L"ProgramFiles"},
    {CSIDL_LOCAL_APPDATA, L"LocalAppData"},
};

bool IsDirectory(Win32Api& api, const WideString& path) {
  WIN32_FILE_ATTRIBUTE_DATA attributes = {};
  return api.GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes) &&
         (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

WideString GetEnvironmentValue(Win32Api& api, const wchar_t* name) {
  DWORD size = api.GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0)
    return WideString();
  HeapBuffer<wchar_t> buffer(size);
  DWORD written = api.GetEnvironmentVariableW(name, buffer.get(), size);
  // The variable may have grown in between; never read past the buffer.
  WideString value;
  if (written > 0 && written < size)
    value.Assign(buffer.get(), written);
  return value;
}

HRESULT GetFolderPathWithFallback(Win32Api& api, int folder, WideString* path) {
  path->Clear();
  wchar_t buffer[MAX_PATH] = {};
  HRESULT result = api.SHGetFolderPathW(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, buffer);
  if (result >= 0) {
    buffer[MAX_PATH - 1] = L'\0';
    path->Assign(buffer);
    return S_OK;
  }
  for (const FolderFallback& fallback : kFolderFallbacks) {
    if (fallback.folder == (folder & kCsidlFolderMask))
      *path = GetEnvironmentValue(api, fallback.variable);
  }
  return path->empty() ? result : S_FALSE;
}

HRESULT ComposeFolderPath(Win32Api& api,
                          int folder,
                          const wchar_t* sub_path,
                          bool create,
                          WideString* path) {
  WideString folder_path;
  HRESULT result = GetFolderPathWithFallback(api, folder | CSIDL_FLAG_CREATE, &folder_path);
  if (result < 0)
    return result;
  wchar_t buffer[MAX_PATH] = {};
  if (!CopyToPathBuffer(folder_path, buffer) || !api.PathAppendW(buffer, sub_path))
    return static_cast<HRESULT>(STUB_E_PATH_APPEND);
  buffer[MAX_PATH - 1] = L'\0';
  path->Assign(buffer);
  // Its result is not looked at: the candidate's own check below decides.
  if (create)
    CreateDirectoryPath(api, *path);
  return S_OK;
}

WideString FindAdminBaseDirectory(Win32Api& api) {
  if (!api.IsUserAnAdmin())
    return WideString();
  for (const AdminCandidate& candidate : kAdminCandidates) {
    WideString path;
    if (ComposeFolderPath(api, candidate.folder, candidate.sub_path, candidate.create, &path) < 0)
      continue;
    if (!IsDirectory(api, path))
      continue;
    // A file made and deleted proves the directory is writable for us.
    WideString probe = MakeTempFileName(api, path, kWorkPrefix);
    if (probe.empty())
      continue;
    api.DeleteFileW(probe.c_str());
    return path;
  }
  return WideString();
}

bool UseUserTempDirectory(Win32Api& api, WideString* working_dir, WideString* base_dir) {
  wchar_t buffer[MAX_PATH] = {};
  DWORD length = api.GetTempPathW(MAX_PATH, buffer);
  if (length == 0 || length >= MAX_PATH)
    return false;
  WideString path(buffer);
  if (!CreateWorkingDirectory(api, path, working_dir))
    return false;
  *base_dir = path;
  return true;
}

}  // namespace orvia
