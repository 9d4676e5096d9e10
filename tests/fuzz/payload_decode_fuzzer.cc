// DecodePayloadBuffer on raw payloads and on payloads built around arbitrary
// decoded blocks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "LzmaDec.h"
#include "LzmaEnc.h"
#include "core/payload/payload_decode.h"
#include "core/payload/payload_format.h"
#include "tests/support/malloc_alloc.h"
#include "tests/support/payload_request.h"

namespace {

// The stub takes what the payload asks for; the fuzzer's memory is smaller,
// so larger requests are skipped instead of exhausting it.
constexpr uint32_t kMaxRequest = 1 << 16;

void PutLe32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    p[i] = static_cast<uint8_t>(value >> (8 * i));
}

// Tweaks applied to a built payload, one bit each.
enum Tweak : uint8_t {
  kHighHalfSet = 1 << 0,
  kSizeOneLess = 1 << 1,
  kSizeOneMore = 1 << 2,
  kProperties225 = 1 << 3,
  kTrailingByte = 1 << 4,
  kLastByteCut = 1 << 5,
  kWriterRefuses = 1 << 6,
};

// One encoder for the whole run: making one per input costs more than the
// decoding under test.
CLzmaEncHandle Encoder() {
  static CLzmaEncHandle encoder = [] {
    CLzmaEncHandle handle = LzmaEnc_Create(orvia::MallocAlloc());
    CLzmaEncProps props;
    LzmaEncProps_Init(&props);
    props.level = 1;
    props.dictSize = 1 << 12;
    props.numThreads = 1;
    if (!handle || LzmaEnc_SetProps(handle, &props) != SZ_OK)
      std::abort();
    return handle;
  }();
  return encoder;
}

bool EncodeBlock(const uint8_t* block, size_t size, uint8_t tweaks, std::vector<uint8_t>* payload) {
  std::vector<uint8_t> data(size + size / 2 + 256);
  SizeT data_size = data.size();
  Byte properties[LZMA_PROPS_SIZE];
  SizeT properties_size = sizeof(properties);
  if (LzmaEnc_WriteProperties(Encoder(), properties, &properties_size) != SZ_OK ||
      LzmaEnc_MemEncode(Encoder(), data.data(), &data_size, block, size, 0, nullptr,
                        orvia::MallocAlloc(), orvia::MallocAlloc()) != SZ_OK)
    return false;
  data.resize(data_size);
  if ((tweaks & kLastByteCut) && !data.empty())
    data.pop_back();
  if (tweaks & kTrailingByte)
    data.push_back(0x5A);
  uint32_t unpacked = static_cast<uint32_t>(size);
  if (tweaks & kSizeOneLess)
    --unpacked;
  if (tweaks & kSizeOneMore)
    ++unpacked;
  payload->assign(properties, properties + LZMA_PROPS_SIZE);
  payload->resize(13);
  PutLe32(payload->data() + 5, unpacked);
  PutLe32(payload->data() + 9, (tweaks & kHighHalfSet) ? 0xFFFFFFFF : 0);
  if (tweaks & kProperties225)
    (*payload)[0] = 225;
  payload->insert(payload->end(), data.begin(), data.end());
  return true;
}

struct Capture {
  bool accept;
  int calls;
};

bool CaptureTarball(void* context, const uint8_t* tarball, uint32_t size) {
  Capture* capture = static_cast<Capture*>(context);
  ++capture->calls;
  // Touch every byte handed over, so a short buffer would show.
  volatile uint8_t sum = 0;
  for (uint32_t i = 0; i < size; ++i)
    sum = sum + tarball[i];
  return capture->accept;
}

}  // namespace

// Input: a mode byte. Even: the rest is the payload. Odd: a tweak byte, then
// the decoded block to be compressed into a payload.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  std::vector<uint8_t> payload;
  uint8_t tweaks = 0;
  if ((data[0] & 1) == 0) {
    payload.assign(data + 1, data + size);
  } else {
    if (size < 2)
      return 0;
    tweaks = data[1];
    if (!EncodeBlock(data + 2, size - 2, tweaks, &payload))
      return 0;
  }
  if (orvia::PayloadAsksTooMuch(payload, kMaxRequest))
    return 0;
  Capture capture = {(tweaks & kWriterRefuses) == 0, 0};
  using R = orvia::PayloadDecodeResult;
  const R result = orvia::DecodePayloadBuffer(payload.data(), static_cast<uint32_t>(payload.size()),
                                              CaptureTarball, &capture);
  // The writer is reached once exactly when the converter succeeded.
  const bool written = result == R::kDecoded || (result == R::kWriteFailed && !capture.accept);
  if (capture.calls > 1 || (capture.calls == 1) != written)
    std::abort();
  return 0;
}
