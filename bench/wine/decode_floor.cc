// The decoder's floor: the stub's one-shot decode of an installer's payload
// (LZMA, then the branch converter) and nothing else: no tarball written, no
// extraction. Linked with the very decoder objects the stub links, or with a
// variant built with other flags, so the two can be compared run for run.
//   decode_floor INSTALLER
// Prints "decoded SECONDS PAYLOAD_BYTES BLOCK_BYTES TARBALL_BYTES": the time
// around the decode alone, then the three buffers a decode holds at its peak
// (the payload, the LZMA-decoded block, the tarball). Exit 1 when it fails.
#include <windows.h>

#include <cstdio>

#include "core/payload/payload_decode.h"
#include "core/payload/payload_format.h"

namespace {

// Keeps the size only: the floor is the decode, not what is done with it.
bool Discard(void* context, const uint8_t*, uint32_t size) {
  *static_cast<uint32_t*>(context) = size;
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fputs("usage: decode_floor INSTALLER\n", stderr);
    return 2;
  }
  // As data, the way the stub finds its own resource, without running it.
  HMODULE installer = LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HRSRC found = installer ? FindResourceW(installer, MAKEINTRESOURCEW(orvia::kPayloadResourceId),
                                          orvia::kPayloadResourceType)
                          : nullptr;
  HGLOBAL loaded = found ? LoadResource(installer, found) : nullptr;
  const void* payload = loaded ? LockResource(loaded) : nullptr;
  if (!payload) {
    std::printf("error: no payload in %ls (%lu)\n", argv[1], GetLastError());
    return 1;
  }
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  uint32_t tarball_size = 0;
  orvia::Bcj2Header header;
  const DWORD payload_size = SizeofResource(installer, found);
  const orvia::PayloadDecodeResult result = orvia::DecodePayloadBuffer(
      static_cast<const uint8_t*>(payload), payload_size, Discard, &tarball_size, &header);
  QueryPerformanceCounter(&end);
  if (result != orvia::PayloadDecodeResult::kDecoded) {
    std::printf("error: %s\n", orvia::DescribePayloadDecodeResult(result));
    return 1;
  }
  const unsigned long block_size = orvia::kBcj2HeaderSize + header.main_size + header.call_size +
                                   header.jump_size + header.rc_size;
  std::printf(
      "decoded %.3f %lu %lu %lu\n",
      static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart),
      static_cast<unsigned long>(payload_size), block_size,
      static_cast<unsigned long>(tarball_size));
  return 0;
}
