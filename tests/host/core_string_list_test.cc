// StringList growth, order, copies and its bounds fault.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/common/string_list.h"

namespace orvia {
namespace {

TEST(StringListTest, GrowsFromOneByDoublingAndKeepsOrder) {
  StringList list;
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Capacity(), 0);
  const int32_t capacity_after_add[] = {1, 2, 4, 4, 8, 8, 8, 8, 16};
  std::vector<std::wstring> added;
  for (int32_t capacity : capacity_after_add) {
    added.push_back(L"file" + std::to_wstring(added.size()));
    SCOPED_TRACE(testing::Message() << "after adding element " << added.size());
    ASSERT_TRUE(list.Add(added.back().c_str()));
    EXPECT_EQ(list.Count(), static_cast<int32_t>(added.size()));
    EXPECT_EQ(list.Capacity(), capacity);
  }
  // Every move into a larger array kept each element and its place.
  for (int32_t i = 0; i < list.Count(); ++i)
    EXPECT_EQ(list.At(i), added[i].c_str()) << "element " << i;
}

TEST(StringListTest, KeepsACopyOfTheText) {
  wchar_t text[] = L"before";
  StringList list;
  ASSERT_TRUE(list.Add(text));
  text[0] = L'X';
  EXPECT_EQ(list.At(0), L"before");
  WideString owned(L"owned");
  ASSERT_TRUE(list.Add(owned));
  owned.Assign(L"changed");
  EXPECT_EQ(list.At(1), L"owned");
}

TEST(StringListTest, RemoveAllEmptiesAndReleasesTheArray) {
  StringList list;
  for (const wchar_t* text : {L"a", L"b", L"c"})
    ASSERT_TRUE(list.Add(text));
  list.RemoveAll();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Capacity(), 0);
  // The list starts over as a new one.
  ASSERT_TRUE(list.Add(L"again"));
  EXPECT_EQ(list.Capacity(), 1);
  EXPECT_EQ(list.At(0), L"again");
}

struct GrowthCase {
  int32_t count;
  int32_t grown;  // 0: growth refused
};

TEST(StringListTest, GrownCapacityStopsAtTheElementLimit) {
  ASSERT_EQ(StringList::kMaxCapacity, 0x1FFFFFFF);
  const GrowthCase cases[] = {
      {0, 1},
      {1, 2},
      {3, 6},
      {0x0FFFFFFF, 0x1FFFFFFE},  // the largest doubling that stays within the limit
      {0x10000000, 0},           // 0x20000000 would pass it
      {0x1FFFFFFF, 0},
      {INT32_MAX, 0},  // doubling would also overflow 32 bits
  };
  for (const GrowthCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "count 0x" << std::hex << c.count);
    EXPECT_EQ(StringList::GrownCapacity(c.count), c.grown);
  }
}

// A 32-bit process has 4-byte sizes: the array of the largest capacity must
// not wrap round to a small allocation.
TEST(StringListTest, ArrayByteSizeRefusesWhatWouldWrap) {
  const struct {
    size_t count;
    size_t element_size;
    bool fits;
  } cases[] = {
      {0, 12, true},
      {0x1FFFFFFF, 8, true},
      {SIZE_MAX / 12, 12, true},
      {SIZE_MAX / 12 + 1, 12, false},
      {SIZE_MAX, 2, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.count << " x " << c.element_size);
    size_t bytes = 1;
    EXPECT_EQ(StringList::ArrayByteSize(c.count, c.element_size, &bytes), c.fits);
    if (c.fits) {
      EXPECT_EQ(bytes, c.count * c.element_size);
    }
  }
}

TEST(StringListDeathTest, AtOutsideTheListRaisesBoundsExceeded) {
  StringList list;
  EXPECT_DEATH(list.At(0), "fatal status 0xC000008C") << "empty list";
  ASSERT_TRUE(list.Add(L"a"));
  ASSERT_TRUE(list.Add(L"b"));
  for (int32_t index : {-1, list.Count(), INT32_MIN}) {
    SCOPED_TRACE(testing::Message() << "index " << index);
    EXPECT_DEATH(list.At(index), "fatal status 0xC000008C");
  }
}

}  // namespace
}  // namespace orvia
