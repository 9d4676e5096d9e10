// Whether the stub can decode a payload at all: it decodes in one shot, so
// the mapped payload, the decoded block and the tarball buffer are all in its
// address space at once.
#ifndef ORVIA_TOOLS_PACK_DECODE_BUDGET_H_
#define ORVIA_TOOLS_PACK_DECODE_BUDGET_H_

#include <cstdint>
#include <string>

namespace orvia {

// A large-address-aware 32-bit process on 64-bit Windows.
constexpr uint64_t kStubAddressSpace = 4ull << 30;
// What else lives there: the stub's image and the system's libraries, heaps,
// stacks, and the gaps that three large blocks must fit around.
constexpr uint64_t kStubAddressMargin = 512ull << 20;

// False, with the sum spelled out in `error`, when payload + block + tarball
// + the margin exceed the address space.
bool CheckStubCanDecode(uint64_t payload, uint64_t block, uint64_t tarball, std::string* error);

}  // namespace orvia

#endif  // ORVIA_TOOLS_PACK_DECODE_BUDGET_H_
