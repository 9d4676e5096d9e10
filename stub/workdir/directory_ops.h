// File-system operations that the working directory is built from.
#ifndef ORVIA_STUB_WORKDIR_DIRECTORY_OPS_H_
#define ORVIA_STUB_WORKDIR_DIRECTORY_OPS_H_

#include <cstdint>

#include "core/common/wide_string.h"
#include "stub/platform/win32_api.h"

namespace orvia {

// Prefixes of the system-made temporary names: probe files and the working
// directory, and the tarball file.
constexpr wchar_t kWorkPrefix[] = L"KUM";
constexpr wchar_t kTarballPrefix[] = L"KUT";

// Creates a new, empty file with a system-chosen unique name in `directory`
// and returns its full path; empty on failure.
WideString MakeTempFileName(Win32Api& api, const WideString& directory, const wchar_t* prefix);

// Creates every missing level of `path` (after resolving "." and ".." and
// turning forward slashes into backslashes). S_OK, E_FAIL when the path cannot
// be canonicalised, or the HRESULT of the first level that could not be made.
HRESULT CreateDirectoryPath(Win32Api& api, const WideString& path);

// Creates the last level of `base` if needed, then a new, empty, uniquely
// named directory inside it, whose path goes to `working_dir`. False, with
// `working_dir` untouched, when either cannot be made.
bool CreateWorkingDirectory(Win32Api& api, const WideString& base, WideString* working_dir);

}  // namespace orvia

#endif  // ORVIA_STUB_WORKDIR_DIRECTORY_OPS_H_
