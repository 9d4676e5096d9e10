// The certificate table of a signed 32-bit image, and the table and image
// that carry a tag block (or none) around the signer's signature unchanged.
//
// An output image is the input's bytes up to its table, with the security
// directory size and the checksum updated, followed by the new table. The
// block's place in it does not depend on the text, so a tagged image can be
// retagged by overwriting the block and the checksum alone.
#ifndef ORVIA_TOOLS_TAG_TAG_IMAGE_H_
#define ORVIA_TOOLS_TAG_TAG_IMAGE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/tag/tag_scan.h"
#include "tools/pe/pe_image.h"

namespace orvia {

// One WIN_CERTIFICATE header: dwLength, wRevision, wCertificateType.
constexpr size_t kWinCertificateHeaderSize = 8;
constexpr uint16_t kWinCertificateRevision = 0x0200;
constexpr uint16_t kWinCertificatePkcsSignedData = 0x0002;

// A signed image whose table can be rewritten without touching the
// signature: one PKCS#7 entry, zero padded, last in the file, re-encoding
// to its own bytes.
struct SignedImage {
  PeLayout layout;
  uint32_t table_offset = 0;           // a multiple of 8
  uint32_t table_size = 0;             // the table ends at the end of the file
  std::vector<uint8_t> signature_der;  // the PKCS#7 SignedData, without padding
  size_t tag_certificates = 0;         // how many certificates carry a block
};

// Checks `image` and reads its table; false with a one-line reason.
bool ReadSignedImage(const std::vector<uint8_t>& image,
                     SignedImage* signed_image,
                     std::string* error);

// Whether `text` can go into a block that the stub hands on whole: not empty,
// at most kTagTextCapacity bytes, without a double quote or a NUL byte.
bool CheckTagTextForBlock(const std::string& text, std::string* error);

struct CertificateTable {
  std::vector<uint8_t> bytes;  // one WIN_CERTIFICATE, zero padded to a multiple of 8
  size_t block_offset = 0;     // file offset of the block in the output; 0 without one
};

// The signer's signature with a tag certificate for `text` in place of any
// it had (or after its certificates).
bool ComposeTaggedTable(const SignedImage& signed_image,
                        const std::string& text,
                        CertificateTable* table,
                        std::string* error);

// The signer's signature without tag certificates.
bool ComposeUntaggedTable(const SignedImage& signed_image,
                          CertificateTable* table,
                          std::string* error);

// `image` up to its table, the directory size and checksum set for `table`,
// then `table`.
std::vector<uint8_t> AssembleImage(const std::vector<uint8_t>& image,
                                   const SignedImage& signed_image,
                                   const std::vector<uint8_t>& table);

// What the stub's scan makes of a file: the scan result, the file offset of
// the found block's text (kFound and kDoubleQuote only; else 0), and on
// kFound the text that the setup program receives.
struct StubTagReading {
  TagScanResult result = TagScanResult::kNoMagic;
  size_t text_offset = 0;
  std::string text;
};

// Scans `image` as the stub maps it: zero filled to whole 4,096-byte pages.
StubTagReading ReadTagAsStub(const std::vector<uint8_t>& image);

// Checks that the stub reads exactly `text` from the block at `block_offset`
// of `image`, and says why not otherwise.
bool CheckStubReadsBlock(const std::vector<uint8_t>& image,
                         size_t block_offset,
                         const std::string& text,
                         std::string* error);

}  // namespace orvia

#endif  // ORVIA_TOOLS_TAG_TAG_IMAGE_H_
