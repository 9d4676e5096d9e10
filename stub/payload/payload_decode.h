// Decodes a payload (LZMA, then BCJ2) into the tarball, in memory.
#ifndef ORVIA_STUB_PAYLOAD_PAYLOAD_DECODE_H_
#define ORVIA_STUB_PAYLOAD_PAYLOAD_DECODE_H_

#include <cstdint>

namespace orvia {

// Receives the whole tarball once; returns true when it was stored in full.
using TarballWriter = bool (*)(void* context, const uint8_t* tarball, uint32_t size);

// 0 when the tarball was decoded and `write` stored it; 1 when the branch
// converter failed; -1 on every other failure. Nothing outside the payload or
// the decoded block is ever read. Exhausted memory ends the process.
int DecodePayloadBuffer(const uint8_t* payload, uint32_t length, TarballWriter write,
                        void* context);

}  // namespace orvia

#endif  // ORVIA_STUB_PAYLOAD_PAYLOAD_DECODE_H_
