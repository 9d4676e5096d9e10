// Finds the stub's own arguments in the narrow process command line.
#ifndef ORVIA_CORE_COMMAND_LINE_TAIL_H_
#define ORVIA_CORE_COMMAND_LINE_TAIL_H_

#include <cstddef>

namespace orvia {

// True when `byte` is the lead byte of a double-byte character.
using LeadBytePredicate = bool (*)(void* context, unsigned char byte);

// Returns the offset of the first byte after the program name and the blanks
// that follow it, as a GUI entry point receives its command line: double
// quotes toggle a quoted state, outside it a byte of 0x20 or less ends the
// name, a NUL ends the text, and a double-byte lead byte (by `is_lead_byte`)
// is stepped over with its trail byte. Trailing blanks stay in the tail.
size_t FindCommandLineTail(const char* line, LeadBytePredicate is_lead_byte, void* context);

}  // namespace orvia

#endif  // ORVIA_CORE_COMMAND_LINE_TAIL_H_
