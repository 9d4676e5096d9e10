#include "tools/pack/decode_budget.h"

namespace orvia {
namespace {

std::string MiB(uint64_t bytes) {
  return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB";
}

}  // namespace

bool CheckStubCanDecode(uint64_t payload, uint64_t block, uint64_t tarball, std::string* error) {
  const uint64_t needed = payload + block + tarball + kStubAddressMargin;
  if (needed <= kStubAddressSpace)
    return true;
  *error = "too large for the stub to decode: payload " + MiB(payload) + " + decoded block " +
           MiB(block) + " + tarball " + MiB(tarball) + " + margin " + MiB(kStubAddressMargin) +
           " = " + MiB(needed) + ", more than the " + MiB(kStubAddressSpace) +
           " a 32-bit process can address";
  return false;
}

}  // namespace orvia
