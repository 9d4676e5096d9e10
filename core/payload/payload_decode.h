// Decodes a payload (LZMA, then BCJ2) into the tarball, in memory.
#ifndef ORVIA_CORE_PAYLOAD_PAYLOAD_DECODE_H_
#define ORVIA_CORE_PAYLOAD_PAYLOAD_DECODE_H_

#include <cstdint>

#include "core/payload/payload_format.h"

namespace orvia {

// Receives the whole tarball once; returns true when it was stored in full.
using TarballWriter = bool (*)(void* context, const uint8_t* tarball, uint32_t size);

// What became of a payload. The stub only tells kDecoded from the rest; the
// tools say which it was.
enum class PayloadDecodeResult {
  kDecoded,
  kTooShort,             // not even the 13-byte LZMA header
  kBadProperties,        // a properties byte of 225 or more
  kLzmaFailed,           // damaged data, or data that ends before the declared size
  kBlockTooSmall,        // no room for the branch converter's header
  kStreamsOutsideBlock,  // the four streams claim more than the block holds
  kBranchConverterFailed,
  kWriteFailed,  // the writer did not store the tarball
};

const char* DescribePayloadDecodeResult(PayloadDecodeResult result);

// Nothing outside the payload or the decoded block is ever read. Exhausted
// memory ends the process. When the block was decoded, its branch-converter
// header goes to `header` if one is given.
PayloadDecodeResult DecodePayloadBuffer(const uint8_t* payload,
                                        uint32_t length,
                                        TarballWriter write,
                                        void* context,
                                        Bcj2Header* header = nullptr);

}  // namespace orvia

#endif  // ORVIA_CORE_PAYLOAD_PAYLOAD_DECODE_H_
