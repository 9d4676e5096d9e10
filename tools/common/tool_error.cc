#include "tools/common/tool_error.h"

#include <cstdio>

namespace orvia {

int PrintToolError(const char* tool, const std::string& subject, const std::string& reason) {
  if (subject.empty())
    std::fprintf(stderr, "%s: %s\n", tool, reason.c_str());
  else
    std::fprintf(stderr, "%s: %s: %s\n", tool, subject.c_str(), reason.c_str());
  return 1;
}

}  // namespace orvia
