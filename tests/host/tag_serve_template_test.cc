// The served template: the checksum updated from the block's difference
// equals a full recomputation, and a copy put together from the template's
// pieces is the image that tagging the signed installer gives.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "core/tag/tag_scan.h"
#include "tests/support/tag_test_support.h"
#include "tools/pe/pe_image.h"
#include "tools/tag/serve_template.h"
#include "tools/tag/tag_image.h"

namespace orvia {
namespace {

using test_support::Bytes;
using test_support::SignedFixture;

constexpr size_t kChecksumOffset = 64;

Bytes RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  Bytes bytes(size);
  for (uint8_t& byte : bytes)
    byte = static_cast<uint8_t>(generator());
  return bytes;
}

TEST(TagServeTemplateTest, ChecksumUpdateEqualsFullRecomputation) {
  Bytes sparse(4096, 0);
  sparse[0] = 1;  // the one non-zero word outside the change, like "MZ"
  const struct {
    const char* name;
    Bytes file;
    size_t offset;
    Bytes after;
  } cases[] = {
      {"even offset", RandomBytes(4096, 1), 1000, RandomBytes(100, 2)},
      {"odd offset", RandomBytes(4096, 3), 1001, RandomBytes(101, 4)},
      {"odd file length, last byte changed", RandomBytes(4095, 5), 4000, RandomBytes(95, 6)},
      {"a block-sized change", RandomBytes(20000, 7), 9001, RandomBytes(kTagBlockSize, 8)},
      // The word sum reaches 0xFFFF, which folding keeps apart from 0.
      {"sum becomes 0xFFFF", sparse, 100, Bytes{0xFE, 0xFF}},
      {"all ones", Bytes(4096, 0xFF), 2000, Bytes(50, 0x00)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_LE(c.offset + c.after.size(), c.file.size());
    Bytes changed = c.file;
    std::copy(c.after.begin(), c.after.end(), changed.begin() + c.offset);
    uint32_t before = ComputePeChecksum(c.file.data(), c.file.size(), kChecksumOffset);
    uint32_t expected = ComputePeChecksum(changed.data(), changed.size(), kChecksumOffset);
    EXPECT_EQ(AdjustPeChecksum(before, static_cast<uint32_t>(c.file.size()), c.offset,
                               c.file.data() + c.offset, c.after.data(), c.after.size()),
              expected);
    // And back again.
    EXPECT_EQ(AdjustPeChecksum(expected, static_cast<uint32_t>(c.file.size()), c.offset,
                               c.after.data(), c.file.data() + c.offset, c.after.size()),
              before);
  }
}

class TagServeTemplateFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(fixture_.Create(&error)) << error;
    signed_copy_ = test_support::ReadBytes(fixture_.signed_path());
    ASSERT_TRUE(tagged_.Prepare(fixture_.signed_path(), fixture_.dir().path(), &error)) << error;
    file_.resize(tagged_.size());
    ASSERT_EQ(pread(tagged_.fd(), file_.data(), file_.size(), 0),
              static_cast<ssize_t>(file_.size()));
  }

  // What tagging the signed installer with `text` gives.
  Bytes TaggedImage(const std::string& text) {
    SignedImage signed_image;
    CertificateTable table;
    std::string error;
    EXPECT_TRUE(ReadSignedImage(signed_copy_, &signed_image, &error)) << error;
    EXPECT_TRUE(ComposeTaggedTable(signed_image, text, &table, &error)) << error;
    return AssembleImage(signed_copy_, signed_image, table.bytes);
  }

  // Bytes [first, last] of the copy for `patch`, from the pieces alone.
  Bytes FromPieces(const TagPatch& patch, uint64_t first, uint64_t last) {
    Bytes out;
    uint64_t expected_offset = first;
    for (const CopyPiece& piece : tagged_.Pieces(patch, first, last)) {
      EXPECT_EQ(piece.offset, expected_offset) << "a gap or an overlap between pieces";
      const uint8_t* bytes = piece.source == CopyPiece::Source::kFile
                                 ? file_.data() + piece.offset
                                 : tagged_.PatchBytes(patch, piece);
      out.insert(out.end(), bytes, bytes + piece.length);
      expected_offset += piece.length;
    }
    return out;
  }

  SignedFixture fixture_;
  Bytes signed_copy_;
  TagTemplate tagged_;
  Bytes file_;
};

TEST_F(TagServeTemplateFileTest, CopiesAreTheTaggedImages) {
  const std::string texts[] = {"x", "appguid={8A69D345-D564-463C-AFF1-A69D9E530F96}&lang=de",
                               std::string(kTagTextCapacity, '~')};
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.substr(0, 30));
    Bytes expected = TaggedImage(text);
    ASSERT_EQ(expected.size(), tagged_.size());
    EXPECT_TRUE(FromPieces(tagged_.Patch(text), 0, tagged_.size() - 1) == expected);
  }
}

TEST_F(TagServeTemplateFileTest, RangesCutThePiecesExactly) {
  const std::string text = "brand=ORVA";
  const Bytes whole = TaggedImage(text);
  const TagPatch patch = tagged_.Patch(text);
  const uint64_t checksum = tagged_.checksum_offset();
  const uint64_t block = tagged_.block_offset();
  const uint64_t end = tagged_.size() - 1;
  const struct {
    const char* name;
    uint64_t first;
    uint64_t last;
  } ranges[] = {
      {"first byte", 0, 0},
      {"inside the checksum", checksum + 1, checksum + 2},
      {"across the checksum", checksum - 3, checksum + 5},
      {"last byte before the block", block - 1, block - 1},
      {"across the block's end", block + kTagBlockSize - 2, block + kTagBlockSize + 1},
      {"the block alone", block, block + kTagBlockSize - 1},
      // The text ends and the shared zero bytes begin.
      {"across the text's end", block + kTagHeaderSize + text.size() - 2,
       block + kTagHeaderSize + text.size() + 1},
      {"last byte", end, end},
  };
  for (const auto& r : ranges) {
    SCOPED_TRACE(r.name);
    Bytes expected(whole.begin() + r.first, whole.begin() + r.last + 1);
    EXPECT_TRUE(FromPieces(patch, r.first, r.last) == expected);
  }
}

// The template has no name that could outlive the server.
TEST_F(TagServeTemplateFileTest, TemplateFileIsUnlinked) {
  std::error_code ec;
  std::string target =
      std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(tagged_.fd()), ec).string();
  ASSERT_FALSE(ec) << ec.message();
  EXPECT_NE(target.find("(deleted)"), std::string::npos) << target;
  for (const std::string& name : test_support::Entries(fixture_.dir().path()))
    EXPECT_EQ(name.find("orvia-serve-"), std::string::npos) << name;
}

}  // namespace
}  // namespace orvia
