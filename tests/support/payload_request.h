// Whether decoding a payload would ask for more memory than a fuzzer has: the
// fuzz targets that reach the stub's decoder skip such inputs.
#ifndef ORVIA_TESTS_SUPPORT_PAYLOAD_REQUEST_H_
#define ORVIA_TESTS_SUPPORT_PAYLOAD_REQUEST_H_

#include <cstdint>
#include <vector>

#include "LzmaDec.h"
#include "core/payload/payload_format.h"
#include "tests/support/malloc_alloc.h"

namespace orvia {

// True when the dictionary, the unpacked block or the tarball the block
// announces is larger than `max_request` bytes.
inline bool PayloadAsksTooMuch(const std::vector<uint8_t>& payload, uint32_t max_request) {
  if (payload.size() < kLzmaAloneHeaderSize)
    return false;
  const uint32_t unpacked = ReadLe32(payload.data() + kLzmaUnpackedSizeOffset);
  if (ReadLe32(payload.data() + 1) > max_request || unpacked > max_request)
    return true;
  // Below the branch-converter header the stub stops before any tarball.
  if (unpacked < kBcj2HeaderSize)
    return false;
  // The tarball's size sits in the decoded block: peek at it.
  std::vector<uint8_t> block(unpacked);
  SizeT produced = unpacked;
  SizeT consumed = payload.size() - kLzmaAloneHeaderSize;
  ELzmaStatus status;
  // Whatever the result: the stub goes on after a stream that merely ran out of
  // input once the block was full.
  LzmaDecode(block.data(), &produced, payload.data() + kLzmaAloneHeaderSize, &consumed,
             payload.data(), LZMA_PROPS_SIZE, LZMA_FINISH_END, &status, MallocAlloc());
  return produced >= 4 && ReadLe32(block.data()) > max_request;
}

}  // namespace orvia

#endif  // ORVIA_TESTS_SUPPORT_PAYLOAD_REQUEST_H_
