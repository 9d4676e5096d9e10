// The process entry of the stub, behind the thin WinMain shim.
#ifndef ORVIA_STUB_ENTRY_H_
#define ORVIA_STUB_ENTRY_H_

#include <cstdint>

#include "core/common/wide_string.h"
#include "stub/platform/win32_api.h"

namespace orvia {

// Holds the result of CoInitializeEx and undoes a successful one.
class ComInitGuard {
 public:
  ComInitGuard(Win32Api& api, HRESULT result) : api_(api), result_(result) {}
  ComInitGuard(const ComInitGuard&) = delete;
  ComInitGuard& operator=(const ComInitGuard&) = delete;
  ~ComInitGuard();

  HRESULT result() const { return result_; }

 private:
  Win32Api& api_;
  HRESULT result_;
};

// True on Windows 5.0 with service pack 4 and every later version.
bool IsSupportedWindowsVersion(Win32Api& api);

// The stub's arguments: the narrow process command line without the program
// name and the blanks after it, widened in the thread's ANSI code page.
WideString GetStubArguments(Win32Api& api);

// Everything WinMain does; returns the process exit code.
uint32_t StubMain(Win32Api& api, HINSTANCE instance);

}  // namespace orvia

#endif  // ORVIA_STUB_ENTRY_H_
