#include "stub/tag/tag_scan.h"

#include <cstring>

namespace orvia {
namespace {

constexpr uint64_t kNtHeadersSpan = 248;  // signature, file header, PE32 optional header
constexpr size_t kMachineOffset = 4;
constexpr size_t kCertificateEntryOffset = 152;  // data directory 4 in a PE32 header
constexpr uint16_t kMachineAmd64 = 0x8664;

uint32_t Read32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

bool FindTagText(const uint8_t* view, size_t size, size_t* text_offset, size_t* text_length) {
  if (size < 64 || view[0] != 'M' || view[1] != 'Z')
    return false;
  const uint64_t nt = Read32(view + 0x3C);
  if (nt + kNtHeadersSpan > size)
    return false;
  const uint8_t* headers = view + nt;
  if (std::memcmp(headers, "PE\0\0", 4) != 0)
    return false;
  if ((headers[kMachineOffset] | (headers[kMachineOffset + 1] << 8)) == kMachineAmd64)
    return false;
  const uint64_t table = Read32(headers + kCertificateEntryOffset);
  const uint64_t table_size = Read32(headers + kCertificateEntryOffset + 4);
  // The signature must open with a DER SEQUENCE in the two-byte long form.
  if (table == 0 || table + 12 >= size || view[table + 8] != 0x30 || view[table + 9] != 0x82)
    return false;
  if (table + table_size > size || table_size < 12)
    return false;
  // Only the first occurrence of the magic counts.
  const uint8_t* end = view + table + table_size;
  for (const uint8_t* p = view + table; p + kTagMagicSize <= end; ++p) {
    if (std::memcmp(p, kTagMagic, kTagMagicSize) != 0)
      continue;
    // The length field and the text must lie inside the table as well.
    if (end - p < static_cast<ptrdiff_t>(kTagMagicSize + 2))
      return false;
    const size_t length = (p[kTagMagicSize] << 8) | p[kTagMagicSize + 1];
    if (length == 0 || length == 0xFFFF ||
        static_cast<size_t>(end - p) - kTagMagicSize - 2 < length)
      return false;
    *text_offset = static_cast<size_t>(p - view) + kTagMagicSize + 2;
    *text_length = length;
    return true;
  }
  return false;
}

}  // namespace orvia
