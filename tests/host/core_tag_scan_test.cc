// Finding the tag block in the certificate table of small PE-shaped buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "core/tag/tag_scan.h"
#include "tests/support/tag_image.h"

namespace orvia {
namespace {

using namespace tag_image;  // NOLINT: the image builders are this file's vocabulary

Bytes Overwrite(Bytes bytes, size_t offset, const Bytes& part) {
  std::copy(part.begin(), part.end(), bytes.begin() + offset);
  return bytes;
}

Bytes Cut(Bytes bytes, size_t size) {
  bytes.resize(size);
  return bytes;
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
      {"a double quote in the text", Image(CertificateTable(TagBlock("a=\"b\""))), R::kDoubleQuote,
       ""},
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
