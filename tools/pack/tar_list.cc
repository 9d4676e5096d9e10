#include "tools/pack/tar_list.h"

#include "core/payload/tar_header.h"

namespace orvia {
namespace {

// The stub creates each member as a file straight in its working directory
// and never makes directories: a name is usable only when every segment but
// the last is "." or empty (the system drops those) and the last is a name.
bool IsTopLevelName(const std::string& name) {
  size_t start = 0;
  for (;;) {
    const size_t end = name.find_first_of("/\\", start);
    const std::string segment = name.substr(start, end - start);
    if (end == std::string::npos)
      return !segment.empty() && segment != ".";
    if (!segment.empty() && segment != ".")
      return false;
    start = end + 1;
  }
}

}  // namespace

bool ListTarMembers(const uint8_t* data,
                    size_t size,
                    std::vector<TarMember>* members,
                    std::string* error) {
  members->clear();
  size_t pos = 0;
  for (;;) {
    const std::string at = " at offset " + std::to_string(pos);
    if (size - pos < kTarBlockSize) {
      *error = "tarball ends without an end-of-archive block";
      return false;
    }
    const TarHeader header =
        ParseTarHeader(*reinterpret_cast<const uint8_t(*)[kTarBlockSize]>(data + pos));
    if (header.kind == TarHeaderKind::kEnd)
      return true;
    if (header.kind == TarHeaderKind::kDamaged) {
      *error = "no ustar header" + at;
      return false;
    }
    TarMember member;
    member.name.assign(header.name, header.name_length);
    member.data_offset = pos + kTarBlockSize;
    const int64_t next =
        NextTarHeaderPosition(static_cast<int64_t>(member.data_offset), header.size);
    if (next == kNoTarPosition) {
      *error = "member " + member.name + at + " has a negative size or ends past 2 GiB";
      return false;
    }
    if (!IsSafeNarrowMemberName(header.name, header.name_length)) {
      *error =
          "member name " + member.name + at + " would leave the working directory or open a device";
      return false;
    }
    if (!IsTopLevelName(member.name)) {
      *error = "member " + member.name + at +
               " lies in a directory; the stub creates only top-level files";
      return false;
    }
    member.size = static_cast<uint64_t>(header.size);
    if (member.size > size - member.data_offset) {
      *error = "member " + member.name + " runs past the end of the tarball";
      return false;
    }
    members->push_back(member);
    pos = static_cast<size_t>(next);
    if (pos > size)
      pos = size;
  }
}

}  // namespace orvia
