// The tag block and how a reader finds it inside the certificate table of a
// PE file's bytes. The stub's reader and the host tools share this one scan.
#ifndef ORVIA_CORE_TAG_TAG_SCAN_H_
#define ORVIA_CORE_TAG_TAG_SCAN_H_

#include <cstddef>
#include <cstdint>

namespace orvia {

// A block is the magic, a big-endian 16-bit length, then the text.
constexpr char kTagMagic[] = "Gact2.0Vantu";
constexpr size_t kTagMagicSize = 12;
constexpr size_t kTagHeaderSize = kTagMagicSize + 2;
// Length values that never carry a text.
constexpr uint32_t kTagLengthEmpty = 0;
constexpr uint32_t kTagLengthReserved = 0xFFFF;

// Distributed copies carry the block as the whole content of a fixed-size
// OCTET STRING, the text followed by zero bytes; so it can be rewritten in
// place without moving anything else in the file.
constexpr size_t kTagBlockSize = 8206;
constexpr size_t kTagTextCapacity = kTagBlockSize - kTagHeaderSize;  // 8,192

// Why a view carries no usable tag. Every value but kFound means "no tag" to
// the stub; the tools print the reason.
enum class TagScanResult {
  kFound,
  kViewTooSmall,
  kNoMzHeader,
  kHeadersOutsideView,
  kNoPeSignature,
  kAmd64Image,
  kUnsigned,
  kTableOutsideView,
  kNotDerSequence82,
  kTableTooSmall,
  kNoMagic,
  kLengthOutsideTable,
  kLengthEmpty,
  kLengthReserved,
  kTextOutsideTable,
  kDoubleQuote,
};

// A one-line reason for `result`, for the tools' messages.
const char* DescribeTagScanResult(TagScanResult result);

// Looks at `size` bytes of a mapped file (the view, pages rounded up) and
// finds the first tag block of its certificate table; on kFound gives the
// offset and length of its text. Never reads outside [view, view + size).
TagScanResult FindTagText(const uint8_t* view,
                          size_t size,
                          size_t* text_offset,
                          size_t* text_length);

// The part of a found text that the setup program receives: the bytes before
// the first zero byte. kDoubleQuote when a double quote comes first, since
// the text goes between double quotes on the setup command line.
TagScanResult CheckTagText(const uint8_t* text, size_t length, size_t* usable_length);

}  // namespace orvia

#endif  // ORVIA_CORE_TAG_TAG_SCAN_H_
