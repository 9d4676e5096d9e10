#include "core/tag/tag_scan.h"

#include <cstring>

#include "core/common/byte_order.h"
#include "core/common/pe_format.h"

namespace orvia {
namespace {

constexpr uint64_t kNtHeadersSpan = kPeSignatureSize + kPeCoffHeaderSize + kPe32OptionalHeaderSize;
constexpr size_t kCertificateEntryOffset = PeDirectoryEntryOffset(kPeDirectorySecurity);
constexpr uint64_t kWinCertificateHeaderSize = 8;
constexpr uint64_t kMinimumTableSize = 12;

}  // namespace

const char* DescribeTagScanResult(TagScanResult result) {
  switch (result) {
    case TagScanResult::kFound:
      return "tag found";
    case TagScanResult::kViewTooSmall:
      return "too small to be a PE image";
    case TagScanResult::kNoMzHeader:
      return "not a PE image (no MZ header)";
    case TagScanResult::kHeadersOutsideView:
      return "the PE headers lie outside the file";
    case TagScanResult::kNoPeSignature:
      return "not a PE image (no PE signature)";
    case TagScanResult::kAmd64Image:
      return "a 64-bit (AMD64) image";
    case TagScanResult::kUnsigned:
      return "not signed (no certificate table)";
    case TagScanResult::kTableOutsideView:
      return "the certificate table lies outside the file";
    case TagScanResult::kNotDerSequence82:
      return "the signature does not open with 0x30 0x82";
    case TagScanResult::kTableTooSmall:
      return "the certificate table is smaller than 12 bytes";
    case TagScanResult::kNoMagic:
      return "no tag block in the certificate table";
    case TagScanResult::kLengthOutsideTable:
      return "the tag length lies past the end of the certificate table";
    case TagScanResult::kLengthEmpty:
      return "the tag block is empty (length 0)";
    case TagScanResult::kLengthReserved:
      return "the tag length is 65535";
    case TagScanResult::kTextOutsideTable:
      return "the tag text runs past the end of the certificate table";
    case TagScanResult::kDoubleQuote:
      return "the tag holds a double quote";
  }
  return "unknown";
}

TagScanResult FindTagText(const uint8_t* view,
                          size_t size,
                          size_t* text_offset,
                          size_t* text_length) {
  if (size < kPeDosHeaderSize)
    return TagScanResult::kViewTooSmall;
  if (view[0] != 'M' || view[1] != 'Z')
    return TagScanResult::kNoMzHeader;
  const uint64_t nt = ReadLe32(view + kPeNtHeadersOffsetField);
  if (nt + kNtHeadersSpan > size)
    return TagScanResult::kHeadersOutsideView;
  const uint8_t* headers = view + nt;
  if (std::memcmp(headers, "PE\0\0", 4) != 0)
    return TagScanResult::kNoPeSignature;
  if (ReadLe16(headers + kPeSignatureSize + kPeMachineOffset) == kPeMachineAmd64)
    return TagScanResult::kAmd64Image;
  const uint64_t table = ReadLe32(headers + kCertificateEntryOffset);
  const uint64_t table_size = ReadLe32(headers + kCertificateEntryOffset + 4);
  if (table == 0)
    return TagScanResult::kUnsigned;
  // Strictly less: the two DER bytes after the header must be inside the view.
  if (table + kMinimumTableSize >= size)
    return TagScanResult::kTableOutsideView;
  // The signature must open with a DER SEQUENCE in the two-byte long form.
  const uint8_t* der = view + table + kWinCertificateHeaderSize;
  if (der[0] != 0x30 || der[1] != 0x82)
    return TagScanResult::kNotDerSequence82;
  if (table + table_size > size)
    return TagScanResult::kTableOutsideView;
  if (table_size < kMinimumTableSize)
    return TagScanResult::kTableTooSmall;
  // Only the first occurrence of the magic counts, even when it is unusable.
  const uint8_t* end = view + table + table_size;
  for (const uint8_t* p = view + table; p + kTagMagicSize <= end; ++p) {
    if (std::memcmp(p, kTagMagic, kTagMagicSize) != 0)
      continue;
    // The length field and the text must lie inside the table as well.
    if (end - p < static_cast<ptrdiff_t>(kTagHeaderSize))
      return TagScanResult::kLengthOutsideTable;
    const size_t length = ReadBe16(p + kTagMagicSize);
    if (length == kTagLengthEmpty)
      return TagScanResult::kLengthEmpty;
    if (length == kTagLengthReserved)
      return TagScanResult::kLengthReserved;
    if (static_cast<size_t>(end - p) - kTagHeaderSize < length)
      return TagScanResult::kTextOutsideTable;
    *text_offset = static_cast<size_t>(p - view) + kTagHeaderSize;
    *text_length = length;
    return TagScanResult::kFound;
  }
  return TagScanResult::kNoMagic;
}

TagScanResult CheckTagText(const uint8_t* text, size_t length, size_t* usable_length) {
  size_t i = 0;
  for (; i < length && text[i] != 0; ++i) {
    if (text[i] == '"')
      return TagScanResult::kDoubleQuote;
  }
  *usable_length = i;
  return TagScanResult::kFound;
}

}  // namespace orvia
