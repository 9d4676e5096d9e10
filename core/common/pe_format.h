// Where the fields of a PE image lie, for every reader of PE bytes: the tag
// scan, the host tools that finish, pack and tag images, and their tests.
#ifndef ORVIA_CORE_COMMON_PE_FORMAT_H_
#define ORVIA_CORE_COMMON_PE_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace orvia {

constexpr size_t kPeDosHeaderSize = 64;
constexpr size_t kPeNtHeadersOffsetField = 0x3C;  // e_lfanew
constexpr size_t kPeSignatureSize = 4;            // "PE\0\0"
constexpr size_t kPeCoffHeaderSize = 20;
// Offsets inside the COFF file header.
constexpr size_t kPeMachineOffset = 0;
constexpr size_t kPeSectionCountOffset = 2;
constexpr size_t kPeOptionalHeaderSizeOffset = 16;
constexpr size_t kPeCharacteristicsOffset = 18;
// Offsets inside a PE32 optional header.
constexpr size_t kPe32ChecksumOffset = 64;
constexpr size_t kPe32DirectoryCountOffset = 92;
constexpr size_t kPe32DirectoriesOffset = 96;
constexpr size_t kPe32OptionalHeaderSize = 224;  // with all 16 data directories
constexpr size_t kPeDataDirectorySize = 8;       // VirtualAddress, Size
constexpr size_t kPeSectionHeaderSize = 40;

constexpr uint16_t kPeMachineI386 = 0x014C;
constexpr uint16_t kPeMachineAmd64 = 0x8664;
constexpr uint16_t kPe32Magic = 0x010B;

constexpr int kPeDirectoryResource = 2;
constexpr int kPeDirectorySecurity = 4;  // its VirtualAddress is a file offset
constexpr int kPeDirectoryBaseReloc = 5;

// From the start of the NT headers ("PE\0\0") to a PE32 data directory entry.
constexpr size_t PeDirectoryEntryOffset(int index) {
  return kPeSignatureSize + kPeCoffHeaderSize + kPe32DirectoriesOffset +
         kPeDataDirectorySize * static_cast<size_t>(index);
}

}  // namespace orvia

#endif  // ORVIA_CORE_COMMON_PE_FORMAT_H_
