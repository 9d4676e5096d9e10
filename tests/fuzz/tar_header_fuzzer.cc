// ParseTarHeader, NextTarHeaderPosition and IsSafeMemberName on arbitrary headers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/common/byte_order.h"
#include "core/payload/tar_header.h"

namespace {

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

// The escapes that a safe name must never hold, checked the simple way.
bool HoldsEscape(const char* name, size_t length) {
  if (length > 0 && IsSeparator(name[0]))
    return true;
  if (std::memchr(name, ':', length))
    return true;
  size_t start = 0;
  for (size_t i = 0; i <= length; ++i) {
    if (i == length || IsSeparator(name[i])) {
      if (i - start == 2 && name[start] == '.' && name[start + 1] == '.')
        return true;
      start = i + 1;
    }
  }
  return false;
}

}  // namespace

// Input: the 512-byte header (zero-filled when shorter), then optionally four
// bytes giving where its data starts.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t block[orvia::kTarBlockSize] = {};
  std::memcpy(block, data, size < sizeof(block) ? size : sizeof(block));
  const orvia::TarHeader header = orvia::ParseTarHeader(block);
  if (header.kind != orvia::TarHeaderKind::kEntry)
    return 0;
  if (header.name != reinterpret_cast<const char*>(block) ||
      header.name_length > orvia::kTarNameSize)
    std::abort();
  // The name is handed on without a NUL: an exact-size copy shows reads past it.
  char* name = static_cast<char*>(std::malloc(header.name_length ? header.name_length : 1));
  std::memcpy(name, header.name, header.name_length);
  if (orvia::IsSafeNarrowMemberName(name, header.name_length) &&
      HoldsEscape(name, header.name_length))
    std::abort();
  std::free(name);

  int64_t data_start = orvia::kTarBlockSize;
  if (size >= sizeof(block) + 4) {
    const uint8_t* p = data + sizeof(block);
    data_start = static_cast<int64_t>(orvia::ReadLe32(p)) & ~int64_t{orvia::kTarBlockSize - 1};
  }
  const int64_t next = orvia::NextTarHeaderPosition(data_start, header.size);
  if (next == orvia::kNoTarPosition)
    return 0;
  // A next header sits on a block boundary after the data, within one block of
  // its end, and below 2 GiB.
  const int64_t data_end = data_start + header.size;
  if (header.size < 0 || next % orvia::kTarBlockSize != 0 || next < data_end ||
      next - data_end >= orvia::kTarBlockSize || next >= orvia::kTarPositionLimit)
    std::abort();
  return 0;
}
