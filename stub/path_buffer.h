// Paths that the platform edits in place live in buffers of MAX_PATH units.
#ifndef ORVIA_STUB_PATH_BUFFER_H_
#define ORVIA_STUB_PATH_BUFFER_H_

#include <windows.h>

#include "stub/common/wide_string.h"

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

}  // namespace orvia

#endif  // ORVIA_STUB_PATH_BUFFER_H_
