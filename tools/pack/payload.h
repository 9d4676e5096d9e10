// The payload as a whole: tarball -> BCJ2 block -> LZMA-alone stream, and
// back again with the stub's own decoder.
#ifndef ORVIA_TOOLS_PACK_PAYLOAD_H_
#define ORVIA_TOOLS_PACK_PAYLOAD_H_

#include <cstdint>
#include <string>
#include <vector>

#include "core/payload/payload_format.h"
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

// Decodes a payload exactly as the stub does (the stub's decoder, linked from
// the core) into `tarball`; on failure `error` gives the decoder's reason.
bool DecodePayload(const uint8_t* payload,
                   size_t size,
                   std::vector<uint8_t>* tarball,
                   Bcj2Header* header,
                   std::string* error);

}  // namespace orvia

#endif  // ORVIA_TOOLS_PACK_PAYLOAD_H_
