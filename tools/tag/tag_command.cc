#include "tools/tag/tag_command.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>

#include "tools/common/file_util.h"
#include "tools/common/tool_error.h"
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

constexpr char kHelp[] =
    "usage: orvia-tag set (--tag TEXT | --tag-file FILE) IN.exe -o OUT.exe\n"
    "       orvia-tag get FILE\n"
    "       orvia-tag clear IN.exe -o OUT.exe\n"
    "\n"
    "Tags a signed installer without touching what the signer signed: the tag block\n"
    "(the magic \"Gact2.0Vantu\", a two-byte big-endian length, the text, then zero\n"
    "bytes up to 8,206 bytes) is carried by one extra certificate in the signature's\n"
    "certificate set. The stub hands the text to the setup program.\n"
    "\n"
    "  set    write the tag; a tag already there is replaced in place (same file size)\n"
    "  get    print the tag as the stub reads it, then a newline\n"
    "  clear  remove the tag, leaving the signature as the signer made it\n"
    "\n"
    "  --tag TEXT            the tag text: 1 to 8,192 bytes, no double quote\n"
    "  --tag-file FILE       take the tag text from FILE, byte for byte\n"
    "  -o, --output OUT.exe  the file to write, whole or not at all; may be IN.exe\n"
    "  --help, --version\n"
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
    return "no command given (set, get or clear)";
  if (command != "set" && command != "get" && command != "clear")
    return "unknown command " + command;
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
  return Get(options);
}

}  // namespace orvia
