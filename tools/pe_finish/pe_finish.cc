#include "tools/pe_finish/pe_finish.h"

#include <sys/stat.h>

#include <cstdio>

#include "tools/common/file_util.h"
#include "tools/pe/pe_image.h"

namespace orvia {
namespace {

constexpr char kUsage[] =
    "usage: pe-finish IMAGE\n"
    "Rewrites a linked 32-bit PE image in place: sets the file characteristics to\n"
    "0x0122 (executable, large-address aware, 32-bit machine) and recomputes the\n"
    "optional-header checksum.\n";

int Fail(const std::string& path, const std::string& reason) {
  std::fprintf(stderr, "pe-finish: %s: %s\n", path.c_str(), reason.c_str());
  return 1;
}

}  // namespace

int RunPeFinish(const std::vector<std::string>& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
    std::fputs(kUsage, stderr);
    return 1;
  }
  const std::string& path = args[0];
  std::vector<uint8_t> image;
  std::string error;
  if (!ReadWholeFile(path, &image, &error))
    return Fail(path, error);
  PeLayout layout;
  if (!ParsePe32(image.data(), image.size(), &layout, &error))
    return Fail(path, error);
  if (layout.characteristics & kPeCharacteristicDll)
    return Fail(path, "is a DLL, not an executable");
  // A changed header would break the signature; signing comes last.
  if (layout.directories.size() > kPeDirectorySecurity &&
      layout.directories[kPeDirectorySecurity].size != 0)
    return Fail(path, "already signed (finish before signing)");
  FinishPeImage(layout, &image);
  struct stat st;
  int mode = stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
  if (!WriteFileAtomically(path, image, mode, &error))
    return Fail(path, error);
  return 0;
}

}  // namespace orvia
