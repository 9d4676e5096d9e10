// Layout of the payload resource: an LZMA-alone stream whose decoded block is
// a branch-converter header followed by four BCJ2 streams that give the tarball.
#ifndef ORVIA_STUB_PAYLOAD_PAYLOAD_FORMAT_H_
#define ORVIA_STUB_PAYLOAD_PAYLOAD_FORMAT_H_

#include <cstdint>

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

inline uint32_t ReadLittleEndian32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace orvia

#endif  // ORVIA_STUB_PAYLOAD_PAYLOAD_FORMAT_H_
