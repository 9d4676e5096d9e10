// Finding the tag block in the certificate table of small PE-shaped buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "stub/tag/tag_scan.h"

namespace orvia {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kNtHeaders = 0x40;  // e_lfanew
constexpr size_t kMachine = kNtHeaders + 4;
constexpr size_t kSecurityEntry = kNtHeaders + 152;  // data directory 4 of a PE32 header
constexpr size_t kTable = 0x200;                     // leaves a gap after the 248 header bytes

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

Bytes Put16(Bytes bytes, size_t offset, uint16_t value) {
  bytes[offset] = static_cast<uint8_t>(value);
  bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
  return bytes;
}

Bytes Put32(Bytes bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  return bytes;
}

Bytes Overwrite(Bytes bytes, size_t offset, const Bytes& part) {
  std::copy(part.begin(), part.end(), bytes.begin() + offset);
  return bytes;
}

Bytes Cut(Bytes bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

// The magic, a big-endian length that need not match the text, the text.
Bytes TagBlockWithLength(uint16_t length, const std::string& text) {
  return Join({Text(kTagMagic),
               {static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)},
               Text(text)});
}

Bytes TagBlock(const std::string& text) {
  return TagBlockWithLength(static_cast<uint16_t>(text.size()), text);
}

// The 8-byte WIN_CERTIFICATE header, then a DER SEQUENCE tag and the first
// byte of its length (`length_form`), then `rest` as it comes.
Bytes CertificateTableRaw(const Bytes& rest, uint8_t length_form = 0x82) {
  Bytes header = Put32(Bytes(8), 0, static_cast<uint32_t>(10 + rest.size()));
  header = Put16(header, 4, 0x0200);  // WIN_CERT_REVISION_2_0
  header = Put16(header, 6, 0x0002);  // WIN_CERT_TYPE_PKCS_SIGNED_DATA
  return Join({header, {0x30, length_form}, rest});
}

// A signature whose two DER length bytes are followed by `content`.
Bytes CertificateTable(const Bytes& content, uint8_t length_form = 0x82) {
  return CertificateTableRaw(Join({{0x1F, 0xF6}, content}), length_form);
}

// A PE32 image that ends with `table` as its certificate table.
Bytes Image(const Bytes& table) {
  Bytes image(kTable);
  image[0] = 'M';
  image[1] = 'Z';
  image = Put32(image, 0x3C, kNtHeaders);
  image[kNtHeaders] = 'P';
  image[kNtHeaders + 1] = 'E';
  image = Put16(image, kMachine, 0x014C);
  image = Put16(image, kNtHeaders + 24, 0x010B);  // PE32 optional header magic
  image = Put32(image, kSecurityEntry, kTable);
  image = Put32(image, kSecurityEntry + 4, static_cast<uint32_t>(table.size()));
  return Join({image, table});
}

struct TagCase {
  const char* name;
  Bytes view;
  TagScanResult result;
  std::string text;  // what the setup program would receive
};

// The scan and the text check, as the stub's reader applies them.
TagScanResult Scan(const Bytes& view, std::string* text) {
  size_t offset = 0;
  size_t length = 0;
  TagScanResult result = FindTagText(view.data(), view.size(), &offset, &length);
  if (result != TagScanResult::kFound)
    return result;
  EXPECT_LE(offset + length, view.size());
  size_t usable = 0;
  result = CheckTagText(view.data() + offset, length, &usable);
  if (result == TagScanResult::kFound)
    text->assign(view.begin() + offset, view.begin() + offset + usable);
  return result;
}

TEST(TagScanTest, FindsTheFirstBlockInsideTheCertificateTable) {
  using R = TagScanResult;
  const Bytes plain = Image(CertificateTable(TagBlock("appguid={x}&lang=en")));
  const uint32_t plain_size = static_cast<uint32_t>(plain.size() - kTable);
  const std::string longest(65534, 't');
  // A block in the zero gap between the headers and the table.
  const Bytes in_gap =
      Overwrite(Image(CertificateTable(TagBlock("real"))), 0x140, TagBlock("decoy"));
  const Bytes ten = Image(CertificateTable(TagBlock("0123456789")));
  const std::string zero_then_quote("ab\0\"c", 5);
  const std::string quote_then_zero("a\"b\0c", 5);
  const std::string bytes_as_they_are(" Mixed Case \x01\xff ");

  const TagCase cases[] = {
      {"tag followed by zero padding",
       Image(CertificateTable(Join({Bytes(40, 0xA5), TagBlock("appguid={x}"), Bytes(30)}))),
       R::kFound, "appguid={x}"},
      {"text ends on the table's last byte", plain, R::kFound, "appguid={x}&lang=en"},
      {"unsigned: table offset 0", Put32(plain, kSecurityEntry, 0), R::kUnsigned, ""},
      {"machine AMD64", Put16(plain, kMachine, 0x8664), R::kAmd64Image, ""},
      {"any other machine is read as PE32", Put16(plain, kMachine, 0xAA64), R::kFound,
       "appguid={x}&lang=en"},
      {"signature 0x30 0x83", Image(CertificateTable(TagBlock("a"), 0x83)), R::kNotDerSequence82,
       ""},
      {"signature 0x30 0x81", Image(CertificateTable(TagBlock("a"), 0x81)), R::kNotDerSequence82,
       ""},
      {"table size 11", Put32(plain, kSecurityEntry + 4, 11), R::kTableTooSmall, ""},
      {"table one byte past the view", Put32(plain, kSecurityEntry + 4, plain_size + 1),
       R::kTableOutsideView, ""},
      {"table offset near 4 GiB", Put32(plain, kSecurityEntry, 0xFFFFFFF8), R::kTableOutsideView,
       ""},
      {"table size near 4 GiB", Put32(plain, kSecurityEntry + 4, 0xFFFFFFF8), R::kTableOutsideView,
       ""},
      {"empty view", Bytes(), R::kViewTooSmall, ""},
      {"no MZ", Put16(plain, 0, 0x4D5A), R::kNoMzHeader, ""},
      {"view of 63 bytes", Cut(plain, 63), R::kViewTooSmall, ""},
      {"e_lfanew near 4 GiB", Put32(plain, 0x3C, 0xFFFFFF00), R::kHeadersOutsideView, ""},
      {"headers end one byte past the view", Cut(plain, kNtHeaders + 247), R::kHeadersOutsideView,
       ""},
      {"no PE signature", Put16(plain, kNtHeaders + 2, 0x0100), R::kNoPeSignature, ""},
      {"no magic in the table", Image(CertificateTable(Bytes(64, 0x11))), R::kNoMagic, ""},
      {"two blocks: the first decides",
       Image(CertificateTable(Join({TagBlock("first"), TagBlock("second")}))), R::kFound, "first"},
      {"first block of length 0 hides a valid one",
       Image(CertificateTable(Join({TagBlockWithLength(0, ""), TagBlock("second")}))),
       R::kLengthEmpty, ""},
      {"length 65535", Image(CertificateTable(TagBlockWithLength(0xFFFF, longest + "t"))),
       R::kLengthReserved, ""},
      {"length 1", Image(CertificateTable(TagBlock("x"))), R::kFound, "x"},
      {"length 65534 fits", Image(CertificateTable(TagBlock(longest))), R::kFound, longest},
      {"length field crosses the table's end",
       Image(CertificateTable(Cut(TagBlock("abc"), kTagMagicSize + 1))), R::kLengthOutsideTable,
       ""},
      {"text one byte longer than the table",
       Image(CertificateTable(TagBlockWithLength(10, "012345678"))), R::kTextOutsideTable, ""},
      {"text crosses the declared end, the view goes on",
       Put32(ten, kSecurityEntry + 4, static_cast<uint32_t>(ten.size() - kTable - 1)),
       R::kTextOutsideTable, ""},
      {"block over the DER length bytes: the scan starts at the table",
       Image(CertificateTableRaw(TagBlock("early"))), R::kFound, "early"},
      {"block before the table is not looked at", in_gap, R::kFound, "real"},
      {"a double quote in the text", Image(CertificateTable(TagBlock("a=\"b\""))),
       R::kDoubleQuote, ""},
      {"a double quote before a zero byte", Image(CertificateTable(TagBlock(quote_then_zero))),
       R::kDoubleQuote, ""},
      {"a double quote after a zero byte goes unnoticed",
       Image(CertificateTable(TagBlock(zero_then_quote))), R::kFound, "ab"},
      {"a zero byte first leaves an empty text",
       Image(CertificateTable(TagBlock(std::string("\0x", 2)))), R::kFound, ""},
      {"bytes returned as they are", Image(CertificateTable(TagBlock(bytes_as_they_are))),
       R::kFound, bytes_as_they_are},
  };
  for (const TagCase& c : cases) {
    SCOPED_TRACE(c.name);
    // An exact-size heap copy, so a sanitizer build sees any read past its end.
    const Bytes view(c.view);
    std::string text;
    const TagScanResult result = Scan(view, &text);
    EXPECT_EQ(DescribeTagScanResult(result), std::string(DescribeTagScanResult(c.result)));
    EXPECT_EQ(text, c.text);
  }
}

}  // namespace
}  // namespace orvia
