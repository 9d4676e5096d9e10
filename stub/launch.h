// Starts the setup program and waits for it.
#ifndef ORVIA_STUB_LAUNCH_H_
#define ORVIA_STUB_LAUNCH_H_

#include <cstdint>

#include "core/common/wide_string.h"
#include "stub/platform/win32_api.h"

namespace orvia {

// Runs `command_line` as a child with the stub's startup information, shown
// normally, and waits without a time limit. The child's exit code, or the
// error number of a failed creation, goes to `exit_code` when one is given.
// True when the child ran and its exit code was fetched (or not asked for).
bool LaunchAndWait(Win32Api& api, const WideString& command_line, uint32_t* exit_code);

}  // namespace orvia

#endif  // ORVIA_STUB_LAUNCH_H_
