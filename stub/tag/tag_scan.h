// Finds the tag block inside the certificate table of a PE file's bytes.
#ifndef ORVIA_STUB_TAG_TAG_SCAN_H_
#define ORVIA_STUB_TAG_TAG_SCAN_H_

#include <cstddef>
#include <cstdint>

namespace orvia {

// "Gact2.0Vantu", then a big-endian 16-bit length, then the text.
constexpr char kTagMagic[] = "Gact2.0Vantu";
constexpr size_t kTagMagicSize = 12;

// Looks at `size` bytes of a mapped file (the view, pages rounded up) and, when
// the first tag block of its certificate table holds a usable text, gives the
// text's offset and length in bytes. Never reads outside [view, view + size).
bool FindTagText(const uint8_t* view, size_t size, size_t* text_offset, size_t* text_length);

}  // namespace orvia

#endif  // ORVIA_STUB_TAG_TAG_SCAN_H_
