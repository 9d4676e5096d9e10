// A read-only view of a whole file.
#ifndef ORVIA_STUB_TAG_MAPPED_FILE_H_
#define ORVIA_STUB_TAG_MAPPED_FILE_H_

#include <cstdint>

#include "stub/platform/win32_api.h"

namespace orvia {

class MappedFile {
 public:
  explicit MappedFile(Win32Api& api) : api_(api) {}
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  virtual ~MappedFile() { Close(); }

  // Closes whatever is held, then maps `path`; on failure everything acquired
  // is released again and the object stays closed.
  bool Open(const wchar_t* path);
  void Close();

  const uint8_t* data() const { return view_; }
  // The mapped region as the system reports it: the file length rounded up
  // to whole pages, the bytes past the end reading as zero.
  uint32_t size() const { return view_size_; }

 private:
  Win32Api& api_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  HANDLE mapping_ = nullptr;
  const uint8_t* view_ = nullptr;
  uint32_t view_size_ = 0;
};

}  // namespace orvia

#endif  // ORVIA_STUB_TAG_MAPPED_FILE_H_
