#include "stub/tag/mapped_file.h"

namespace orvia {

bool MappedFile::Open(const wchar_t* path) {
  Close();
  file_ = api_.CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file_ == INVALID_HANDLE_VALUE)
    return false;
  mapping_ = api_.CreateFileMappingW(file_, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping_)
    view_ = static_cast<const uint8_t*>(api_.MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0));
  MEMORY_BASIC_INFORMATION region = {};
  if (!view_ || api_.VirtualQuery(view_, &region, sizeof(region)) == 0) {
    Close();
    return false;
  }
  view_size_ = static_cast<uint32_t>(region.RegionSize);
  return true;
}

void MappedFile::Close() {
  if (view_) {
    api_.UnmapViewOfFile(view_);
    view_ = nullptr;
  }
  if (mapping_) {
    api_.CloseHandle(mapping_);
    mapping_ = nullptr;
  }
  if (file_ != INVALID_HANDLE_VALUE) {
    api_.CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }
  view_size_ = 0;
}

}  // namespace orvia
