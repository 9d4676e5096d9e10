#include "tools/pack/lzma_alone.h"

#include <cstdlib>
#include <cstring>

extern "C" {
#include "LzmaEnc.h"
}

namespace orvia {
namespace {

void* SzAlloc(void*, size_t size) {
  return size == 0 ? nullptr : std::malloc(size);
}
void SzFree(void*, void* address) {
  std::free(address);
}
ISzAlloc g_alloc = {SzAlloc, SzFree};

// The SDK's stream interfaces are C structs with the callback first; each
// adapter puts that struct first so the callback can find its object.
struct MemoryInStream {
  ISeqInStream base;
  const uint8_t* data;
  size_t remaining;
};

SRes ReadMemory(void* p, void* buf, size_t* size) {
  auto* self = static_cast<MemoryInStream*>(p);
  size_t n = *size < self->remaining ? *size : self->remaining;
  std::memcpy(buf, self->data, n);
  self->data += n;
  self->remaining -= n;
  *size = n;
  return SZ_OK;
}

struct VectorOutStream {
  ISeqOutStream base;
  std::vector<uint8_t>* out;
};

size_t WriteVector(void* p, const void* buf, size_t size) {
  auto* self = static_cast<VectorOutStream*>(p);
  const auto* bytes = static_cast<const uint8_t*>(buf);
  self->out->insert(self->out->end(), bytes, bytes + size);
  return size;
}

struct ProgressAdapter {
  ICompressProgress base;
  const LzmaProgress* progress;
};

SRes ReportProgress(void* p, UInt64 in_size, UInt64) {
  auto* self = static_cast<ProgressAdapter*>(p);
  if (in_size != static_cast<UInt64>(-1))
    (*self->progress)(in_size);
  return SZ_OK;
}

std::string SdkError(SRes res) {
  switch (res) {
    case SZ_ERROR_MEM:
      return "out of memory";
    case SZ_ERROR_PARAM:
      return "bad compression parameters";
    case SZ_ERROR_DATA:
      return "corrupt compressed data";
    case SZ_ERROR_UNSUPPORTED:
      return "unsupported properties";
    case SZ_ERROR_INPUT_EOF:
      return "compressed data ends early";
    default:
      return "LZMA error " + std::to_string(res);
  }
}

}  // namespace

std::string CheckLzmaOptions(const LzmaOptions& options) {
  if (options.lc < 0 || options.lc > 8)
    return "lc must be 0 to 8";
  if (options.lp < 0 || options.lp > 4)
    return "lp must be 0 to 4";
  if (options.pb < 0 || options.pb > 4)
    return "pb must be 0 to 4";
  if (options.dict_size < kLzmaMinDictSize || options.dict_size > kLzmaMaxDictSize)
    return "dictionary size must be 4 KiB to 128 MiB";
  if (options.level < 0 || options.level > 9)
    return "level must be 0 to 9";
  return "";
}

bool EncodeLzmaAlone(const uint8_t* data,
                     size_t size,
                     const LzmaOptions& options,
                     const LzmaProgress& progress,
                     std::vector<uint8_t>* out,
                     std::string* error) {
  *error = CheckLzmaOptions(options);
  if (!error->empty())
    return false;
  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  props.level = options.level;
  props.dictSize = options.dict_size;
  props.lc = options.lc;
  props.lp = options.lp;
  props.pb = options.pb;
  props.writeEndMark = 0;
  props.numThreads = 1;

  CLzmaEncHandle encoder = LzmaEnc_Create(&g_alloc);
  if (encoder == nullptr) {
    *error = "out of memory";
    return false;
  }
  out->clear();
  out->resize(kLzmaAloneHeaderSize);
  SRes res = LzmaEnc_SetProps(encoder, &props);
  SizeT props_size = LZMA_PROPS_SIZE;
  if (res == SZ_OK)
    res = LzmaEnc_WriteProperties(encoder, out->data(), &props_size);
  if (res == SZ_OK) {
    uint64_t stored = size;
    for (int i = 0; i < 8; ++i)
      (*out)[LZMA_PROPS_SIZE + i] = static_cast<uint8_t>(stored >> (8 * i));
    // Incompressible input grows by a little; reserve for that up front so
    // that a large payload is not copied while it grows.
    out->reserve(kLzmaAloneHeaderSize + size + size / 32 + 4096);
    MemoryInStream in = {{ReadMemory}, data, size};
    VectorOutStream sink = {{WriteVector}, out};
    ProgressAdapter adapter = {{ReportProgress}, &progress};
    res = LzmaEnc_Encode(encoder, &sink.base, &in.base, progress ? &adapter.base : nullptr,
                         &g_alloc, &g_alloc);
  }
  LzmaEnc_Destroy(encoder, &g_alloc, &g_alloc);
  if (res != SZ_OK) {
    *error = SdkError(res);
    out->clear();
    return false;
  }
  return true;
}

}  // namespace orvia
