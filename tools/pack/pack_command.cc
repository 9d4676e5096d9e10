#include "tools/pack/pack_command.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "tools/common/file_util.h"
#include "tools/common/tool_error.h"
#include "tools/pack/decode_budget.h"
#include "tools/pack/installer_image.h"
#include "tools/pack/list_installer.h"
#include "tools/pack/pack_inputs.h"
#include "tools/pack/pack_options.h"
#include "tools/pack/payload.h"
#include "tools/pack/progress_line.h"

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

int Fail(const std::string& subject, const std::string& reason) {
  return PrintToolError("orvia-pack", subject, reason);
}

bool FileExists(const std::string& path) {
  FileInfo info;
  std::string ignored;
  return StatFile(path, &info, &ignored) && info.is_regular;
}

// The template named on the command line, else the first that exists of
// the documented fall-backs, else the first fall-back (to name in the error).
std::string FindTemplate(const PackOptions& options, const std::string& tool_directory) {
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

int Pack(const PackOptions& options, const std::string& tool_directory) {
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
    const uint64_t block = ReadLe32(payload.data() + kLzmaUnpackedSizeOffset);
    if (!CheckStubCanDecode(payload.size(), block, tar_size, &error))
      return Fail("", error);
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

int RunOrviaPack(const std::vector<std::string>& args, const std::string& tool_directory) {
  PackOptions options;
  std::string problem = ParsePackArguments(args, &options);
  if (!problem.empty())
    return Fail("", problem + "; see --help");
  if (options.help) {
    std::fputs(kPackHelp, stdout);
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
