#include "tools/tag/serve_template.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/common/byte_order.h"
#include "core/tag/tag_scan.h"
#include "tools/common/file_util.h"
#include "tools/tag/tag_certificate.h"
#include "tools/tag/tag_image.h"

namespace orvia {
namespace {

// A PE image's offsets are 32-bit; nothing larger can be one.
constexpr uint64_t kMaxImageSize = UINT32_MAX;
// Any valid text does: every copy overwrites it.
constexpr char kPlaceholderText[] = "orvia-tag-serve-template";
constexpr uint32_t kOnesComplementModulus = 0xFFFF;
// The block's tail after the text, the same for every copy.
const std::array<uint8_t, kTagBlockSize> kZeroBytes{};

// The sum, modulo 0xFFFF, that `size` bytes at file offset `offset` add to
// the checksum's word sum: a byte at an odd offset is a word's high byte.
uint32_t WordSumResidue(const uint8_t* bytes, size_t size, uint64_t offset) {
  uint64_t sum = 0;
  for (size_t i = 0; i < size; ++i)
    sum += ((offset + i) % 2 == 0) ? bytes[i] : static_cast<uint32_t>(bytes[i]) << 8;
  return static_cast<uint32_t>(sum % kOnesComplementModulus);
}

bool WriteAll(int fd, const uint8_t* data, size_t size, std::string* error) {
  while (size > 0) {
    ssize_t wrote = write(fd, data, size);
    if (wrote < 0 && errno == EINTR)
      continue;
    if (wrote <= 0) {
      *error = std::string("cannot write the template: ") + std::strerror(errno);
      return false;
    }
    data += wrote;
    size -= static_cast<size_t>(wrote);
  }
  return true;
}

}  // namespace

uint32_t AdjustPeChecksum(uint32_t checksum,
                          uint32_t file_size,
                          uint64_t offset,
                          const uint8_t* before,
                          const uint8_t* after,
                          size_t size) {
  // The folded sum lies in 1..0xFFFF for a file with a non-zero word; 0xFFFF
  // and 0 are the same residue, and folding never yields 0 for such a file.
  uint32_t residue = (checksum - file_size) % kOnesComplementModulus;
  residue = (residue + kOnesComplementModulus - WordSumResidue(before, size, offset) +
             WordSumResidue(after, size, offset)) %
            kOnesComplementModulus;
  uint32_t folded = residue == 0 ? kOnesComplementModulus : residue;
  return folded + file_size;
}

bool TagTemplate::Prepare(const std::string& installer,
                          const std::string& temp_dir,
                          std::string* error) {
  // The same steps as `orvia-tag set`, so that every copy is what it writes.
  std::vector<uint8_t> image;
  SignedImage signed_image;
  CertificateTable table;
  const std::string text = kPlaceholderText;
  if (!ReadWholeFileLimited(installer, kMaxImageSize, &image, error) ||
      !ReadSignedImage(image, &signed_image, error) || !CheckTagTextForBlock(text, error) ||
      !ComposeTaggedTable(signed_image, text, &table, error))
    return false;
  std::vector<uint8_t> tagged = AssembleImage(image, signed_image, table.bytes);
  image = std::vector<uint8_t>();
  if (!CheckStubReadsBlock(tagged, table.block_offset, text, error))
    return false;

  size_ = tagged.size();
  block_offset_ = table.block_offset;
  checksum_offset_ = signed_image.layout.ChecksumOffset();
  checksum_ = ReadLe32(tagged.data() + checksum_offset_);
  block_.assign(tagged.begin() + block_offset_, tagged.begin() + block_offset_ + kTagBlockSize);
  if (block_ != MakeTagBlock(text)) {
    *error = "the tagged template does not hold its block where the table says";
    return false;
  }

  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digest_size = 0;
  if (!EVP_Digest(tagged.data(), tagged.size(), digest, &digest_size, EVP_sha256(), nullptr)) {
    *error = "cannot hash the template";
    return false;
  }
  digest_.assign(reinterpret_cast<const char*>(digest), digest_size);

  // Unlinked at once: the open descriptor is the file's only name, so it
  // goes away with the server however the server ends.
  std::string path = (temp_dir.empty() ? std::string("/tmp") : temp_dir) + "/orvia-serve-XXXXXX";
  int fd = mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot create a template file in " + temp_dir + ": " + std::strerror(errno);
    return false;
  }
  unlink(path.c_str());
  fd_.reset(fd);
  return WriteAll(fd_.get(), tagged.data(), tagged.size(), error);
}

TagPatch TagTemplate::Patch(const std::string& text) const {
  TagPatch patch;
  std::vector<uint8_t> block = MakeTagBlock(text);
  uint32_t checksum = AdjustPeChecksum(checksum_, static_cast<uint32_t>(size_), block_offset_,
                                       block_.data(), block.data(), kTagBlockSize);
  WriteLe32(patch.checksum.data(), checksum);
  patch.block_head.assign(block.begin(), block.begin() + kTagHeaderSize + text.size());
  return patch;
}

std::vector<CopyPiece> TagTemplate::Pieces(const TagPatch& patch,
                                           uint64_t first,
                                           uint64_t last) const {
  using Source = CopyPiece::Source;
  const uint64_t head = patch.block_head.size();
  const uint64_t block_end = block_offset_ + kTagBlockSize;
  // The checksum field lies in the headers, the block in the table at the end.
  const CopyPiece whole[] = {
      {Source::kFile, 0, checksum_offset_},
      {Source::kChecksum, checksum_offset_, 4},
      {Source::kFile, checksum_offset_ + 4, block_offset_ - checksum_offset_ - 4},
      {Source::kBlockHead, block_offset_, head},
      {Source::kZeros, block_offset_ + head, kTagBlockSize - head},
      {Source::kFile, block_end, size_ - block_end},
  };
  std::vector<CopyPiece> pieces;
  for (const CopyPiece& piece : whole) {
    uint64_t begin = std::max(piece.offset, first);
    uint64_t end = std::min(piece.offset + piece.length, last + 1);
    if (begin < end)
      pieces.push_back({piece.source, begin, end - begin});
  }
  return pieces;
}

const uint8_t* TagTemplate::PatchBytes(const TagPatch& patch, const CopyPiece& piece) const {
  switch (piece.source) {
    case CopyPiece::Source::kChecksum:
      return patch.checksum.data() + (piece.offset - checksum_offset_);
    case CopyPiece::Source::kBlockHead:
      return patch.block_head.data() + (piece.offset - block_offset_);
    default:
      return kZeroBytes.data();
  }
}

}  // namespace orvia
