#include "tools/pack/pack_command.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>

#include "core/payload/tar_header.h"
#include "tools/common/file_util.h"
#include "tools/pack/installer_image.h"
#include "tools/pack/payload.h"
#include "tools/pack/tar_list.h"
#include "tools/pack/tar_writer.h"

#ifndef ORVIA_VERSION
#error "ORVIA_VERSION must be defined by the build"
#endif

namespace orvia {
namespace {

constexpr char kTemplateName[] = "OrviaUpdateSetup.exe";
constexpr char kTemplateVariable[] = "ORVIA_STUB_TEMPLATE";
// A stub template is a small program; anything bigger is not one.
constexpr uint64_t kMaxTemplateSize = 64u << 20;
constexpr uint64_t kMaxRawPayloadSize = (1ull << 31) - 1;

constexpr char kHelp[] =
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
    "tarball must stay below 2 GiB. Exit status 0 on success, 1 on any error.\n";

int Fail(const std::string& subject, const std::string& reason) {
  if (subject.empty())
    std::fprintf(stderr, "orvia-pack: %s\n", reason.c_str());
  else
    std::fprintf(stderr, "orvia-pack: %s: %s\n", subject.c_str(), reason.c_str());
  return 1;
}

struct Options {
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

// Returns an empty string when the arguments parse, else the complaint.
std::string ParseArguments(const std::vector<std::string>& args, Options* options) {
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

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool FileExists(const std::string& path) {
  FileInfo info;
  std::string ignored;
  return StatFile(path, &info, &ignored) && info.is_regular;
}

// The template named on the command line, else the first that exists of
// the documented fall-backs, else the first fall-back (to name in the error).
std::string FindTemplate(const Options& options, const std::string& tool_directory) {
  if (!options.stub.empty())
    return options.stub;
  std::vector<std::string> candidates;
  if (const char* env = std::getenv(kTemplateVariable); env != nullptr && *env != '\0')
    return env;
  if (!tool_directory.empty()) {
    candidates.push_back(tool_directory + "/" + kTemplateName);
    candidates.push_back(tool_directory + "/../../windows/stub/" + kTemplateName);
  }
  for (const std::string& candidate : candidates) {
    if (FileExists(candidate))
      return candidate;
  }
  return candidates.empty() ? std::string(kTemplateName) : candidates.front();
}

// Shows how far the compressor has got, on a terminal only, so that logs of
// scripted builds stay clean.
class ProgressLine {
 public:
  explicit ProgressLine(uint64_t total) : total_(total), active_(isatty(STDERR_FILENO) == 1) {}
  ~ProgressLine() {
    if (active_ && shown_ >= 0)
      std::fputs("\n", stderr);
  }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  LzmaProgress Callback() {
    if (!active_)
      return LzmaProgress();
    return [this](uint64_t consumed) { Show(consumed); };
  }

  // The encoder reports only between its blocks, never at the end.
  void Done() {
    if (active_)
      Show(total_);
  }

 private:
  void Show(uint64_t consumed) {
    // The encoder's input is a little longer than the tarball (the flags).
    consumed = consumed < total_ ? consumed : total_;
    int percent = total_ == 0 ? 100 : static_cast<int>(consumed * 100 / total_);
    if (percent == shown_)
      return;
    shown_ = percent;
    std::fprintf(stderr, "\rorvia-pack: compressing %3d%% (%llu of %llu MiB)", percent,
                 static_cast<unsigned long long>(consumed >> 20),
                 static_cast<unsigned long long>(total_ >> 20));
    std::fflush(stderr);
  }

  uint64_t total_;
  bool active_;
  int shown_ = -1;
};

// The members' setup program, or the empty string.
std::string ChooseSetupProgram(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (IsSetupProgramName(name))
      return name;
  }
  return "";
}

bool ReportSetupProgram(const std::vector<std::string>& names, bool allow_no_setup, int* status) {
  std::string setup = ChooseSetupProgram(names);
  if (setup.empty() && !allow_no_setup) {
    *status = Fail("",
                   "no setup program: no member name ends in \".exe\" "
                   "(--allow-no-setup packs anyway)");
    return false;
  }
  if (setup.empty())
    std::fprintf(stderr, "orvia-pack: no setup program; the installer will not run anything\n");
  else
    std::fprintf(stderr, "orvia-pack: setup program: %s\n", setup.c_str());
  return true;
}

// Validates every input before anything is read whole, then builds the
// tarball in one buffer with each file read straight into its place.
bool BuildTarball(const Options& options, std::vector<uint8_t>* tarball, int* status) {
  struct Input {
    std::string path;
    std::string name;
    uint64_t size;
  };
  std::vector<Input> inputs;
  std::set<std::string> names;
  uint64_t total = 0;
  for (const std::string& path : options.files) {
    FileInfo info;
    std::string error;
    if (!StatFile(path, &info, &error)) {
      *status = Fail(path, error);
      return false;
    }
    if (info.is_directory) {
      *status = Fail(path, "is a directory");
      return false;
    }
    if (!info.is_regular) {
      *status = Fail(path, "not a regular file");
      return false;
    }
    std::string name = BaseName(path);
    std::string bad_name = CheckTarMemberName(name);
    if (!bad_name.empty()) {
      *status = Fail(path, bad_name);
      return false;
    }
    if (!names.insert(name).second) {
      *status = Fail(path, "a second file named " + name);
      return false;
    }
    if (info.size > kTarMaxMemberSize) {
      *status = Fail(path, "member of 2 GiB or more");
      return false;
    }
    if (!CheckReadable(path, &error)) {
      *status = Fail(path, error);
      return false;
    }
    total += kTarBlockSize + (info.size + kTarBlockSize - 1) / kTarBlockSize * kTarBlockSize;
    if ((total + 2 * kTarBlockSize + kTarRecordSize - 1) / kTarRecordSize * kTarRecordSize >
        kTarMaxArchiveSize) {
      *status = Fail(path, "tarball of 2 GiB or more");
      return false;
    }
    inputs.push_back({path, name, info.size});
  }
  std::vector<std::string> member_names;
  for (const Input& input : inputs)
    member_names.push_back(input.name);
  if (!ReportSetupProgram(member_names, options.allow_no_setup, status))
    return false;

  TarWriter writer;
  for (const Input& input : inputs) {
    std::string error;
    uint8_t* place = writer.AddMember(input.name, input.size, &error);
    if (place == nullptr || !ReadFileInto(input.path, place, input.size, &error)) {
      *status = Fail(input.path, error);
      return false;
    }
  }
  *tarball = writer.Finish();
  return true;
}

bool ReadTarball(const Options& options, std::vector<uint8_t>* tarball, int* status) {
  std::string error;
  if (!ReadWholeFileLimited(options.tar, kTarMaxArchiveSize, tarball, &error)) {
    if (error.rfind("larger than", 0) == 0)
      error = "tarball of 2 GiB or more";
    *status = Fail(options.tar, error);
    return false;
  }
  // The archive goes in unchanged, damaged ones included (tests need those);
  // what the stub would trip over is only pointed out.
  std::vector<TarMember> members;
  if (!ListTarMembers(tarball->data(), tarball->size(), &members, &error)) {
    std::fprintf(stderr, "orvia-pack: %s: warning: the stub will fail on this tarball: %s\n",
                 options.tar.c_str(), error.c_str());
  }
  std::vector<std::string> names;
  for (const TarMember& member : members)
    names.push_back(member.name);
  return ReportSetupProgram(names, options.allow_no_setup, status);
}

int ListInstaller(const std::string& path) {
  std::vector<uint8_t> image;
  std::string error;
  if (!ReadWholeFile(path, &image, &error))
    return Fail(path, error);
  std::vector<uint8_t> payload;
  if (!ExtractPayload(image, &payload, &error))
    return Fail(path, error);
  image = std::vector<uint8_t>();
  std::vector<uint8_t> tarball;
  Bcj2Header header;
  if (!DecodePayload(payload.data(), payload.size(), &tarball, &header, &error))
    return Fail(path, error);
  std::vector<TarMember> members;
  bool walked = ListTarMembers(tarball.data(), tarball.size(), &members, &error);

  unsigned props = payload[0];
  uint32_t dict = ReadLe32(payload.data() + 1);
  std::printf("payload: %zu bytes, LZMA lc %u lp %u pb %u, dictionary %u bytes\n", payload.size(),
              props % 9, props / 9 % 5, props / 45, dict);
  std::printf("BCJ2: main %u, call %u, jump %u, rc %u bytes; tarball %u bytes\n", header.main_size,
              header.call_size, header.jump_size, header.rc_size, header.output_size);
  std::string setup;
  for (const TarMember& member : members) {
    std::printf("%12llu  %s\n", static_cast<unsigned long long>(member.size), member.name.c_str());
    if (setup.empty() && IsSetupProgramName(member.name))
      setup = member.name;
  }
  if (setup.empty())
    std::printf("setup program: none (the stub will fail)\n");
  else
    std::printf("setup program: %s\n", setup.c_str());
  if (!walked)
    return Fail(path, "tarball damaged after the members listed: " + error);
  return 0;
}

int Pack(const Options& options, const std::string& tool_directory) {
  int sources = !options.files.empty() + !options.tar.empty() + !options.raw_payload.empty();
  if (sources != 1)
    return Fail("", "give either FILE..., --tar ARCHIVE or --raw-payload FILE; see --help");
  std::string problem = CheckLzmaOptions(options.lzma);
  if (!problem.empty())
    return Fail("", problem);

  AtomicFile output;
  std::string error;
  FileInfo existing;
  if (StatFile(options.output, &existing, &error) && existing.is_directory)
    return Fail(options.output, "is a directory");
  if (!output.Create(options.output, &error))
    return Fail(options.output, error);

  std::string template_path = FindTemplate(options, tool_directory);
  std::vector<uint8_t> stub;
  if (!ReadWholeFileLimited(template_path, kMaxTemplateSize, &stub, &error) ||
      !CheckTemplate(stub, &error))
    return Fail(template_path, "unusable stub template: " + error);

  std::vector<uint8_t> payload;
  int status = 0;
  if (!options.raw_payload.empty()) {
    if (!ReadWholeFileLimited(options.raw_payload, kMaxRawPayloadSize, &payload, &error))
      return Fail(options.raw_payload, error);
  } else {
    std::vector<uint8_t> tarball;
    bool ok = options.tar.empty() ? BuildTarball(options, &tarball, &status)
                                  : ReadTarball(options, &tarball, &status);
    if (!ok)
      return status;
    size_t tar_size = tarball.size();
    bool encoded;
    {
      ProgressLine progress(tar_size + kBcj2HeaderSize);
      encoded =
          EncodePayload(std::move(tarball), options.lzma, progress.Callback(), &payload, &error);
      if (encoded)
        progress.Done();
    }
    if (!encoded)
      return Fail("", "compression failed: " + error);
    std::fprintf(stderr, "orvia-pack: tarball %zu bytes, payload %zu bytes\n", tar_size,
                 payload.size());
  }

  std::vector<uint8_t> installer;
  if (!EmbedPayload(stub, std::move(payload), &installer, &error))
    return Fail(template_path, error);
  stub = std::vector<uint8_t>();
  if (!output.Commit(installer, -1, &error))
    return Fail(options.output, error);
  std::fprintf(stderr, "orvia-pack: wrote %s (%zu bytes)\n", options.output.c_str(),
               installer.size());
  return 0;
}

}  // namespace

std::string ExecutableDirectory() {
  std::string path(4096, '\0');
  ssize_t length = readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (length <= 0)
    return "";
  path.resize(static_cast<size_t>(length));
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

bool IsSetupProgramName(const std::string& member_name) {
  // The stub takes the name after the path's last backslash, widens it and
  // lowers it; for the letters of ".exe" that is ASCII lowering.
  size_t slash = member_name.find_last_of('\\');
  std::string file =
      LowerAscii(slash == std::string::npos ? member_name : member_name.substr(slash + 1));
  std::wstring wide(file.begin(), file.end());
  return IsSetupProgramName(wide.c_str(), wide.size());
}

int RunOrviaPack(const std::vector<std::string>& args, const std::string& tool_directory) {
  Options options;
  std::string problem = ParseArguments(args, &options);
  if (!problem.empty())
    return Fail("", problem + "; see --help");
  if (options.help) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("orvia-pack %s\n", ORVIA_VERSION);
    return 0;
  }
  if (!options.list.empty()) {
    if (!options.output.empty() || !options.files.empty() || !options.tar.empty() ||
        !options.raw_payload.empty())
      return Fail("", "--list takes only the installer; see --help");
    return ListInstaller(options.list);
  }
  if (options.output.empty())
    return Fail("", "no output given (-o OUT.exe); see --help");
  return Pack(options, tool_directory);
}

}  // namespace orvia
