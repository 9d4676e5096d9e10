#include "core/common/string_list.h"

#include <cstdint>
#include <cstdlib>
#include <new>

#include "core/common/fatal.h"

namespace orvia {

int32_t StringList::GrownCapacity(int32_t count) {
  if (count == 0)
    return 1;
  if (count > kMaxCapacity / 2)
    return kCannotGrow;
  return count * 2;
}

bool StringList::ArrayByteSize(size_t count, size_t element_size, size_t* bytes) {
  if (element_size != 0 && count > SIZE_MAX / element_size)
    return false;
  *bytes = count * element_size;
  return true;
}

bool StringList::Add(const wchar_t* text) {
  WideString copy(text);
  if (count_ == capacity_) {
    int32_t capacity = GrownCapacity(count_);
    if (capacity == kCannotGrow)
      return false;
    size_t bytes = 0;
    if (!ArrayByteSize(static_cast<size_t>(capacity), sizeof(WideString), &bytes))
      return false;
    void* raw = std::malloc(bytes);
    if (!raw)
      return false;
    WideString* items = static_cast<WideString*>(raw);
    for (int32_t i = 0; i < count_; ++i) {
      new (&items[i]) WideString(static_cast<WideString&&>(items_[i]));
      items_[i].~WideString();
    }
    std::free(items_);
    items_ = items;
    capacity_ = capacity;
  }
  new (&items_[count_]) WideString(static_cast<WideString&&>(copy));
  ++count_;
  return true;
}

const WideString& StringList::At(int32_t index) const {
  if (index < 0 || index >= count_)
    RaiseFatalError(kStatusArrayBoundsExceeded);
  return items_[index];
}

void StringList::RemoveAll() {
  for (int32_t i = 0; i < count_; ++i)
    items_[i].~WideString();
  std::free(items_);
  items_ = nullptr;
  count_ = capacity_ = 0;
}

}  // namespace orvia
