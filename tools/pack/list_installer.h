// orvia-pack --list: what an installer carries, read with the stub's own
// decoder and tar rules.
#ifndef ORVIA_TOOLS_PACK_LIST_INSTALLER_H_
#define ORVIA_TOOLS_PACK_LIST_INSTALLER_H_

#include <string>

namespace orvia {

// Prints the payload's settings, the members and the setup program to
// stdout; returns the exit status (1, with the reason on stderr, where the
// stub would fail).
int ListInstaller(const std::string& path);

}  // namespace orvia

#endif  // ORVIA_TOOLS_PACK_LIST_INSTALLER_H_
