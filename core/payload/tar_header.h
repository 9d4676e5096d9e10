// The part of a ustar header the extractor reads: name, size and magic.
#ifndef ORVIA_CORE_PAYLOAD_TAR_HEADER_H_
#define ORVIA_CORE_PAYLOAD_TAR_HEADER_H_

#include <cstddef>
#include <cstdint>

namespace orvia {

constexpr uint32_t kTarBlockSize = 512;
constexpr size_t kTarNameSize = 100;
// Tarball positions are 32-bit: no entry may end at or past 2 GiB.
constexpr int64_t kTarPositionLimit = int64_t{1} << 31;

enum class TarHeaderKind {
  kEnd,      // the magic begins with four zero bytes
  kEntry,    // the magic begins with "ustar"
  kDamaged,  // anything else
};

struct TarHeader {
  TarHeaderKind kind;
  // The name field up to its first NUL, or all 100 bytes without one.
  const char* name;
  size_t name_length;
  // The size field as strtol reads it in base 8, limited to the field.
  int64_t size;
};

TarHeader ParseTarHeader(const uint8_t (&block)[kTarBlockSize]);

// NextTarHeaderPosition's answer when there is no next header.
constexpr int64_t kNoTarPosition = -1;

// Where the header after an entry starts: its data start plus the size taken
// up to a multiple of the block size. kNoTarPosition when the size is
// negative or the entry would end at or past kTarPositionLimit.
int64_t NextTarHeaderPosition(int64_t data_start, int64_t size);

// False for member names that would put the file outside the extraction
// directory or open a device, judged on the name as the stub widens it: a
// ".." segment (or one of dots and blanks only that Win32 may trim to it),
// any colon (drive letters, streams), a leading slash or backslash, or a
// reserved device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9,
// and COM or LPT with a superscript one, two or three) in any case, with or
// without an extension.
bool IsSafeMemberName(const wchar_t* name, size_t length);

// The same rule for a header's bytes, widened as code page 1252 does (for the
// host tools and the fuzzer, which have no code page of their own).
bool IsSafeNarrowMemberName(const char* name, size_t length);

// True for a lower-cased file name that makes a setup program: longer than
// four units and ending in ".exe".
bool IsSetupProgramName(const wchar_t* lowered_name, size_t length);

}  // namespace orvia

#endif  // ORVIA_CORE_PAYLOAD_TAR_HEADER_H_
