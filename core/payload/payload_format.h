// Layout of the payload resource: an LZMA-alone stream whose decoded block is
// a branch-converter header followed by four BCJ2 streams that give the tarball.
#ifndef ORVIA_CORE_PAYLOAD_PAYLOAD_FORMAT_H_
#define ORVIA_CORE_PAYLOAD_PAYLOAD_FORMAT_H_

#include <cstdint>

#include "core/common/byte_order.h"

namespace orvia {

// Resource placement: type name "B", integer id 102, language neutral.
constexpr wchar_t kPayloadResourceType[] = L"B";
constexpr uint16_t kPayloadResourceId = 102;
// The marker that travels with the payload; the stub never reads it.
constexpr wchar_t kMarkerResourceType[] = L"KELVARUPDATE";
constexpr uint16_t kMarkerResourceId = 1;

// LZMA-alone header: properties (1), dictionary size (4), unpacked size (8).
constexpr uint32_t kLzmaAloneHeaderSize = 13;
constexpr uint32_t kLzmaUnpackedSizeOffset = 5;
// Properties lc + 9 * (lp + 5 * pb) stay below this.
constexpr uint8_t kLzmaPropertiesLimit = 225;

// Branch-converter header: output, main, call, jump and range-coder sizes.
constexpr uint32_t kBcj2HeaderSize = 20;

struct Bcj2Header {
  uint32_t output_size = 0;
  uint32_t main_size = 0;
  uint32_t call_size = 0;
  uint32_t jump_size = 0;
  uint32_t rc_size = 0;
};

// The five fields at the start of a decoded block of at least kBcj2HeaderSize bytes.
inline Bcj2Header ReadBcj2Header(const uint8_t* block) {
  Bcj2Header header;
  header.output_size = ReadLe32(block);
  header.main_size = ReadLe32(block + 4);
  header.call_size = ReadLe32(block + 8);
  header.jump_size = ReadLe32(block + 12);
  header.rc_size = ReadLe32(block + 16);
  return header;
}

}  // namespace orvia

#endif  // ORVIA_CORE_PAYLOAD_PAYLOAD_FORMAT_H_
