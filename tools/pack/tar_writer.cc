#include "tools/pack/tar_writer.h"

#include <cstdio>
#include <cstring>

namespace orvia {
namespace {

constexpr size_t kSizeOffset = 124;
constexpr size_t kChecksumOffset = 148;
constexpr size_t kMagicOffset = 257;

void PutOctal(uint8_t* field, size_t width, uint64_t value) {
  // width - 1 digits with leading zeros, then a NUL.
  for (size_t i = width - 1; i-- > 0;) {
    field[i] = static_cast<uint8_t>('0' + (value & 7));
    value >>= 3;
  }
  field[width - 1] = 0;
}

size_t RoundUp(size_t value, size_t unit) {
  return (value + unit - 1) / unit * unit;
}

}  // namespace

std::string CheckTarMemberName(const std::string& name) {
  if (name.empty())
    return "empty member name";
  if (name.size() > kTarNameSize)
    return "name longer than 100 bytes";
  if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos)
    return "name contains a path separator";
  if (name == "." || name == "..")
    return "name is not a file name";
  if (name.find('\0') != std::string::npos)
    return "name contains a NUL byte";
  return "";
}

void FillTarHeader(const std::string& name, uint64_t size, uint8_t* header) {
  std::memset(header, 0, kTarBlockSize);
  std::memcpy(header, name.data(), name.size() < kTarNameSize ? name.size() : kTarNameSize);
  PutOctal(header + 100, 8, 0644);  // mode
  PutOctal(header + 108, 8, 0);     // uid
  PutOctal(header + 116, 8, 0);     // gid
  PutOctal(header + kSizeOffset, 12, size);
  PutOctal(header + 136, 12, 0);  // mtime
  header[156] = '0';              // regular file
  std::memcpy(header + kMagicOffset, "ustar", 6);
  std::memcpy(header + 263, "00", 2);
  // The checksum is summed with its own field taken as eight blanks, then
  // written as six digits, NUL, blank.
  std::memset(header + kChecksumOffset, ' ', 8);
  unsigned sum = 0;
  for (size_t i = 0; i < kTarBlockSize; ++i)
    sum += header[i];
  PutOctal(header + kChecksumOffset, 7, sum);
  header[kChecksumOffset + 7] = ' ';
}

uint8_t* TarWriter::AddMember(const std::string& name, uint64_t size, std::string* error) {
  *error = CheckTarMemberName(name);
  if (!error->empty())
    return nullptr;
  if (size > kTarMaxMemberSize) {
    *error = "member of 2 GiB or more";
    return nullptr;
  }
  // What the archive will need at least once this member and the end are in.
  uint64_t needed =
      archive_.size() + kTarBlockSize + RoundUp(size, kTarBlockSize) + 2 * kTarBlockSize;
  if (RoundUp(needed, kTarRecordSize) > kTarMaxArchiveSize) {
    *error = "archive would reach 2 GiB";
    return nullptr;
  }
  size_t header = archive_.size();
  archive_.resize(header + kTarBlockSize + RoundUp(size, kTarBlockSize), 0);
  FillTarHeader(name, size, archive_.data() + header);
  return archive_.data() + header + kTarBlockSize;
}

bool TarWriter::AddMember(const std::string& name,
                          const uint8_t* data,
                          size_t size,
                          std::string* error) {
  uint8_t* place = AddMember(name, size, error);
  if (place == nullptr)
    return false;
  if (size != 0)
    std::memcpy(place, data, size);
  return true;
}

std::vector<uint8_t> TarWriter::Finish() {
  // Two zero blocks end a POSIX archive; the stub stops at the first.
  archive_.resize(RoundUp(archive_.size() + 2 * kTarBlockSize, kTarRecordSize), 0);
  return std::move(archive_);
}

}  // namespace orvia
