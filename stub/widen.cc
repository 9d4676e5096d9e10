#include "stub/widen.h"

#include <cstdlib>

#include "core/common/fatal.h"

namespace orvia {

WideString Widen(Win32Api& api, const char* text, int length) {
  int units = api.MultiByteToWideChar(CP_THREAD_ACP, 0, text, length, nullptr, 0);
  if (units <= 0)
    return WideString();
  wchar_t* buffer = static_cast<wchar_t*>(std::malloc(sizeof(wchar_t) * units));
  if (!buffer)
    RaiseFatalError(kStatusNoMemory);
  int written = api.MultiByteToWideChar(CP_THREAD_ACP, 0, text, length, buffer, units);
  if (written <= 0 || written > units)
    written = 0;
  // With length -1 the count includes the NUL, which is not part of the text.
  if (length < 0 && written > 0 && buffer[written - 1] == L'\0')
    --written;
  WideString result(buffer, static_cast<size_t>(written));
  std::free(buffer);
  return result;
}

}  // namespace orvia
