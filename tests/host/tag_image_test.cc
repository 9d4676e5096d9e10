// The tag library as a download server uses it: the block's place and the
// bytes around it do not depend on the text, so overwriting the block and the
// checksum of a tagged copy gives exactly what tagging the signed copy gives.
#include <gtest/gtest.h>

#include <random>
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

// The sum taken in slices at any offsets equals ComputePeChecksum over the
// whole file, whatever the parity of the file size, the slices and the
// checksum field.
TEST(PeWordSumTest, SlicedSumEqualsTheWholeFileChecksum) {
  struct Case {
    const char* label;
    size_t size;
    size_t checksum_offset;
    std::vector<size_t> cuts;  // slice boundaries
  };
  const Case cases[] = {
      {"one slice", 1000, 216, {}},
      {"odd file size", 1001, 216, {}},
      {"slices at odd offsets", 300001, 88, {1, 7, 4099, 262145}},
      {"a slice of one byte", 65537, 88, {100, 101}},
      {"more than one batch of words", 2 * 32768 * 8 + 13, 216, {3, 32768 * 8 + 1}},
      {"checksum field cut by a slice", 4096, 216, {218}},
  };
  std::mt19937 random(7);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Bytes data(c.size);
    for (uint8_t& b : data)
      b = static_cast<uint8_t>(random());
    // All 0xFF words make the 0xFFFF-versus-0 end of the fold show.
    std::fill(data.begin() + c.size / 2, data.begin() + c.size / 2 + 64, 0xFF);
    Bytes zeroed = data;
    std::fill(zeroed.begin() + c.checksum_offset, zeroed.begin() + c.checksum_offset + 4, 0);
    std::vector<size_t> bounds = {0};
    bounds.insert(bounds.end(), c.cuts.begin(), c.cuts.end());
    bounds.push_back(c.size);
    PeWordSum sum;
    PeWordSum other;
    for (size_t i = 0; i + 1 < bounds.size(); ++i)
      (i % 2 == 0 ? sum : other)
          .Add(zeroed.data() + bounds[i], bounds[i + 1] - bounds[i], bounds[i]);
    sum.Add(other);
    EXPECT_EQ(sum.Checksum(c.size), ComputePeChecksum(data.data(), data.size(), c.checksum_offset));
  }
}

TEST(PeWordSumTest, AllZeroAndAllOnesWords) {
  const Bytes zeros(64, 0);
  const Bytes ones(64, 0xFF);
  for (const Bytes* data : {&zeros, &ones}) {
    PeWordSum sum;
    sum.Add(data->data(), data->size(), 0);
    // A checksum field past the data: every word counts.
    EXPECT_EQ(sum.Checksum(data->size()), ComputePeChecksum(data->data(), data->size(), 1000));
  }
}

// A tagged copy and the same copy tagged with another text, both as the full
// path makes them, and the writes that turn one into the other in place.
struct Retag {
  Bytes before;
  Bytes after;
  std::vector<FileWrite> writes;
  bool planned = false;
  std::string why_not;
};

Retag PlanRetag(const Bytes& signed_copy, const std::string& old_text, const std::string& text) {
  Retag retag;
  retag.before = TagImage(signed_copy, old_text).image;
  SignedImage signed_image;
  CertificateTable table;
  std::string error;
  EXPECT_TRUE(ReadSignedImage(retag.before, &signed_image, &error)) << error;
  EXPECT_TRUE(ComposeTaggedTable(signed_image, text, &table, &error)) << error;
  retag.after = AssembleImage(retag.before, signed_image, table.bytes);
  PeLayout layout;
  EXPECT_TRUE(ParsePe32(retag.after.data(), retag.after.size(), &layout, &error)) << error;
  retag.planned = PlanRetagInPlace(signed_image, retag.before.data() + signed_image.table_offset,
                                   table, ReadLe32(retag.after.data() + layout.ChecksumOffset()),
                                   &retag.writes, &retag.why_not);
  return retag;
}

// Every state a cut run can leave, each write stopped after any number of
// its bytes: the stub reads the old tag before the first write, the new one
// once the magic is back, and no tag in between; the last state is the file
// the full path writes.
TEST(RetagInPlaceTest, EveryCutLeavesTheOldTagTheNewTagOrNone) {
  SignedFixture fixture;
  std::string error;
  ASSERT_TRUE(fixture.Create(&error)) << error;
  const Bytes signed_copy = test_support::ReadBytes(fixture.signed_path());
  const std::string old_text = "brand=ORVA&lang=de";
  const std::string texts[] = {"s", "a tag that is clearly longer than the first one was",
                               std::string(kTagTextCapacity, 'z')};
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.substr(0, 20));
    Retag retag = PlanRetag(signed_copy, old_text, text);
    ASSERT_TRUE(retag.planned) << retag.why_not;
    Bytes file = retag.before;
    EXPECT_EQ(ReadTagAsStub(file).text, old_text);
    // The magic goes back with the fourth write.
    ASSERT_EQ(retag.writes.size(), 5u);
    for (size_t w = 0; w < retag.writes.size(); ++w) {
      const FileWrite& write = retag.writes[w];
      const size_t step = write.bytes.size() < 64 ? 1 : 61;
      for (size_t done = step; done <= write.bytes.size(); done += step) {
        Bytes cut = file;
        std::copy(write.bytes.begin(), write.bytes.begin() + done, cut.begin() + write.offset);
        StubTagReading reading = ReadTagAsStub(cut);
        if (w < 3) {
          EXPECT_NE(reading.result, TagScanResult::kFound) << "write " << w << ", " << done;
        } else {
          EXPECT_EQ(reading.result, TagScanResult::kFound) << "write " << w;
          EXPECT_EQ(reading.text, text) << "write " << w;
        }
      }
      std::copy(write.bytes.begin(), write.bytes.end(), file.begin() + write.offset);
    }
    EXPECT_TRUE(file == retag.after) << "the writes do not give what the full path writes";
  }
}

// Where the writes could let the stub read something else on the way, the
// tool must write the file whole instead.
TEST(RetagInPlaceTest, RefusedWhereACutRunCouldShowAnotherTag) {
  SignedFixture fixture;
  std::string error;
  ASSERT_TRUE(fixture.Create(&error)) << error;
  const Bytes signed_copy = test_support::ReadBytes(fixture.signed_path());
  const std::string magic(kTagMagic, kTagMagicSize);
  const std::string spoof = magic + "\x01\x01" + std::string(300, 'x');
  const struct {
    const char* label;
    std::string old_text;
    std::string text;
    std::string why_not;
  } cases[] = {
      {"the magic in the new text", "old", spoof, "the tag magic appears after the block's own"},
      {"the magic in the old text", spoof, "new", "the tag magic appears after the block's own"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Retag retag = PlanRetag(signed_copy, c.old_text, c.text);
    EXPECT_FALSE(retag.planned);
    EXPECT_EQ(retag.why_not, c.why_not);
    EXPECT_TRUE(retag.writes.empty());
  }
}

TEST(RetagInPlaceTest, RefusedForAnUntaggedCopy) {
  SignedFixture fixture;
  std::string error;
  ASSERT_TRUE(fixture.Create(&error)) << error;
  const Bytes signed_copy = test_support::ReadBytes(fixture.signed_path());
  SignedImage signed_image;
  CertificateTable table;
  ASSERT_TRUE(ReadSignedImage(signed_copy, &signed_image, &error)) << error;
  ASSERT_TRUE(ComposeTaggedTable(signed_image, "t", &table, &error)) << error;
  std::vector<FileWrite> writes;
  std::string why_not;
  EXPECT_FALSE(PlanRetagInPlace(signed_image, signed_copy.data() + signed_image.table_offset, table,
                                0, &writes, &why_not));
  EXPECT_EQ(why_not, "the file carries no tag block to overwrite");
  // Even when it is counted as tagged, the table grows by the certificate.
  signed_image.tag_certificates = 1;
  EXPECT_FALSE(PlanRetagInPlace(signed_image, signed_copy.data() + signed_image.table_offset, table,
                                0, &writes, &why_not));
  EXPECT_EQ(why_not, "the certificate table changes size");
}

}  // namespace
}  // namespace orvia
