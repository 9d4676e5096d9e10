// The encoding side of the four-stream x86 branch converter that the stub
// undoes with the LZMA SDK's one-shot Bcj2_Decode.
//
// Relative operands of E8 (call), E9 (jmp) and 0F 80..8F (jcc) become absolute
// positions in the data, big-endian, in a stream of their own, so that every
// call to one function carries the same four bytes and compresses well. A
// range-coded flag per branch opcode tells the decoder which were converted.
#ifndef ORVIA_TOOLS_PACK_BCJ2_ENCODER_H_
#define ORVIA_TOOLS_PACK_BCJ2_ENCODER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/payload/payload_format.h"

namespace orvia {

struct Bcj2Streams {
  std::vector<uint8_t> main;  // the data without the operands taken out
  std::vector<uint8_t> call;  // E8 targets, 4 bytes each
  std::vector<uint8_t> jump;  // E9 and 0F 8x targets, 4 bytes each
  std::vector<uint8_t> rc;    // the range-coded conversion flags
};

// Which branch operands to convert. A converted operand is only worth its
// flag when it looks like a real branch: the target lands inside the data
// and not farther away than code in one image plausibly jumps.
struct Bcj2Policy {
  uint32_t max_distance = 1u << 24;
};

// Encodes `size` bytes. Bcj2_Decode on the result with output size `size`
// gives the input back and uses up every stream exactly.
Bcj2Streams EncodeBcj2(const uint8_t* data, size_t size, const Bcj2Policy& policy = Bcj2Policy());

// The decoded block of a payload: the 20-byte header (output size and the
// four stream sizes, little-endian) and the streams back to back. `size` must
// be below 2^32.
std::vector<uint8_t> BuildBcj2Block(const uint8_t* data,
                                    size_t size,
                                    const Bcj2Policy& policy = Bcj2Policy());

}  // namespace orvia

#endif  // ORVIA_TOOLS_PACK_BCJ2_ENCODER_H_
