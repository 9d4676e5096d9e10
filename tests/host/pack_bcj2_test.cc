// The branch converter's encoder against the SDK's Bcj2_Decode.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include "Bcj2.h"
}

#include "tests/support/tool_test_support.h"
#include "tools/pack/bcj2_encoder.h"
#include "tools/pack/lzma_alone.h"
#include "tools/pack/tar_writer.h"

namespace orvia {
namespace {

using Bytes = std::vector<uint8_t>;

const std::string kWineDir = "/usr/lib/i386-linux-gnu/wine/i386-windows/";

int Decode(const Bcj2Streams& s, size_t main, size_t call, size_t jump, size_t rc, Bytes* out) {
  return Bcj2_Decode(s.main.data(), main, s.call.data(), call, s.jump.data(), jump, s.rc.data(), rc,
                     out->data(), out->size());
}

// Decodes with the exact stream sizes and expects `input`; then expects each
// non-empty stream, one byte short, to make the decoder fail: the encoder
// wrote no byte that the decoder does not need.
void ExpectExactRoundTrip(const Bytes& input, const Bcj2Streams& s) {
  Bytes out(input.size(), 0xCC);
  ASSERT_EQ(Decode(s, s.main.size(), s.call.size(), s.jump.size(), s.rc.size(), &out), SZ_OK);
  ASSERT_EQ(out, input);
  Bytes scratch(input.size());
  if (!s.main.empty()) {
    EXPECT_NE(Decode(s, s.main.size() - 1, s.call.size(), s.jump.size(), s.rc.size(), &scratch),
              SZ_OK)
        << "main stream one byte short";
  }
  if (!s.call.empty()) {
    EXPECT_NE(Decode(s, s.main.size(), s.call.size() - 1, s.jump.size(), s.rc.size(), &scratch),
              SZ_OK)
        << "call stream one byte short";
  }
  if (!s.jump.empty()) {
    EXPECT_NE(Decode(s, s.main.size(), s.call.size(), s.jump.size() - 1, s.rc.size(), &scratch),
              SZ_OK)
        << "jump stream one byte short";
  }
  ASSERT_GE(s.rc.size(), 5u);
  EXPECT_NE(Decode(s, s.main.size(), s.call.size(), s.jump.size(), s.rc.size() - 1, &scratch),
            SZ_OK)
      << "range-coder stream one byte short";
}

void PutLe32(Bytes* data, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    (*data)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// One row: `size` bytes of 0x90 with branch opcodes placed in them. Each
// placement writes the opcode bytes at `at` and, when `operand` is set, a
// 32-bit relative operand after them. `converted` lists the placements the
// encoder is expected to turn into absolute targets.
struct Placement {
  size_t at;
  Bytes opcode;
  bool has_operand;
  int64_t relative;  // from the end of the operand
  bool converted;
};

struct EdgeCase {
  const char* label;
  size_t size;
  std::vector<Placement> placements;
};

Bytes BuildInput(const EdgeCase& c) {
  Bytes data(c.size, 0x90);
  for (const Placement& p : c.placements) {
    std::copy(p.opcode.begin(), p.opcode.end(), data.begin() + static_cast<ptrdiff_t>(p.at));
    if (p.has_operand)
      PutLe32(&data, p.at + p.opcode.size(), static_cast<uint32_t>(p.relative));
  }
  return data;
}

// What the streams must hold, derived from the row: main without converted
// operands, targets big-endian in order, calls for E8 and jumps otherwise.
void ExpectedStreams(const EdgeCase& c, const Bytes& input, Bytes* main, Bytes* call, Bytes* jump) {
  std::vector<bool> removed(input.size(), false);
  for (const Placement& p : c.placements) {
    if (!p.converted)
      continue;
    size_t operand = p.at + p.opcode.size();
    uint32_t target = static_cast<uint32_t>(p.relative + static_cast<int64_t>(operand + 4));
    Bytes* stream = p.opcode.back() == 0xE8 ? call : jump;
    for (int shift = 24; shift >= 0; shift -= 8)
      stream->push_back(static_cast<uint8_t>(target >> shift));
    for (size_t i = operand; i < operand + 4; ++i)
      removed[i] = true;
  }
  for (size_t i = 0; i < input.size(); ++i) {
    if (!removed[i])
      main->push_back(input[i]);
  }
}

TEST(Bcj2EncoderTest, EdgeCases) {
  const Bytes kE8 = {0xE8}, kE9 = {0xE9}, kJz = {0x0F, 0x84}, kJg = {0x0F, 0x8F};
  const EdgeCase cases[] = {
      {"empty input", 0, {}},
      {"no branch opcodes", 16, {}},
      {"E8 as the very last byte", 8, {{7, kE8, false, 0, false}}},
      {"E9 as the very last byte", 8, {{7, kE9, false, 0, false}}},
      {"0F as the very last byte", 8, {{7, {0x0F}, false, 0, false}}},
      {"0F 85 as the last two bytes", 8, {{6, {0x0F, 0x85}, false, 0, false}}},
      {"E8 with only three bytes after it", 8, {{4, kE8, false, 0, false}}},
      {"call into the data", 64, {{8, kE8, true, 20, true}}},
      {"call back to offset 0", 64, {{8, kE8, true, -13, true}}},
      {"call whose operand ends the data", 32, {{27, kE8, true, -20, true}}},
      {"call to the last byte", 32, {{0, kE8, true, 26, true}}},
      {"call to just past the data", 32, {{0, kE8, true, 27, false}}},
      {"call before the data", 64, {{8, kE8, true, -14, false}}},
      {"call far out of range", 64, {{8, kE8, true, 0x12345678, false}}},
      {"jmp into the data", 64, {{8, kE9, true, 30, true}}},
      {"jz and jg into the data", 64, {{4, kJz, true, 2, true}, {30, kJg, true, -20, true}}},
      {"0F 7F is no branch", 64, {{4, {0x0F, 0x7F}, false, 0, false}}},
      {"back-to-back calls", 64, {{0, kE8, true, 40, true}, {5, kE8, true, 30, true}}},
      {"call whose operand bytes are E8", 64, {{0, kE8, true, 0x7FE8E8E8, false}}},
      {"converted call, then E8 at the end",
       16,
       {{0, kE8, true, 4, true}, {15, kE8, false, 0, false}}},
  };
  for (const EdgeCase& c : cases) {
    SCOPED_TRACE(c.label);
    Bytes input = BuildInput(c);
    Bcj2Streams s = EncodeBcj2(input.data(), input.size());
    Bytes main, call, jump;
    ExpectedStreams(c, input, &main, &call, &jump);
    EXPECT_EQ(s.main, main);
    EXPECT_EQ(s.call, call);
    EXPECT_EQ(s.jump, jump);
    ExpectExactRoundTrip(input, s);
  }
}

// Many branch opcodes and operands near the data: lots of flags in both
// directions, long runs that exercise the coder's carry handling.
TEST(Bcj2EncoderTest, BranchDenseDataRoundTrips) {
  std::mt19937 random(20240611);
  const uint8_t alphabet[] = {0xE8, 0xE9, 0x0F, 0x80, 0x8F, 0x00, 0xFF, 0x01};
  for (size_t size : {1u, 5u, 4096u, 65536u}) {
    SCOPED_TRACE("size " + std::to_string(size));
    Bytes input(size);
    for (uint8_t& b : input)
      b = alphabet[random() % sizeof(alphabet)];
    Bcj2Streams s = EncodeBcj2(input.data(), input.size());
    ExpectExactRoundTrip(input, s);
  }
}

Bytes RealCodeTarball() {
  TarWriter writer;
  for (const char* name : {"cabarc.exe", "advpack.dll"}) {
    Bytes data = test_support::ReadBytes(kWineDir + name);
    std::string error;
    EXPECT_FALSE(data.empty()) << name;
    EXPECT_TRUE(writer.AddMember(name, data.data(), data.size(), &error)) << error;
  }
  return writer.Finish();
}

TEST(Bcj2EncoderTest, RealCodeRoundTripsAndConvertsBranches) {
  Bytes tarball = RealCodeTarball();
  Bcj2Streams s = EncodeBcj2(tarball.data(), tarball.size());
  ExpectExactRoundTrip(tarball, s);
  // Each conversion moves four bytes out of the main stream.
  EXPECT_EQ(s.main.size() + s.call.size() + s.jump.size(), tarball.size());
  EXPECT_GT(s.call.size() / 4, 100u);
  EXPECT_GT(s.jump.size() / 4, 100u);
}

// The point of the converter: LZMA over the converted block beats LZMA over
// the same tarball as it is.
TEST(Bcj2EncoderTest, ConversionShrinksCompressedRealCode) {
  Bytes tarball = RealCodeTarball();
  Bytes block = BuildBcj2Block(tarball.data(), tarball.size());
  LzmaOptions options;
  Bytes plain, converted;
  std::string error;
  ASSERT_TRUE(EncodeLzmaAlone(tarball.data(), tarball.size(), options, {}, &plain, &error))
      << error;
  ASSERT_TRUE(EncodeLzmaAlone(block.data(), block.size(), options, {}, &converted, &error))
      << error;
  std::printf("tarball %zu bytes: LZMA %zu, BCJ2 + LZMA %zu (%.2f%% smaller)\n", tarball.size(),
              plain.size(), converted.size(),
              100.0 * (1.0 - static_cast<double>(converted.size()) / plain.size()));
  EXPECT_LT(converted.size(), plain.size());
}

TEST(Bcj2EncoderTest, BlockHeaderDescribesTheStreams) {
  Bytes tarball = RealCodeTarball();
  Bytes block = BuildBcj2Block(tarball.data(), tarball.size());
  Bcj2Streams s = EncodeBcj2(tarball.data(), tarball.size());
  auto field = [&](int i) { return static_cast<size_t>(ReadLe32(block.data() + 4 * i)); };
  const size_t sizes[5] = {tarball.size(), s.main.size(), s.call.size(), s.jump.size(),
                           s.rc.size()};
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(field(i), sizes[i]) << "header field " << i;
  Bytes expected(block.begin(), block.begin() + kBcj2HeaderSize);
  for (const Bytes* stream : {&s.main, &s.call, &s.jump, &s.rc})
    expected.insert(expected.end(), stream->begin(), stream->end());
  EXPECT_EQ(block, expected);
}

}  // namespace
}  // namespace orvia
