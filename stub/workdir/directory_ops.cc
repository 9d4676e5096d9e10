#include "stub/workdir/directory_ops.h"

#include "stub/result_codes.h"

namespace orvia {

WideString MakeTempFileName(Win32Api& api, const WideString& directory, const wchar_t* prefix) {
  wchar_t buffer[MAX_PATH] = {};
  UINT unique = api.GetTempFileNameW(directory.c_str(), prefix, 0, buffer);
  // 111 is ERROR_BUFFER_OVERFLOW: the name did not fit the buffer.
  if (unique == 0 || unique == ERROR_BUFFER_OVERFLOW)
    return WideString();
  buffer[MAX_PATH - 1] = L'\0';
  return WideString(buffer);
}

HRESULT CreateDirectoryPath(Win32Api& api, const WideString& path) {
  wchar_t canonical[MAX_PATH] = {};
  if (!api.PathCanonicalizeW(canonical, path.c_str()))
    return E_FAIL;
  canonical[MAX_PATH - 1] = L'\0';
  WideString levels(canonical);
  for (size_t i = 0; i < levels.length(); ++i) {
    if (levels[i] == L'/')
      levels.data()[i] = L'\\';
  }
  // Visit the text before each backslash, then the whole text.
  size_t end = 0;
  for (;;) {
    while (end < levels.length() && levels[end] != L'\\')
      ++end;
    WideString level(levels.c_str(), end);
    WIN32_FILE_ATTRIBUTE_DATA attributes = {};
    if (!api.GetFileAttributesExW(level.c_str(), GetFileExInfoStandard, &attributes) &&
        !api.CreateDirectoryW(level.c_str(), nullptr)) {
      DWORD error = api.GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
        return static_cast<HRESULT>(HresultFromWin32(error));
    }
    if (end >= levels.length())
      return S_OK;
    ++end;
  }
}

bool CreateWorkingDirectory(Win32Api& api, const WideString& base, WideString* working_dir) {
  // Only the last level of the base is made here.
  if (!api.CreateDirectoryW(base.c_str(), nullptr) && api.GetLastError() != ERROR_ALREADY_EXISTS)
    return false;
  WideString name = MakeTempFileName(api, base, kWorkPrefix);
  if (name.empty())
    return false;
  // The placeholder reserved a unique name; the directory takes its place.
  api.DeleteFileW(name.c_str());
  if (!api.CreateDirectoryW(name.c_str(), nullptr))
    return false;
  *working_dir = name;
  return true;
}

}  // namespace orvia
