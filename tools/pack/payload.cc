#include "tools/pack/payload.h"

#include "core/payload/payload_decode.h"

namespace orvia {
namespace {

bool KeepTarball(void* context, const uint8_t* tarball, uint32_t size) {
  static_cast<std::vector<uint8_t>*>(context)->assign(tarball, tarball + size);
  return true;
}

}  // namespace

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
  // The resource size the stub hands its decoder is 32-bit.
  if (size > UINT32_MAX) {
    *error = "payload of 4 GiB or more";
    return false;
  }
  const PayloadDecodeResult result =
      DecodePayloadBuffer(payload, static_cast<uint32_t>(size), KeepTarball, tarball, header);
  if (result != PayloadDecodeResult::kDecoded) {
    *error = DescribePayloadDecodeResult(result);
    return false;
  }
  return true;
}

}  // namespace orvia
