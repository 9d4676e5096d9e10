// The failure message box and the string-table lookups behind it.
#ifndef ORVIA_STUB_FAILURE_REPORT_H_
#define ORVIA_STUB_FAILURE_REPORT_H_

#include <cstdint>

#include "core/common/wide_string.h"
#include "resources/resource_ids.h"
#include "stub/platform/win32_api.h"

namespace orvia {

// Loads string `id` of the executable's string table, in the language the
// resource loader picks for the thread. On failure `text` is left as it was.
bool LoadResourceString(Win32Api& api, UINT id, WideString& text);

// Formats string `id` as a FormatMessageW format with the given wide-string
// inserts (nullptr-terminated is not needed: only the inserts the format names
// are read). The thread's last-error value is the same afterwards. A missing
// or empty format, or a formatter failure, ends the process.
void FormatResourceString(Win32Api& api, WideString& text, UINT id, ...);

// Shows the failure box for `code` (no owner, MB_OK, no icon) and returns
// `code` once the user has closed it.
uint32_t ReportFailure(Win32Api& api, uint32_t code);

}  // namespace orvia

#endif  // ORVIA_STUB_FAILURE_REPORT_H_
