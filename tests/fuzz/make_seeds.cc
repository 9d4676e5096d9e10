// Writes the fuzz targets' seed corpora: a few well-formed inputs and their
// usual damage, each built from fixed bytes so every run writes the same files.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "LzmaEnc.h"
#include "tests/support/malloc_alloc.h"
#include "tests/support/string_block.h"
#include "tests/support/tag_image.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string g_root;
bool g_failed = false;

void Write(const std::string& corpus, const std::string& name, const Bytes& bytes) {
  const std::string path = g_root + "/" + corpus + "/" + name;
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
    std::fprintf(stderr, "make_seeds: cannot write %s\n", path.c_str());
    g_failed = true;
  }
  if (file)
    std::fclose(file);
}

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

void Put(Bytes& bytes, size_t offset, const Bytes& part) {
  std::memcpy(bytes.data() + offset, part.data(), part.size());
}

Bytes Le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

void CommandLineSeeds() {
  const char* const lines[] = {"setup.exe", "\"C:\\Program Files\\setup.exe\" /recover x",
                               "setup.exe   /nomitag  ", "setup.exe\t\x01/a"};
  int n = 0;
  for (const char* line : lines)
    Write("command_line_tail", "line" + std::to_string(n++), Join({{0}, Text(line)}));
  Write("command_line_tail", "double_byte", Join({{0x81}, Text("a\x81\" /b \x81")}));
}

void StringTableSeeds() {
  std::vector<std::u16string> entries(16);
  entries[8] = u"VantuCompanyName";
  entries[9] = u"%1!s! Installer";
  entries[10] = u"Unknown Installer Error";
  entries[11] = u"Installation failed.";
  const Bytes block = orvia::BuildStringBlock(entries);
  Write("string_table", "entry8", Join({{8}, block}));
  Write("string_table", "entry11", Join({{11}, block}));
  Write("string_table", "cut", Join({{9}, Bytes(block.begin(), block.begin() + 60)}));
}

void TagSeeds() {
  using orvia::tag_image::CertificateTable;
  using orvia::tag_image::Image;
  using orvia::tag_image::TagBlock;
  const Bytes tag = TagBlock("appguid={8A69D345-D564-463C-AFF1-A69D9E530F96}&needsadmin=true");
  Write("tag_scan", "tagged", Image(CertificateTable(Join({Bytes(16, 0x5A), tag, Bytes(32)}))));
  Write("tag_scan", "two_blocks", Image(CertificateTable(Join({TagBlock("a=b"), tag}))));
  Write("tag_scan", "amd64", Image(CertificateTable(tag), 0x8664));
  Write("tag_scan", "untagged", Image(CertificateTable(Bytes(64, 0x11))));
  Write("tag_scan", "quote_after_zero",
        Image(CertificateTable(TagBlock(std::string("a=b\0\"", 5)))));
}

Bytes TarHeader(const std::string& name, const std::string& size, const std::string& magic) {
  Bytes h(512);
  Put(h, 0, Text(name.substr(0, 100)));
  Put(h, 100, Text(std::string("0000644\0", 8)));
  Put(h, 124, Text(size.substr(0, 12)));
  Put(h, 148, Text(std::string("0012345\0", 8)));
  h[156] = '0';
  Put(h, 257, Text(magic.substr(0, 6)));
  Put(h, 263, Text("00"));
  return h;
}

void TarSeeds() {
  const std::string posix("ustar\0", 6);
  const std::string size("00000001750\0", 12);
  Write("tar_header", "posix", Join({TarHeader("setup.exe", size, posix), Le32(1024)}));
  Write("tar_header", "gnu", TarHeader("a.dll", size, "ustar "));
  Write("tar_header", "pax", TarHeader("././@PaxHeader", std::string("00000000033\0", 12), posix));
  Write("tar_header", "name100", TarHeader(std::string(100, 'n'), size, posix));
  Write("tar_header", "escape", TarHeader("../x", size, posix));
  Write("tar_header", "device", TarHeader("con.txt", size, posix));
  Write("tar_header", "negative", TarHeader("f", "-17", posix));
  Write("tar_header", "end", Bytes(512));
}

Bytes LzmaAlone(const Bytes& block) {
  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  props.dictSize = 1 << 12;
  props.numThreads = 1;
  Bytes data(block.size() + block.size() / 2 + 256);
  SizeT data_size = data.size();
  Byte properties[LZMA_PROPS_SIZE];
  SizeT properties_size = sizeof(properties);
  if (LzmaEncode(data.data(), &data_size, block.data(), block.size(), &props, properties,
                 &properties_size, 0, nullptr, orvia::MallocAlloc(),
                 orvia::MallocAlloc()) != SZ_OK) {
    std::fprintf(stderr, "make_seeds: LzmaEncode failed\n");
    g_failed = true;
  }
  data.resize(data_size);
  return Join({Bytes(properties, properties + LZMA_PROPS_SIZE),
               Le32(static_cast<uint32_t>(block.size())), Le32(0), data});
}

Bytes Bcj2Block(uint32_t output_size,
                const Bytes& main,
                const Bytes& call,
                const Bytes& jump,
                const Bytes& rc) {
  auto size = [](const Bytes& b) { return Le32(static_cast<uint32_t>(b.size())); };
  return Join(
      {Le32(output_size), size(main), size(call), size(jump), size(rc), main, call, jump, rc});
}

void PayloadSeeds() {
  const Bytes main = Text("orvia tarball bytes, no branch opcodes in here at all\n");
  const Bytes plain = Bcj2Block(static_cast<uint32_t>(main.size()), main, {}, {}, Bytes(5));
  const Bytes branches =
      Bcj2Block(10, {0xE8, 0xE9}, {0, 0, 0x10, 0}, {0, 0, 0x20, 0}, {0x00, 0xFF, 0xFF, 0xFF, 0xFE});
  // Mode 0: the payload as it comes; mode 1: a tweak byte, then the block.
  Write("payload_decode", "raw_plain", Join({{0}, LzmaAlone(plain)}));
  Write("payload_decode", "raw_branches", Join({{0}, LzmaAlone(branches)}));
  Write("payload_decode", "built_plain", Join({{1, 0}, plain}));
  Write("payload_decode", "built_branches", Join({{1, 0}, branches}));
  Write("payload_decode", "built_size_one_less", Join({{1, 2}, plain}));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds DIRECTORY (its five corpus folders must exist)\n");
    return 2;
  }
  g_root = argv[1];
  CommandLineSeeds();
  StringTableSeeds();
  TagSeeds();
  TarSeeds();
  PayloadSeeds();
  return g_failed ? 1 : 0;
}
