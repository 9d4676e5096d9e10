// The tagged template that `orvia-tag serve` sends copies of. The installer
// is tagged once, as `orvia-tag set` tags it, into a private file; a copy for
// another tag differs from it only in the block and the PE checksum, so a
// response is the file's bytes with those two small pieces put in.
#ifndef ORVIA_TOOLS_TAG_SERVE_TEMPLATE_H_
#define ORVIA_TOOLS_TAG_SERVE_TEMPLATE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/scoped_fd.h"

namespace orvia {

// The PE checksum of a file whose `size` bytes at file offset `offset` change
// from `before` to `after`, from the checksum it had. The checksum is a
// one's-complement sum of little-endian words plus the file length, so only
// the changed words matter. The range must not cover the checksum field, and
// the file's words outside it must not all be zero (a PE image starts "MZ").
uint32_t AdjustPeChecksum(uint32_t checksum,
                          uint32_t file_size,
                          uint64_t offset,
                          const uint8_t* before,
                          const uint8_t* after,
                          size_t size);

// What a copy holds in place of the template's bytes: the checksum, and the
// block's magic, length and text; the rest of the block is zero bytes, which
// all copies share, so a request holds no more than its tag.
struct TagPatch {
  std::array<uint8_t, 4> checksum{};
  std::vector<uint8_t> block_head;
};

// A run of a copy's bytes: from the template file, the patch, or zeros.
struct CopyPiece {
  enum class Source { kFile, kChecksum, kBlockHead, kZeros };
  Source source = Source::kFile;
  uint64_t offset = 0;  // in the copy, which is also the offset in the template
  uint64_t length = 0;
};

class TagTemplate {
 public:
  TagTemplate() = default;
  TagTemplate(const TagTemplate&) = delete;
  TagTemplate& operator=(const TagTemplate&) = delete;

  // Reads and checks the signed installer, tags it with a placeholder into an
  // unlinked file under `temp_dir`; false with a one-line reason.
  bool Prepare(const std::string& installer, const std::string& temp_dir, std::string* error);

  // The block and checksum of the copy tagged `text`, which must have passed
  // CheckTagTextForBlock.
  TagPatch Patch(const std::string& text) const;

  // The pieces that make bytes [first, last] of the copy for `patch`, in
  // order.
  std::vector<CopyPiece> Pieces(const TagPatch& patch, uint64_t first, uint64_t last) const;

  // The first byte of a piece whose source is not the file.
  const uint8_t* PatchBytes(const TagPatch& patch, const CopyPiece& piece) const;

  int fd() const { return fd_.get(); }
  uint64_t size() const { return size_; }
  uint64_t block_offset() const { return block_offset_; }
  uint64_t checksum_offset() const { return checksum_offset_; }
  // SHA-256 of the template's bytes, raw.
  const std::string& digest() const { return digest_; }

 private:
  ScopedFd fd_;
  uint64_t size_ = 0;
  uint64_t block_offset_ = 0;
  uint64_t checksum_offset_ = 0;
  uint32_t checksum_ = 0;
  std::vector<uint8_t> block_;  // the placeholder's block, as the file holds it
  std::string digest_;
};

}  // namespace orvia

#endif  // ORVIA_TOOLS_TAG_SERVE_TEMPLATE_H_
