// The setup program's command line: its path, the stub's arguments (or the
// default install arguments) and the tag.
#ifndef ORVIA_STUB_SETUP_COMMAND_LINE_H_
#define ORVIA_STUB_SETUP_COMMAND_LINE_H_

#include "core/common/wide_string.h"
#include "stub/platform/win32_api.h"

namespace orvia {

// Composes the line from the setup program's path, the stub's arguments and
// the tag (null when there is none). False, with `line` unspecified, when
// there are neither stub arguments nor a tag.
bool BuildSetupCommandLine(Win32Api& api,
                           const WideString& setup_path,
                           const WideString& arguments,
                           const char* tag,
                           WideString* line);

// When `arguments` open with "/recover", exactly as written, appends the
// stub's own path in double quotes; otherwise leaves `line` alone.
void AppendRecoverArgument(Win32Api& api, const WideString& arguments, WideString* line);

// True when the line ended in " /nomitag" (any case) and was cut by it.
bool RemoveNoMiTagSuffix(Win32Api& api, WideString* line);

}  // namespace orvia

#endif  // ORVIA_STUB_SETUP_COMMAND_LINE_H_
