// Payload encoding read back the way the stub reads it, and the checks of
// the tool's own decoder (used by --list) on damaged payloads.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" {
#include "LzmaDec.h"
}

#include "core/payload/payload_decode.h"
#include "core/payload/payload_format.h"
#include "tests/support/malloc_alloc.h"
#include "tests/support/tool_test_support.h"
#include "tools/pack/bcj2_encoder.h"
#include "tools/pack/lzma_alone.h"
#include "tools/pack/payload.h"
#include "tools/pack/tar_writer.h"

namespace orvia {
namespace {

using Bytes = std::vector<uint8_t>;

// What the LZMA layer of a payload says about how the encoder ended it.
struct LzmaEnding {
  SRes result = SZ_ERROR_FAIL;
  ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
  size_t produced = 0;
  size_t consumed = 0;
};

LzmaEnding ReadLzmaEnding(const Bytes& payload) {
  LzmaEnding e;
  if (payload.size() < kLzmaAloneHeaderSize)
    return e;
  Bytes block(ReadLe32(payload.data() + kLzmaUnpackedSizeOffset));
  SizeT out_len = block.size();
  SizeT in_len = payload.size() - kLzmaAloneHeaderSize;
  e.result = LzmaDecode(block.data(), &out_len, payload.data() + kLzmaAloneHeaderSize, &in_len,
                        payload.data(), LZMA_PROPS_SIZE, LZMA_FINISH_END, &e.status, MallocAlloc());
  e.produced = out_len;
  e.consumed = in_len;
  return e;
}

// The stub's decoder, from the core.
struct StubDecode {
  PayloadDecodeResult result = PayloadDecodeResult::kTooShort;
  Bytes tarball;
};

bool Keep(void* context, const uint8_t* tarball, uint32_t size) {
  static_cast<Bytes*>(context)->assign(tarball, tarball + size);
  return true;
}

StubDecode DecodeLikeTheStub(const Bytes& payload) {
  StubDecode d;
  d.result =
      DecodePayloadBuffer(payload.data(), static_cast<uint32_t>(payload.size()), Keep, &d.tarball);
  return d;
}

Bytes SampleTarball() {
  TarWriter writer;
  std::string error;
  // Real code, kept short: every case compresses it once.
  Bytes code = test_support::ReadBytes("/usr/lib/i386-linux-gnu/wine/i386-windows/cabarc.exe");
  EXPECT_GT(code.size(), 64u << 10);
  code.resize(64u << 10);
  EXPECT_TRUE(writer.AddMember("cabarc.exe", code.data(), code.size(), &error)) << error;
  const std::string text = "companion file\n";
  EXPECT_TRUE(writer.AddMember("readme.txt", reinterpret_cast<const uint8_t*>(text.data()),
                               text.size(), &error));
  return writer.Finish();
}

TEST(PayloadTest, StubDecodesEveryOptionSetBackToTheTarball) {
  struct Case {
    const char* label;
    LzmaOptions options;
    uint32_t stored_dict;  // what the header says: the size rounded to 2^n or 3*2^n
  };
  const Case cases[] = {
      {"defaults", {}, 8u << 20},
      {"lc 0 lp 2 pb 0", {0, 2, 0, 8u << 20, 5}, 8u << 20},
      {"lc 8 lp 4 pb 4", {8, 4, 4, 1u << 16, 5}, 1u << 16},
      {"smallest dictionary", {3, 0, 2, 4096, 5}, 4096},
      {"dictionary rounded up", {3, 0, 2, 5u << 20, 5}, 6u << 20},
      {"level 0", {3, 0, 2, 1u << 20, 0}, 1u << 20},
      {"level 9", {3, 0, 2, 1u << 20, 9}, 1u << 20},
  };
  const Bytes tarball = SampleTarball();
  const Bytes block = BuildBcj2Block(tarball.data(), tarball.size());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Bytes payload;
    std::string error;
    uint64_t last_progress = 0;
    bool progress_ordered = true;
    LzmaProgress progress = [&](uint64_t consumed) {
      progress_ordered = progress_ordered && consumed >= last_progress && consumed <= block.size();
      last_progress = consumed;
    };
    ASSERT_TRUE(EncodePayload(tarball, c.options, progress, &payload, &error)) << error;
    EXPECT_TRUE(progress_ordered);

    ASSERT_GE(payload.size(), 13u);
    EXPECT_EQ(payload[0], c.options.lc + 9 * (c.options.lp + 5 * c.options.pb));
    EXPECT_EQ(ReadLe32(payload.data() + 1), c.stored_dict);
    EXPECT_EQ(ReadLe32(payload.data() + 5), block.size());
    EXPECT_EQ(ReadLe32(payload.data() + 9), 0u);

    LzmaEnding e = ReadLzmaEnding(payload);
    EXPECT_EQ(e.result, SZ_OK);
    // No end marker, every input byte used, exactly the stored size made.
    EXPECT_EQ(e.status, LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK);
    EXPECT_EQ(e.consumed, payload.size() - 13);
    EXPECT_EQ(e.produced, block.size());
    StubDecode d = DecodeLikeTheStub(payload);
    EXPECT_EQ(d.result, PayloadDecodeResult::kDecoded);
    EXPECT_TRUE(d.tarball == tarball);
  }
}

TEST(PayloadTest, EmptyTarballRoundTrips) {
  Bytes payload;
  std::string error;
  ASSERT_TRUE(EncodePayload({}, LzmaOptions(), {}, &payload, &error)) << error;
  StubDecode d = DecodeLikeTheStub(payload);
  EXPECT_EQ(d.result, PayloadDecodeResult::kDecoded);
  EXPECT_TRUE(d.tarball.empty());
}

TEST(PayloadTest, RefusesBadOptions) {
  struct Case {
    LzmaOptions options;
    const char* reason;
  };
  const Case cases[] = {
      {{9, 0, 2, 8u << 20, 5}, "lc must be 0 to 8"},
      {{3, 5, 2, 8u << 20, 5}, "lp must be 0 to 4"},
      {{3, 0, 5, 8u << 20, 5}, "pb must be 0 to 4"},
      {{3, 0, 2, 4095, 5}, "dictionary size must be 4 KiB to 128 MiB"},
      {{3, 0, 2, (128u << 20) + 1, 5}, "dictionary size must be 4 KiB to 128 MiB"},
      {{3, 0, 2, 8u << 20, 10}, "level must be 0 to 9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    Bytes payload;
    std::string error;
    Bytes data(100, 1);
    EXPECT_FALSE(EncodeLzmaAlone(data.data(), data.size(), c.options, {}, &payload, &error));
    EXPECT_EQ(error, c.reason);
  }
}

// A payload around a hand-made block, for damaging the block's header.
Bytes PayloadAround(const Bytes& block) {
  Bytes payload;
  std::string error;
  LzmaOptions small_dictionary;
  small_dictionary.dict_size = 1u << 16;
  EXPECT_TRUE(EncodeLzmaAlone(block.data(), block.size(), small_dictionary, {}, &payload, &error));
  return payload;
}

// --list decodes with the stub's decoder: it refuses what the stub refuses,
// with the decoder's reason, and reads what the stub reads.
TEST(PayloadTest, DecoderRefusesDamagedPayloads) {
  const Bytes tarball = SampleTarball();
  const Bytes block = BuildBcj2Block(tarball.data(), tarball.size());
  const Bytes good = PayloadAround(block);
  auto patched = [](Bytes data, size_t at, uint8_t value) {
    data[at] = value;
    return data;
  };
  auto with_field = [&](int field, uint32_t value) {
    Bytes b = block;
    for (int i = 0; i < 4; ++i)
      b[4 * field + i] = static_cast<uint8_t>(value >> (8 * i));
    return PayloadAround(b);
  };
  uint32_t main_size = ReadLe32(block.data() + 4);
  Bytes longer = good;
  longer.push_back(0);
  struct Case {
    const char* label;
    Bytes payload;
    const char* reason;
  };
  const Case cases[] = {
      {"12 bytes", Bytes(good.begin(), good.begin() + 12), "shorter than its 13-byte"},
      {"properties 225", patched(good, 0, 225), "properties byte of 225 or more"},
      // One byte short, the LZMA layer may or may not see a finished stream
      // (that hangs on the last bits); if it does, the block lacks a byte.
      {"size one byte short", patched(good, 5, static_cast<uint8_t>(good[5] - 1)),
       "LZMA data damaged|run past the decoded block"},
      {"size one byte long", patched(good, 5, static_cast<uint8_t>(good[5] + 1)),
       "shorter than its declared size"},
      {"data cut short", Bytes(good.begin(), good.end() - 1), "LZMA data damaged"},
      {"block of 19 bytes", PayloadAround(Bytes(19, 0)), "too small for the BCJ2 header"},
      {"streams past the block", with_field(1, main_size + 1), "run past the decoded block"},
      {"stream sum wrapping 32 bits", with_field(4, 0xFFFFFFF0u), "run past the decoded block"},
      {"output beyond the streams", with_field(0, static_cast<uint32_t>(tarball.size() + 1)),
       "branch converter failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Bytes out;
    Bcj2Header header;
    std::string error;
    EXPECT_FALSE(DecodePayload(c.payload.data(), c.payload.size(), &out, &header, &error));
    // `reason` may list alternatives, separated by '|'.
    bool matched = false;
    std::string reasons = c.reason;
    for (size_t start = 0; start <= reasons.size();) {
      size_t bar = reasons.find('|', start);
      if (bar == std::string::npos)
        bar = reasons.size();
      matched = matched || error.find(reasons.substr(start, bar - start)) != std::string::npos;
      start = bar + 1;
    }
    EXPECT_TRUE(matched) << error;
  }
  // The stub reads only the low half of the size, and stops at that size.
  for (const Bytes& runs : {good, patched(good, 9, 1), longer}) {
    Bytes out;
    Bcj2Header header;
    std::string error;
    ASSERT_TRUE(DecodePayload(runs.data(), runs.size(), &out, &header, &error)) << error;
    EXPECT_TRUE(out == tarball);
    EXPECT_EQ(header.output_size, tarball.size());
  }
}

}  // namespace
}  // namespace orvia
