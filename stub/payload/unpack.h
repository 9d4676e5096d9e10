// Turns the payload resource into the tarball file.
#ifndef ORVIA_STUB_PAYLOAD_UNPACK_H_
#define ORVIA_STUB_PAYLOAD_UNPACK_H_

#include <cstdint>

#include "stub/platform/win32_api.h"

namespace orvia {

// Decodes `length` payload bytes and writes the tarball to `file` with one
// write. 0 on success, 1 when the branch converter fails, -1 otherwise.
int32_t DecodePayload(Win32Api& api, const uint8_t* payload, uint32_t length, HANDLE file);

}  // namespace orvia

#endif  // ORVIA_STUB_PAYLOAD_UNPACK_H_
