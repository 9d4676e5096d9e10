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
// The same on `size` bytes at `image`; only the headers and the table are read.
bool ReadSignedImage(const uint8_t* image,
                     size_t size,
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

// How many bytes the stub's view of a file of `file_size` bytes spans: the
// file zero filled to whole 4,096-byte pages.
size_t StubViewSize(uint64_t file_size);

// Scans a view that is already as the stub maps it (StubViewSize bytes).
StubTagReading ReadTagFromStubView(const uint8_t* view, size_t view_size);

// Checks that the stub reads exactly `text` from the block at `block_offset`
// of `image`, and says why not otherwise.
bool CheckStubReadsBlock(const std::vector<uint8_t>& image,
                         size_t block_offset,
                         const std::string& text,
                         std::string* error);
// The same on a view as the stub maps it (see ReadTagFromStubView).
bool CheckStubReadsBlockInView(const uint8_t* view,
                               size_t view_size,
                               size_t block_offset,
                               const std::string& text,
                               std::string* error);

// The PE checksum taken in pieces: each piece's bytes at their file offsets
// (an even offset is a word's low byte, an odd one its high byte), summed
// exactly so that a whole file can be streamed through in any slices. The
// checksum field itself must be given as zeros, or left out, to match
// ComputePeChecksum.
class PeWordSum {
 public:
  void Add(const uint8_t* bytes, size_t size, uint64_t offset);
  // Takes in another piece's sum.
  void Add(const PeWordSum& other) { total_ += other.total_; }
  // The sum folded to 16 bits with end-around carry, plus the file size.
  uint32_t Checksum(uint64_t file_size) const;

 private:
  uint64_t total_ = 0;
};

// One write into a file.
struct FileWrite {
  size_t offset = 0;
  std::vector<uint8_t> bytes;
};

// The writes that retag a tagged file in place, given its table
// (`old_table`, signed_image.table_size bytes at signed_image.table_offset),
// the new table and the new image's checksum. Returns false, with the reason,
// when the new image would differ from the old elsewhere than in the block
// and the checksum, or when the steps could let the stub read a tag that is
// neither the old nor the new one; the caller then writes the file whole.
bool PlanRetagInPlace(const SignedImage& signed_image,
                      const uint8_t* old_table,
                      const CertificateTable& table,
                      uint32_t checksum,
                      std::vector<FileWrite>* writes,
                      std::string* why_not);

}  // namespace orvia

#endif  // ORVIA_TOOLS_TAG_TAG_IMAGE_H_
