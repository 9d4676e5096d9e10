#include "tools/pe/pe_image.h"

#include <cstdio>

namespace orvia {
namespace {

// Fixed part of a PE32 optional header, up to NumberOfRvaAndSizes included.
constexpr size_t kOptionalFixedSize = kPe32DirectoriesOffset;
constexpr uint32_t kMaxDirectories = 16;

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%x", value);
  return text;
}

bool Fits(size_t offset, size_t length, size_t size) {
  return offset <= size && length <= size - offset;
}

}  // namespace

const PeSection* PeLayout::SectionForRva(uint32_t rva) const {
  for (const PeSection& section : sections) {
    uint32_t extent = section.virtual_size ? section.virtual_size : section.raw_size;
    if (rva >= section.virtual_address && rva - section.virtual_address < extent)
      return &section;
  }
  return nullptr;
}

bool ParsePe32(const uint8_t* data, size_t size, PeLayout* layout, std::string* error) {
  *layout = PeLayout();
  if (size < kPeDosHeaderSize || data[0] != 'M' || data[1] != 'Z') {
    *error = "not a PE image (no MZ header)";
    return false;
  }
  uint32_t pe_offset = ReadLe32(data + kPeNtHeadersOffsetField);
  if (!Fits(pe_offset, 4 + kPeCoffHeaderSize, size) || data[pe_offset] != 'P' ||
      data[pe_offset + 1] != 'E' || data[pe_offset + 2] != 0 || data[pe_offset + 3] != 0) {
    *error = "not a PE image (no PE signature)";
    return false;
  }
  layout->coff_offset = pe_offset + 4;
  const uint8_t* coff = data + layout->coff_offset;
  layout->machine = ReadLe16(coff);
  if (layout->machine != kPeMachineI386) {
    *error = "not a 32-bit x86 image (machine " + Hex(layout->machine) + ")";
    return false;
  }
  uint16_t section_count = ReadLe16(coff + 2);
  layout->size_of_optional_header = ReadLe16(coff + 16);
  layout->characteristics = ReadLe16(coff + 18);
  layout->optional_offset = layout->coff_offset + kPeCoffHeaderSize;
  if (layout->size_of_optional_header < kOptionalFixedSize ||
      !Fits(layout->optional_offset, layout->size_of_optional_header, size)) {
    *error = "truncated optional header";
    return false;
  }
  const uint8_t* opt = data + layout->optional_offset;
  uint16_t magic = ReadLe16(opt);
  if (magic != kPe32Magic) {
    *error = "not a PE32 image (optional header magic " + Hex(magic) + ")";
    return false;
  }
  layout->size_of_initialized_data = ReadLe32(opt + 8);
  layout->section_alignment = ReadLe32(opt + 32);
  layout->file_alignment = ReadLe32(opt + 36);
  layout->size_of_image = ReadLe32(opt + 56);
  layout->size_of_headers = ReadLe32(opt + 60);
  layout->checksum = ReadLe32(opt + 64);
  uint32_t directory_count = ReadLe32(opt + 92);
  if (directory_count > kMaxDirectories ||
      kOptionalFixedSize + 8 * directory_count > layout->size_of_optional_header) {
    *error = "bad data directory count " + std::to_string(directory_count);
    return false;
  }
  for (uint32_t i = 0; i < directory_count; ++i) {
    const uint8_t* entry = opt + kOptionalFixedSize + 8 * i;
    layout->directories.push_back({ReadLe32(entry), ReadLe32(entry + 4)});
  }
  size_t table = layout->optional_offset + layout->size_of_optional_header;
  if (!Fits(table, kPeSectionHeaderSize * section_count, size)) {
    *error = "truncated section table";
    return false;
  }
  for (uint16_t i = 0; i < section_count; ++i) {
    const uint8_t* header = data + table + kPeSectionHeaderSize * i;
    PeSection section;
    for (int c = 0; c < 8 && header[c] != 0; ++c)
      section.name.push_back(static_cast<char>(header[c]));
    section.virtual_size = ReadLe32(header + 8);
    section.virtual_address = ReadLe32(header + 12);
    section.raw_size = ReadLe32(header + 16);
    section.raw_offset = ReadLe32(header + 20);
    section.characteristics = ReadLe32(header + 36);
    section.header_offset = table + kPeSectionHeaderSize * i;
    if (section.raw_size != 0 && !Fits(section.raw_offset, section.raw_size, size)) {
      *error = "section " + section.name + " lies past the end of the file";
      return false;
    }
    layout->sections.push_back(section);
  }
  return true;
}

uint32_t ComputePeChecksum(const uint8_t* data, size_t size, size_t checksum_offset) {
  uint64_t sum = 0;
  for (size_t i = 0; i + 1 < size; i += 2) {
    if (i == checksum_offset || i == checksum_offset + 2)
      continue;
    sum += ReadLe16(data + i);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  if (size % 2 != 0) {
    sum += data[size - 1];
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + size);
}

void UpdatePeChecksum(const PeLayout& layout, std::vector<uint8_t>* image) {
  size_t offset = layout.ChecksumOffset();
  WriteLe32(image->data() + offset, ComputePeChecksum(image->data(), image->size(), offset));
}

void FinishPeImage(const PeLayout& layout, std::vector<uint8_t>* image) {
  WriteLe16(image->data() + layout.CharacteristicsOffset(), kPeFinishedCharacteristics);
  UpdatePeChecksum(layout, image);
}

}  // namespace orvia
