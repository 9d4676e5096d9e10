// Builds small PE-shaped images whose certificate table holds tag blocks, for
// the tag reader's tests on both sides and the fuzz seeds.
#ifndef ORVIA_TESTS_SUPPORT_TAG_IMAGE_H_
#define ORVIA_TESTS_SUPPORT_TAG_IMAGE_H_

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/tag/tag_scan.h"

namespace orvia {
namespace tag_image {

using Bytes = std::vector<uint8_t>;

constexpr size_t kNtHeaders = 0x40;  // e_lfanew
constexpr size_t kMachine = kNtHeaders + 4;
constexpr size_t kSecurityEntry = kNtHeaders + 152;  // data directory 4 of a PE32 header
constexpr size_t kTable = 0x200;                     // leaves a gap after the 248 header bytes

inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

inline Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

inline Bytes Put16(Bytes bytes, size_t offset, uint16_t value) {
  bytes[offset] = static_cast<uint8_t>(value);
  bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
  return bytes;
}

inline Bytes Put32(Bytes bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  return bytes;
}

// The magic, a big-endian length that need not match the text, the text.
inline Bytes TagBlockWithLength(uint16_t length, const std::string& text) {
  return Join({Text(std::string(kTagMagic, kTagMagicSize)),
               {static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)},
               Text(text)});
}

inline Bytes TagBlock(const std::string& text) {
  return TagBlockWithLength(static_cast<uint16_t>(text.size()), text);
}

// The 8-byte WIN_CERTIFICATE header, then a DER SEQUENCE tag and the first
// byte of its length (`length_form`), then `rest` as it comes.
inline Bytes CertificateTableRaw(const Bytes& rest, uint8_t length_form = 0x82) {
  Bytes header = Put32(Bytes(8), 0, static_cast<uint32_t>(10 + rest.size()));
  header = Put16(header, 4, 0x0200);  // WIN_CERT_REVISION_2_0
  header = Put16(header, 6, 0x0002);  // WIN_CERT_TYPE_PKCS_SIGNED_DATA
  return Join({header, {0x30, length_form}, rest});
}

// A signature whose two DER length bytes are followed by `content`.
inline Bytes CertificateTable(const Bytes& content, uint8_t length_form = 0x82) {
  return CertificateTableRaw(Join({{0x1F, 0xF6}, content}), length_form);
}

// A PE32 image that ends with `table` as its certificate table.
inline Bytes Image(const Bytes& table, uint16_t machine = 0x014C) {
  Bytes image(kTable);
  image[0] = 'M';
  image[1] = 'Z';
  image = Put32(image, 0x3C, kNtHeaders);
  image[kNtHeaders] = 'P';
  image[kNtHeaders + 1] = 'E';
  image = Put16(image, kMachine, machine);
  image = Put16(image, kNtHeaders + 24, 0x010B);  // PE32 optional header magic
  image = Put32(image, kSecurityEntry, kTable);
  image = Put32(image, kSecurityEntry + 4, static_cast<uint32_t>(table.size()));
  return Join({image, table});
}

}  // namespace tag_image
}  // namespace orvia

#endif  // ORVIA_TESTS_SUPPORT_TAG_IMAGE_H_
