// Reads the tag that a distributed copy carries in its certificate table.
#ifndef ORVIA_STUB_TAG_READ_TAG_H_
#define ORVIA_STUB_TAG_READ_TAG_H_

#include "core/common/heap_buffer.h"
#include "stub/platform/win32_api.h"

namespace orvia {

// The tag text followed by one zero byte, or an empty buffer when the file
// has no usable tag. A text with a double quote before its first zero byte is
// refused: it goes between double quotes on the setup command line.
HeapBuffer<char> ReadTag(Win32Api& api, const wchar_t* path);

}  // namespace orvia

#endif  // ORVIA_STUB_TAG_READ_TAG_H_
