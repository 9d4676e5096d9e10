#include <string>
#include <vector>

#include "tools/pe_finish/pe_finish.h"

int main(int argc, char** argv) {
  return orvia::RunPeFinish(std::vector<std::string>(argv + 1, argv + argc));
}
