#include "stub/widen.h"

#include "core/common/heap_buffer.h"

namespace orvia {

WideString Widen(Win32Api& api, const char* text, int length) {
  int units = api.MultiByteToWideChar(CP_THREAD_ACP, 0, text, length, nullptr, 0);
  if (units <= 0)
    return WideString();
  HeapBuffer<wchar_t> buffer(static_cast<size_t>(units));
  int written = api.MultiByteToWideChar(CP_THREAD_ACP, 0, text, length, buffer.get(), units);
  if (written <= 0 || written > units)
    written = 0;
  // With length -1 the count includes the NUL, which is not part of the text.
  if (length < 0 && written > 0 && buffer[written - 1] == L'\0')
    --written;
  return WideString(buffer.get(), static_cast<size_t>(written));
}

}  // namespace orvia
