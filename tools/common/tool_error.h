// The one form of the host tools' error lines: "TOOL: SUBJECT: reason".
#ifndef ORVIA_TOOLS_COMMON_TOOL_ERROR_H_
#define ORVIA_TOOLS_COMMON_TOOL_ERROR_H_

#include <string>

namespace orvia {

// Prints the line to stderr (without the subject when it is empty) and
// returns the tools' failure status, 1.
int PrintToolError(const char* tool, const std::string& subject, const std::string& reason);

}  // namespace orvia

#endif  // ORVIA_TOOLS_COMMON_TOOL_ERROR_H_
