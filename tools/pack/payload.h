// The payload as a whole: tarball -> BCJ2 block -> LZMA-alone stream, and
// back again the way the stub decodes it.
#ifndef ORVIA_TOOLS_PACK_PAYLOAD_H_
#define ORVIA_TOOLS_PACK_PAYLOAD_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tools/pack/bcj2_encoder.h"
#include "tools/pack/lzma_alone.h"

namespace orvia {

// Encodes the tarball. `tarball` is released once the branch converter has
// run, so that it and the compressed output never coexist.
bool EncodePayload(std::vector<uint8_t> tarball,
                   const LzmaOptions& options,
                   const LzmaProgress& progress,
                   std::vector<uint8_t>* payload,
                   std::string* error);

// The five header fields of a decoded block.
struct Bcj2Header {
  uint32_t output_size = 0;
  uint32_t main_size = 0;
  uint32_t call_size = 0;
  uint32_t jump_size = 0;
  uint32_t rc_size = 0;
};

// Decodes a payload with every check that a careful stub makes: the LZMA
// data ends exactly at the stored size, the block is at least the header,
// the streams fit inside it, and Bcj2_Decode yields `output_size` bytes.
bool DecodePayload(const uint8_t* payload,
                   size_t size,
                   std::vector<uint8_t>* tarball,
                   Bcj2Header* header,
                   std::string* error);

}  // namespace orvia

#endif  // ORVIA_TOOLS_PACK_PAYLOAD_H_
