// pe-finish: the post-link fix-up of a linked 32-bit image (file
// characteristics without ld's "stripped" bits, then a fresh checksum).
#ifndef ORVIA_TOOLS_PE_FINISH_PE_FINISH_H_
#define ORVIA_TOOLS_PE_FINISH_PE_FINISH_H_

#include <string>
#include <vector>

namespace orvia {

// Runs the tool on its arguments (without the program name); messages go to
// stderr. Returns the process exit status.
int RunPeFinish(const std::vector<std::string>& args);

}  // namespace orvia

#endif  // ORVIA_TOOLS_PE_FINISH_PE_FINISH_H_
