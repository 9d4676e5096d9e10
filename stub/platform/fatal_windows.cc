#include <windows.h>

#include "core/common/fatal.h"

namespace orvia {

// The one platform call outside the seam: a fatal condition is not a result
// a test could replace, and RaiseException does not return for it.
void RaiseFatalError(uint32_t status) {
  ::RaiseException(status, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  __builtin_trap();
}

}  // namespace orvia
