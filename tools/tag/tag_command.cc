#include "tools/tag/tag_command.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>

#include "tools/common/file_util.h"
#include "tools/common/tool_error.h"
#include "tools/tag/serve_server.h"
#include "tools/tag/tag_image.h"

#ifndef ORVIA_VERSION
#error "ORVIA_VERSION must be defined by the build"
#endif

namespace orvia {
namespace {

// A PE image's offsets are 32-bit; nothing larger can be one.
constexpr uint64_t kMaxImageSize = UINT32_MAX;
// Far more than a block holds, so that the text check gives the reason.
constexpr uint64_t kMaxTagFileSize = 1u << 20;
// A shared secret is a key, not a document.
constexpr uint64_t kMaxSecretFileSize = 64u << 10;
constexpr int kMaxThreads = 64;
constexpr int kMaxTimeoutSeconds = 3600;

constexpr char kHelp[] =
    "usage: orvia-tag set (--tag TEXT | --tag-file FILE) IN.exe -o OUT.exe\n"
    "       orvia-tag get FILE\n"
    "       orvia-tag clear IN.exe -o OUT.exe\n"
    "       orvia-tag serve --installer SIGNED.exe --listen HOST:PORT [--secret-file FILE]\n"
    "                 [--keys KEY,KEY,...] [--threads N] [--timeout SECONDS]\n"
    "\n"
    "Tags a signed installer without touching what the signer signed: the tag block\n"
    "(the magic \"Gact2.0Vantu\", a two-byte big-endian length, the text, then zero\n"
    "bytes up to 8,206 bytes) is carried by one extra certificate in the signature's\n"
    "certificate set. The stub hands the text to the setup program.\n"
    "\n"
    "  set    write the tag; a tag already there is replaced in place (same file size)\n"
    "  get    print the tag as the stub reads it, then a newline\n"
    "  clear  remove the tag, leaving the signature as the signer made it\n"
    "  serve  answer GET /ANY/PATH?tag=TAG[&sig=SIG] over HTTP with the bytes that\n"
    "         `set --tag TAG` writes; /healthz answers \"ok\"; stops on SIGTERM or SIGINT\n"
    "\n"
    "  --tag TEXT            the tag text: 1 to 8,192 bytes, no double quote\n"
    "  --tag-file FILE       take the tag text from FILE, byte for byte\n"
    "  -o, --output OUT.exe  the file to write, whole or not at all; may be IN.exe\n"
    "  --help, --version\n"
    "\n"
    "serve options:\n"
    "  --installer SIGNED.exe  the signed installer whose tagged copies are served\n"
    "  --listen HOST:PORT      the address to listen on, e.g. 127.0.0.1:8080 (port 0: any)\n"
    "  --secret-file FILE      serve only tags whose sig is the lowercase hex\n"
    "                          HMAC-SHA256 of the tag text keyed with FILE's bytes\n"
    "  --keys KEY,KEY,...      the tag must be KEY=VALUE pairs joined by '&' with these\n"
    "                          keys, values printable ASCII without '\"'\n"
    "  --threads N             threads serving connections (default 2)\n"
    "  --timeout SECONDS       drop a connection that makes no progress this long\n"
    "                          (default 30)\n"
    "The tag parameter is the tag text percent-encoded: a tag holding \"%20\" is sent\n"
    "as \"%2520\"; '+' is a plus sign; a broken escape or %00 is refused. serve writes\n"
    "one access-log line per request to standard output.\n"
    "\n"
    "Only signed 32-bit images whose certificate table is one PKCS#7 signature at the\n"
    "end of the file can be tagged. Exit status 0 on success, 1 on any error; get\n"
    "also exits 1 when the stub would find no tag.\n";

int Fail(const std::string& subject, const std::string& reason) {
  return PrintToolError("orvia-tag", subject, reason);
}

struct Options {
  std::string command;
  std::vector<std::string> files;
  std::optional<std::string> output;
  std::optional<std::string> tag;
  std::optional<std::string> tag_file;
  std::optional<std::string> installer;
  std::optional<std::string> listen;
  std::optional<std::string> secret_file;
  std::optional<std::string> keys;
  std::optional<std::string> threads;
  std::optional<std::string> timeout;
  bool help = false;
  bool version = false;
};

// Returns an empty string when the arguments parse, else the complaint.
std::string ParseArguments(const std::vector<std::string>& args, Options* options) {
  const std::vector<std::pair<std::string, std::optional<std::string>*>> valued = {
      {"-o", &options->output},
      {"--output", &options->output},
      {"--tag", &options->tag},
      {"--tag-file", &options->tag_file},
      {"--installer", &options->installer},
      {"--listen", &options->listen},
      {"--secret-file", &options->secret_file},
      {"--keys", &options->keys},
      {"--threads", &options->threads},
      {"--timeout", &options->timeout},
  };
  std::vector<std::string> operands;
  bool only_operands = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (only_operands || arg.empty() || arg[0] != '-' || arg == "-") {
      operands.push_back(arg);
    } else if (arg == "--") {
      only_operands = true;
    } else if (arg == "--help" || arg == "-h") {
      options->help = true;
    } else if (arg == "--version") {
      options->version = true;
    } else {
      auto option =
          std::find_if(valued.begin(), valued.end(), [&](const auto& v) { return v.first == arg; });
      if (option == valued.end())
        return "unknown option " + arg;
      if (i + 1 >= args.size())
        return arg + " needs a value";
      if (option->second->has_value())
        return arg + " given twice";
      *option->second = args[++i];
    }
  }
  if (!operands.empty()) {
    options->command = operands.front();
    options->files.assign(operands.begin() + 1, operands.end());
  }
  return "";
}

// What is wrong with the arguments for the chosen command, or empty.
std::string CheckUsage(const Options& options) {
  const std::string& command = options.command;
  if (command.empty())
    return "no command given (set, get, clear or serve)";
  if (command != "set" && command != "get" && command != "clear" && command != "serve")
    return "unknown command " + command;
  bool has_serve_option = options.installer || options.listen || options.secret_file ||
                          options.keys || options.threads || options.timeout;
  if (command != "serve" && has_serve_option)
    return "--installer, --listen, --secret-file, --keys, --threads and --timeout go only with "
           "serve";
  if (command == "serve") {
    if (!options.files.empty())
      return "serve takes no file operands (--installer SIGNED.exe)";
    if (!options.installer || !options.listen)
      return "serve needs --installer SIGNED.exe and --listen HOST:PORT";
    if (options.tag || options.tag_file || options.output)
      return "serve takes the tag from each request (no --tag, --tag-file or -o)";
    return "";
  }
  if (options.files.size() != 1)
    return command + " takes one file, not " + std::to_string(options.files.size());
  bool has_tag = options.tag.has_value() || options.tag_file.has_value();
  if (command == "set" && options.tag.has_value() == options.tag_file.has_value())
    return "set takes either --tag TEXT or --tag-file FILE";
  if (command != "set" && has_tag)
    return "--tag and --tag-file go only with set";
  if (command == "get" && options.output.has_value())
    return "get writes no file (no -o)";
  if (command != "get" && (!options.output.has_value() || options.output->empty()))
    return "no output given (-o OUT.exe)";
  return "";
}

int FileMode(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 0777) : -1;
}

// Makes the output image from the checked input; false with a reason about
// the input. `note` is what the success line says about the result.
using MakeImage = std::function<bool(const std::vector<uint8_t>& image,
                                     const SignedImage& signed_image,
                                     std::vector<uint8_t>* output,
                                     std::string* note,
                                     std::string* error)>;

// Reads IN, makes the output, and writes it at OUT whole or not at all, with
// IN's permissions.
int RewriteImage(const Options& options, const MakeImage& make) {
  const std::string& input = options.files.front();
  const std::string& output_path = *options.output;
  std::string error;
  FileInfo existing;
  if (StatFile(output_path, &existing, &error) && existing.is_directory)
    return Fail(output_path, "is a directory");
  AtomicFile output_file;
  if (!output_file.Create(output_path, &error))
    return Fail(output_path, error);

  std::vector<uint8_t> image;
  SignedImage signed_image;
  if (!ReadWholeFileLimited(input, kMaxImageSize, &image, &error) ||
      !ReadSignedImage(image, &signed_image, &error))
    return Fail(input, error);
  std::vector<uint8_t> output;
  std::string note;
  if (!make(image, signed_image, &output, &note, &error))
    return Fail(input, error);
  if (!output_file.Commit(output, FileMode(input), &error))
    return Fail(output_path, error);
  std::fprintf(stderr, "orvia-tag: wrote %s (%s)\n", output_path.c_str(), note.c_str());
  return 0;
}

// The text from --tag, or the bytes of --tag-file; `subject` names its source.
bool ReadTagText(const Options& options,
                 std::string* text,
                 std::string* subject,
                 std::string* error) {
  if (options.tag.has_value()) {
    *text = *options.tag;
    *subject = "--tag";
    return true;
  }
  *subject = *options.tag_file;
  std::vector<uint8_t> bytes;
  if (!ReadWholeFileLimited(*options.tag_file, kMaxTagFileSize, &bytes, error))
    return false;
  text->assign(bytes.begin(), bytes.end());
  return true;
}

int Set(const Options& options) {
  std::string text;
  std::string subject;
  std::string error;
  if (!ReadTagText(options, &text, &subject, &error) || !CheckTagTextForBlock(text, &error))
    return Fail(subject, error);
  return RewriteImage(
      options, [&text](const std::vector<uint8_t>& image, const SignedImage& signed_image,
                       std::vector<uint8_t>* output, std::string* note, std::string* error) {
        CertificateTable table;
        if (!ComposeTaggedTable(signed_image, text, &table, error))
          return false;
        *output = AssembleImage(image, signed_image, table.bytes);
        *note = "tag of " + std::to_string(text.size()) + (text.size() == 1 ? " byte" : " bytes");
        return CheckStubReadsBlock(*output, table.block_offset, text, error);
      });
}

int Clear(const Options& options) {
  return RewriteImage(options,
                      [](const std::vector<uint8_t>& image, const SignedImage& signed_image,
                         std::vector<uint8_t>* output, std::string* note, std::string* error) {
                        // Nothing to take out: the signer's file as it is.
                        if (signed_image.tag_certificates == 0) {
                          *output = image;
                          *note = "it had no tag; unchanged";
                          return true;
                        }
                        CertificateTable table;
                        if (!ComposeUntaggedTable(signed_image, &table, error))
                          return false;
                        *output = AssembleImage(image, signed_image, table.bytes);
                        *note = "tag removed";
                        return true;
                      });
}

int Get(const Options& options) {
  const std::string& path = options.files.front();
  std::vector<uint8_t> image;
  std::string error;
  if (!ReadWholeFileLimited(path, kMaxImageSize, &image, &error))
    return Fail(path, error);
  StubTagReading reading = ReadTagAsStub(image);
  if (reading.result != TagScanResult::kFound)
    return Fail(path, DescribeTagScanResult(reading.result));
  std::fwrite(reading.text.data(), 1, reading.text.size(), stdout);
  std::fputc('\n', stdout);
  if (std::fflush(stdout) != 0)
    return Fail("", "cannot write to standard output");
  return 0;
}

// A whole number in [low, high], or nullopt.
std::optional<int> ParseCount(const std::string& text, int low, int high) {
  if (text.empty() || text.size() > 9 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  int value = std::stoi(text);
  if (value < low || value > high)
    return std::nullopt;
  return value;
}

int Serve(const Options& options) {
  ServeConfig config;
  config.installer = *options.installer;
  const std::string& listen = *options.listen;
  size_t colon = listen.rfind(':');
  if (colon == std::string::npos || colon == 0)
    return Fail("--listen", "'" + listen + "' is not HOST:PORT");
  config.listen_host = listen.substr(0, colon);
  if (config.listen_host.size() > 2 && config.listen_host.front() == '[' &&
      config.listen_host.back() == ']')
    config.listen_host = config.listen_host.substr(1, config.listen_host.size() - 2);
  config.listen_port = listen.substr(colon + 1);
  std::string error;
  if (options.secret_file) {
    std::vector<uint8_t> secret;
    if (!ReadWholeFileLimited(*options.secret_file, kMaxSecretFileSize, &secret, &error))
      return Fail(*options.secret_file, error);
    if (secret.empty())
      return Fail(*options.secret_file, "the secret file is empty");
    config.policy.secret.assign(secret.begin(), secret.end());
  }
  if (options.keys && !ParseKeyList(*options.keys, &config.policy.keys, &error))
    return Fail("--keys", error);
  if (options.threads) {
    std::optional<int> threads = ParseCount(*options.threads, 1, kMaxThreads);
    if (!threads)
      return Fail("--threads", "takes a number from 1 to " + std::to_string(kMaxThreads));
    config.threads = *threads;
  }
  if (options.timeout) {
    std::optional<int> timeout = ParseCount(*options.timeout, 1, kMaxTimeoutSeconds);
    if (!timeout)
      return Fail("--timeout", "takes seconds from 1 to " + std::to_string(kMaxTimeoutSeconds));
    config.timeout_seconds = *timeout;
  }
  return RunTagServer(config);
}

}  // namespace

int RunOrviaTag(const std::vector<std::string>& args) {
  Options options;
  std::string problem = ParseArguments(args, &options);
  if (!problem.empty())
    return Fail("", problem + "; see --help");
  if (options.help) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("orvia-tag %s\n", ORVIA_VERSION);
    return 0;
  }
  problem = CheckUsage(options);
  if (!problem.empty())
    return Fail("", problem + "; see --help");
  if (options.command == "set")
    return Set(options);
  if (options.command == "clear")
    return Clear(options);
  if (options.command == "serve")
    return Serve(options);
  return Get(options);
}

}  // namespace orvia
