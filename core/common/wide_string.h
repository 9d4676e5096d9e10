// UTF-16 text with a length and value semantics (wchar_t is 16 bits on Windows;
// the host build uses the same code with its own wchar_t for tests).
#ifndef ORVIA_CORE_COMMON_WIDE_STRING_H_
#define ORVIA_CORE_COMMON_WIDE_STRING_H_

#include <cstddef>
#include <initializer_list>

namespace orvia {

// Every operation either succeeds or ends the process: exhausted memory raises
// kStatusNoMemory, a null text or a length past the limit kStatusIllegalInstruction.
class WideString {
 public:
  WideString() = default;
  explicit WideString(const wchar_t* text);
  WideString(const wchar_t* text, size_t length);
  WideString(const WideString& other);
  WideString(WideString&& other) noexcept;
  WideString& operator=(const WideString& other);
  WideString& operator=(WideString&& other) noexcept;
  ~WideString();

  // Always NUL-terminated, also when empty.
  const wchar_t* c_str() const { return text_ ? text_ : L""; }
  // Writable units [0, length()); the NUL after them stays in place.
  wchar_t* data() { return text_; }
  size_t length() const { return length_; }
  bool empty() const { return length_ == 0; }
  wchar_t operator[](size_t i) const { return text_[i]; }

  void Assign(const wchar_t* text, size_t length);
  void Assign(const wchar_t* text);
  void Append(const wchar_t* text, size_t length);
  void Append(const wchar_t* text);
  void Append(const WideString& text) { Append(text.c_str(), text.length()); }
  // Keeps the first `length` units; a longer length leaves the text as it is.
  void Truncate(size_t length);
  void Clear();

  bool operator==(const WideString& other) const;
  bool operator==(const wchar_t* other) const;
  bool operator!=(const WideString& other) const { return !(*this == other); }

 private:
  void Reserve(size_t length);

  wchar_t* text_ = nullptr;
  size_t length_ = 0;
  size_t capacity_ = 0;
};

// Length of a NUL-terminated text; a null text is fatal.
size_t WideLength(const wchar_t* text);

// The longest text one formatting step produces; longer results are cut.
constexpr size_t kMaxFormattedLength = 32765;

// Formats `format` with wide-string values and appends the result to
// `target`. Only "%s" (the next value) and "%%" are understood: the values
// themselves are never read as formats. Any other conversion, a missing value
// or an empty format is fatal. The formatted text is cut to
// kMaxFormattedLength units before it is appended.
void AppendFormattedList(WideString& target,
                         const wchar_t* format,
                         std::initializer_list<const wchar_t*> values);

inline const wchar_t* TextOf(const wchar_t* text) {
  return text;
}
inline const wchar_t* TextOf(const WideString& text) {
  return text.c_str();
}

template <typename... Values>
void AppendFormatted(WideString& target, const wchar_t* format, const Values&... values) {
  AppendFormattedList(target, format, {TextOf(values)...});
}

}  // namespace orvia

#endif  // ORVIA_CORE_COMMON_WIDE_STRING_H_
