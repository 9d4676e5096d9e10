// orvia-pack --list on a hostile installer: the payload resource found in the
// image's resource tree, decoded with the stub's decoder, its tarball walked
// with the stub's rules.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/payload_request.h"
#include "tools/pack/installer_image.h"
#include "tools/pack/payload.h"
#include "tools/pack/tar_list.h"

namespace {

// Sizes the stub would allocate: keep each run small enough for the fuzzer.
constexpr uint32_t kMaxRequest = 1u << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> image(data, data + size);
  std::vector<uint8_t> payload;
  std::string error;
  if (!orvia::ExtractPayload(image, &payload, &error))
    return 0;
  if (orvia::PayloadAsksTooMuch(payload, kMaxRequest))
    return 0;
  std::vector<uint8_t> tarball;
  orvia::Bcj2Header header;
  if (!orvia::DecodePayload(payload.data(), payload.size(), &tarball, &header, &error))
    return 0;
  std::vector<orvia::TarMember> members;
  orvia::ListTarMembers(tarball.data(), tarball.size(), &members, &error);
  for (const orvia::TarMember& member : members) {
    if (member.data_offset > tarball.size() || member.size > tarball.size() - member.data_offset)
      std::abort();
  }
  return 0;
}
