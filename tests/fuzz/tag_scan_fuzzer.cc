// FindTagText on arbitrary views.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/common/byte_order.h"
#include "core/tag/tag_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t offset = 0;
  size_t length = 0;
  if (orvia::FindTagText(data, size, &offset, &length) != orvia::TagScanResult::kFound)
    return 0;
  // A found text follows the magic and its length field, inside the view.
  const size_t header = orvia::kTagMagicSize + 2;
  if (offset < header || length == 0 || length > 65534 || offset + length > size)
    std::abort();
  const uint8_t* block = data + offset - header;
  if (std::memcmp(block, orvia::kTagMagic, orvia::kTagMagicSize) != 0)
    std::abort();
  if (static_cast<size_t>(orvia::ReadBe16(block + orvia::kTagMagicSize)) != length)
    std::abort();
  size_t usable = 0;
  if (orvia::CheckTagText(data + offset, length, &usable) == orvia::TagScanResult::kFound &&
      (usable > length || std::memchr(data + offset, '"', usable) != nullptr ||
       (usable < length && data[offset + usable] != 0)))
    std::abort();
  return 0;
}
