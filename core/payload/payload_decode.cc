#include "core/payload/payload_decode.h"

#include <cstdlib>

#include "Bcj2.h"
#include "LzmaDec.h"
#include "core/common/byte_order.h"
#include "core/common/heap_buffer.h"
#include "core/payload/payload_format.h"

namespace orvia {
namespace {

// The decoder's allocator never hands back null: exhausted memory is fatal.
void* AllocOrDie(void*, size_t size) {
  return AllocateOrDie(size);
}

void FreeBlock(void*, void* block) {
  std::free(block);
}

ISzAlloc g_decoder_alloc = {AllocOrDie, FreeBlock};

PayloadDecodeResult DecodeBranches(const uint8_t* block,
                                   uint32_t block_size,
                                   const Bcj2Header& header,
                                   TarballWriter write,
                                   void* context) {
  const uint32_t output_size = header.output_size;
  const uint32_t main_size = header.main_size;
  const uint32_t call_size = header.call_size;
  const uint32_t jump_size = header.jump_size;
  const uint32_t rc_size = header.rc_size;
  // Summed in 64 bits: streams that claim more than the block holds would
  // send the converter past its end.
  const uint64_t end = uint64_t{kBcj2HeaderSize} + main_size + call_size + jump_size + rc_size;
  if (end > block_size)
    return PayloadDecodeResult::kStreamsOutsideBlock;
  const uint8_t* main_stream = block + kBcj2HeaderSize;
  const uint8_t* call_stream = main_stream + main_size;
  const uint8_t* jump_stream = call_stream + call_size;
  const uint8_t* rc_stream = jump_stream + jump_size;

  HeapBuffer<uint8_t> tarball(output_size);
  if (Bcj2_Decode(main_stream, main_size, call_stream, call_size, jump_stream, jump_size, rc_stream,
                  rc_size, tarball.get(), output_size) != SZ_OK)
    return PayloadDecodeResult::kBranchConverterFailed;
  return write(context, tarball.get(), output_size) ? PayloadDecodeResult::kDecoded
                                                    : PayloadDecodeResult::kWriteFailed;
}

}  // namespace

const char* DescribePayloadDecodeResult(PayloadDecodeResult result) {
  switch (result) {
    case PayloadDecodeResult::kDecoded:
      return "decoded";
    case PayloadDecodeResult::kTooShort:
      return "payload shorter than its 13-byte LZMA header";
    case PayloadDecodeResult::kBadProperties:
      return "LZMA properties byte of 225 or more";
    case PayloadDecodeResult::kLzmaFailed:
      return "LZMA data damaged or shorter than its declared size";
    case PayloadDecodeResult::kBlockTooSmall:
      return "decoded block too small for the BCJ2 header";
    case PayloadDecodeResult::kStreamsOutsideBlock:
      return "BCJ2 stream sizes run past the decoded block";
    case PayloadDecodeResult::kBranchConverterFailed:
      return "BCJ2 branch converter failed";
    case PayloadDecodeResult::kWriteFailed:
      return "the tarball could not be written";
  }
  return "unknown";
}

PayloadDecodeResult DecodePayloadBuffer(const uint8_t* payload,
                                        uint32_t length,
                                        TarballWriter write,
                                        void* context,
                                        Bcj2Header* header) {
  if (length < kLzmaAloneHeaderSize)
    return PayloadDecodeResult::kTooShort;
  CLzmaDec state;
  LzmaDec_Construct(&state);
  // Fails only for properties of 225 and more, and then leaves no tables.
  if (LzmaDec_Allocate(&state, payload, LZMA_PROPS_SIZE, &g_decoder_alloc) != SZ_OK)
    return PayloadDecodeResult::kBadProperties;
  LzmaDec_Init(&state);
  // Only the low half of the 64-bit size field is used.
  const uint32_t unpacked_size = ReadLe32(payload + kLzmaUnpackedSizeOffset);
  HeapBuffer<uint8_t> block(unpacked_size);
  SizeT produced = unpacked_size;
  SizeT consumed = length - kLzmaAloneHeaderSize;
  ELzmaStatus status;
  SRes result = LzmaDec_DecodeToBuf(&state, block.get(), &produced, payload + kLzmaAloneHeaderSize,
                                    &consumed, LZMA_FINISH_END, &status);
  // The tables and the dictionary go before the tarball buffer is taken.
  LzmaDec_Free(&state, &g_decoder_alloc);
  // Data that ends early leaves the rest of the block undefined.
  if (result != SZ_OK || produced != unpacked_size)
    return PayloadDecodeResult::kLzmaFailed;
  if (unpacked_size < kBcj2HeaderSize)
    return PayloadDecodeResult::kBlockTooSmall;
  const Bcj2Header fields = ReadBcj2Header(block.get());
  if (header)
    *header = fields;
  return DecodeBranches(block.get(), unpacked_size, fields, write, context);
}

}  // namespace orvia
