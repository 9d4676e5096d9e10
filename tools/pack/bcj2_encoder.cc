#include "tools/pack/bcj2_encoder.h"

#include "core/common/byte_order.h"

namespace orvia {
namespace {

// The adaptive binary range coder of LZMA: 11-bit probabilities, shift 5,
// 32-bit range renormalised a byte at a time, carries resolved through a
// cached byte and a run of pending 0xFF bytes.
class RangeEncoder {
 public:
  explicit RangeEncoder(std::vector<uint8_t>* out) : out_(out) {}

  void EncodeBit(uint16_t* prob, bool bit) {
    uint32_t bound = (range_ >> kNumBitModelTotalBits) * *prob;
    if (!bit) {
      range_ = bound;
      *prob = static_cast<uint16_t>(*prob + ((kBitModelTotal - *prob) >> kNumMoveBits));
    } else {
      low_ += bound;
      range_ -= bound;
      *prob = static_cast<uint16_t>(*prob - (*prob >> kNumMoveBits));
    }
    while (range_ < kTopValue) {
      range_ <<= 8;
      ShiftLow();
    }
  }

  // Five shifts push out every byte that the decoder's reads can reach.
  void Flush() {
    for (int i = 0; i < 5; ++i)
      ShiftLow();
  }

  static constexpr uint16_t kInitialProb = 1 << 10;

 private:
  static constexpr int kNumBitModelTotalBits = 11;
  static constexpr uint32_t kBitModelTotal = 1u << kNumBitModelTotalBits;
  static constexpr int kNumMoveBits = 5;
  static constexpr uint32_t kTopValue = 1u << 24;

  void ShiftLow() {
    if (static_cast<uint32_t>(low_) < 0xFF000000u || (low_ >> 32) != 0) {
      uint8_t carry = static_cast<uint8_t>(low_ >> 32);
      uint8_t pending = cache_;
      do {
        out_->push_back(static_cast<uint8_t>(pending + carry));
        pending = 0xFF;
      } while (--cache_size_ != 0);
      cache_ = static_cast<uint8_t>(static_cast<uint32_t>(low_) >> 24);
    }
    ++cache_size_;
    low_ = (low_ & 0x00FFFFFFu) << 8;
  }

  std::vector<uint8_t>* out_;
  uint64_t low_ = 0;
  uint32_t range_ = 0xFFFFFFFFu;
  uint8_t cache_ = 0;
  uint64_t cache_size_ = 1;
};

bool IsBranch(uint8_t previous, uint8_t b) {
  return (b & 0xFE) == 0xE8 || (previous == 0x0F && (b & 0xF0) == 0x80);
}

void AppendBe32(std::vector<uint8_t>* out, uint32_t v) {
  out->push_back(static_cast<uint8_t>(v >> 24));
  out->push_back(static_cast<uint8_t>(v >> 16));
  out->push_back(static_cast<uint8_t>(v >> 8));
  out->push_back(static_cast<uint8_t>(v));
}

// Appends the main stream to `main` (which may already hold other bytes, so
// the payload block can be built without a second copy of it).
void Encode(const uint8_t* data,
            size_t size,
            const Bcj2Policy& policy,
            std::vector<uint8_t>* main,
            Bcj2Streams* streams) {
  RangeEncoder rc(&streams->rc);
  // One flag model per byte before an E8, one for E9, one for all jcc, as the
  // decoder keeps them.
  uint16_t probs[256 + 2];
  for (uint16_t& p : probs)
    p = RangeEncoder::kInitialProb;

  uint8_t previous = 0;
  size_t i = 0;
  while (i < size) {
    uint8_t b = data[i];
    main->push_back(b);
    ++i;
    if (!IsBranch(previous, b)) {
      previous = b;
      continue;
    }
    // The decoder reads no flag for an opcode that ends the data.
    if (i == size)
      break;
    uint16_t* prob = b == 0xE8 ? &probs[previous] : b == 0xE9 ? &probs[256] : &probs[257];
    bool convert = false;
    uint32_t target = 0;
    if (size - i >= 4) {
      const uint8_t* operand = data + i;
      uint32_t relative = ReadLe32(operand);
      // Position arithmetic is modulo 2^32, as in the decoder.
      uint32_t next = static_cast<uint32_t>(i + 4);
      target = relative + next;
      uint32_t distance = relative < 0x80000000u ? relative : 0u - relative;
      convert = target < size && distance < policy.max_distance;
    }
    rc.EncodeBit(prob, convert);
    if (!convert) {
      previous = b;
      continue;
    }
    AppendBe32(b == 0xE8 ? &streams->call : &streams->jump, target);
    previous = data[i + 3];
    i += 4;
  }
  rc.Flush();
}

}  // namespace

Bcj2Streams EncodeBcj2(const uint8_t* data, size_t size, const Bcj2Policy& policy) {
  Bcj2Streams streams;
  streams.main.reserve(size);
  Encode(data, size, policy, &streams.main, &streams);
  return streams;
}

std::vector<uint8_t> BuildBcj2Block(const uint8_t* data, size_t size, const Bcj2Policy& policy) {
  std::vector<uint8_t> block;
  // Each conversion moves four bytes from the main stream to a target
  // stream, so only the flags come on top of `size`; they take far less
  // than a bit per branch opcode on real data.
  block.reserve(kBcj2HeaderSize + size + size / 16 + 64);
  block.resize(kBcj2HeaderSize);
  Bcj2Streams side;
  Encode(data, size, policy, &block, &side);
  uint32_t main_size = static_cast<uint32_t>(block.size() - kBcj2HeaderSize);
  block.insert(block.end(), side.call.begin(), side.call.end());
  block.insert(block.end(), side.jump.begin(), side.jump.end());
  block.insert(block.end(), side.rc.begin(), side.rc.end());
  const uint32_t fields[5] = {
      static_cast<uint32_t>(size), main_size, static_cast<uint32_t>(side.call.size()),
      static_cast<uint32_t>(side.jump.size()), static_cast<uint32_t>(side.rc.size())};
  for (int f = 0; f < 5; ++f) {
    for (int b = 0; b < 4; ++b)
      block[4 * f + b] = static_cast<uint8_t>(fields[f] >> (8 * b));
  }
  return block;
}

}  // namespace orvia
