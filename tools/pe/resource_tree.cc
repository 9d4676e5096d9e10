#include "tools/pe/resource_tree.h"

#include <algorithm>
#include <deque>

namespace orvia {
namespace {

constexpr uint32_t kHighBit = 0x80000000u;
constexpr size_t kDirectoryHeaderSize = 16;
constexpr size_t kDirectoryEntrySize = 8;
constexpr size_t kDataEntrySize = 16;
// Type, name and language: leaves sit below the third level.
constexpr int kLeafDepth = 3;
constexpr size_t kLeafAlignment = 8;

char16_t Upper(char16_t c) {
  return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

size_t Align(size_t value, size_t unit) {
  return (value + unit - 1) / unit * unit;
}

// The file bytes of the image at `rva` for `length` bytes, or null when any
// of it lies outside a section's raw data.
const uint8_t* MapRva(const uint8_t* image,
                      size_t size,
                      const PeLayout& layout,
                      uint32_t rva,
                      uint32_t length) {
  for (const PeSection& s : layout.sections) {
    if (rva < s.virtual_address)
      continue;
    uint64_t delta = rva - s.virtual_address;
    if (delta + length > s.raw_size)
      continue;
    uint64_t offset = s.raw_offset + delta;
    if (offset + length > size)
      return nullptr;
    return image + offset;
  }
  return nullptr;
}

// Reads directories relative to the start of the resource directory.
class TreeReader {
 public:
  TreeReader(const uint8_t* image,
             size_t image_size,
             const PeLayout& layout,
             const uint8_t* base,
             size_t limit)
      : image_(image), image_size_(image_size), layout_(layout), base_(base), limit_(limit) {}

  bool ReadDirectory(uint32_t offset, int depth, ResourceDirectory* dir, std::string* error) {
    if (offset > limit_ || limit_ - offset < kDirectoryHeaderSize) {
      *error = "resource directory table lies outside the section";
      return false;
    }
    const uint8_t* p = base_ + offset;
    dir->characteristics = ReadLe32(p);
    dir->time_date_stamp = ReadLe32(p + 4);
    dir->major_version = ReadLe16(p + 8);
    dir->minor_version = ReadLe16(p + 10);
    size_t named = ReadLe16(p + 12);
    size_t count = named + ReadLe16(p + 14);
    if ((limit_ - offset - kDirectoryHeaderSize) / kDirectoryEntrySize < count) {
      *error = "resource directory entries lie outside the section";
      return false;
    }
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* e = p + kDirectoryHeaderSize + kDirectoryEntrySize * i;
      ResourceEntry entry;
      uint32_t name_field = ReadLe32(e);
      uint32_t target = ReadLe32(e + 4);
      if (name_field & kHighBit) {
        if (!ReadName(name_field & ~kHighBit, &entry.key.name, error))
          return false;
        entry.key.is_name = true;
      } else {
        entry.key.id = name_field;
      }
      if (target & kHighBit) {
        if (depth + 1 >= kLeafDepth) {
          *error = "resource directory nested deeper than type, name and language";
          return false;
        }
        entry.directory = std::make_unique<ResourceDirectory>();
        if (!ReadDirectory(target & ~kHighBit, depth + 1, entry.directory.get(), error))
          return false;
      } else {
        if (depth + 1 != kLeafDepth) {
          *error = "resource data above the language level";
          return false;
        }
        if (!ReadLeaf(target, &entry, error))
          return false;
      }
      dir->entries.push_back(std::move(entry));
    }
    return true;
  }

 private:
  bool ReadName(uint32_t offset, std::u16string* name, std::string* error) {
    if (offset > limit_ || limit_ - offset < 2) {
      *error = "resource name lies outside the section";
      return false;
    }
    size_t length = ReadLe16(base_ + offset);
    if ((limit_ - offset - 2) / 2 < length) {
      *error = "resource name lies outside the section";
      return false;
    }
    for (size_t i = 0; i < length; ++i)
      name->push_back(static_cast<char16_t>(ReadLe16(base_ + offset + 2 + 2 * i)));
    return true;
  }

  bool ReadLeaf(uint32_t offset, ResourceEntry* entry, std::string* error) {
    if (offset > limit_ || limit_ - offset < kDataEntrySize) {
      *error = "resource data entry lies outside the section";
      return false;
    }
    const uint8_t* p = base_ + offset;
    uint32_t rva = ReadLe32(p);
    uint32_t length = ReadLe32(p + 4);
    entry->code_page = ReadLe32(p + 8);
    entry->reserved = ReadLe32(p + 12);
    const uint8_t* data = MapRva(image_, image_size_, layout_, rva, length);
    if (data == nullptr) {
      *error = "resource data lies outside the image";
      return false;
    }
    entry->data.assign(data, data + length);
    return true;
  }

  const uint8_t* image_;
  size_t image_size_;
  const PeLayout& layout_;
  const uint8_t* base_;
  size_t limit_;
};

}  // namespace

ResourceKey ResourceKey::Named(const std::string& ascii) {
  ResourceKey key;
  key.is_name = true;
  key.name.assign(ascii.begin(), ascii.end());
  return key;
}

bool ResourceKey::operator==(const ResourceKey& other) const {
  return is_name == other.is_name && (is_name ? name == other.name : id == other.id);
}

bool ResourceKey::operator<(const ResourceKey& other) const {
  if (is_name != other.is_name)
    return is_name;
  if (!is_name)
    return id < other.id;
  size_t common = std::min(name.size(), other.name.size());
  for (size_t i = 0; i < common; ++i) {
    char16_t a = Upper(name[i]);
    char16_t b = Upper(other.name[i]);
    if (a != b)
      return a < b;
  }
  return name.size() < other.name.size();
}

std::string ResourceKey::ToString() const {
  if (!is_name)
    return std::to_string(id);
  std::string text = "\"";
  for (char16_t c : name)
    text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return text + "\"";
}

ResourceEntry* ResourceDirectory::Find(const ResourceKey& key) {
  for (ResourceEntry& entry : entries) {
    if (entry.key == key)
      return &entry;
  }
  return nullptr;
}

ResourceEntry* ResourceDirectory::FindOrInsert(const ResourceKey& key) {
  if (ResourceEntry* found = Find(key))
    return found;
  auto at = std::find_if(entries.begin(), entries.end(),
                         [&](const ResourceEntry& e) { return key < e.key; });
  ResourceEntry entry;
  entry.key = key;
  return &*entries.insert(at, std::move(entry));
}

void ResourceDirectory::Remove(const ResourceKey& key) {
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [&](const ResourceEntry& e) { return e.key == key; }),
                entries.end());
}

bool ParseResourceTree(const uint8_t* image,
                       size_t size,
                       const PeLayout& layout,
                       ResourceDirectory* root,
                       std::string* error) {
  *root = ResourceDirectory();
  if (layout.directories.size() <= kPeDirectoryResource ||
      layout.directories[kPeDirectoryResource].rva == 0) {
    *error = "no resource directory";
    return false;
  }
  uint32_t rva = layout.directories[kPeDirectoryResource].rva;
  const PeSection* section = layout.SectionForRva(rva);
  if (section == nullptr || rva - section->virtual_address >= section->raw_size) {
    *error = "resource directory lies outside every section";
    return false;
  }
  size_t start = section->raw_offset + (rva - section->virtual_address);
  size_t limit = section->raw_offset + section->raw_size - start;
  TreeReader reader(image, size, layout, image + start, limit);
  return reader.ReadDirectory(0, 0, root, error);
}

std::vector<uint8_t> SerializeResourceTree(const ResourceDirectory& root, uint32_t section_rva) {
  // Pass 1: directories breadth first, leaves and names in that order too.
  std::vector<const ResourceDirectory*> directories;
  std::vector<const ResourceEntry*> leaves;
  std::vector<const ResourceEntry*> named;
  std::deque<const ResourceDirectory*> queue = {&root};
  while (!queue.empty()) {
    const ResourceDirectory* dir = queue.front();
    queue.pop_front();
    directories.push_back(dir);
    for (const ResourceEntry& e : dir->entries) {
      if (e.key.is_name)
        named.push_back(&e);
      if (e.directory)
        queue.push_back(e.directory.get());
      else
        leaves.push_back(&e);
    }
  }

  // Pass 2: offsets.
  size_t offset = 0;
  std::vector<size_t> directory_offsets;
  for (const ResourceDirectory* dir : directories) {
    directory_offsets.push_back(offset);
    offset += kDirectoryHeaderSize + kDirectoryEntrySize * dir->entries.size();
  }
  size_t data_entries = offset;
  offset += kDataEntrySize * leaves.size();
  std::vector<size_t> name_offsets;
  for (const ResourceEntry* e : named) {
    name_offsets.push_back(offset);
    offset += 2 + 2 * e->key.name.size();
  }
  std::vector<size_t> data_offsets;
  for (const ResourceEntry* e : leaves) {
    offset = Align(offset, kLeafAlignment);
    data_offsets.push_back(offset);
    offset += e->data.size();
  }

  // Pass 3: bytes.
  std::vector<uint8_t> out(offset, 0);
  auto index_of = [](const auto& list, const auto* item) {
    return static_cast<size_t>(std::find(list.begin(), list.end(), item) - list.begin());
  };
  for (size_t d = 0; d < directories.size(); ++d) {
    const ResourceDirectory* dir = directories[d];
    uint8_t* p = out.data() + directory_offsets[d];
    WriteLe32(p, dir->characteristics);
    WriteLe32(p + 4, dir->time_date_stamp);
    WriteLe16(p + 8, dir->major_version);
    WriteLe16(p + 10, dir->minor_version);
    uint16_t named_count = 0;
    for (const ResourceEntry& e : dir->entries)
      named_count = static_cast<uint16_t>(named_count + (e.key.is_name ? 1 : 0));
    WriteLe16(p + 12, named_count);
    WriteLe16(p + 14, static_cast<uint16_t>(dir->entries.size() - named_count));
    for (size_t i = 0; i < dir->entries.size(); ++i) {
      const ResourceEntry& e = dir->entries[i];
      uint8_t* slot = p + kDirectoryHeaderSize + kDirectoryEntrySize * i;
      uint32_t name_field =
          e.key.is_name ? kHighBit | static_cast<uint32_t>(name_offsets[index_of(named, &e)])
                        : e.key.id;
      uint32_t target =
          e.directory ? kHighBit | static_cast<uint32_t>(
                                       directory_offsets[index_of(directories, e.directory.get())])
                      : static_cast<uint32_t>(data_entries + kDataEntrySize * index_of(leaves, &e));
      WriteLe32(slot, name_field);
      WriteLe32(slot + 4, target);
    }
  }
  for (size_t l = 0; l < leaves.size(); ++l) {
    const ResourceEntry* e = leaves[l];
    uint8_t* p = out.data() + data_entries + kDataEntrySize * l;
    WriteLe32(p, section_rva + static_cast<uint32_t>(data_offsets[l]));
    WriteLe32(p + 4, static_cast<uint32_t>(e->data.size()));
    WriteLe32(p + 8, e->code_page);
    WriteLe32(p + 12, e->reserved);
    std::copy(e->data.begin(), e->data.end(),
              out.begin() + static_cast<ptrdiff_t>(data_offsets[l]));
  }
  for (size_t n = 0; n < named.size(); ++n) {
    const std::u16string& name = named[n]->key.name;
    uint8_t* p = out.data() + name_offsets[n];
    WriteLe16(p, static_cast<uint16_t>(name.size()));
    for (size_t i = 0; i < name.size(); ++i)
      WriteLe16(p + 2 + 2 * i, name[i]);
  }
  return out;
}

void SetResource(ResourceDirectory* root,
                 const ResourceKey& type,
                 const ResourceKey& name,
                 uint32_t language,
                 std::vector<uint8_t> data) {
  ResourceEntry* type_entry = root->FindOrInsert(type);
  if (!type_entry->directory)
    type_entry->directory = std::make_unique<ResourceDirectory>();
  ResourceEntry* name_entry = type_entry->directory->FindOrInsert(name);
  if (!name_entry->directory)
    name_entry->directory = std::make_unique<ResourceDirectory>();
  ResourceEntry* leaf = name_entry->directory->FindOrInsert(ResourceKey::Id(language));
  leaf->directory.reset();
  leaf->data = std::move(data);
  leaf->code_page = 0;
  leaf->reserved = 0;
}

const ResourceEntry* FindResource(const ResourceDirectory& root,
                                  const ResourceKey& type,
                                  const ResourceKey& name,
                                  uint32_t language) {
  auto find = [](const ResourceDirectory& dir, const ResourceKey& key) -> const ResourceEntry* {
    for (const ResourceEntry& e : dir.entries) {
      if (e.key == key)
        return &e;
    }
    return nullptr;
  };
  const ResourceEntry* t = find(root, type);
  if (t == nullptr || !t->directory)
    return nullptr;
  const ResourceEntry* n = find(*t->directory, name);
  if (n == nullptr || !n->directory)
    return nullptr;
  const ResourceEntry* l = find(*n->directory, ResourceKey::Id(language));
  return (l == nullptr || l->directory) ? nullptr : l;
}

}  // namespace orvia
