// Owners for the platform handles the stub opens; each closes its handle
// through the seam exactly once.
#ifndef ORVIA_STUB_SCOPED_HANDLE_H_
#define ORVIA_STUB_SCOPED_HANDLE_H_

#include "stub/platform/win32_api.h"

namespace orvia {

// `Invalid` is the value that means "no handle": INVALID_HANDLE_VALUE for
// files, null for mappings and processes.
template <HANDLE (*Invalid)()>
class ScopedHandleT {
 public:
  ScopedHandleT(Win32Api& api, HANDLE handle) : api_(&api), handle_(handle) {}
  explicit ScopedHandleT(Win32Api& api) : api_(&api), handle_(Invalid()) {}
  ScopedHandleT(const ScopedHandleT&) = delete;
  ScopedHandleT& operator=(const ScopedHandleT&) = delete;
  ScopedHandleT(ScopedHandleT&& other) : api_(other.api_), handle_(other.release()) {}
  ScopedHandleT& operator=(ScopedHandleT&& other) {
    if (this != &other) {
      reset(other.release());
      api_ = other.api_;
    }
    return *this;
  }
  ~ScopedHandleT() { reset(); }

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != Invalid(); }
  void reset(HANDLE handle = Invalid()) {
    if (valid())
      api_->CloseHandle(handle_);
    handle_ = handle;
  }
  HANDLE release() {
    HANDLE handle = handle_;
    handle_ = Invalid();
    return handle;
  }

 private:
  Win32Api* api_;
  HANDLE handle_;
};

inline HANDLE InvalidFileHandle() {
  return INVALID_HANDLE_VALUE;
}
inline HANDLE NullHandle() {
  return nullptr;
}

using ScopedFileHandle = ScopedHandleT<InvalidFileHandle>;
using ScopedHandle = ScopedHandleT<NullHandle>;

// Both handles of a started process: the process handle closes first, then
// the thread handle.
class ScopedProcess {
 public:
  ScopedProcess(Win32Api& api, const PROCESS_INFORMATION& started)
      : thread_(api, started.hThread), process_(api, started.hProcess) {}

  HANDLE process() const { return process_.get(); }

 private:
  // Members are destroyed in reverse order of declaration.
  ScopedHandle thread_;
  ScopedHandle process_;
};

}  // namespace orvia

#endif  // ORVIA_STUB_SCOPED_HANDLE_H_
