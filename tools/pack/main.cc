#include <string>
#include <vector>

#include "tools/pack/pack_command.h"

int main(int argc, char** argv) {
  return orvia::RunOrviaPack(std::vector<std::string>(argv + 1, argv + argc),
                             orvia::ExecutableDirectory());
}
