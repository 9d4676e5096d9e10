// Installers written by orvia-pack, read back with independent parsers
// (pefile, wrestool): the template's resources and bytes survive, the payload
// resource is there and decodes to the tarball of the packed files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/tool_test_support.h"
#include "tools/pack/payload.h"
#include "tools/pack/tar_list.h"
#include "tools/pack/tar_writer.h"

namespace orvia {
namespace {

using Bytes = std::vector<uint8_t>;
using test_support::CommandResult;
using test_support::ReadBytes;
using test_support::RunCommand;
using test_support::ScopedTempDir;

const std::string kOrviaPack = std::string(ORVIA_TOOLS_DIR) + "/orvia-pack";
const std::string kTemplate = std::string(ORVIA_TOOLS_DIR) + "/fixtures/template.exe";
const std::string kPeDump = std::string(ORVIA_SOURCE_DIR) + "/tests/fixtures/pack/pe_dump.py";
const std::string kWineDir = "/usr/lib/i386-linux-gnu/wine/i386-windows/";

// pefile's view of an image, one fact per line, grouped by the first word.
struct PeView {
  std::map<std::string, std::vector<std::string>> facts;
  std::string error;

  const std::vector<std::string>& All(const std::string& kind) { return facts[kind]; }
  std::string One(const std::string& kind) {
    const auto& all = facts[kind];
    return all.size() == 1 ? all[0] : "(" + std::to_string(all.size()) + " " + kind + " lines)";
  }
  // The section line for `name`, split into VA, virtual size, raw offset, raw size.
  std::vector<uint32_t> Section(const std::string& name) {
    for (const std::string& line : facts["section"]) {
      std::istringstream in(line);
      std::string n;
      in >> n;
      if (n != name)
        continue;
      std::vector<uint32_t> values;
      for (std::string v; in >> v;)
        values.push_back(static_cast<uint32_t>(std::stoul(v, nullptr, 16)));
      return values;
    }
    return {};
  }
};

PeView ViewWithPefile(const std::string& image,
                      const ScopedTempDir& dir,
                      const std::vector<std::string>& extra = {}) {
  std::vector<std::string> argv = {"/usr/bin/python3", kPeDump, image};
  argv.insert(argv.end(), extra.begin(), extra.end());
  CommandResult run = RunCommand(argv, dir);
  PeView view;
  view.error = run.status == 0 ? "" : "pe_dump failed: " + run.err;
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    size_t space = line.find(' ');
    view.facts[line.substr(0, space)].push_back(
        space == std::string::npos ? "" : line.substr(space + 1));
  }
  return view;
}

std::string Hex(uint32_t value) {
  std::ostringstream text;
  text << "0x" << std::hex << value;
  return text.str();
}

uint32_t Le32(const Bytes& b, size_t at) {
  return ReadLe32(b.data() + at);
}

// The files the installer carries: real x86 code and a text file.
struct Product {
  std::vector<std::string> paths;
  Bytes tarball;  // what orvia-pack must have packed
};

Product MakeProduct(const ScopedTempDir& dir) {
  Product product;
  std::string readme = dir / "readme.txt";
  EXPECT_TRUE(test_support::WriteBytes(readme, Bytes{'h', 'i', '\n'}));
  product.paths = {kWineDir + "cabarc.exe", kWineDir + "advpack.dll", readme};
  TarWriter writer;
  for (const std::string& path : product.paths) {
    Bytes data = ReadBytes(path);
    std::string error;
    std::string name = path.substr(path.find_last_of('/') + 1);
    EXPECT_TRUE(writer.AddMember(name, data.data(), data.size(), &error)) << error;
  }
  product.tarball = writer.Finish();
  return product;
}

CommandResult Pack(const std::string& stub,
                   const std::string& out,
                   const std::vector<std::string>& files,
                   const ScopedTempDir& dir) {
  std::vector<std::string> argv = {kOrviaPack, "-o", out, "--stub", stub, "--dict-size", "1M"};
  argv.insert(argv.end(), files.begin(), files.end());
  return RunCommand(argv, dir);
}

TEST(InstallerImageTest, KeepsTheTemplateAndCarriesThePayload) {
  ScopedTempDir dir;
  ASSERT_TRUE(dir.valid());
  Product product = MakeProduct(dir);
  std::string installer = dir / "installer.exe";
  CommandResult run = Pack(kTemplate, installer, product.paths, dir);
  ASSERT_EQ(run.status, 0) << run.err;

  PeView before = ViewWithPefile(kTemplate, dir);
  PeView after = ViewWithPefile(installer, dir, {"--extract", "\"B\"", "102", "0", dir / "p.bin"});
  ASSERT_EQ(before.error, "");
  ASSERT_EQ(after.error, "");
  EXPECT_EQ(after.All("warning"), std::vector<std::string>());

  // Every resource of the template, unchanged; the payload besides.
  std::vector<std::string> added;
  for (const std::string& r : after.All("resource")) {
    if (std::find(before.All("resource").begin(), before.All("resource").end(), r) ==
        before.All("resource").end())
      added.push_back(r);
  }
  for (const std::string& r : before.All("resource")) {
    EXPECT_NE(std::find(after.All("resource").begin(), after.All("resource").end(), r),
              after.All("resource").end())
        << "template resource lost or changed: " << r;
  }
  ASSERT_EQ(added.size(), 1u);
  EXPECT_EQ(added[0].rfind("\"B\" 102 0 ", 0), 0u) << added[0];
  // Loaders search directories in order: names first, sorted, then ids.
  std::vector<std::string> types;
  for (const std::string& r : after.All("resource")) {
    std::string type = r.substr(0, r.find(' '));
    if (types.empty() || types.back() != type)
      types.push_back(type);
  }
  EXPECT_EQ(types,
            (std::vector<std::string>{"\"B\"", "\"KELVARUPDATE\"", "3", "6", "14", "16", "24"}));

  // The payload, as pefile found it, decodes to the tarball of the files.
  Bytes payload = ReadBytes(dir / "p.bin");
  Bytes tarball;
  Bcj2Header header;
  std::string error;
  ASSERT_TRUE(DecodePayload(payload.data(), payload.size(), &tarball, &header, &error)) << error;
  EXPECT_TRUE(tarball == product.tarball);
  EXPECT_GT(header.call_size, 0u);

  // wrestool finds the same bytes.
  CommandResult raw =
      RunCommand({"sh", "-c", "wrestool -x --raw --type=B --name=102 --language=0 \"$0\" >\"$1\"",
                  installer, dir / "w.bin"},
                 dir);
  EXPECT_EQ(raw.status, 0) << raw.err;
  EXPECT_TRUE(ReadBytes(dir / "w.bin") == payload);

  // Headers: same characteristics, a valid checksum, the image grown to hold
  // the moved sections.
  EXPECT_EQ(after.One("characteristics"), before.One("characteristics"));
  std::istringstream checksum(after.One("checksum"));
  std::string stored, computed;
  checksum >> stored >> computed;
  EXPECT_EQ(stored, computed);
  // The template's sections are aligned to 0x1000 in memory.
  auto section_aligned = [](uint32_t v) { return (v + 0xFFFu) / 0x1000u * 0x1000u; };
  std::vector<uint32_t> rsrc_before = before.Section(".rsrc"), rsrc_after = after.Section(".rsrc");
  std::vector<uint32_t> reloc_before = before.Section(".reloc"),
                        reloc_after = after.Section(".reloc");
  ASSERT_EQ(rsrc_after.size(), 4u);
  ASSERT_EQ(reloc_after.size(), 4u);
  EXPECT_EQ(rsrc_after[0], rsrc_before[0]);
  EXPECT_GE(rsrc_after[1], payload.size());
  EXPECT_EQ(reloc_after[0], section_aligned(rsrc_after[0] + rsrc_after[1]));
  EXPECT_EQ(reloc_after[2], rsrc_after[2] + rsrc_after[3]);
  EXPECT_EQ(reloc_after[1], reloc_before[1]);
  EXPECT_EQ(after.One("size_of_image"), Hex(section_aligned(reloc_after[0] + reloc_after[1])));
  std::vector<std::string> dirs_before = before.All("directory"), dirs = after.All("directory");
  ASSERT_GT(dirs.size(), 5u);
  ASSERT_EQ(dirs.size(), dirs_before.size());
  EXPECT_EQ(dirs[2], "2 " + Hex(rsrc_after[0]) + " " + Hex(rsrc_after[1]));
  std::string reloc_size = dirs_before[5].substr(dirs_before[5].rfind(' '));
  EXPECT_EQ(dirs[5], "5 " + Hex(reloc_after[0]) + reloc_size);
  for (size_t d = 0; d < dirs.size(); ++d) {
    if (d != 2 && d != 5) {
      EXPECT_EQ(dirs[d], dirs_before[d]);
    }
  }
  int64_t grown = static_cast<int64_t>(rsrc_after[3]) - rsrc_before[3];
  EXPECT_EQ(std::stoll(after.One("size_of_initialized_data"), nullptr, 16),
            std::stoll(before.One("size_of_initialized_data"), nullptr, 16) + grown);

  // Byte for byte: all sections before the resources, and the relocations.
  Bytes t = ReadBytes(kTemplate), i = ReadBytes(installer);
  uint32_t headers = Le32(t, Le32(t, 60) + 24 + 60);
  ASSERT_LE(rsrc_before[2], t.size());
  EXPECT_TRUE(std::equal(t.begin() + headers, t.begin() + rsrc_before[2], i.begin() + headers));
  EXPECT_TRUE(std::equal(t.begin() + reloc_before[2], t.begin() + reloc_before[2] + reloc_before[3],
                         i.begin() + reloc_after[2]));
}

TEST(InstallerImageTest, PackingAnInstallerAgainReplacesItsPayload) {
  ScopedTempDir dir;
  ASSERT_TRUE(dir.valid());
  Product product = MakeProduct(dir);
  std::string first = dir / "first.exe";
  std::string second = dir / "second.exe";
  ASSERT_EQ(Pack(kTemplate, first, product.paths, dir).status, 0);
  std::string small = dir / "tiny.exe";
  ASSERT_TRUE(test_support::WriteBytes(small, Bytes{'M', 'Z'}));
  CommandResult run = Pack(first, second, {small}, dir);
  ASSERT_EQ(run.status, 0) << run.err;

  PeView view = ViewWithPefile(second, dir, {"--extract", "\"B\"", "102", "0", dir / "p.bin"});
  PeView original = ViewWithPefile(kTemplate, dir);
  size_t payloads = 0;
  for (const std::string& r : view.All("resource"))
    payloads += r.rfind("\"B\" ", 0) == 0;
  EXPECT_EQ(payloads, 1u);
  EXPECT_EQ(view.All("resource").size(), original.All("resource").size() + 1);
  std::istringstream checksum(view.One("checksum"));
  std::string stored, computed;
  checksum >> stored >> computed;
  EXPECT_EQ(stored, computed);

  Bytes payload = ReadBytes(dir / "p.bin");
  Bytes tarball;
  Bcj2Header header;
  std::string error;
  ASSERT_TRUE(DecodePayload(payload.data(), payload.size(), &tarball, &header, &error)) << error;
  std::vector<TarMember> members;
  ASSERT_TRUE(ListTarMembers(tarball.data(), tarball.size(), &members, &error)) << error;
  ASSERT_EQ(members.size(), 1u);
  EXPECT_EQ(members[0].name, "tiny.exe");
  // The smaller payload gives the section back: the image shrinks.
  EXPECT_LT(ReadBytes(second).size(), ReadBytes(first).size());
}

}  // namespace
}  // namespace orvia
