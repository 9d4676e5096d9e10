#include "core/payload/tar_header.h"

#include <cstring>

namespace orvia {
namespace {

constexpr size_t kSizeOffset = 124;
constexpr size_t kSizeLength = 12;
constexpr size_t kMagicOffset = 257;

bool IsStrtolSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// strtol's base-8 reading, kept inside the field so that an unterminated
// size never runs on into the next field.
int64_t ReadOctal(const char* field, size_t length) {
  size_t i = 0;
  while (i < length && IsStrtolSpace(field[i]))
    ++i;
  bool negative = false;
  if (i < length && (field[i] == '+' || field[i] == '-')) {
    negative = field[i] == '-';
    ++i;
  }
  int64_t value = 0;
  for (; i < length && field[i] >= '0' && field[i] <= '7'; ++i)
    value = value * 8 + (field[i] - '0');
  return negative ? -value : value;
}

wchar_t ToUpper(wchar_t c) {
  return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

bool EqualsIgnoringCase(const wchar_t* text, size_t length, const wchar_t* word) {
  size_t n = 0;
  while (word[n])
    ++n;
  if (n != length)
    return false;
  for (size_t i = 0; i < n; ++i) {
    if (ToUpper(text[i]) != word[i])
      return false;
  }
  return true;
}

// Win32 opens the device for these whatever the extension, and ignores
// blanks before the extension ("NUL .txt"). COM and LPT take the digits 0 to
// 9 and the superscripts one to three.
bool IsDeviceName(const wchar_t* segment, size_t length) {
  size_t base = 0;
  while (base < length && segment[base] != L'.')
    ++base;
  while (base > 0 && segment[base - 1] == L' ')
    --base;
  static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  for (const wchar_t* device : kDevices) {
    if (EqualsIgnoringCase(segment, base, device))
      return true;
  }
  if (base != 4 ||
      !(EqualsIgnoringCase(segment, 3, L"COM") || EqualsIgnoringCase(segment, 3, L"LPT")))
    return false;
  const wchar_t digit = segment[3];
  return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' ||
         digit == L'\u00B3';
}

// "..", and the forms Win32 may trim to it or to nothing (".. ", "...", ". ."):
// any segment of dots and blanks only, except the harmless ".".
bool IsParentLike(const wchar_t* segment, size_t length) {
  if (length < 2)
    return false;
  for (size_t i = 0; i < length; ++i) {
    if (segment[i] != L'.' && segment[i] != L' ')
      return false;
  }
  return true;
}

bool IsSeparator(wchar_t c) {
  return c == L'/' || c == L'\\';
}

}  // namespace

TarHeader ParseTarHeader(const uint8_t (&block)[kTarBlockSize]) {
  TarHeader header = {TarHeaderKind::kDamaged, reinterpret_cast<const char*>(block), 0, 0};
  const uint8_t* magic = block + kMagicOffset;
  if (magic[0] == 0 && magic[1] == 0 && magic[2] == 0 && magic[3] == 0) {
    header.kind = TarHeaderKind::kEnd;
    return header;
  }
  if (std::memcmp(magic, "ustar", 5) != 0)
    return header;
  header.kind = TarHeaderKind::kEntry;
  while (header.name_length < kTarNameSize && block[header.name_length] != 0)
    ++header.name_length;
  header.size = ReadOctal(reinterpret_cast<const char*>(block) + kSizeOffset, kSizeLength);
  return header;
}

int64_t NextTarHeaderPosition(int64_t data_start, int64_t size) {
  if (size < 0 || data_start < 0 || size >= kTarPositionLimit || data_start >= kTarPositionLimit)
    return kNoTarPosition;
  int64_t next = data_start + size + ((kTarBlockSize - size % kTarBlockSize) % kTarBlockSize);
  return next >= kTarPositionLimit ? kNoTarPosition : next;
}

bool IsSafeMemberName(const wchar_t* name, size_t length) {
  if (length > 0 && IsSeparator(name[0]))
    return false;
  size_t start = 0;
  for (size_t i = 0; i <= length; ++i) {
    if (i < length && name[i] == L':')
      return false;
    if (i == length || IsSeparator(name[i])) {
      if (IsParentLike(name + start, i - start))
        return false;
      if (i == length && IsDeviceName(name + start, i - start))
        return false;
      start = i + 1;
    }
  }
  return true;
}

bool IsSafeNarrowMemberName(const char* name, size_t length) {
  // Each byte as code page 1252 widens it: the same as Latin-1 for every
  // character the rule looks at (ASCII and the superscripts B9, B2, B3).
  wchar_t wide[kTarNameSize];
  if (length > kTarNameSize)
    return false;
  for (size_t i = 0; i < length; ++i)
    wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(name[i]));
  return IsSafeMemberName(wide, length);
}

bool IsSetupProgramName(const wchar_t* lowered_name, size_t length) {
  return length > 4 && lowered_name[length - 4] == L'.' && lowered_name[length - 3] == L'e' &&
         lowered_name[length - 2] == L'x' && lowered_name[length - 1] == L'e';
}

}  // namespace orvia
