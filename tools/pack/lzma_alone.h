// LZMA-alone streams (13-byte header, then raw LZMA data) through the SDK's
// single-threaded encoder; the stub's own decoder reads them back.
#ifndef ORVIA_TOOLS_PACK_LZMA_ALONE_H_
#define ORVIA_TOOLS_PACK_LZMA_ALONE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/payload/payload_format.h"

namespace orvia {

struct LzmaOptions {
  int lc = 3;
  int lp = 0;
  int pb = 2;
  uint32_t dict_size = 8u << 20;
  int level = 5;
};

// Limits the options must respect; the stub is a 32-bit process that
// allocates the whole dictionary.
constexpr uint32_t kLzmaMinDictSize = 1u << 12;
constexpr uint32_t kLzmaMaxDictSize = 1u << 27;

// Returns an empty string for usable options, else the reason.
std::string CheckLzmaOptions(const LzmaOptions& options);

// Called now and then with the number of input bytes consumed so far.
using LzmaProgress = std::function<void(uint64_t consumed)>;

// Compresses `size` bytes into `out`: properties byte, dictionary size (as
// the encoder rounds it), the exact size as 64 bits, and the data without an
// end marker.
bool EncodeLzmaAlone(const uint8_t* data,
                     size_t size,
                     const LzmaOptions& options,
                     const LzmaProgress& progress,
                     std::vector<uint8_t>* out,
                     std::string* error);

}  // namespace orvia

#endif  // ORVIA_TOOLS_PACK_LZMA_ALONE_H_
