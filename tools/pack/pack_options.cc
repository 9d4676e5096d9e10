#include "tools/pack/pack_options.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <utility>

namespace orvia {
namespace {

bool ParseNumber(const std::string& text, bool allow_suffix, uint64_t* value) {
  if (text.empty() || text[0] < '0' || text[0] > '9')
    return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long n = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0)
    return false;
  std::string suffix(end);
  uint64_t scale = 1;
  if (allow_suffix && (suffix == "K" || suffix == "k"))
    scale = 1u << 10;
  else if (allow_suffix && (suffix == "M" || suffix == "m"))
    scale = 1u << 20;
  else if (!suffix.empty())
    return false;
  if (n > UINT32_MAX / scale)
    return false;
  *value = n * scale;
  return true;
}

}  // namespace

const char kPackHelp[] =
    "usage: orvia-pack -o OUT.exe [--stub TEMPLATE.exe] [options] FILE...\n"
    "       orvia-pack -o OUT.exe [--stub TEMPLATE.exe] [options] --tar ARCHIVE.tar\n"
    "       orvia-pack -o OUT.exe [--stub TEMPLATE.exe] --raw-payload PAYLOAD\n"
    "       orvia-pack --list INSTALLER.exe\n"
    "\n"
    "Builds an installer from the prebuilt stub: the files are packed, in the order\n"
    "given and under their base names, into a tarball, run through the BCJ2 x86\n"
    "branch converter and LZMA, and stored as the stub's payload resource (type \"B\",\n"
    "id 102, neutral language). The first file whose name ends in \".exe\" (any case)\n"
    "is the setup program that the stub runs. All other resources of the template are\n"
    "kept; a payload the template already carries is replaced. Pack before signing:\n"
    "signed templates are refused.\n"
    "\n"
    "  -o, --output OUT.exe   the installer to write (written whole or not at all)\n"
    "  --stub TEMPLATE.exe    the stub template; when not given, the first of:\n"
    "                           $ORVIA_STUB_TEMPLATE\n"
    "                           OrviaUpdateSetup.exe beside orvia-pack\n"
    "                           ../../windows/stub/OrviaUpdateSetup.exe from orvia-pack's\n"
    "                           directory (the build tree)\n"
    "  --tar ARCHIVE.tar      pack this tarball unchanged instead of FILE...\n"
    "  --raw-payload FILE     store FILE as the payload resource byte for byte, unchecked\n"
    "  --allow-no-setup       pack even when no file ends in \".exe\"\n"
    "  --lc N, --lp N, --pb N LZMA literal context/position bits (default 3, 0, 2)\n"
    "  --dict-size N[K|M]     LZMA dictionary size, 4K to 128M (default 8M); the header\n"
    "                         stores it rounded up to 2^n or 3*2^n\n"
    "  --level N              LZMA level 0 to 9 (default 5)\n"
    "  --list INSTALLER.exe   decode an installer's payload and list its members\n"
    "  --help, --version\n"
    "\n"
    "Inputs must be regular files below 2 GiB with names of at most 100 bytes; the\n"
    "tarball must stay below 2 GiB. The stub decodes in one shot inside a 32-bit\n"
    "process, so payload + decoded block + tarball + 512 MiB must stay within 4 GiB\n"
    "(an incompressible product of about 1.1 GiB at most).\n"
    "Exit status 0 on success, 1 on any error.\n";

std::string ParsePackArguments(const std::vector<std::string>& args, PackOptions* options) {
  // Each option that takes a value stores it, or says what is wrong with it.
  using Setter = std::function<std::string(const std::string&)>;
  auto text_into = [](std::string* target) -> Setter {
    return [target](const std::string& value) {
      *target = value;
      return std::string();
    };
  };
  auto number_into = [](const char* name, int* target, int max) -> Setter {
    return [=](const std::string& value) {
      uint64_t n = 0;
      if (!ParseNumber(value, false, &n) || n > static_cast<uint64_t>(max))
        return std::string(name) + " takes a number from 0 to " + std::to_string(max) + ", not " +
               value;
      *target = static_cast<int>(n);
      return std::string();
    };
  };
  const std::vector<std::pair<std::string, Setter>> valued = {
      {"-o", text_into(&options->output)},
      {"--output", text_into(&options->output)},
      {"--stub", text_into(&options->stub)},
      {"--tar", text_into(&options->tar)},
      {"--raw-payload", text_into(&options->raw_payload)},
      {"--list", text_into(&options->list)},
      {"--lc", number_into("--lc", &options->lzma.lc, 8)},
      {"--lp", number_into("--lp", &options->lzma.lp, 4)},
      {"--pb", number_into("--pb", &options->lzma.pb, 4)},
      {"--level", number_into("--level", &options->lzma.level, 9)},
      {"--dict-size",
       [options](const std::string& value) {
         uint64_t n = 0;
         if (!ParseNumber(value, true, &n))
           return "--dict-size takes a byte count such as 8M, not " + value;
         options->lzma.dict_size = static_cast<uint32_t>(n);
         return std::string();
       }},
  };
  const std::vector<std::pair<std::string, bool*>> flags = {
      {"--help", &options->help},
      {"-h", &options->help},
      {"--version", &options->version},
      {"--allow-no-setup", &options->allow_no_setup},
  };

  bool only_files = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (only_files || arg.empty() || arg[0] != '-' || arg == "-") {
      options->files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      only_files = true;
      continue;
    }
    auto flag =
        std::find_if(flags.begin(), flags.end(), [&](const auto& f) { return f.first == arg; });
    if (flag != flags.end()) {
      *flag->second = true;
      continue;
    }
    auto option =
        std::find_if(valued.begin(), valued.end(), [&](const auto& v) { return v.first == arg; });
    if (option == valued.end())
      return "unknown option " + arg;
    if (i + 1 >= args.size())
      return arg + " needs a value";
    std::string complaint = option->second(args[++i]);
    if (!complaint.empty())
      return complaint;
  }
  return "";
}

}  // namespace orvia
