#include <cstdio>
#include <cstdlib>

#include "core/common/fatal.h"

namespace orvia {

void RaiseFatalError(uint32_t status) {
  std::fprintf(stderr, "fatal status 0x%08X\n", static_cast<unsigned>(status));
  std::abort();
}

}  // namespace orvia
