#include "tools/pack/payload.h"

extern "C" {
#include "Bcj2.h"
}

#include "tools/pe/pe_image.h"

namespace orvia {

bool EncodePayload(std::vector<uint8_t> tarball,
                   const LzmaOptions& options,
                   const LzmaProgress& progress,
                   std::vector<uint8_t>* payload,
                   std::string* error) {
  if (tarball.size() > 0xFFFFFFFFu - kBcj2HeaderSize) {
    *error = "tarball too large for the 32-bit block header";
    return false;
  }
  std::vector<uint8_t> block = BuildBcj2Block(tarball.data(), tarball.size());
  tarball = std::vector<uint8_t>();
  return EncodeLzmaAlone(block.data(), block.size(), options, progress, payload, error);
}

bool DecodePayload(const uint8_t* payload,
                   size_t size,
                   std::vector<uint8_t>* tarball,
                   Bcj2Header* header,
                   std::string* error) {
  std::vector<uint8_t> block;
  if (!DecodeLzmaAlone(payload, size, &block, error))
    return false;
  if (block.size() < kBcj2HeaderSize) {
    *error = "decoded block of " + std::to_string(block.size()) + " bytes has no BCJ2 header";
    return false;
  }
  const uint8_t* p = block.data();
  *header = {ReadLe32(p), ReadLe32(p + 4), ReadLe32(p + 8), ReadLe32(p + 12), ReadLe32(p + 16)};
  uint64_t streams =
      uint64_t{header->main_size} + header->call_size + header->jump_size + header->rc_size;
  if (kBcj2HeaderSize + streams > block.size()) {
    *error = "BCJ2 streams reach past the decoded block";
    return false;
  }
  const uint8_t* main = p + kBcj2HeaderSize;
  const uint8_t* call = main + header->main_size;
  const uint8_t* jump = call + header->call_size;
  const uint8_t* rc = jump + header->jump_size;
  tarball->assign(header->output_size, 0);
  int res = Bcj2_Decode(main, header->main_size, call, header->call_size, jump, header->jump_size,
                        rc, header->rc_size, tarball->data(), tarball->size());
  if (res != SZ_OK) {
    *error = "BCJ2 streams do not decode to " + std::to_string(header->output_size) + " bytes";
    return false;
  }
  return true;
}

}  // namespace orvia
