// Narrow text to wide strings in the thread's ANSI code page.
#ifndef ORVIA_STUB_WIDEN_H_
#define ORVIA_STUB_WIDEN_H_

#include "core/common/wide_string.h"
#include "stub/platform/win32_api.h"

namespace orvia {

// Widens `length` bytes of `text` (-1: up to its NUL, which is not kept) with
// MultiByteToWideChar in CP_THREAD_ACP. A conversion that yields nothing gives
// the empty string.
WideString Widen(Win32Api& api, const char* text, int length);

}  // namespace orvia

#endif  // ORVIA_STUB_WIDEN_H_
