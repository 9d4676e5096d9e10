// The orvia-pack command line: turns a product's files into an installer
// made from the prebuilt stub, or lists what an installer carries.
#ifndef ORVIA_TOOLS_PACK_PACK_COMMAND_H_
#define ORVIA_TOOLS_PACK_PACK_COMMAND_H_

#include <string>
#include <vector>

namespace orvia {

// Where the tool itself lives, for finding the template beside it; empty
// when unknown.
std::string ExecutableDirectory();

// Runs orvia-pack with `args` (without the program name). Messages go to
// stderr, listings and help to stdout. Returns the exit status: 0, or 1 on
// any failure, in which case nothing has been written at the output path.
int RunOrviaPack(const std::vector<std::string>& args, const std::string& tool_directory);

}  // namespace orvia

#endif  // ORVIA_TOOLS_PACK_PACK_COMMAND_H_
