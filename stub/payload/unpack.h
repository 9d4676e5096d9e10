// Turns the payload resource into the tarball file.
#ifndef ORVIA_STUB_PAYLOAD_UNPACK_H_
#define ORVIA_STUB_PAYLOAD_UNPACK_H_

#include <cstdint>

#include "core/common/string_list.h"
#include "core/common/wide_string.h"
#include "stub/platform/win32_api.h"
#include "stub/scoped_handle.h"

namespace orvia {

// DecodePayload's results: callers test only for kPayloadDecoded.
constexpr int32_t kPayloadDecoded = 0;
constexpr int32_t kPayloadBranchConverterFailed = 1;
constexpr int32_t kPayloadFailed = -1;

// Decodes `length` payload bytes and writes the tarball to `file` with one
// write.
int32_t DecodePayload(Win32Api& api, const uint8_t* payload, uint32_t length, HANDLE file);

// Makes the tarball file under a fresh "KUT" name in `base_dir`, registers
// its name in `cleanup_files` as soon as it exists, and writes the decoded
// payload into it. The handle reads the tarball from its first byte; it is
// invalid on any failure.
ScopedFileHandle UnpackPayload(Win32Api& api,
                               const WideString& base_dir,
                               StringList* cleanup_files);

}  // namespace orvia

#endif  // ORVIA_STUB_PAYLOAD_UNPACK_H_
