#include "stub/tag/read_tag.h"

#include <cstring>

#include "core/tag/tag_scan.h"
#include "stub/tag/mapped_file.h"

namespace orvia {

HeapBuffer<char> ReadTag(Win32Api& api, const wchar_t* path) {
  if (!path)
    return HeapBuffer<char>();
  MappedFile file(api);
  if (!file.Open(path))
    return HeapBuffer<char>();
  size_t offset = 0;
  size_t length = 0;
  if (FindTagText(file.data(), file.size(), &offset, &length) != TagScanResult::kFound)
    return HeapBuffer<char>();
  HeapBuffer<char> tag(length + 1);
  std::memcpy(tag.get(), file.data() + offset, length);
  tag[length] = '\0';
  size_t usable = 0;
  if (CheckTagText(reinterpret_cast<const uint8_t*>(tag.get()), length, &usable) !=
      TagScanResult::kFound)
    return HeapBuffer<char>();
  return tag;
}

}  // namespace orvia
