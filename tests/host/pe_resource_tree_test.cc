// The resource tree: search order of keys, parse and lay-out round trips on
// real images, and damaged directories refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/tool_test_support.h"
#include "tools/pe/pe_image.h"
#include "tools/pe/resource_tree.h"

namespace orvia {
namespace {

using Bytes = std::vector<uint8_t>;

const std::string kTemplate = std::string(ORVIA_TOOLS_DIR) + "/fixtures/template.exe";
const std::string kWineDir = "/usr/lib/i386-linux-gnu/wine/i386-windows/";

TEST(ResourceKeyTest, SearchOrder) {
  struct Case {
    ResourceKey a, b;
    bool a_first, b_first;
  };
  const Case cases[] = {
      {ResourceKey::Named("ZZZ"), ResourceKey::Id(1), true, false},
      {ResourceKey::Named("B"), ResourceKey::Named("KELVARUPDATE"), true, false},
      {ResourceKey::Named("b"), ResourceKey::Named("C"), true, false},
      {ResourceKey::Named("b"), ResourceKey::Named("B"), false, false},
      {ResourceKey::Named("AB"), ResourceKey::Named("ABC"), true, false},
      {ResourceKey::Id(3), ResourceKey::Id(14), true, false},
      {ResourceKey::Id(7), ResourceKey::Id(7), false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a.ToString() + " vs " + c.b.ToString());
    EXPECT_EQ(c.a < c.b, c.a_first);
    EXPECT_EQ(c.b < c.a, c.b_first);
  }
}

TEST(ResourceKeyTest, InsertKeepsSearchOrder) {
  struct Case {
    const char* label;
    std::vector<ResourceKey> present;
    ResourceKey added;
    size_t position;
  };
  const Case cases[] = {
      {"name into ids only", {ResourceKey::Id(3), ResourceKey::Id(24)}, ResourceKey::Named("B"), 0},
      {"id into names only", {ResourceKey::Named("B")}, ResourceKey::Id(3), 1},
      {"name between names",
       {ResourceKey::Named("A"), ResourceKey::Named("C"), ResourceKey::Id(1)},
       ResourceKey::Named("B"),
       1},
      {"id between ids", {ResourceKey::Id(3), ResourceKey::Id(24)}, ResourceKey::Id(16), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ResourceDirectory dir;
    for (const ResourceKey& key : c.present)
      dir.FindOrInsert(key);
    ResourceEntry* added = dir.FindOrInsert(c.added);
    ASSERT_EQ(dir.entries.size(), c.present.size() + 1);
    EXPECT_EQ(added, &dir.entries[c.position]);
    EXPECT_EQ(dir.FindOrInsert(c.added), added) << "a second insert finds the first";
  }
}

void ExpectSameTree(const ResourceDirectory& a, const ResourceDirectory& b, const std::string& at) {
  ASSERT_EQ(a.entries.size(), b.entries.size()) << at;
  EXPECT_EQ(a.characteristics, b.characteristics) << at;
  EXPECT_EQ(a.time_date_stamp, b.time_date_stamp) << at;
  EXPECT_EQ(a.major_version, b.major_version) << at;
  EXPECT_EQ(a.minor_version, b.minor_version) << at;
  for (size_t i = 0; i < a.entries.size(); ++i) {
    const ResourceEntry& x = a.entries[i];
    const ResourceEntry& y = b.entries[i];
    std::string here = at + "/" + x.key.ToString();
    ASSERT_TRUE(x.key == y.key) << here << " vs " << y.key.ToString();
    ASSERT_EQ(x.directory != nullptr, y.directory != nullptr) << here;
    if (x.directory) {
      ExpectSameTree(*x.directory, *y.directory, here);
    } else {
      EXPECT_TRUE(x.data == y.data) << here;
      EXPECT_EQ(x.code_page, y.code_page) << here;
    }
  }
}

// Replaces the resource section's bytes of `image` with `section`, in place;
// `section` must fit the raw size.
void OverwriteResourceSection(const PeLayout& layout, const Bytes& section, Bytes* image) {
  const PeSection* rsrc = layout.SectionForRva(layout.directories[kPeDirectoryResource].rva);
  ASSERT_NE(rsrc, nullptr);
  ASSERT_LE(section.size(), rsrc->raw_size);
  std::fill(image->begin() + rsrc->raw_offset, image->begin() + rsrc->raw_offset + rsrc->raw_size,
            0);
  std::copy(section.begin(), section.end(), image->begin() + rsrc->raw_offset);
}

TEST(ResourceTreeTest, LaysOutRealTreesSoTheyParseBackTheSame) {
  for (const std::string& path : {kTemplate, kWineDir + "notepad.exe", kWineDir + "regedit.exe"}) {
    SCOPED_TRACE(path);
    Bytes image = test_support::ReadBytes(path);
    PeLayout layout;
    std::string error;
    ASSERT_TRUE(ParsePe32(image.data(), image.size(), &layout, &error)) << error;
    ResourceDirectory tree;
    ASSERT_TRUE(ParseResourceTree(image.data(), image.size(), layout, &tree, &error)) << error;
    ASSERT_FALSE(tree.entries.empty());

    uint32_t rva = layout.directories[kPeDirectoryResource].rva;
    Bytes section = SerializeResourceTree(tree, rva);
    OverwriteResourceSection(layout, section, &image);
    ResourceDirectory again;
    ASSERT_TRUE(ParseResourceTree(image.data(), image.size(), layout, &again, &error)) << error;
    ExpectSameTree(tree, again, "");
  }
}

TEST(ResourceTreeTest, RefusesDamagedDirectories) {
  Bytes original = test_support::ReadBytes(kTemplate);
  PeLayout layout;
  std::string error;
  ASSERT_TRUE(ParsePe32(original.data(), original.size(), &layout, &error)) << error;
  const PeSection* rsrc = layout.SectionForRva(layout.directories[kPeDirectoryResource].rva);
  ASSERT_NE(rsrc, nullptr);
  const size_t root = rsrc->raw_offset;
  const size_t first_entry = root + 16;
  struct Case {
    const char* label;
    size_t offset;
    uint32_t value;
    const char* reason;
  };
  const Case cases[] = {
      {"subdirectory loops back to the root", first_entry + 4, 0x80000000u, "nested deeper"},
      {"subdirectory past the section", first_entry + 4, 0x80000000u | 0x00FFFFF0u,
       "table lies outside the section"},
      {"name past the section", first_entry, 0x80000000u | 0x00FFFFF0u,
       "name lies outside the section"},
      {"entry count past the section", root + 12, 0xFFFF0000u, "entries lie outside the section"},
      {"data entry at the type level", first_entry + 4, 0x00000010u, "above the language level"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Bytes image = original;
    WriteLe32(image.data() + c.offset, c.value);
    ResourceDirectory tree;
    EXPECT_FALSE(ParseResourceTree(image.data(), image.size(), layout, &tree, &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

TEST(ResourceTreeTest, SetAndFindResource) {
  ResourceDirectory tree;
  SetResource(&tree, ResourceKey::Named("B"), ResourceKey::Id(102), 0, Bytes{1, 2, 3});
  SetResource(&tree, ResourceKey::Named("B"), ResourceKey::Id(102), 0, Bytes{4});
  SetResource(&tree, ResourceKey::Id(10), ResourceKey::Id(102), 0, Bytes{5});
  const ResourceEntry* found = FindResource(tree, ResourceKey::Named("B"), ResourceKey::Id(102), 0);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->data, Bytes{4});
  EXPECT_EQ(tree.entries.size(), 2u);
  EXPECT_EQ(FindResource(tree, ResourceKey::Named("B"), ResourceKey::Id(102), 1033), nullptr);
  EXPECT_EQ(FindResource(tree, ResourceKey::Named("C"), ResourceKey::Id(102), 0), nullptr);
}

}  // namespace
}  // namespace orvia
