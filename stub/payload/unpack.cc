#include "stub/payload/unpack.h"

#include "core/payload/payload_decode.h"
#include "core/payload/payload_format.h"
#include "stub/workdir/directory_ops.h"

namespace orvia {
namespace {

struct FileSink {
  Win32Api* api;
  HANDLE file;
};

bool WriteTarball(void* context, const uint8_t* tarball, uint32_t size) {
  FileSink* sink = static_cast<FileSink*>(context);
  DWORD written = 0;
  return sink->api->WriteFile(sink->file, tarball, size, &written, nullptr) && written == size;
}

}  // namespace

int32_t DecodePayload(Win32Api& api, const uint8_t* payload, uint32_t length, HANDLE file) {
  FileSink sink = {&api, file};
  switch (DecodePayloadBuffer(payload, length, WriteTarball, &sink)) {
    case PayloadDecodeResult::kDecoded:
      return kPayloadDecoded;
    case PayloadDecodeResult::kBranchConverterFailed:
      return kPayloadBranchConverterFailed;
    default:
      return kPayloadFailed;
  }
}

ScopedFileHandle UnpackPayload(Win32Api& api,
                               const WideString& base_dir,
                               StringList* cleanup_files) {
  ScopedFileHandle none(api);
  WideString name = MakeTempFileName(api, base_dir, kTarballPrefix);
  if (name.empty())
    return none;
  // Registered before anything else is tried, so every later failure leaves
  // the file to the cleanup.
  cleanup_files->Add(name);
  HRSRC found =
      api.FindResourceW(nullptr, MAKEINTRESOURCEW(kPayloadResourceId), kPayloadResourceType);
  HGLOBAL loaded = found ? api.LoadResource(nullptr, found) : nullptr;
  const void* payload = loaded ? api.LockResource(loaded) : nullptr;
  if (!payload)
    return none;
  // No sharing: nobody may change the tarball between decoding and extraction.
  ScopedFileHandle file(api, api.CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                             OPEN_ALWAYS, 0, nullptr));
  if (!file.valid())
    return none;
  if (DecodePayload(api, static_cast<const uint8_t*>(payload), api.SizeofResource(nullptr, found),
                    file.get()) != kPayloadDecoded)
    return none;
  LARGE_INTEGER start = {};
  if (!api.SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN))
    return none;
  return file;
}

}  // namespace orvia
