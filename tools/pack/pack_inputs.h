// What goes into the tarball: the product files or a given archive, checked
// before any long work, and the setup program the stub will run.
#ifndef ORVIA_TOOLS_PACK_PACK_INPUTS_H_
#define ORVIA_TOOLS_PACK_PACK_INPUTS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tools/pack/pack_options.h"

namespace orvia {

// Whether the stub would pick a member of this name as the setup program:
// the file name after the last backslash ends in ".exe", in any letter
// case, and is longer than those four characters.
bool IsSetupProgramName(const std::string& member_name);

// Checks every file of `options.files`, then builds the tarball in one
// buffer with each file read straight into its place. On failure the error
// has been printed and `status` holds the exit status.
bool BuildTarball(const PackOptions& options, std::vector<uint8_t>* tarball, int* status);

// Reads `options.tar` unchanged, warning about what the stub would trip over.
bool ReadTarball(const PackOptions& options, std::vector<uint8_t>* tarball, int* status);

}  // namespace orvia

#endif  // ORVIA_TOOLS_PACK_PACK_INPUTS_H_
