#include "stub/payload/unpack.h"

#include "stub/meta_installer.h"
#include "stub/payload/payload_decode.h"
#include "stub/payload/payload_format.h"
#include "stub/scoped_handle.h"
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
  return DecodePayloadBuffer(payload, length, WriteTarball, &sink);
}

HANDLE MetaInstaller::UnpackPayload() {
  WideString name = MakeTempFileName(api_, base_dir, kTarballPrefix);
  if (name.empty())
    return INVALID_HANDLE_VALUE;
  // Registered before anything else is tried, so every later failure leaves
  // the file to the cleanup.
  cleanup_files.Add(name);
  HRSRC found = api_.FindResourceW(nullptr, MAKEINTRESOURCEW(kPayloadResourceId),
                                   kPayloadResourceType);
  HGLOBAL loaded = found ? api_.LoadResource(nullptr, found) : nullptr;
  const void* payload = loaded ? api_.LockResource(loaded) : nullptr;
  if (!payload)
    return INVALID_HANDLE_VALUE;
  // No sharing: nobody may change the tarball between decoding and extraction.
  ScopedFileHandle file(api_, api_.CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                               nullptr, OPEN_ALWAYS, 0, nullptr));
  if (!file.valid())
    return INVALID_HANDLE_VALUE;
  if (DecodePayload(api_, static_cast<const uint8_t*>(payload),
                    api_.SizeofResource(nullptr, found), file.get()) != 0)
    return INVALID_HANDLE_VALUE;
  LARGE_INTEGER start = {};
  if (!api_.SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN))
    return INVALID_HANDLE_VALUE;
  return file.release();
}

}  // namespace orvia
