// Writes the ustar subset that the stub extracts: top-level regular files,
// one 512-byte header each, an end block, zero padding to a whole record.
#ifndef ORVIA_TOOLS_PACK_TAR_WRITER_H_
#define ORVIA_TOOLS_PACK_TAR_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/payload/tar_header.h"

namespace orvia {

constexpr size_t kTarRecordSize = 10240;
// The stub reads positions and sizes as signed 32-bit values.
constexpr uint64_t kTarMaxMemberSize = (1ull << 31) - 1;
constexpr uint64_t kTarMaxArchiveSize = (1ull << 31) - 1;

// Returns an empty string when `name` can be a member name, else the reason.
std::string CheckTarMemberName(const std::string& name);

// Builds the archive in memory, member after member.
class TarWriter {
 public:
  // Adds a member with `size` bytes of data and returns where its data goes
  // (inside the archive buffer, valid until the next call), or null when the
  // name is refused or the archive would reach kTarMaxArchiveSize; `error`
  // then says why.
  uint8_t* AddMember(const std::string& name, uint64_t size, std::string* error);

  // Adds a member from a buffer.
  bool AddMember(const std::string& name, const uint8_t* data, size_t size, std::string* error);

  // Appends two zero blocks and zero padding to a whole record, and hands
  // over the archive.
  std::vector<uint8_t> Finish();

  size_t size() const { return archive_.size(); }

 private:
  std::vector<uint8_t> archive_;
};

// Fills one ustar header block for a regular file: mode 0644, uid and gid 0,
// mtime 0 so that the same inputs always give the same archive.
void FillTarHeader(const std::string& name, uint64_t size, uint8_t* header);

}  // namespace orvia

#endif  // ORVIA_TOOLS_PACK_TAR_WRITER_H_
