#include "stub/tag/read_tag.h"

#include <cstring>

#include "stub/tag/mapped_file.h"
#include "stub/tag/tag_scan.h"

namespace orvia {

std::unique_ptr<char[]> ReadTag(Win32Api& api, const wchar_t* path) {
  if (!path)
    return nullptr;
  MappedFile file(api);
  if (!file.Open(path))
    return nullptr;
  size_t offset = 0;
  size_t length = 0;
  if (!FindTagText(file.data(), file.size(), &offset, &length))
    return nullptr;
  std::unique_ptr<char[]> tag(new char[length + 1]);
  std::memcpy(tag.get(), file.data() + offset, length);
  tag[length] = '\0';
  for (const char* p = tag.get(); *p; ++p) {
    if (*p == '"')
      return nullptr;
  }
  return tag;
}

}  // namespace orvia
