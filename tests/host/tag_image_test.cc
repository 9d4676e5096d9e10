// The tag library as a download server uses it: the block's place and the
// bytes around it do not depend on the text, so overwriting the block and the
// checksum of a tagged copy gives exactly what tagging the signed copy gives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/tag/tag_scan.h"
#include "tests/support/tag_test_support.h"
#include "tools/tag/tag_image.h"

namespace orvia {
namespace {

using test_support::Bytes;
using test_support::SignedFixture;

// The block written out by hand: magic, big-endian length, text, zeros.
Bytes ExpectedBlock(const std::string& text) {
  Bytes block(kTagMagic, kTagMagic + kTagMagicSize);
  block.push_back(static_cast<uint8_t>(text.size() >> 8));
  block.push_back(static_cast<uint8_t>(text.size()));
  block.insert(block.end(), text.begin(), text.end());
  block.resize(kTagBlockSize, 0);
  return block;
}

struct Tagged {
  Bytes image;
  size_t block_offset = 0;
};

Tagged TagImage(const Bytes& signed_copy, const std::string& text) {
  SignedImage signed_image;
  CertificateTable table;
  std::string error;
  Tagged tagged;
  EXPECT_TRUE(ReadSignedImage(signed_copy, &signed_image, &error)) << error;
  EXPECT_TRUE(ComposeTaggedTable(signed_image, text, &table, &error)) << error;
  tagged.image = AssembleImage(signed_copy, signed_image, table.bytes);
  tagged.block_offset = table.block_offset;
  return tagged;
}

TEST(TagImageTest, OverwritingTheBlockEqualsTaggingAgain) {
  SignedFixture fixture;
  std::string error;
  ASSERT_TRUE(fixture.Create(&error)) << error;
  const Bytes signed_copy = test_support::ReadBytes(fixture.signed_path());

  const Tagged first = TagImage(signed_copy, "a");
  ASSERT_LE(first.block_offset + kTagBlockSize, first.image.size());
  PeLayout layout;
  ASSERT_TRUE(ParsePe32(first.image.data(), first.image.size(), &layout, &error)) << error;

  const std::string texts[] = {"a", "brand=ORVA&lang=fr", std::string(kTagTextCapacity, 'z')};
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.substr(0, 20));
    Tagged tagged = TagImage(signed_copy, text);
    ASSERT_EQ(tagged.image.size(), first.image.size());
    EXPECT_EQ(tagged.block_offset, first.block_offset);
    Bytes block(tagged.image.begin() + tagged.block_offset,
                tagged.image.begin() + tagged.block_offset + kTagBlockSize);
    EXPECT_TRUE(block == ExpectedBlock(text));

    Bytes rewritten = first.image;
    Bytes expected = ExpectedBlock(text);
    std::copy(expected.begin(), expected.end(), rewritten.begin() + first.block_offset);
    UpdatePeChecksum(layout, &rewritten);
    std::vector<size_t> differ;
    for (size_t i = 0; i < rewritten.size(); ++i) {
      if (rewritten[i] != tagged.image[i])
        differ.push_back(i);
    }
    EXPECT_EQ(differ, std::vector<size_t>());
  }
}

}  // namespace
}  // namespace orvia
