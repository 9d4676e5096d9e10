#include "core/common/wide_string.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/common/fatal.h"

namespace orvia {
namespace {

// Far below what a 32-bit process can hold; keeps size arithmetic from wrapping.
constexpr size_t kMaxLength = 0x3FFFFFFF;

}  // namespace

size_t WideLength(const wchar_t* text) {
  if (!text)
    RaiseFatalError(kStatusIllegalInstruction);
  size_t n = 0;
  while (text[n])
    ++n;
  return n;
}

WideString::WideString(const wchar_t* text) {
  Assign(text);
}

WideString::WideString(const wchar_t* text, size_t length) {
  Assign(text, length);
}

WideString::WideString(const WideString& other) {
  Assign(other.c_str(), other.length_);
}

WideString::WideString(WideString&& other) noexcept
    : text_(other.text_), length_(other.length_), capacity_(other.capacity_) {
  other.text_ = nullptr;
  other.length_ = other.capacity_ = 0;
}

WideString& WideString::operator=(const WideString& other) {
  if (this != &other)
    Assign(other.c_str(), other.length_);
  return *this;
}

WideString& WideString::operator=(WideString&& other) noexcept {
  if (this != &other) {
    std::free(text_);
    text_ = other.text_;
    length_ = other.length_;
    capacity_ = other.capacity_;
    other.text_ = nullptr;
    other.length_ = other.capacity_ = 0;
  }
  return *this;
}

WideString::~WideString() {
  std::free(text_);
}

void WideString::Reserve(size_t length) {
  if (length > kMaxLength)
    RaiseFatalError(kStatusIllegalInstruction);
  if (length < capacity_)
    return;
  size_t capacity = capacity_ ? capacity_ : 16;
  while (capacity <= length)
    capacity = capacity * 2 > kMaxLength ? kMaxLength + 1 : capacity * 2;
  void* grown = std::realloc(text_, capacity * sizeof(wchar_t));
  if (!grown)
    RaiseFatalError(kStatusNoMemory);
  text_ = static_cast<wchar_t*>(grown);
  capacity_ = capacity;
}

void WideString::Assign(const wchar_t* text, size_t length) {
  if (!text)
    RaiseFatalError(kStatusIllegalInstruction);
  if (text_ && text >= text_ && text < text_ + capacity_) {
    // Assigning a part of itself: copy first so growth cannot free the source.
    WideString copy(text, length);
    *this = static_cast<WideString&&>(copy);
    return;
  }
  length_ = 0;
  Append(text, length);
}

void WideString::Assign(const wchar_t* text) {
  Assign(text, WideLength(text));
}

void WideString::Append(const wchar_t* text, size_t length) {
  if (!text || length > kMaxLength - length_)
    RaiseFatalError(kStatusIllegalInstruction);
  if (text_ && text >= text_ && text < text_ + capacity_) {
    WideString copy(text, length);
    Append(copy.c_str(), copy.length());
    return;
  }
  Reserve(length_ + length);
  std::memcpy(text_ + length_, text, length * sizeof(wchar_t));
  length_ += length;
  text_[length_] = L'\0';
}

void WideString::Append(const wchar_t* text) {
  Append(text, WideLength(text));
}

void WideString::Truncate(size_t length) {
  if (length < length_) {
    length_ = length;
    text_[length_] = L'\0';
  }
}

void WideString::Clear() {
  Truncate(0);
}

bool WideString::operator==(const WideString& other) const {
  return length_ == other.length_ &&
         std::memcmp(c_str(), other.c_str(), length_ * sizeof(wchar_t)) == 0;
}

bool WideString::operator==(const wchar_t* other) const {
  size_t n = WideLength(other);
  return n == length_ && std::memcmp(c_str(), other, n * sizeof(wchar_t)) == 0;
}

void AppendFormattedList(WideString& target,
                         const wchar_t* format,
                         std::initializer_list<const wchar_t*> values) {
  if (!format || !*format)
    RaiseFatalError(kStatusIllegalInstruction);
  WideString text;
  const wchar_t* const* next = values.begin();
  for (const wchar_t* p = format; *p; ++p) {
    if (*p != L'%') {
      text.Append(p, 1);
      continue;
    }
    ++p;
    if (*p == L'%') {
      text.Append(p, 1);
    } else if (*p == L's' && next != values.end()) {
      text.Append(*next++);
    } else {
      RaiseFatalError(kStatusIllegalInstruction);
    }
  }
  text.Truncate(kMaxFormattedLength);
  target.Append(text);
}

}  // namespace orvia
