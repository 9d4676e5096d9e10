// An ordered, growable list of wide strings in one contiguous array.
#ifndef ORVIA_CORE_COMMON_STRING_LIST_H_
#define ORVIA_CORE_COMMON_STRING_LIST_H_

#include <cstdint>

#include "core/common/wide_string.h"

namespace orvia {

class StringList {
 public:
  // Growth refuses capacities above this many elements.
  static constexpr int32_t kMaxCapacity = 0x1FFFFFFF;

  StringList() = default;
  StringList(const StringList&) = delete;
  StringList& operator=(const StringList&) = delete;
  ~StringList() { RemoveAll(); }

  // Appends a copy of `text`. False, with the list unchanged, when the array
  // cannot grow.
  bool Add(const wchar_t* text);
  bool Add(const WideString& text) { return Add(text.c_str()); }
  // An index outside [0, Count()) ends the process with
  // kStatusArrayBoundsExceeded.
  const WideString& At(int32_t index) const;
  int32_t Count() const { return count_; }
  int32_t Capacity() const { return capacity_; }
  void RemoveAll();

  // The bytes of `count` elements of `element_size`; false when that does
  // not fit a size_t (on a 32-bit process 0x1FFFFFFF strings would not).
  static bool ArrayByteSize(size_t count, size_t element_size, size_t* bytes);

  // GrownCapacity's answer when the list cannot grow any more.
  static constexpr int32_t kCannotGrow = 0;

  // The capacity after growing a full list of `count` elements: 1 from 0,
  // else twice the count; kCannotGrow when that would pass kMaxCapacity.
  static int32_t GrownCapacity(int32_t count);

 private:
  WideString* items_ = nullptr;
  int32_t count_ = 0;
  int32_t capacity_ = 0;
};

}  // namespace orvia

#endif  // ORVIA_CORE_COMMON_STRING_LIST_H_
