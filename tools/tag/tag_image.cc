#include "tools/tag/tag_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tools/tag/tag_certificate.h"

namespace orvia {
namespace {

constexpr size_t kTableAlignment = 8;
constexpr size_t kStubPageSize = 4096;
constexpr bool kHostIsLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

std::string Hex16(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof(text), "0x%04x", value);
  return text;
}

size_t RoundUp(size_t value, size_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

bool ParseImage(const uint8_t* image, size_t size, PeLayout* layout, std::string* error) {
  if (ParsePe32(image, size, layout, error))
    return true;
  // The PE parser names only the machine; the stub's scan knows this case.
  size_t ignored_offset = 0;
  size_t ignored_length = 0;
  if (FindTagText(image, size, &ignored_offset, &ignored_length) == TagScanResult::kAmd64Image)
    *error = std::string(DescribeTagScanResult(TagScanResult::kAmd64Image)) +
             "; only 32-bit x86 images are tagged";
  return false;
}

bool LocateTable(size_t image_size,
                 const PeLayout& layout,
                 SignedImage* signed_image,
                 std::string* error) {
  if (layout.directories.size() <= kPeDirectorySecurity ||
      layout.directories[kPeDirectorySecurity].rva == 0) {
    *error = "not signed (no certificate table)";
    return false;
  }
  const PeDataDirectory& entry = layout.directories[kPeDirectorySecurity];
  uint64_t end = static_cast<uint64_t>(entry.rva) + entry.size;
  if (end > image_size) {
    *error = "the certificate table runs past the end of the file (truncated?)";
    return false;
  }
  if (end != image_size) {
    *error = "the certificate table is not the last thing in the file (it ends at byte " +
             std::to_string(end) + " of " + std::to_string(image_size) + ")";
    return false;
  }
  if (entry.rva % kTableAlignment != 0) {
    *error = "the certificate table does not start on an 8-byte boundary";
    return false;
  }
  signed_image->table_offset = entry.rva;
  signed_image->table_size = entry.size;
  return true;
}

// The table must be a single PKCS#7 entry; padding may only round it up to 8.
bool CheckEntryHeader(const uint8_t* table, uint32_t table_size, std::string* error) {
  uint32_t length = table_size >= kWinCertificateHeaderSize ? ReadLe32(table) : 0;
  if (length <= kWinCertificateHeaderSize || length > table_size ||
      table_size - length >= kTableAlignment) {
    *error = "the certificate table is not one WIN_CERTIFICATE entry (entry length " +
             std::to_string(length) + ", table size " + std::to_string(table_size) + ")";
    return false;
  }
  uint16_t revision = ReadLe16(table + 4);
  uint16_t type = ReadLe16(table + 6);
  if (revision != kWinCertificateRevision || type != kWinCertificatePkcsSignedData) {
    *error = "the certificate table entry is not a PKCS#7 signature (revision " + Hex16(revision) +
             ", type " + Hex16(type) + ")";
    return false;
  }
  return true;
}

// Keeps the signature only if the tool can re-encode it exactly, since the
// signer's bytes must come out as they went in.
bool ReadSignature(const uint8_t* entry,
                   uint32_t entry_length,
                   uint32_t table_size,
                   SignedImage* signed_image,
                   std::string* error) {
  const uint8_t* der = entry + kWinCertificateHeaderSize;
  Pkcs7Ptr signature;
  size_t der_size = 0;
  if (!DecodeSignature(der, entry_length - kWinCertificateHeaderSize, &signature, &der_size, error))
    return false;
  if (std::any_of(der + der_size, entry + table_size, [](uint8_t b) { return b != 0; })) {
    *error = "non-zero bytes after the signature in the certificate table";
    return false;
  }
  std::vector<uint8_t> again;
  if (!EncodeSignature(signature.get(), &again, error))
    return false;
  if (!std::equal(again.begin(), again.end(), der, der + der_size)) {
    *error = "the signature does not re-encode to the same DER bytes, so it cannot be kept intact";
    return false;
  }
  signed_image->signature_der.assign(der, der + der_size);
  signed_image->tag_certificates = CountTagCertificates(signature.get());
  return true;
}

std::vector<uint8_t> WrapInWinCertificate(const std::vector<uint8_t>& der) {
  std::vector<uint8_t> table(RoundUp(kWinCertificateHeaderSize + der.size(), kTableAlignment), 0);
  WriteLe32(table.data(), static_cast<uint32_t>(table.size()));
  WriteLe16(table.data() + 4, kWinCertificateRevision);
  WriteLe16(table.data() + 6, kWinCertificatePkcsSignedData);
  std::copy(der.begin(), der.end(), table.begin() + kWinCertificateHeaderSize);
  return table;
}

bool DecodeSigned(const SignedImage& signed_image, Pkcs7Ptr* signature, std::string* error) {
  size_t ignored = 0;
  return DecodeSignature(signed_image.signature_der.data(), signed_image.signature_der.size(),
                         signature, &ignored, error);
}

// Results that mean the scan stopped at a block: the first magic it met.
bool StoppedAtBlock(TagScanResult result) {
  switch (result) {
    case TagScanResult::kFound:
    case TagScanResult::kLengthOutsideTable:
    case TagScanResult::kLengthEmpty:
    case TagScanResult::kLengthReserved:
    case TagScanResult::kTextOutsideTable:
    case TagScanResult::kDoubleQuote:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool ReadSignedImage(const std::vector<uint8_t>& image,
                     SignedImage* signed_image,
                     std::string* error) {
  return ReadSignedImage(image.data(), image.size(), signed_image, error);
}

bool ReadSignedImage(const uint8_t* image,
                     size_t size,
                     SignedImage* signed_image,
                     std::string* error) {
  *signed_image = SignedImage();
  if (!ParseImage(image, size, &signed_image->layout, error) ||
      !LocateTable(size, signed_image->layout, signed_image, error))
    return false;
  const uint8_t* table = image + signed_image->table_offset;
  return CheckEntryHeader(table, signed_image->table_size, error) &&
         ReadSignature(table, ReadLe32(table), signed_image->table_size, signed_image, error);
}

bool CheckTagTextForBlock(const std::string& text, std::string* error) {
  if (text.empty()) {
    *error = "the tag text is empty";
    return false;
  }
  if (text.size() > kTagTextCapacity) {
    *error = "the tag text is " + std::to_string(text.size()) + " bytes, more than the " +
             std::to_string(kTagTextCapacity) + " a block holds";
    return false;
  }
  size_t usable = 0;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text.data());
  if (CheckTagText(bytes, text.size(), &usable) == TagScanResult::kDoubleQuote) {
    *error = "the tag text holds a double quote (the stub passes it between double quotes)";
    return false;
  }
  if (usable != text.size()) {
    *error = "the tag text holds a NUL byte (the stub would cut it there)";
    return false;
  }
  return true;
}

bool ComposeTaggedTable(const SignedImage& signed_image,
                        const std::string& text,
                        CertificateTable* table,
                        std::string* error) {
  TagCertificate tag;
  Pkcs7Ptr signature;
  std::vector<uint8_t> der;
  if (!CheckTagTextForBlock(text, error) || !MakeTagCertificate(MakeTagBlock(text), &tag, error) ||
      !DecodeSigned(signed_image, &signature, error) ||
      !PutTagCertificate(signature.get(), tag.cert.get(), error) ||
      !EncodeSignature(signature.get(), &der, error))
    return false;
  auto at = std::search(der.begin(), der.end(), tag.der.begin(), tag.der.end());
  if (at == der.end()) {
    *error = "the re-encoded signature lost the tag certificate";
    return false;
  }
  table->bytes = WrapInWinCertificate(der);
  table->block_offset = signed_image.table_offset + kWinCertificateHeaderSize +
                        static_cast<size_t>(at - der.begin()) + tag.block_offset;
  return true;
}

bool ComposeUntaggedTable(const SignedImage& signed_image,
                          CertificateTable* table,
                          std::string* error) {
  Pkcs7Ptr signature;
  std::vector<uint8_t> der;
  if (!DecodeSigned(signed_image, &signature, error))
    return false;
  RemoveTagCertificates(signature.get());
  if (!EncodeSignature(signature.get(), &der, error))
    return false;
  table->bytes = WrapInWinCertificate(der);
  table->block_offset = 0;
  return true;
}

std::vector<uint8_t> AssembleImage(const std::vector<uint8_t>& image,
                                   const SignedImage& signed_image,
                                   const std::vector<uint8_t>& table) {
  std::vector<uint8_t> output;
  output.reserve(signed_image.table_offset + table.size());
  output.assign(image.begin(), image.begin() + signed_image.table_offset);
  output.insert(output.end(), table.begin(), table.end());
  const PeLayout& layout = signed_image.layout;
  WriteLe32(output.data() + layout.DirectoryOffset(kPeDirectorySecurity) + 4,
            static_cast<uint32_t>(table.size()));
  UpdatePeChecksum(layout, &output);
  return output;
}

StubTagReading ReadTagAsStub(const std::vector<uint8_t>& image) {
  std::vector<uint8_t> view(StubViewSize(image.size()), 0);
  std::copy(image.begin(), image.end(), view.begin());
  return ReadTagFromStubView(view.data(), view.size());
}

size_t StubViewSize(uint64_t file_size) {
  return RoundUp(static_cast<size_t>(file_size), kStubPageSize);
}

StubTagReading ReadTagFromStubView(const uint8_t* view, size_t view_size) {
  StubTagReading reading;
  size_t length = 0;
  reading.result = FindTagText(view, view_size, &reading.text_offset, &length);
  if (reading.result != TagScanResult::kFound)
    return reading;
  size_t usable = 0;
  reading.result = CheckTagText(view + reading.text_offset, length, &usable);
  if (reading.result == TagScanResult::kFound)
    reading.text.assign(view + reading.text_offset, view + reading.text_offset + usable);
  return reading;
}

bool CheckStubReadsBlock(const std::vector<uint8_t>& image,
                         size_t block_offset,
                         const std::string& text,
                         std::string* error) {
  std::vector<uint8_t> view(StubViewSize(image.size()), 0);
  std::copy(image.begin(), image.end(), view.begin());
  return CheckStubReadsBlockInView(view.data(), view.size(), block_offset, text, error);
}

bool CheckStubReadsBlockInView(const uint8_t* view,
                               size_t view_size,
                               size_t block_offset,
                               const std::string& text,
                               std::string* error) {
  StubTagReading reading = ReadTagFromStubView(view, view_size);
  bool ours =
      StoppedAtBlock(reading.result) && reading.text_offset == block_offset + kTagHeaderSize;
  if (reading.result == TagScanResult::kNotDerSequence82) {
    *error =
        "with the tag certificate the signature would be longer than 65,535 bytes, and the "
        "stub reads only a two-byte DER length (0x82)";
  } else if (StoppedAtBlock(reading.result) && !ours) {
    *error =
        "the certificate table spells the tag magic before the tag block; the stub would read "
        "that instead";
  } else if (reading.result != TagScanResult::kFound) {
    *error =
        std::string("the stub would not read the tag: ") + DescribeTagScanResult(reading.result);
  } else if (reading.text != text) {
    *error = "the stub would read a different tag";
  } else {
    return true;
  }
  return false;
}

void PeWordSum::Add(const uint8_t* bytes, size_t size, uint64_t offset) {
  if (size > 0 && offset % 2 != 0) {
    total_ += static_cast<uint64_t>(bytes[0]) << 8;
    ++bytes;
    --size;
  }
  // From an even offset, eight bytes are four words: two 32-bit lanes take
  // two each. A lane gains at most 0x1FFFE a step, so 32,768 steps fit.
  if (kHostIsLittleEndian) {
    constexpr uint64_t kLowWords = 0x0000FFFF0000FFFFull;
    constexpr size_t kStepsPerBatch = 32768;
    while (size >= 8) {
      size_t steps = std::min(size / 8, kStepsPerBatch);
      uint64_t lanes = 0;
      for (size_t i = 0; i < steps; ++i) {
        uint64_t x;
        std::memcpy(&x, bytes + 8 * i, 8);
        lanes += (x & kLowWords) + ((x >> 16) & kLowWords);
      }
      total_ += (lanes & 0xFFFFFFFF) + (lanes >> 32);
      bytes += 8 * steps;
      size -= 8 * steps;
    }
  }
  for (size_t i = 0; i < size; ++i)
    total_ += i % 2 == 0 ? bytes[i] : static_cast<uint64_t>(bytes[i]) << 8;
}

uint32_t PeWordSum::Checksum(uint64_t file_size) const {
  // Folding at the end gives what folding after every word gives: both keep
  // the sum modulo 0xFFFF and are zero only when every word is.
  uint64_t sum = total_;
  while (sum > 0xFFFF)
    sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + file_size);
}

bool PlanRetagInPlace(const SignedImage& signed_image,
                      const uint8_t* old_table,
                      const CertificateTable& table,
                      uint32_t checksum,
                      std::vector<FileWrite>* writes,
                      std::string* why_not) {
  writes->clear();
  const size_t table_size = signed_image.table_size;
  const size_t checksum_offset = signed_image.layout.ChecksumOffset();
  const uint8_t* new_table = table.bytes.data();
  if (signed_image.tag_certificates == 0) {
    *why_not = "the file carries no tag block to overwrite";
    return false;
  }
  if (table.bytes.size() != table_size) {
    *why_not = "the certificate table changes size";
    return false;
  }
  if (table.block_offset < signed_image.table_offset ||
      table.block_offset - signed_image.table_offset > table_size - kTagBlockSize) {
    *why_not = "the block lies outside the table";
    return false;
  }
  // With the field at an odd offset the checksum counts its own old bytes,
  // which a cut run would have changed.
  if (checksum_offset % 2 != 0) {
    *why_not = "the checksum field lies at an odd offset";
    return false;
  }
  const size_t start = table.block_offset - signed_image.table_offset;
  const size_t end = start + kTagBlockSize;
  if (!std::equal(new_table, new_table + start, old_table) ||
      !std::equal(new_table + end, new_table + table_size, old_table + end)) {
    *why_not = "the tables differ outside the block";
    return false;
  }
  const uint8_t* magic = reinterpret_cast<const uint8_t*>(kTagMagic);
  if (!std::equal(magic, magic + kTagMagicSize, old_table + start) ||
      !std::equal(magic, magic + kTagMagicSize, new_table + start)) {
    *why_not = "the old table holds no block where the new one goes";
    return false;
  }
  // While the block's magic is broken the stub's scan reads on past it, so
  // nothing after it may spell the magic, in the old table or the new.
  auto spells_magic_after_block = [&](const uint8_t* t) {
    return std::search(t + start + 1, t + table_size, magic, magic + kTagMagicSize) !=
           t + table_size;
  };
  if (spells_magic_after_block(old_table) || spells_magic_after_block(new_table)) {
    *why_not = "the tag magic appears after the block's own";
    return false;
  }
  // Until the magic's first byte goes back the stub finds no tag: no spelling
  // of the magic holds a NUL, and the zeros keep old and new text from
  // joining into one. A cut run leaves an untagged copy, never a mixed tag.
  const size_t block = table.block_offset;
  writes->push_back({block, {0}});
  writes->push_back({block + 1, std::vector<uint8_t>(kTagBlockSize - 1, 0)});
  writes->push_back({block + 1, std::vector<uint8_t>(new_table + start + 1, new_table + end)});
  writes->push_back({block, {magic[0]}});
  std::vector<uint8_t> field(4);
  WriteLe32(field.data(), checksum);
  writes->push_back({checksum_offset, field});
  return true;
}

}  // namespace orvia
