#include "tools/pack/installer_image.h"

#include <algorithm>
#include <cstring>

#include "tools/pe/pe_image.h"

namespace orvia {
namespace {

constexpr uint32_t kSectionDiscardable = 0x02000000;
constexpr int kPeDirectoryDebug = 6;
constexpr size_t kDebugEntrySize = 28;

uint64_t AlignUp(uint64_t value, uint64_t unit) {
  return unit == 0 ? value : (value + unit - 1) / unit * unit;
}

// The section that holds the resource directory, which must start it: the
// whole section is then ours to rewrite.
const PeSection* ResourceSection(const PeLayout& layout, std::string* error) {
  if (layout.directories.size() <= kPeDirectoryResource ||
      layout.directories[kPeDirectoryResource].rva == 0) {
    *error = "template has no resources";
    return nullptr;
  }
  uint32_t rva = layout.directories[kPeDirectoryResource].rva;
  const PeSection* section = layout.SectionForRva(rva);
  if (section == nullptr || section->virtual_address != rva) {
    *error = "template's resource directory does not start a section";
    return nullptr;
  }
  return section;
}

bool ParseTemplate(const std::vector<uint8_t>& image, PeLayout* layout, std::string* error) {
  if (!ParsePe32(image.data(), image.size(), layout, error))
    return false;
  if (layout->directories.size() > kPeDirectorySecurity &&
      (layout->directories[kPeDirectorySecurity].rva != 0 ||
       layout->directories[kPeDirectorySecurity].size != 0)) {
    *error = "already signed (pack before signing)";
    return false;
  }
  if (layout->file_alignment == 0 || layout->section_alignment == 0) {
    *error = "zero section or file alignment";
    return false;
  }
  return true;
}

}  // namespace

bool CheckTemplate(const std::vector<uint8_t>& image, std::string* error) {
  PeLayout layout;
  if (!ParseTemplate(image, &layout, error))
    return false;
  const PeSection* rsrc = ResourceSection(layout, error);
  if (rsrc == nullptr)
    return false;
  ResourceDirectory root;
  if (!ParseResourceTree(image.data(), image.size(), layout, &root, error))
    return false;
  // Sections after the resources get new addresses; only those that nothing
  // refers to by address (relocations, discardable data) can take that.
  for (const PeSection& s : layout.sections) {
    if (s.virtual_address > rsrc->virtual_address && !(s.characteristics & kSectionDiscardable)) {
      *error = "section " + s.name + " follows the resources and cannot be moved";
      return false;
    }
    if (s.raw_size != 0 && s.raw_offset > rsrc->raw_offset &&
        s.virtual_address < rsrc->virtual_address) {
      *error = "section " + s.name + " lies after the resources in the file only";
      return false;
    }
  }
  for (size_t d = 0; d < layout.directories.size(); ++d) {
    const PeDataDirectory& dir = layout.directories[d];
    if (d == kPeDirectoryResource || d == kPeDirectorySecurity || dir.rva == 0)
      continue;
    if (layout.SectionForRva(dir.rva) == rsrc) {
      *error = "data directory " + std::to_string(d) + " lies inside the resource section";
      return false;
    }
  }
  return true;
}

bool EmbedPayload(const std::vector<uint8_t>& image,
                  std::vector<uint8_t> payload,
                  std::vector<uint8_t>* installer,
                  std::string* error) {
  if (!CheckTemplate(image, error))
    return false;
  // CheckTemplate has parsed all of this once already; these cannot fail.
  PeLayout layout;
  ParseTemplate(image, &layout, error);
  const PeSection rsrc = *ResourceSection(layout, error);
  ResourceDirectory root;
  ParseResourceTree(image.data(), image.size(), layout, &root, error);

  ResourceKey type = PayloadResourceType();
  if (ResourceEntry* existing = root.Find(type)) {
    if (existing->directory)
      existing->directory->Remove(ResourceKey::Id(kPayloadResourceId));
  }
  SetResource(&root, type, ResourceKey::Id(kPayloadResourceId), kPayloadResourceLanguage,
              std::move(payload));
  std::vector<uint8_t> section = SerializeResourceTree(root, rsrc.virtual_address);
  root = ResourceDirectory();
  const uint64_t section_size = section.size();

  uint64_t old_span = AlignUp(std::max(rsrc.virtual_size, rsrc.raw_size), layout.section_alignment);
  uint64_t new_span = AlignUp(section_size, layout.section_alignment);
  uint64_t new_raw = AlignUp(section_size, layout.file_alignment);
  if (rsrc.virtual_address + new_span + (layout.size_of_image - rsrc.virtual_address - old_span) >
          0x7FFFFFFFull ||
      image.size() + new_raw > 0x7FFFFFFFull + rsrc.raw_size) {
    *error = "installer would reach 2 GiB";
    return false;
  }
  const int64_t va_shift = static_cast<int64_t>(new_span) - static_cast<int64_t>(old_span);
  const int64_t raw_shift = static_cast<int64_t>(new_raw) - static_cast<int64_t>(rsrc.raw_size);
  const uint64_t old_raw_end = static_cast<uint64_t>(rsrc.raw_offset) + rsrc.raw_size;
  auto shift_rva = [&](uint32_t rva) {
    return rva > rsrc.virtual_address ? static_cast<uint32_t>(rva + va_shift) : rva;
  };
  auto shift_raw = [&](uint32_t offset) {
    return offset >= old_raw_end ? static_cast<uint32_t>(offset + raw_shift) : offset;
  };

  // Everything before the section, the new section padded to the file
  // alignment, then everything after the old one (later sections, overlay).
  installer->clear();
  installer->reserve(static_cast<size_t>(image.size() - rsrc.raw_size + new_raw));
  installer->insert(installer->end(), image.begin(), image.begin() + rsrc.raw_offset);
  installer->insert(installer->end(), section.begin(), section.end());
  section = std::vector<uint8_t>();
  installer->resize(static_cast<size_t>(rsrc.raw_offset + new_raw), 0);
  installer->insert(installer->end(), image.begin() + static_cast<ptrdiff_t>(old_raw_end),
                    image.end());
  uint8_t* out = installer->data();

  uint64_t image_end = 0;
  for (const PeSection& s : layout.sections) {
    uint8_t* header = out + s.header_offset;
    uint32_t va = s.virtual_address;
    uint64_t extent = s.virtual_size ? s.virtual_size : s.raw_size;
    if (s.header_offset == rsrc.header_offset) {
      extent = section_size;
      WriteLe32(header + 8, static_cast<uint32_t>(section_size));
      WriteLe32(header + 16, static_cast<uint32_t>(new_raw));
    } else {
      va = shift_rva(s.virtual_address);
      WriteLe32(header + 12, va);
      if (s.raw_size != 0)
        WriteLe32(header + 20, shift_raw(s.raw_offset));
    }
    image_end = std::max(image_end, AlignUp(va + extent, layout.section_alignment));
  }
  for (size_t d = 0; d < layout.directories.size(); ++d) {
    uint8_t* entry = out + layout.DirectoryOffset(static_cast<int>(d));
    if (d == kPeDirectoryResource)
      WriteLe32(entry + 4, static_cast<uint32_t>(section_size));
    else if (d != kPeDirectorySecurity && layout.directories[d].rva != 0)
      WriteLe32(entry, shift_rva(layout.directories[d].rva));
  }
  uint32_t symbols = ReadLe32(out + layout.coff_offset + 8);
  if (symbols != 0)
    WriteLe32(out + layout.coff_offset + 8, shift_raw(symbols));
  WriteLe32(out + layout.SizeOfImageOffset(), static_cast<uint32_t>(image_end));
  WriteLe32(out + layout.SizeOfInitializedDataOffset(),
            static_cast<uint32_t>(layout.size_of_initialized_data + raw_shift));

  // Debug entries record both an address and a file offset of their data.
  PeLayout moved;
  if (!ParsePe32(out, installer->size(), &moved, error))
    return false;
  if (moved.directories.size() > kPeDirectoryDebug && moved.directories[kPeDirectoryDebug].rva) {
    const PeDataDirectory& debug = moved.directories[kPeDirectoryDebug];
    const PeSection* holder = moved.SectionForRva(debug.rva);
    if (holder == nullptr ||
        debug.rva - holder->virtual_address + uint64_t{debug.size} > holder->raw_size) {
      *error = "debug directory lies outside its section";
      return false;
    }
    uint8_t* entries = out + holder->raw_offset + (debug.rva - holder->virtual_address);
    for (size_t i = 0; i + kDebugEntrySize <= debug.size; i += kDebugEntrySize) {
      uint8_t* e = entries + i;
      if (ReadLe32(e + 20) != 0)
        WriteLe32(e + 20, shift_rva(ReadLe32(e + 20)));
      if (ReadLe32(e + 24) != 0)
        WriteLe32(e + 24, shift_raw(ReadLe32(e + 24)));
    }
  }
  UpdatePeChecksum(moved, installer);
  return true;
}

bool ExtractPayload(const std::vector<uint8_t>& image,
                    std::vector<uint8_t>* payload,
                    std::string* error) {
  PeLayout layout;
  if (!ParsePe32(image.data(), image.size(), &layout, error))
    return false;
  ResourceDirectory root;
  if (!ParseResourceTree(image.data(), image.size(), layout, &root, error))
    return false;
  const ResourceEntry* leaf = FindResource(
      root, PayloadResourceType(), ResourceKey::Id(kPayloadResourceId), kPayloadResourceLanguage);
  if (leaf == nullptr) {
    *error = "no payload resource (type \"B\", id 102, language 0)";
    return false;
  }
  *payload = leaf->data;
  return true;
}

}  // namespace orvia
