#include <string>
#include <vector>

#include "tools/tag/tag_command.h"

int main(int argc, char** argv) {
  return orvia::RunOrviaTag(std::vector<std::string>(argv + 1, argv + argc));
}
