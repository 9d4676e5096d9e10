// Layout of a 32-bit PE image as the host tools need it: headers, data
// directories and sections, located by file offset so they can be patched.
#ifndef ORVIA_TOOLS_PE_PE_IMAGE_H_
#define ORVIA_TOOLS_PE_PE_IMAGE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/common/byte_order.h"
#include "core/common/pe_format.h"

namespace orvia {

// Executable, large-address aware, 32-bit machine; none of the "stripped" bits.
constexpr uint16_t kPeFinishedCharacteristics = 0x0122;
constexpr uint16_t kPeCharacteristicDll = 0x2000;

struct PeDataDirectory {
  uint32_t rva = 0;
  uint32_t size = 0;
};

struct PeSection {
  std::string name;  // up to 8 bytes, without the NUL padding
  uint32_t virtual_size = 0;
  uint32_t virtual_address = 0;
  uint32_t raw_size = 0;
  uint32_t raw_offset = 0;
  uint32_t characteristics = 0;
  size_t header_offset = 0;  // file offset of this section's 40-byte header
};

struct PeLayout {
  size_t coff_offset = 0;      // file header, right after "PE\0\0"
  size_t optional_offset = 0;  // optional header
  uint16_t machine = 0;
  uint16_t characteristics = 0;
  uint16_t size_of_optional_header = 0;
  uint32_t size_of_initialized_data = 0;
  uint32_t section_alignment = 0;
  uint32_t file_alignment = 0;
  uint32_t size_of_image = 0;
  uint32_t size_of_headers = 0;
  uint32_t checksum = 0;
  std::vector<PeDataDirectory> directories;
  std::vector<PeSection> sections;

  // File offsets of the fields that the tools rewrite.
  size_t CharacteristicsOffset() const { return coff_offset + kPeCharacteristicsOffset; }
  size_t SizeOfInitializedDataOffset() const { return optional_offset + 8; }
  size_t SizeOfImageOffset() const { return optional_offset + 56; }
  size_t ChecksumOffset() const { return optional_offset + kPe32ChecksumOffset; }
  size_t DirectoryOffset(int index) const {
    return optional_offset + kPe32DirectoriesOffset + kPeDataDirectorySize * index;
  }

  // The section whose virtual range holds `rva`, or null.
  const PeSection* SectionForRva(uint32_t rva) const;
};

// Parses the headers of an i386 PE32 image. Every offset and size that the
// layout records is checked against `size`. On failure returns false with a
// one-line reason in `error`.
bool ParsePe32(const uint8_t* data, size_t size, PeLayout* layout, std::string* error);

// The optional-header checksum: a 16-bit sum with end-around carry over the
// whole file, the checksum field itself counted as zero, plus the file length.
uint32_t ComputePeChecksum(const uint8_t* data, size_t size, size_t checksum_offset);

// Sets the file characteristics to kPeFinishedCharacteristics and stores a
// fresh checksum; `image` must have been parsed into `layout`.
void FinishPeImage(const PeLayout& layout, std::vector<uint8_t>* image);

// Stores the checksum of `image` in its optional header.
void UpdatePeChecksum(const PeLayout& layout, std::vector<uint8_t>* image);

}  // namespace orvia

#endif  // ORVIA_TOOLS_PE_PE_IMAGE_H_
