// The LZMA SDK allocator that tests, fuzz targets and seed makers hand to the
// SDK's encoder and decoder: plain malloc and free.
#ifndef ORVIA_TESTS_SUPPORT_MALLOC_ALLOC_H_
#define ORVIA_TESTS_SUPPORT_MALLOC_ALLOC_H_

#include <cstdlib>

#include "Types.h"

namespace orvia {

inline ISzAlloc* MallocAlloc() {
  static ISzAlloc alloc = {[](void*, size_t size) { return std::malloc(size); },
                           [](void*, void* block) { std::free(block); }};
  return &alloc;
}

}  // namespace orvia

#endif  // ORVIA_TESTS_SUPPORT_MALLOC_ALLOC_H_
