// Ends the process on conditions the stub never recovers from.
#ifndef ORVIA_CORE_COMMON_FATAL_H_
#define ORVIA_CORE_COMMON_FATAL_H_

#include <cstdint>

namespace orvia {

// Statuses of the fatal conditions: these end the process as non-continuable
// structured exceptions and are never caught.
constexpr uint32_t kStatusNoMemory = 0xC0000017;            // STATUS_NO_MEMORY
constexpr uint32_t kStatusIllegalInstruction = 0xC000001D;  // invalid argument, bad format
constexpr uint32_t kStatusArrayBoundsExceeded = 0xC000008C;

// On Windows raises a non-continuable exception with `status`; on the host
// prints the status and aborts, so death tests can see it.
[[noreturn]] void RaiseFatalError(uint32_t status);

}  // namespace orvia

#endif  // ORVIA_CORE_COMMON_FATAL_H_
