// Paths that the platform edits in place live in buffers of MAX_PATH units.
#ifndef ORVIA_STUB_PATH_BUFFER_H_
#define ORVIA_STUB_PATH_BUFFER_H_

#include <windows.h>

#include "core/common/wide_string.h"
#include "stub/platform/win32_api.h"

namespace orvia {

// Copies `path` and its NUL into `buffer`; false when it does not fit.
template <size_t N>
bool CopyToPathBuffer(const WideString& path, wchar_t (&buffer)[N]) {
  if (path.length() >= N)
    return false;
  for (size_t i = 0; i <= path.length(); ++i)
    buffer[i] = path.c_str()[i];
  return true;
}

// The file of `module` (null: the executable) into a zeroed buffer; false
// when the system reports a length of 0, or of MAX_PATH or more (cut short).
inline bool GetModulePath(Win32Api& api, HMODULE module, wchar_t (&path)[MAX_PATH]) {
  for (wchar_t& unit : path)
    unit = L'\0';
  const DWORD length = api.GetModuleFileNameW(module, path, MAX_PATH);
  return length > 0 && length < MAX_PATH;
}

}  // namespace orvia

#endif  // ORVIA_STUB_PATH_BUFFER_H_
