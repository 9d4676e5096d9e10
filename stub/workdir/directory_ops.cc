#include "stub/workdir/directory_ops.h"

#include "stub/meta_installer.h"
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

uint32_t CreateDirectoryPath(Win32Api& api, const WideString& path) {
  wchar_t canonical[MAX_PATH] = {};
  if (!api.PathCanonicalizeW(canonical, path.c_str()))
    return static_cast<uint32_t>(E_FAIL);
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
        return 0x80070000u | (error & 0xFFFF);
    }
    if (end >= levels.length())
      return 0;
    ++end;
  }
}

bool MetaInstaller::CreateWorkingDirectory(const WideString& base) {
  // Only the last level of the base is made here; 183 means it is there.
  if (!api_.CreateDirectoryW(base.c_str(), nullptr) &&
      api_.GetLastError() != ERROR_ALREADY_EXISTS)
    return false;
  WideString name = MakeTempFileName(api_, base, kWorkPrefix);
  if (name.empty())
    return false;
  // The placeholder reserved a unique name; the directory takes its place.
  api_.DeleteFileW(name.c_str());
  if (!api_.CreateDirectoryW(name.c_str(), nullptr))
    return false;
  working_dir = name;
  return true;
}

}  // namespace orvia
