// orvia-pack's command line: its options, their parsing and the help text.
#ifndef ORVIA_TOOLS_PACK_PACK_OPTIONS_H_
#define ORVIA_TOOLS_PACK_PACK_OPTIONS_H_

#include <string>
#include <vector>

#include "tools/pack/lzma_alone.h"

namespace orvia {

extern const char kPackHelp[];

struct PackOptions {
  std::string output;
  std::string stub;
  std::string tar;
  std::string raw_payload;
  std::string list;
  bool allow_no_setup = false;
  bool help = false;
  bool version = false;
  LzmaOptions lzma;
  std::vector<std::string> files;
};

// Returns an empty string when the arguments parse, else the complaint.
std::string ParsePackArguments(const std::vector<std::string>& args, PackOptions* options);

}  // namespace orvia

#endif  // ORVIA_TOOLS_PACK_PACK_OPTIONS_H_
