// The resource directory of a PE image as a tree (type, name, language)
// that can be changed and laid out again as a fresh .rsrc section.
#ifndef ORVIA_TOOLS_PE_RESOURCE_TREE_H_
#define ORVIA_TOOLS_PE_RESOURCE_TREE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/pe/pe_image.h"

namespace orvia {

// A directory entry key: a string name or an integer id.
struct ResourceKey {
  bool is_name = false;
  std::u16string name;
  uint32_t id = 0;

  static ResourceKey Named(const std::string& ascii);
  static ResourceKey Id(uint32_t id) { return {false, {}, id}; }
  bool operator==(const ResourceKey& other) const;
  // Named entries first, ordered by their upper-cased UTF-16 units, then ids
  // ascending: the order in which loaders search a directory.
  bool operator<(const ResourceKey& other) const;
  std::string ToString() const;
};

struct ResourceDirectory;

struct ResourceEntry {
  ResourceKey key;
  std::unique_ptr<ResourceDirectory> directory;  // set for inner entries
  // Leaf contents, for entries without a directory.
  std::vector<uint8_t> data;
  uint32_t code_page = 0;
  uint32_t reserved = 0;
};

struct ResourceDirectory {
  uint32_t characteristics = 0;
  uint32_t time_date_stamp = 0;
  uint16_t major_version = 0;
  uint16_t minor_version = 0;
  std::vector<ResourceEntry> entries;

  ResourceEntry* Find(const ResourceKey& key);
  // Inserts a new entry in search order and returns it, or returns the
  // existing one with that key.
  ResourceEntry* FindOrInsert(const ResourceKey& key);
  void Remove(const ResourceKey& key);
};

// Reads the tree that the resource data directory of `image` points to.
// Leaf data is copied out, wherever in the image it lies.
bool ParseResourceTree(const uint8_t* image,
                       size_t size,
                       const PeLayout& layout,
                       ResourceDirectory* root,
                       std::string* error);

// Lays the tree out for a section loaded at `section_rva`: all directory
// tables, then the data entries, then the name strings, then the data, each
// leaf aligned to 8 bytes. Returns the section contents, unpadded.
std::vector<uint8_t> SerializeResourceTree(const ResourceDirectory& root, uint32_t section_rva);

// Sets type/name/language to `data`, replacing what was there.
void SetResource(ResourceDirectory* root,
                 const ResourceKey& type,
                 const ResourceKey& name,
                 uint32_t language,
                 std::vector<uint8_t> data);

// The leaf at type/name/language, or null.
const ResourceEntry* FindResource(const ResourceDirectory& root,
                                  const ResourceKey& type,
                                  const ResourceKey& name,
                                  uint32_t language);

}  // namespace orvia

#endif  // ORVIA_TOOLS_PE_RESOURCE_TREE_H_
