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

char ToUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsIgnoringCase(const char* text, size_t length, const char* word) {
  size_t n = std::strlen(word);
  if (n != length)
    return false;
  for (size_t i = 0; i < n; ++i) {
    if (ToUpper(text[i]) != word[i])
      return false;
  }
  return true;
}

// Win32 opens the device for these whatever the extension, and ignores
// blanks before the extension ("NUL .txt").
bool IsDeviceName(const char* segment, size_t length) {
  size_t base = 0;
  while (base < length && segment[base] != '.')
    ++base;
  while (base > 0 && segment[base - 1] == ' ')
    --base;
  static const char* const kDevices[] = {"CON",  "PRN",  "AUX",  "NUL",  "CONIN$", "CONOUT$",
                                         "COM1", "COM2", "COM3", "COM4", "COM5",   "COM6",
                                         "COM7", "COM8", "COM9", "LPT1", "LPT2",   "LPT3",
                                         "LPT4", "LPT5", "LPT6", "LPT7", "LPT8",   "LPT9"};
  for (const char* device : kDevices) {
    if (EqualsIgnoringCase(segment, base, device))
      return true;
  }
  return false;
}

// "..", and the forms Win32 may trim to it or to nothing (".. ", "...", ". ."):
// any segment of dots and blanks only, except the harmless ".".
bool IsParentLike(const char* segment, size_t length) {
  if (length < 2)
    return false;
  for (size_t i = 0; i < length; ++i) {
    if (segment[i] != '.' && segment[i] != ' ')
      return false;
  }
  return true;
}

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
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

bool IsSafeMemberName(const char* name, size_t length) {
  if (length > 0 && IsSeparator(name[0]))
    return false;
  size_t start = 0;
  for (size_t i = 0; i <= length; ++i) {
    if (i < length && name[i] == ':')
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

bool IsSetupProgramName(const wchar_t* lowered_name, size_t length) {
  return length > 4 && lowered_name[length - 4] == L'.' && lowered_name[length - 3] == L'e' &&
         lowered_name[length - 2] == L'x' && lowered_name[length - 1] == L'e';
}

}  // namespace orvia
