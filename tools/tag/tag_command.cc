#include "tools/tag/tag_command.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <system_error>
#include <thread>

#include "tools/common/file_util.h"
#include "tools/common/scoped_fd.h"
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
// Large enough that system calls cost little, small enough to stay in cache.
constexpr size_t kStreamChunkSize = 1u << 20;
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

// What Set or Clear makes of the checked input.
struct OutputPlan {
  bool unchanged = false;          // the input as it is
  CertificateTable table;          // else the input up to its table, then this one
  std::optional<std::string> tag;  // the text the stub must read from the result
  std::string note;                // what the success line says about the result
};

// Fills `plan` for the checked input; false with a reason about the input.
using MakePlan =
    std::function<bool(const SignedImage& signed_image, OutputPlan* plan, std::string* error)>;

bool SameFile(int a, int b) {
  struct stat sa;
  struct stat sb;
  return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool NamesFile(const std::string& path, int fd) {
  struct stat sp;
  struct stat sf;
  return stat(path.c_str(), &sp) == 0 && fstat(fd, &sf) == 0 && sp.st_dev == sf.st_dev &&
         sp.st_ino == sf.st_ino;
}

// The output's header fields as its prefix is streamed: the new table size,
// and the checksum counted as zero as ComputePeChecksum counts it (only at an
// even offset; at an odd one it sums the bytes it finds).
std::vector<FileWrite> HeaderPatches(const SignedImage& signed_image, size_t table_size) {
  const PeLayout& layout = signed_image.layout;
  std::vector<FileWrite> patches(1);
  patches[0].offset = layout.DirectoryOffset(kPeDirectorySecurity) + 4;
  patches[0].bytes.resize(4);
  WriteLe32(patches[0].bytes.data(), static_cast<uint32_t>(table_size));
  if (layout.ChecksumOffset() % 2 == 0)
    patches.push_back({layout.ChecksumOffset(), std::vector<uint8_t>(4, 0)});
  return patches;
}

// Streams bytes [begin, end) of `in` through one buffer: `patches` replace
// their bytes on the way, and what results is added to `sum` and written to
// `out` at the same offsets (-1: nowhere). Fails with `read_error` or
// `write_error` set.
bool StreamRange(int in,
                 uint64_t begin,
                 uint64_t end,
                 const std::vector<FileWrite>& patches,
                 int out,
                 PeWordSum* sum,
                 std::string* read_error,
                 std::string* write_error) {
  std::vector<uint8_t> buffer(
      static_cast<size_t>(std::min<uint64_t>(end - begin, kStreamChunkSize)));
  for (uint64_t at = begin; at < end;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), end - at));
    if (!PreadFully(in, buffer.data(), n, at, read_error))
      return false;
    for (const FileWrite& patch : patches) {
      uint64_t from = std::max<uint64_t>(at, patch.offset);
      uint64_t to = std::min<uint64_t>(at + n, patch.offset + patch.bytes.size());
      if (from < to)
        std::memcpy(buffer.data() + (from - at), patch.bytes.data() + (from - patch.offset),
                    static_cast<size_t>(to - from));
    }
    if (sum != nullptr)
      sum->Add(buffer.data(), n, at);
    if (out >= 0 && !PwriteFully(out, buffer.data(), n, at, write_error))
      return false;
    at += n;
  }
  return true;
}

// Copies the first `size` bytes of `in` to `out` within the kernel, without
// passing them through this process; where the file systems do not allow
// that, or it fails, the rest goes through a buffer, which names the side
// that failed.
bool CopyPrefix(int in, int out, uint64_t size, std::string* read_error, std::string* write_error) {
  off_t from = 0;
  off_t to = 0;
  while (static_cast<uint64_t>(from) < size) {
    ssize_t copied = copy_file_range(in, &from, out, &to, static_cast<size_t>(size - from), 0);
    if (copied < 0 && errno == EINTR)
      continue;
    if (copied <= 0)
      break;
  }
  return StreamRange(in, static_cast<uint64_t>(from), size, {}, out, nullptr, read_error,
                     write_error);
}

// Runs `background` on a second thread while `foreground` runs on this one,
// or one after the other when no thread can be started.
void RunAlongside(const std::function<void()>& background,
                  const std::function<void()>& foreground) {
  std::thread thread;
  try {
    thread = std::thread(background);
  } catch (const std::system_error&) {
    background();
  }
  foreground();
  if (thread.joinable())
    thread.join();
}

// The output whole, in `file`'s temporary file, renamed over OUT once the
// stub's scan reads the tag back from what was written. Exit status.
int WriteWhole(const Options& options,
               int in,
               uint64_t in_size,
               const SignedImage& signed_image,
               const OutputPlan& plan,
               AtomicFile* file) {
  const std::string& input = options.files.front();
  const std::string& output_path = *options.output;
  std::string read_error;
  std::string write_error;
  std::string error;
  const int out = file->fd();
  auto fail_io = [&] {
    return read_error.empty()
               ? Fail(output_path, "cannot write " + file->temp_path() + ": " + write_error)
               : Fail(input, read_error);
  };
  PeWordSum sum;
  if (plan.unchanged) {
    if (!CopyPrefix(in, out, in_size, &read_error, &write_error))
      return fail_io();
  } else {
    const std::vector<uint8_t>& table = plan.table.bytes;
    const uint32_t table_offset = signed_image.table_offset;
    const uint64_t output_size = table_offset + table.size();
    const std::vector<FileWrite> patches = HeaderPatches(signed_image, table.size());
    // The copy is mostly the kernel's work and the sum this thread's: side
    // by side they take little more than the copy alone.
    bool copied = false;
    bool summed = false;
    std::string sum_read_error;
    std::string ignored;
    RunAlongside([&] { copied = CopyPrefix(in, out, table_offset, &read_error, &write_error); },
                 [&] {
                   summed = StreamRange(in, 0, table_offset, patches, -1, &sum, &sum_read_error,
                                        &ignored);
                 });
    if (copied && !summed)
      read_error = sum_read_error;
    if (!copied || !summed)
      return fail_io();
    for (const FileWrite& patch : patches) {
      if (!PwriteFully(out, patch.bytes.data(), patch.bytes.size(), patch.offset, &write_error))
        return fail_io();
    }
    if (!PwriteFully(out, table.data(), table.size(), table_offset, &write_error))
      return fail_io();
    sum.Add(table.data(), table.size(), table_offset);
    uint8_t checksum[4];
    WriteLe32(checksum, sum.Checksum(output_size));
    if (!PwriteFully(out, checksum, sizeof(checksum), signed_image.layout.ChecksumOffset(),
                     &write_error))
      return fail_io();
    if (plan.tag) {
      MemoryMap written;
      if (!written.Map(out, StubViewSize(output_size), MemoryMap::Access::kRead, &error))
        return Fail(output_path, error);
      if (!CheckStubReadsBlockInView(written.data(), written.size(), plan.table.block_offset,
                                     *plan.tag, &error))
        return Fail(input, error);
    }
  }
  if (!file->Commit(FileMode(input), &error))
    return Fail(output_path, error);
  return 0;
}

// Retags IN, which OUT names, by writing only its block and checksum; the
// result is the bytes WriteWhole would write. False when that cannot be shown
// beforehand, or a write fails: the caller then writes the file whole, which
// a cut sequence of these writes does not disturb (they touch only the block
// and the checksum, which it counts as zero).
bool RetagInPlace(const std::string& path,
                  int in,
                  const MemoryMap& in_view,
                  uint64_t in_size,
                  const SignedImage& signed_image,
                  const OutputPlan& plan) {
  std::string ignored;
  const std::vector<uint8_t>& table = plan.table.bytes;
  const std::vector<FileWrite> patches = HeaderPatches(signed_image, table.size());
  // The checksum still needs every byte: two threads each sum half of them.
  const uint64_t half = signed_image.table_offset / 2;
  PeWordSum sum;
  PeWordSum upper;
  bool summed = false;
  bool upper_summed = false;
  std::string upper_ignored;
  RunAlongside(
      [&] {
        upper_summed = StreamRange(in, half, signed_image.table_offset, patches, -1, &upper,
                                   &upper_ignored, &upper_ignored);
      },
      [&] { summed = StreamRange(in, 0, half, patches, -1, &sum, &ignored, &ignored); });
  if (!summed || !upper_summed)
    return false;
  sum.Add(upper);
  sum.Add(table.data(), table.size(), signed_image.table_offset);
  std::vector<FileWrite> writes;
  if (!PlanRetagInPlace(signed_image, in_view.data() + signed_image.table_offset, plan.table,
                        sum.Checksum(signed_image.table_offset + table.size()), &writes, &ignored))
    return false;
  // The new file as the stub would map it: IN's pages with the writes made in
  // a private copy of the few pages they touch.
  MemoryMap after;
  if (!after.Map(in, StubViewSize(in_size), MemoryMap::Access::kPrivateCopy, &ignored))
    return false;
  for (const FileWrite& write : writes)
    std::copy(write.bytes.begin(), write.bytes.end(), after.data() + write.offset);
  if (!CheckStubReadsBlockInView(after.data(), after.size(), plan.table.block_offset, *plan.tag,
                                 &ignored))
    return false;
  ScopedFd out(open(path.c_str(), O_WRONLY | O_CLOEXEC));
  if (!out.valid() || !SameFile(out.get(), in))
    return false;
  for (const FileWrite& write : writes) {
    if (!PwriteFully(out.get(), write.bytes.data(), write.bytes.size(), write.offset, &ignored))
      return false;
  }
  return true;
}

// Reads IN, makes the output, and writes it at OUT whole or not at all, with
// IN's permissions; a retag of IN into itself writes only what changes.
int RewriteImage(const Options& options, const MakePlan& make) {
  const std::string& input = options.files.front();
  const std::string& output_path = *options.output;
  std::string error;
  FileInfo existing;
  if (StatFile(output_path, &existing, &error) && existing.is_directory)
    return Fail(output_path, "is a directory");
  AtomicFile output_file;
  if (!output_file.Create(output_path, &error))
    return Fail(output_path, error);

  // Only the headers and the table are read through the map; the rest is
  // streamed, never held whole.
  ScopedFd in;
  uint64_t in_size = 0;
  MemoryMap in_view;
  SignedImage signed_image;
  if (!OpenFileLimited(input, kMaxImageSize, &in, &in_size, &error) ||
      !in_view.Map(in.get(), StubViewSize(in_size), MemoryMap::Access::kRead, &error) ||
      !ReadSignedImage(in_view.data(), static_cast<size_t>(in_size), &signed_image, &error))
    return Fail(input, error);
  OutputPlan plan;
  if (!make(signed_image, &plan, &error))
    return Fail(input, error);
  bool in_place = plan.tag && signed_image.tag_certificates > 0 &&
                  NamesFile(output_path, in.get()) &&
                  RetagInPlace(output_path, in.get(), in_view, in_size, signed_image, plan);
  if (!in_place) {
    int status = WriteWhole(options, in.get(), in_size, signed_image, plan, &output_file);
    if (status != 0)
      return status;
  }
  std::fprintf(stderr, "orvia-tag: wrote %s (%s)\n", output_path.c_str(), plan.note.c_str());
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
  return RewriteImage(options, [&text](const SignedImage& signed_image, OutputPlan* plan,
                                       std::string* error) {
    if (!ComposeTaggedTable(signed_image, text, &plan->table, error))
      return false;
    plan->tag = text;
    plan->note = "tag of " + std::to_string(text.size()) + (text.size() == 1 ? " byte" : " bytes");
    return true;
  });
}

int Clear(const Options& options) {
  return RewriteImage(options,
                      [](const SignedImage& signed_image, OutputPlan* plan, std::string* error) {
                        // Nothing to take out: the signer's file as it is.
                        if (signed_image.tag_certificates == 0) {
                          plan->unchanged = true;
                          plan->note = "it had no tag; unchanged";
                          return true;
                        }
                        plan->note = "tag removed";
                        return ComposeUntaggedTable(signed_image, &plan->table, error);
                      });
}

int Get(const Options& options) {
  const std::string& path = options.files.front();
  ScopedFd fd;
  uint64_t size = 0;
  MemoryMap view;
  std::string error;
  if (!OpenFileLimited(path, kMaxImageSize, &fd, &size, &error) ||
      !view.Map(fd.get(), StubViewSize(size), MemoryMap::Access::kRead, &error))
    return Fail(path, error);
  StubTagReading reading = ReadTagFromStubView(view.data(), view.size());
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
