// Decoding payloads made here: hand-made BCJ2 blocks inside LZMA-alone streams
// written by the SDK's encoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "LzmaEnc.h"
#include "core/payload/payload_decode.h"
#include "tests/support/malloc_alloc.h"

namespace orvia {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes Le32(uint32_t value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

Bytes Be32(uint32_t value) {
  return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
          static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

Bytes Put32(Bytes bytes, size_t offset, uint32_t value) {
  const Bytes le = Le32(value);
  std::copy(le.begin(), le.end(), bytes.begin() + offset);
  return bytes;
}

Bytes Cut(Bytes bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

struct Streams {
  Bytes main;
  Bytes call;
  Bytes jump;
  Bytes rc;
};

// The 20-byte header with the streams' own lengths, then the streams.
Bytes Bcj2Block(uint32_t output_size, const Streams& s) {
  auto size = [](const Bytes& b) { return static_cast<uint32_t>(b.size()); };
  return Join({Le32(output_size), Le32(size(s.main)), Le32(size(s.call)), Le32(size(s.jump)),
               Le32(size(s.rc)), s.main, s.call, s.jump, s.rc});
}

// Properties, dictionary size, the exact size in 64 bits, then the data
// without an end marker.
Bytes LzmaAlone(const Bytes& block, int lc = 3, int lp = 0, int pb = 2) {
  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  props.dictSize = 1 << 16;
  props.lc = lc;
  props.lp = lp;
  props.pb = pb;
  props.numThreads = 1;
  Bytes data(block.size() + block.size() / 2 + 256);
  SizeT data_size = data.size();
  Byte properties[LZMA_PROPS_SIZE];
  SizeT properties_size = sizeof(properties);
  const SRes result =
      LzmaEncode(data.data(), &data_size, block.data(), block.size(), &props, properties,
                 &properties_size, 0, nullptr, MallocAlloc(), MallocAlloc());
  if (result != SZ_OK || properties_size != LZMA_PROPS_SIZE)
    ADD_FAILURE() << "LzmaEncode failed: " << result;
  data.resize(data_size);
  return Join({Bytes(properties, properties + LZMA_PROPS_SIZE),
               Le32(static_cast<uint32_t>(block.size())), Le32(0), data});
}

struct Capture {
  bool accept = true;
  int calls = 0;
  Bytes tarball;
};

bool CaptureTarball(void* context, const uint8_t* tarball, uint32_t size) {
  Capture* capture = static_cast<Capture*>(context);
  ++capture->calls;
  capture->tarball.assign(tarball, tarball + size);
  return capture->accept;
}

struct DecodeCase {
  const char* name;
  Bytes payload;
  PayloadDecodeResult result;
  std::optional<Bytes> written;  // what the writer receives; none: never called
  bool writer_accepts = true;
};

TEST(PayloadDecodeTest, DecodesOrFailsWithoutReadingOutOfBounds) {
  // Text holds no E8, E9 or 0F 8x, so the converter only copies it through.
  std::string text;
  for (int i = 0; i < 12; ++i)
    text += "orvia tarball member " + std::to_string(i) + "\n";
  const Bytes main(text.begin(), text.end());
  const Bytes rc_zeros(5);
  const Bytes block = Bcj2Block(static_cast<uint32_t>(main.size()), {main, {}, {}, rc_zeros});
  const Bytes good = LzmaAlone(block);
  const uint32_t block_size = static_cast<uint32_t>(block.size());
  const uint32_t main_size = static_cast<uint32_t>(main.size());
  const Bytes widest = LzmaAlone(block, 8, 4, 4);
  ASSERT_EQ(widest[0], 224);  // lc 8 + 9 * (lp 4 + 5 * pb 4)

  // One converted call, then one converted jump: with these range-coder bytes
  // both flags decode as 1, so each opcode takes its absolute target from its
  // own stream and gets it back relative to the end of its operand.
  const Bytes branches = {0xE8, 0xE9};
  const Bytes rc_ones = {0x00, 0xFF, 0xFF, 0xFF, 0xFE};
  const Bytes converted = {0xE8, 0xFB, 0x0F, 0x00, 0x00,   // 0x1000 - 5
                           0xE9, 0xF6, 0x1F, 0x00, 0x00};  // 0x2000 - 10
  auto branch_payload = [&](const Bytes& call, const Bytes& jump) {
    return LzmaAlone(Bcj2Block(10, {branches, call, jump, rc_ones}));
  };

  // Claimed sizes whose 32-bit sum comes back round to exactly the block's
  // length: only a sum without wrap-around sees that they run past it.
  const Bytes short_block = Bcj2Block(8, {Bytes(28, 'w'), {}, {}, rc_zeros});
  const uint32_t main_claim = 0xFFFFFFF0;
  const uint32_t call_claim =
      static_cast<uint32_t>(short_block.size()) - 20 - 5 - main_claim;  // wraps on purpose
  const Bytes wrapping = Put32(Put32(short_block, 4, main_claim), 8, call_claim);

  using R = PayloadDecodeResult;
  const DecodeCase cases[] = {
      {"plain block", good, R::kDecoded, main},
      {"high half of the size ignored", Put32(good, 9, 0xFFFFFFFF), R::kDecoded, main},
      {"properties 224, the largest valid", widest, R::kDecoded, main},
      {"call and jump targets from their own streams", branch_payload(Be32(0x1000), Be32(0x2000)),
       R::kDecoded, converted},
      {"bytes after the range-coder stream ignored", LzmaAlone(Join({block, Bytes(7, 0x5A)})),
       R::kDecoded, main},
      {"main bytes left after output_size ignored", LzmaAlone(Put32(block, 0, main_size - 3)),
       R::kDecoded, Cut(main, main_size - 3)},
      {"writer refuses the tarball", good, R::kWriteFailed, main, false},
      {"12-byte payload", Cut(good, 12), R::kTooShort, std::nullopt},
      {"13-byte payload", Cut(good, 13), R::kLzmaFailed, std::nullopt},
      {"compressed data goes on past the declared size", Put32(good, 5, block_size - 1),
       R::kLzmaFailed, std::nullopt},
      {"data ends before the declared size", Put32(good, 5, block_size + 1), R::kLzmaFailed,
       std::nullopt},
      {"properties byte 225", Join({{225}, Bytes(good.begin() + 1, good.end())}), R::kBadProperties,
       std::nullopt},
      {"unpacked size 19", LzmaAlone(Cut(block, 19)), R::kBlockTooSmall, std::nullopt},
      {"unpacked size 20 reaches the converter", LzmaAlone(Bcj2Block(0, {})),
       R::kBranchConverterFailed, std::nullopt},
      {"main stream one byte past the block", LzmaAlone(Put32(block, 4, main_size + 1)),
       R::kStreamsOutsideBlock, std::nullopt},
      {"stream sizes wrap round in 32 bits", LzmaAlone(wrapping), R::kStreamsOutsideBlock,
       std::nullopt},
      {"main stream ends before output_size", LzmaAlone(Put32(block, 0, main_size + 1)),
       R::kBranchConverterFailed, std::nullopt},
      {"range-coder stream of 4 bytes", LzmaAlone(Bcj2Block(main_size, {main, {}, {}, Bytes(4)})),
       R::kBranchConverterFailed, std::nullopt},
      {"converted call without its target", branch_payload({}, Be32(0x2000)),
       R::kBranchConverterFailed, std::nullopt},
      {"converted jump with 3 bytes of target", branch_payload(Be32(0x1000), {0, 0, 0x20}),
       R::kBranchConverterFailed, std::nullopt},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    // An exact-size heap copy, so a sanitizer build sees any read past its end.
    const Bytes payload(c.payload);
    Capture capture;
    capture.accept = c.writer_accepts;
    const PayloadDecodeResult result = DecodePayloadBuffer(
        payload.data(), static_cast<uint32_t>(payload.size()), CaptureTarball, &capture);
    EXPECT_EQ(DescribePayloadDecodeResult(result),
              std::string(DescribePayloadDecodeResult(c.result)));
    if (!c.written) {
      EXPECT_EQ(capture.calls, 0);
      continue;
    }
    EXPECT_EQ(capture.calls, 1);
    EXPECT_EQ(capture.tarball, *c.written);
  }
}

}  // namespace
}  // namespace orvia
