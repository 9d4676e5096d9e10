// orvia-pack as a process: refusals, the setup program it reports, the
// three payload sources, --list, the template search and the progress line.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/payload/payload_format.h"
#include "tests/support/tool_test_support.h"
#include "tools/pack/installer_image.h"
#include "tools/pack/pack_command.h"
#include "tools/pack/pack_inputs.h"
#include "tools/pack/payload.h"
#include "tools/pack/tar_writer.h"
#include "tools/pe/pe_image.h"

namespace orvia {
namespace {

using Bytes = std::vector<uint8_t>;
using test_support::CommandResult;
using test_support::ReadBytes;
using test_support::RunCommand;
using test_support::ScopedTempDir;
using test_support::WriteBytes;

namespace fs = std::filesystem;

const std::string kOrviaPack = std::string(ORVIA_TOOLS_DIR) + "/orvia-pack";
const std::string kTemplate = std::string(ORVIA_TOOLS_DIR) + "/fixtures/template.exe";
const std::string kCabarc = "/usr/lib/i386-linux-gnu/wine/i386-windows/cabarc.exe";

// Keeps each run's compressor set-up small.
const std::vector<std::string> kSmallDictionary = {"--dict-size", "64K"};

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

using test_support::Entries;

// Each row gets a fresh workspace.
struct Workspace : test_support::ToolWorkspace {
  Workspace() : ToolWorkspace("setup-installer.exe") {}
  std::string Sparse(const std::string& name, uint64_t size) const {
    std::string path = File(name, {});
    fs::resize_file(path, size);
    return path;
  }
  // The fixture template, changed by `patch`.
  std::string Template(const std::function<void(const PeLayout&, uint8_t*)>& patch) const {
    Bytes image = ReadBytes(kTemplate);
    PeLayout layout;
    std::string error;
    EXPECT_TRUE(ParsePe32(image.data(), image.size(), &layout, &error)) << error;
    patch(layout, image.data());
    return File("template.exe", image);
  }
};

struct BadInput {
  const char* label;
  // Makes the input files and returns the arguments after the program name;
  // `subject` receives the path that the message must name (empty: none).
  std::function<std::vector<std::string>(const Workspace&, std::string* subject)> make;
  std::string reason;
};

TEST(OrviaPackCommandTest, RefusesBadInputAndWritesNothing) {
  auto pack = [](const Workspace& w, std::vector<std::string> files) {
    std::vector<std::string> args = {"-o", w.out, "--stub", kTemplate};
    args.insert(args.end(), files.begin(), files.end());
    return args;
  };
  auto with_template = [](const Workspace& w, const std::string& stub) {
    return std::vector<std::string>{"-o", w.out, "--stub", stub, w.File("a.exe", Text("x"))};
  };
  const BadInput cases[] = {
      {"missing file",
       [&](const Workspace& w, std::string* s) {
         *s = w.in + "/absent.exe";
         return pack(w, {*s});
       },
       "no such file"},
      {"directory",
       [&](const Workspace& w, std::string* s) {
         *s = w.in + "/sub.exe";
         fs::create_directory(*s);
         return pack(w, {*s});
       },
       "is a directory"},
      {"named pipe",
       [&](const Workspace& w, std::string* s) {
         *s = w.in + "/pipe.exe";
         EXPECT_EQ(mkfifo(s->c_str(), 0600), 0);
         return pack(w, {*s});
       },
       "not a regular file"},
      {"name of 101 bytes",
       [&](const Workspace& w, std::string* s) {
         *s = w.File(std::string(97, 'n') + ".exe", Text("x"));
         return pack(w, {*s});
       },
       "name longer than 100 bytes"},
      {"backslash in the name",
       [&](const Workspace& w, std::string* s) {
         *s = w.File("dir\\setup.exe", Text("x"));
         return pack(w, {*s});
       },
       "name contains a path separator"},
      {"two files of one name",
       [&](const Workspace& w, std::string* s) {
         fs::create_directory(w.in + "/other");
         std::string first = w.File("setup.exe", Text("x"));
         *s = w.File("other/setup.exe", Text("y"));
         return pack(w, {first, *s});
       },
       "a second file named setup.exe"},
      {"member of 2 GiB",
       [&](const Workspace& w, std::string* s) {
         *s = w.Sparse("big.exe", 1ull << 31);
         return pack(w, {*s});
       },
       "member of 2 GiB or more"},
      {"tarball reaching 2 GiB",
       [&](const Workspace& w, std::string* s) {
         // Alone the first still fits, record padding included; the second's
         // header and data take the archive to exactly 2 GiB.
         std::string first = w.Sparse("a.exe", (1ull << 31) - 12288);
         *s = w.File("b.dat", Bytes(10240, 0));
         return pack(w, {first, *s});
       },
       "tarball of 2 GiB or more"},
      {"too large for the stub's address space",
       [&](const Workspace& w, std::string* s) {
         // 1.8 GiB of tarball: its block and buffer alone pass 4 GiB with the margin.
         s->clear();
         return pack(w, {w.Sparse("a.exe", 900ull << 20), w.Sparse("b.dat", 900ull << 20)});
       },
       "too large for the stub to decode: payload 0 MiB + decoded block 1801 MiB + tarball 1801 "
       "MiB + margin 512 MiB = 4113 MiB, more than the 4096 MiB a 32-bit process can address"},
      {"--tar of 2 GiB",
       [&](const Workspace& w, std::string* s) {
         *s = w.Sparse("big.tar", 1ull << 31);
         return std::vector<std::string>{"-o", w.out, "--stub", kTemplate, "--tar", *s};
       },
       "tarball of 2 GiB or more"},
      {"no setup program",
       [&](const Workspace& w, std::string* s) {
         s->clear();
         return pack(w, {w.File("readme.txt", Text("x")), w.File(".exe", Text("x"))});
       },
       "no setup program"},
      {"template missing",
       [&](const Workspace& w, std::string* s) {
         *s = w.in + "/none.exe";
         return with_template(w, *s);
       },
       "no such file"},
      {"template not a PE",
       [&](const Workspace& w, std::string* s) {
         *s = w.File("stub.exe", Text("MZ but nothing else"));
         return with_template(w, *s);
       },
       "not a PE image"},
      {"template PE32+",
       [&](const Workspace& w, std::string* s) {
         *s = w.Template([](const PeLayout& l, uint8_t* image) {
           WriteLe16(image + l.optional_offset, 0x020B);
         });
         return with_template(w, *s);
       },
       "not a PE32 image"},
      {"template for x64",
       [&](const Workspace& w, std::string* s) {
         *s = w.Template(
             [](const PeLayout& l, uint8_t* image) { WriteLe16(image + l.coff_offset, 0x8664); });
         return with_template(w, *s);
       },
       "not a 32-bit x86 image"},
      {"template already signed",
       [&](const Workspace& w, std::string* s) {
         *s = w.Template([](const PeLayout& l, uint8_t* image) {
           WriteLe32(image + l.DirectoryOffset(kPeDirectorySecurity), 0x4000);
           WriteLe32(image + l.DirectoryOffset(kPeDirectorySecurity) + 4, 0x100);
         });
         return with_template(w, *s);
       },
       "already signed (pack before signing)"},
      {"template with a fixed section after the resources",
       [&](const Workspace& w, std::string* s) {
         *s = w.Template([](const PeLayout& l, uint8_t* image) {
           for (const PeSection& section : l.sections) {
             if (section.name == ".reloc")
               WriteLe32(image + section.header_offset + 36,
                         section.characteristics & ~0x02000000u);  // not discardable
           }
         });
         return with_template(w, *s);
       },
       "follows the resources and cannot be moved"},
      {"output directory missing",
       [&](const Workspace& w, std::string* s) {
         *s = w.dir / "gone/out.exe";
         return std::vector<std::string>{"-o", *s, "--stub", kTemplate, w.File("a.exe", Text("x"))};
       },
       "cannot create a temporary file"},
      {"output is a directory",
       [&](const Workspace& w, std::string* s) {
         *s = w.out_dir;
         return std::vector<std::string>{"-o", *s, "--stub", kTemplate, w.File("a.exe", Text("x"))};
       },
       "is a directory"},
      {"raw payload missing",
       [&](const Workspace& w, std::string* s) {
         *s = w.in + "/payload.bin";
         return std::vector<std::string>{"-o", w.out, "--stub", kTemplate, "--raw-payload", *s};
       },
       "no such file"},
      {"bad dictionary size",
       [&](const Workspace& w, std::string* s) {
         s->clear();
         return std::vector<std::string>{"-o", w.out, "--dict-size", "8X", "a.exe"};
       },
       "--dict-size takes a byte count"},
      {"dictionary too small",
       [&](const Workspace& w, std::string* s) {
         s->clear();
         return std::vector<std::string>{"-o", w.out, "--dict-size", "1K", "a.exe"};
       },
       "dictionary size must be 4 KiB to 128 MiB"},
      {"no output",
       [&](const Workspace&, std::string* s) {
         s->clear();
         return std::vector<std::string>{"a.exe"};
       },
       "no output given"},
      {"unknown option",
       [&](const Workspace& w, std::string* s) {
         s->clear();
         return std::vector<std::string>{"-o", w.out, "--fast", "a.exe"};
       },
       "unknown option --fast"},
  };
  for (const BadInput& c : cases) {
    SCOPED_TRACE(c.label);
    Workspace w;
    ASSERT_TRUE(w.dir.valid());
    std::string subject;
    std::vector<std::string> argv = c.make(w, &subject);
    argv.insert(argv.begin(), kOrviaPack);
    test_support::ExpectRefusal(RunCommand(argv, w.dir), "orvia-pack", subject, c.reason,
                                w.out_dir);
  }
}

TEST(OrviaPackCommandTest, UnreadableFileIsRefused) {
  Workspace w;
  std::string path = w.File("locked.exe", Text("x"));
  ASSERT_EQ(chmod(path.c_str(), 0), 0);
  std::vector<std::string> argv = {kOrviaPack, "-o", w.out, "--stub", kTemplate, path};
  // Root reads any file: run the tool as nobody then, in a workspace it may write.
  if (geteuid() == 0) {
    for (const std::string& dir : {w.dir.path(), w.in, w.out_dir})
      ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
    argv.insert(argv.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  }
  CommandResult run = RunCommand(argv, w.dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "orvia-pack: " + path + ": Permission denied\n");
  EXPECT_EQ(Entries(w.out_dir), std::vector<std::string>());
}

TEST(OrviaPackCommandTest, SetupProgramRule) {
  struct Case {
    std::string name;
    bool setup;
  };
  const Case cases[] = {
      {"setup.exe", true},  {"Setup.EXE", true}, {"a.eXe", true},       {".exe", false},
      {"x.exe.txt", false}, {"x.exe ", false},   {"x.ex", false},       {"dir\\.exe", false},
      {"dir\\a.exe", true}, {"./a.exe", true},   {"readme.txt", false}, {"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("\"" + c.name + "\"");
    EXPECT_EQ(IsSetupProgramName(c.name), c.setup);
  }
}

TEST(OrviaPackCommandTest, PacksFilesInOrderAndNamesTheSetupProgram) {
  Workspace w;
  std::vector<std::string> files = {w.File("readme.txt", Text("read me\n")), kCabarc,
                                    w.File("Second.EXE", Text("MZ"))};
  std::vector<std::string> argv = {kOrviaPack, "-o", w.out, "--stub", kTemplate};
  argv.insert(argv.end(), kSmallDictionary.begin(), kSmallDictionary.end());
  argv.insert(argv.end(), files.begin(), files.end());
  CommandResult run = RunCommand(argv, w.dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.rfind("orvia-pack: setup program: cabarc.exe\n", 0), 0u) << run.err;
  EXPECT_EQ(run.err.find("compressing"), std::string::npos) << "progress shown off a terminal";
  EXPECT_EQ(Entries(w.out_dir), std::vector<std::string>{"setup-installer.exe"});

  CommandResult list = RunCommand({kOrviaPack, "--list", w.out}, w.dir);
  ASSERT_EQ(list.status, 0) << list.err;
  std::string members = list.out.substr(list.out.find('\n', list.out.find("BCJ2:")) + 1);
  char expected[512];
  std::snprintf(
      expected, sizeof(expected),
      "%12d  readme.txt\n%12ju  cabarc.exe\n%12d  Second.EXE\nsetup program: cabarc.exe\n", 8,
      static_cast<uintmax_t>(fs::file_size(kCabarc)), 2);
  EXPECT_EQ(members, expected);
  EXPECT_EQ(list.out.rfind("payload: ", 0), 0u) << list.out;
  EXPECT_NE(list.out.find("LZMA lc 3 lp 0 pb 2, dictionary 65536 bytes"), std::string::npos)
      << list.out;
}

// Each source of the payload, checked against what the installer carries.
TEST(OrviaPackCommandTest, TarAndRawPayloadSources) {
  Workspace w;
  TarWriter writer;
  std::string error;
  Bytes code = ReadBytes(kCabarc);
  ASSERT_TRUE(writer.AddMember("tool.exe", code.data(), code.size(), &error));
  Bytes tarball = writer.Finish();
  // Trailing bytes past the end block stay: the tarball goes in unchanged.
  tarball.insert(tarball.end(), {'t', 'a', 'i', 'l'});
  std::string tar = w.File("product.tar", tarball);
  Bytes raw = Text("any bytes at all, not even LZMA");
  std::string payload_file = w.File("payload.bin", raw);

  struct Case {
    const char* label;
    std::vector<std::string> args;
    std::string stderr_start;
    bool decodes;
    Bytes expected;  // the tarball, or for a raw payload the resource itself
  };
  const Case cases[] = {
      {"--tar", {"--tar", tar}, "orvia-pack: setup program: tool.exe\n", true, tarball},
      {"--raw-payload", {"--raw-payload", payload_file}, "orvia-pack: wrote ", false, raw},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<std::string> argv = {kOrviaPack, "-o", w.out, "--stub", kTemplate};
    argv.insert(argv.end(), kSmallDictionary.begin(), kSmallDictionary.end());
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    CommandResult run = RunCommand(argv, w.dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err.rfind(c.stderr_start, 0), 0u) << run.err;
    Bytes payload;
    ASSERT_TRUE(ExtractPayload(ReadBytes(w.out), &payload, &error)) << error;
    if (!c.decodes) {
      EXPECT_TRUE(payload == c.expected);
      continue;
    }
    Bytes decoded;
    Bcj2Header header;
    ASSERT_TRUE(DecodePayload(payload.data(), payload.size(), &decoded, &header, &error)) << error;
    EXPECT_TRUE(decoded == c.expected);
  }
}

TEST(OrviaPackCommandTest, DamagedTarballGoesInWithAWarning) {
  Workspace w;
  TarWriter writer;
  std::string error;
  ASSERT_TRUE(writer.AddMember("setup.exe", Text("MZ").data(), 2, &error));
  Bytes tarball = writer.Finish();
  tarball[257] = 'X';  // magic
  std::string tar = w.File("bad.tar", tarball);
  CommandResult run = RunCommand({kOrviaPack, "-o", w.out, "--stub", kTemplate, "--dict-size",
                                  "64K", "--allow-no-setup", "--tar", tar},
                                 w.dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(
      run.err.rfind("orvia-pack: " + tar + ": warning: the stub will fail on this tarball", 0), 0u)
      << run.err;
  CommandResult list = RunCommand({kOrviaPack, "--list", w.out}, w.dir);
  EXPECT_EQ(list.status, 1);
  EXPECT_NE(list.err.find("tarball damaged"), std::string::npos) << list.err;
}

// --list decodes and walks with the stub's own rules: it lists every
// installer the stub runs and refuses, with the stub's reason, what it refuses.
TEST(OrviaPackCommandTest, ListFollowsTheStub) {
  TarWriter writer;
  std::string error;
  ASSERT_TRUE(writer.AddMember("setup.exe", Text("MZ").data(), 2, &error));
  const Bytes tarball = writer.Finish();
  auto named = [&](const std::string& name) {
    Bytes t = tarball;
    std::fill(t.begin(), t.begin() + kTarNameSize, 0);
    std::copy(name.begin(), name.end(), t.begin());
    return t;
  };
  Bytes negative = tarball;
  const std::string minus_two = "-0000000002";
  std::copy(minus_two.begin(), minus_two.end(), negative.begin() + 124);
  auto high_half = [](Bytes payload) {
    payload[kLzmaUnpackedSizeOffset + 4] = 1;
    return payload;
  };
  struct Case {
    const char* label;
    Bytes tarball;
    std::function<Bytes(Bytes)> patch_payload;
    int status;
    const char* output;  // in stdout on success, in stderr on failure
  } const cases[] = {
      {"size field with a high half", tarball, high_half, 0, "setup program: setup.exe"},
      {"member ././setup.exe, as Python's tarfile writes", named("././setup.exe"), nullptr, 0,
       "setup program: ././setup.exe"},
      {"member ../x", named("../x"), nullptr, 1, "would leave the working directory"},
      {"member NUL", named("NUL"), nullptr, 1, "open a device"},
      {"negative size", negative, nullptr, 1, "has a negative size"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Workspace w;
    Bytes payload;
    ASSERT_TRUE(EncodePayload(c.tarball, LzmaOptions(), {}, &payload, &error)) << error;
    if (c.patch_payload)
      payload = c.patch_payload(payload);
    CommandResult pack = RunCommand({kOrviaPack, "-o", w.out, "--stub", kTemplate, "--raw-payload",
                                     w.File("payload.bin", payload)},
                                    w.dir);
    ASSERT_EQ(pack.status, 0) << pack.err;
    CommandResult list = RunCommand({kOrviaPack, "--list", w.out}, w.dir);
    EXPECT_EQ(list.status, c.status) << list.err;
    const std::string& text = c.status == 0 ? list.out : list.err;
    EXPECT_NE(text.find(c.output), std::string::npos) << text;
  }
}

TEST(OrviaPackCommandTest, AllowNoSetupPacksAnyway) {
  Workspace w;
  CommandResult run = RunCommand({kOrviaPack, "-o", w.out, "--stub", kTemplate, "--dict-size",
                                  "64K", "--allow-no-setup", w.File("data.bin", Text("d"))},
                                 w.dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.rfind("orvia-pack: no setup program;", 0), 0u) << run.err;
  CommandResult list = RunCommand({kOrviaPack, "--list", w.out}, w.dir);
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("setup program: none"), std::string::npos) << list.out;
}

// --stub, then $ORVIA_STUB_TEMPLATE, then OrviaUpdateSetup.exe beside the tool.
TEST(OrviaPackCommandTest, TemplateSearchOrder) {
  Workspace w;
  fs::create_directories(w.dir / "bin");
  std::string tool = w.dir / "bin/orvia-pack";
  fs::copy_file(kOrviaPack, tool);
  fs::permissions(tool, fs::perms::owner_all);
  std::string beside = w.dir / "bin/OrviaUpdateSetup.exe";
  std::string from_env = w.dir / "env-template.exe";
  std::string from_option = w.dir / "option-template.exe";
  for (const std::string& path : {beside, from_env, from_option})
    fs::copy_file(kTemplate, path);
  // A template that is not a PE shows in the error which one was taken.
  struct Case {
    const char* label;
    std::vector<std::string> prefix;
    std::vector<std::string> options;
    std::string chosen;
  };
  const Case cases[] = {
      {"option over variable",
       {"env", "ORVIA_STUB_TEMPLATE=" + from_env},
       {"--stub", from_option},
       from_option},
      {"variable over beside", {"env", "ORVIA_STUB_TEMPLATE=" + from_env}, {}, from_env},
      {"beside the tool", {"env", "-u", "ORVIA_STUB_TEMPLATE"}, {}, beside},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_TRUE(WriteBytes(c.chosen, Text("not a PE")));
    std::vector<std::string> argv = c.prefix;
    argv.push_back(tool);
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    argv.insert(argv.end(), {"-o", w.out, w.File("a.exe", Text("x"))});
    CommandResult run = RunCommand(argv, w.dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("orvia-pack: " + c.chosen + ": unusable stub template", 0), 0u)
        << run.err;
    fs::copy_file(kTemplate, c.chosen, fs::copy_options::overwrite_existing);
  }
}

TEST(OrviaPackCommandTest, ProgressLineOnATerminal) {
  Workspace w;
  std::string input = w.File("a.exe", Text("x"));
  std::string command =
      test_support::ShellQuote(kOrviaPack) + " -o " + test_support::ShellQuote(w.out) + " --stub " +
      test_support::ShellQuote(kTemplate) + " --dict-size 64K " + test_support::ShellQuote(input);
  // script(1) gives the tool a pseudo-terminal and copies what it shows.
  CommandResult run = RunCommand({"script", "-qec", command, "/dev/null"}, w.dir);
  ASSERT_EQ(run.status, 0) << run.err << run.out;
  EXPECT_NE(run.out.find("\rorvia-pack: compressing 100%"), std::string::npos) << run.out;
}

TEST(OrviaPackCommandTest, HelpAndVersion) {
  ScopedTempDir dir;
  CommandResult help = RunCommand({kOrviaPack, "--help"}, dir);
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: orvia-pack -o OUT.exe", 0), 0u) << help.out;
  for (const char* documented :
       {"--stub", "$ORVIA_STUB_TEMPLATE", "OrviaUpdateSetup.exe beside", "--tar", "--raw-payload",
        "--allow-no-setup", "--lc", "--lp", "--pb", "--dict-size", "--level", "--list", "replaced",
        "Pack before signing"}) {
    EXPECT_NE(help.out.find(documented), std::string::npos) << documented;
  }
  CommandResult version = RunCommand({kOrviaPack, "--version"}, dir);
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "orvia-pack 1.3.101.0\n");
}

}  // namespace
}  // namespace orvia
