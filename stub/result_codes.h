// The stub's own result codes.
#ifndef ORVIA_STUB_RESULT_CODES_H_
#define ORVIA_STUB_RESULT_CODES_H_

#include <cstdint>

namespace orvia {

constexpr uint32_t STUB_E_UNSUPPORTED_OS = 0x80040703;
constexpr uint32_t STUB_E_PATH_APPEND = 0x80040709;
constexpr uint32_t STUB_E_UNTAGGED = 0x80040750;
// The setup program's exit code that keeps the tarball, the working directory
// and the self copy on disk.
constexpr uint32_t STUB_EXIT_KEEP_FILES = 0x8004FFFF;
// A run that stops silently.
constexpr uint32_t kRunFailed = 0xFFFFFFFF;

// A positive Windows error number as an HRESULT.
constexpr uint32_t HresultFromWin32(uint32_t error) {
  return static_cast<int32_t>(error) <= 0 ? error : (0x80070000u | (error & 0xFFFF));
}

}  // namespace orvia

#endif  // ORVIA_STUB_RESULT_CODES_H_
