#include "tools/tag/tag_image.h"

#include <algorithm>
#include <cstdio>

#include "tools/tag/tag_certificate.h"

namespace orvia {
namespace {

constexpr size_t kTableAlignment = 8;
constexpr size_t kStubPageSize = 4096;

std::string Hex16(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof(text), "0x%04x", value);
  return text;
}

size_t RoundUp(size_t value, size_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

bool ParseImage(const std::vector<uint8_t>& image, PeLayout* layout, std::string* error) {
  if (ParsePe32(image.data(), image.size(), layout, error))
    return true;
  // The PE parser names only the machine; the stub's scan knows this case.
  size_t ignored_offset = 0;
  size_t ignored_length = 0;
  if (FindTagText(image.data(), image.size(), &ignored_offset, &ignored_length) ==
      TagScanResult::kAmd64Image)
    *error = std::string(DescribeTagScanResult(TagScanResult::kAmd64Image)) +
             "; only 32-bit x86 images are tagged";
  return false;
}

bool LocateTable(const std::vector<uint8_t>& image,
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
  if (end > image.size()) {
    *error = "the certificate table runs past the end of the file (truncated?)";
    return false;
  }
  if (end != image.size()) {
    *error = "the certificate table is not the last thing in the file (it ends at byte " +
             std::to_string(end) + " of " + std::to_string(image.size()) + ")";
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
  *signed_image = SignedImage();
  if (!ParseImage(image, &signed_image->layout, error) ||
      !LocateTable(image, signed_image->layout, signed_image, error))
    return false;
  const uint8_t* table = image.data() + signed_image->table_offset;
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
  std::vector<uint8_t> view(RoundUp(image.size(), kStubPageSize), 0);
  std::copy(image.begin(), image.end(), view.begin());
  StubTagReading reading;
  size_t length = 0;
  reading.result = FindTagText(view.data(), view.size(), &reading.text_offset, &length);
  if (reading.result != TagScanResult::kFound)
    return reading;
  size_t usable = 0;
  reading.result = CheckTagText(view.data() + reading.text_offset, length, &usable);
  if (reading.result == TagScanResult::kFound)
    reading.text.assign(view.begin() + reading.text_offset,
                        view.begin() + reading.text_offset + usable);
  return reading;
}

bool CheckStubReadsBlock(const std::vector<uint8_t>& image,
                         size_t block_offset,
                         const std::string& text,
                         std::string* error) {
  StubTagReading reading = ReadTagAsStub(image);
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

}  // namespace orvia
