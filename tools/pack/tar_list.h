// Lists a tarball's members by the stub's own header rules, so that what the
// tool lists is what the stub extracts.
#ifndef ORVIA_TOOLS_PACK_TAR_LIST_H_
#define ORVIA_TOOLS_PACK_TAR_LIST_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvia {

// A member as the stub will see it.
struct TarMember {
  std::string name;
  uint64_t size = 0;
  size_t data_offset = 0;
};

// Walks the archive as the stub's extractor does (header, size, name check,
// next header at the next 512-byte boundary) up to the end block, and fails
// with the reason where the stub would fail. One rule is the tool's own: a
// name with a path separator, whose file the stub cannot create.
bool ListTarMembers(const uint8_t* data,
                    size_t size,
                    std::vector<TarMember>* members,
                    std::string* error);

}  // namespace orvia

#endif  // ORVIA_TOOLS_PACK_TAR_LIST_H_
