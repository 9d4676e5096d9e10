// Choosing the directory that holds the working directory and the tarball.
#ifndef ORVIA_STUB_WORKDIR_BASE_DIRECTORY_H_
#define ORVIA_STUB_WORKDIR_BASE_DIRECTORY_H_

#include <cstdint>

#include "core/common/wide_string.h"
#include "stub/platform/win32_api.h"

namespace orvia {

// The value of an environment variable; empty when absent or empty.
WideString GetEnvironmentValue(Win32Api& api, const wchar_t* name);

// S_OK: the system gave the folder; S_FALSE: it failed and the fallback
// variable for the folder gave a path; otherwise the system's failure code.
HRESULT GetFolderPathWithFallback(Win32Api& api, int folder, WideString* path);

// Appends `sub_path` to the folder, creating the result when `create` is set.
// S_OK, STUB_E_PATH_APPEND, or the folder lookup's failure; `path` is written
// only on S_OK.
HRESULT ComposeFolderPath(Win32Api& api,
                          int folder,
                          const wchar_t* sub_path,
                          bool create,
                          WideString* path);

// For administrators: the first protected candidate that is an existing
// directory in which a file can be created; empty when none qualifies or the
// user is no administrator.
WideString FindAdminBaseDirectory(Win32Api& api);

// The user's temporary directory as the base: creates the working directory
// in it. True after both `working_dir` and `base_dir` are set.
bool UseUserTempDirectory(Win32Api& api, WideString* working_dir, WideString* base_dir);

}  // namespace orvia

#endif  // ORVIA_STUB_WORKDIR_BASE_DIRECTORY_H_
