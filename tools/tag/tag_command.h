// The orvia-tag command line: writes, reads and removes the tag block that a
// signed installer carries in its certificate table, and serves tagged copies
// over HTTP.
#ifndef ORVIA_TOOLS_TAG_TAG_COMMAND_H_
#define ORVIA_TOOLS_TAG_TAG_COMMAND_H_

#include <string>
#include <vector>

namespace orvia {

// Runs orvia-tag with `args` (without the program name). Messages go to
// stderr, the tag and help to stdout. Returns the exit status: 0, or 1 on
// any failure, in which case nothing has been written at the output path.
int RunOrviaTag(const std::vector<std::string>& args);

}  // namespace orvia

#endif  // ORVIA_TOOLS_TAG_TAG_COMMAND_H_
