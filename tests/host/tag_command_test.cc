// orvia-tag as a process, on the fixture template signed by osslsigncode:
// tagged, retagged and cleared copies still verify and read back as the stub
// reads them; bad input is refused with nothing written.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/tag/tag_scan.h"
#include "tests/support/tag_test_support.h"
#include "tools/tag/tag_certificate.h"

namespace orvia {
namespace {

using test_support::Bytes;
using test_support::CommandResult;
using test_support::ExpectOnlyTableChanged;
using test_support::ExpectVerifiesWithDigest;
using test_support::ExpectWindowsAcceptsTable;
using test_support::kOrviaTag;
using test_support::kTagTemplate;
using test_support::ReadBytes;
using test_support::RunCommand;
using test_support::ScopedTempDir;
using test_support::SignedFixture;
using test_support::WriteBytes;

namespace fs = std::filesystem;

using test_support::Entries;

// A text of exactly the block's capacity, not one repeated byte.
std::string FullText() {
  std::string text;
  for (size_t i = 0; text.size() < kTagTextCapacity; ++i)
    text += static_cast<char>('a' + i % 26);
  return text;
}

// -1 when `image` holds no readable signature.
int CountTagCertificatesIn(const Bytes& image) {
  PeDataDirectory table = test_support::SecurityDirectory(image);
  if (table.rva == 0 || table.size <= 8 ||
      static_cast<uint64_t>(table.rva) + table.size > image.size())
    return -1;
  const unsigned char* der = image.data() + table.rva + 8;
  Pkcs7Ptr signature(d2i_PKCS7(nullptr, &der, table.size - 8));
  return signature ? static_cast<int>(CountTagCertificates(signature.get())) : -1;
}

class OrviaTagCommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    fixture_ = new SignedFixture();
    std::string error;
    created_ = fixture_->Create(&error);
    if (!created_)
      std::fprintf(stderr, "cannot make the signed fixture: %s\n", error.c_str());
  }
  static void TearDownTestSuite() {
    delete fixture_;
    fixture_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(created_);
    ASSERT_TRUE(dir_.valid());
    signed_ = ReadBytes(Signed());
    test_support::Verification check = test_support::Verify(Signed(), CaFile(), dir_);
    ASSERT_EQ(check.status, 0) << check.output;
    ASSERT_FALSE(check.current_digest.empty()) << check.output;
    signed_digest_ = check.current_digest;
  }

  static const std::string& Signed() { return fixture_->signed_path(); }
  static std::string CaFile() { return fixture_->CaFile(); }

  CommandResult Tag(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {kOrviaTag};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv, dir_);
  }

  // `orvia-tag set --tag TEXT IN -o OUT`, which must succeed.
  Bytes Set(const std::string& in, const std::string& text, const std::string& out) {
    CommandResult run = Tag({"set", "--tag", text, in, "-o", out});
    EXPECT_EQ(run.status, 0) << run.err;
    return ReadBytes(out);
  }

  // Everything a written copy must be: accepted by Windows and osslsigncode
  // with the signer's image digest, changed only in its table, and read by
  // the stub as `tag` (or as carrying no tag).
  void ExpectGoodCopy(const std::string& path, const std::string& tag) {
    Bytes copy = ReadBytes(path);
    ExpectWindowsAcceptsTable(copy);
    ExpectOnlyTableChanged(signed_, copy);
    ExpectVerifiesWithDigest(path, CaFile(), signed_digest_, dir_);
    CommandResult get = Tag({"get", path});
    if (tag.empty()) {
      EXPECT_EQ(get.status, 1);
      EXPECT_EQ(get.err, "orvia-tag: " + path + ": no tag block in the certificate table\n");
    } else {
      EXPECT_EQ(get.status, 0) << get.err;
      EXPECT_EQ(get.out, tag + "\n");
    }
  }

  static SignedFixture* fixture_;
  static bool created_;
  ScopedTempDir dir_;
  Bytes signed_;
  std::string signed_digest_;
};

SignedFixture* OrviaTagCommandTest::fixture_ = nullptr;
bool OrviaTagCommandTest::created_ = false;

TEST_F(OrviaTagCommandTest, TaggedCopiesVerifyAndReadBack) {
  const std::pair<const char*, std::string> tags[] = {
      {"one byte", "a"},
      {"typical", "brand=ORVA&lang=de&ap=stable-arch_x86"},
      {"bytes above 0x7F", "lang=\xC3\xA9\xFF"},
      {"the magic inside the text", std::string(kTagMagic) + "x"},
      {"8,192 bytes", FullText()},
  };
  for (const auto& [label, tag] : tags) {
    SCOPED_TRACE(label);
    std::string out = dir_ / "tagged.exe";
    Bytes tagged = Set(Signed(), tag, out);
    ExpectGoodCopy(out, tag);
    // Same input and tag: same bytes.
    EXPECT_TRUE(Set(Signed(), tag, dir_ / "again.exe") == tagged);
  }
}

TEST_F(OrviaTagCommandTest, RetaggingRewritesTheBlockInPlace) {
  Bytes first = Set(Signed(), "first-tag-of-medium-length", dir_ / "first.exe");
  const std::pair<const char*, std::string> tags[] = {
      {"shorter", "s"},
      {"longer", "a tag that is clearly longer than the first one was"},
      {"8,192 bytes", FullText()},
  };
  for (const auto& [label, tag] : tags) {
    SCOPED_TRACE(label);
    std::string out = dir_ / "retagged.exe";
    Bytes retagged = Set(dir_ / "first.exe", tag, out);
    EXPECT_EQ(retagged.size(), first.size());
    EXPECT_TRUE(retagged == Set(Signed(), tag, dir_ / "fresh.exe"))
        << "retagging differs from tagging the signer's copy";
    ExpectGoodCopy(out, tag);
  }
}

TEST_F(OrviaTagCommandTest, ClearGivesBackTheSignersCopy) {
  Set(Signed(), "to-be-removed", dir_ / "tagged.exe");
  const std::pair<const char*, std::string> inputs[] = {
      {"tagged", dir_ / "tagged.exe"},
      {"never tagged", Signed()},
  };
  for (const auto& [label, in] : inputs) {
    SCOPED_TRACE(label);
    std::string out = dir_ / "cleared.exe";
    CommandResult run = Tag({"clear", in, "-o", out});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(ReadBytes(out) == signed_) << "clear did not give back the signed copy";
    ExpectGoodCopy(out, "");
  }
}

// Tag certificates the signer put in (here through osslsigncode's extra
// certificates) are replaced: a copy never carries two blocks.
TEST_F(OrviaTagCommandTest, ExtraTagCertificatesAreDropped) {
  TagCertificate one;
  TagCertificate two;
  std::string error;
  ASSERT_TRUE(MakeTagCertificate(MakeTagBlock("one"), &one, &error)) << error;
  ASSERT_TRUE(MakeTagCertificate(MakeTagBlock("two"), &two, &error)) << error;
  std::string pem = dir_ / "tags.pem";
  ASSERT_TRUE(test_support::WritePem(pem, {one.cert.get(), two.cert.get()}));
  std::string doubled = dir_ / "doubled.exe";
  ASSERT_TRUE(fixture_->Sign(kTagTemplate, doubled, pem, &error)) << error;
  ASSERT_EQ(CountTagCertificatesIn(ReadBytes(doubled)), 2);

  std::string tagged = dir_ / "tagged.exe";
  Bytes result = Set(doubled, "three", tagged);
  EXPECT_EQ(CountTagCertificatesIn(result), 1);
  CommandResult get = Tag({"get", tagged});
  EXPECT_EQ(get.out, "three\n");
  EXPECT_EQ(test_support::Verify(tagged, CaFile(), dir_).status, 0);

  std::string cleared = dir_ / "cleared.exe";
  ASSERT_EQ(Tag({"clear", tagged, "-o", cleared}).status, 0);
  EXPECT_EQ(CountTagCertificatesIn(ReadBytes(cleared)), 0);
  EXPECT_EQ(test_support::Verify(cleared, CaFile(), dir_).status, 0);
}

TEST_F(OrviaTagCommandTest, OutputMayBeTheInput) {
  std::string path = dir_ / "work/setup.exe";
  fs::create_directories(dir_ / "work");
  fs::copy_file(Signed(), path);
  CommandResult run = Tag({"set", "--tag", "in-place", path, "-o", path});
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectGoodCopy(path, "in-place");
  EXPECT_EQ(Entries(dir_ / "work"), std::vector<std::string>{"setup.exe"});
}

ino_t Inode(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// A retag of IN into itself writes only the block and the checksum (the file
// keeps its inode) and gives exactly what a retag into another file gives;
// where the table would change, or the text spells the magic, the file is
// written whole as before.
TEST_F(OrviaTagCommandTest, RetagIntoItselfEqualsRetagIntoAnotherFile) {
  fs::create_directories(dir_ / "work");
  const std::string path = dir_ / "work/setup.exe";
  const std::string first = "first-tag-of-medium-length";
  const struct {
    const char* label;
    std::string start_tag;  // empty: the signed copy
    std::string tag;
    std::string output;  // names `path`
    bool in_place;
  } cases[] = {
      {"shorter", first, "s", path, true},
      {"longer", first, "a tag that is clearly longer than the first one was", path, true},
      {"8,192 bytes", first, FullText(), path, true},
      {"another spelling of the path", first, "spelled", dir_ / "work/../work/./setup.exe", true},
      {"untagged: the table grows", "", "first", path, false},
      {"the magic in the text", first, std::string(kTagMagic) + "x", path, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove(path);
    if (c.start_tag.empty())
      fs::copy_file(Signed(), path);
    else
      Set(Signed(), c.start_tag, path);
    const Bytes expected = Set(path, c.tag, dir_ / "expected.exe");
    const ino_t inode = Inode(path);
    CommandResult run = Tag({"set", "--tag", c.tag, path, "-o", c.output});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(ReadBytes(path) == expected) << "differs from the retag into another file";
    EXPECT_EQ(Inode(path) == inode, c.in_place);
    ExpectGoodCopy(path, c.tag);
    EXPECT_EQ(Entries(dir_ / "work"), std::vector<std::string>{"setup.exe"});
  }
}

// A tagged copy with a byte after its table is refused, in place or not,
// and left as it was.
TEST_F(OrviaTagCommandTest, RetagIntoItselfOfARefusedCopyLeavesItAlone) {
  const std::string path = dir_ / "setup.exe";
  Bytes image = Set(Signed(), "first", dir_ / "tagged.exe");
  image.push_back(0);
  ASSERT_TRUE(WriteBytes(path, image));
  CommandResult run = Tag({"set", "--tag", "second", path, "-o", path});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("the certificate table is not the last thing in the file"),
            std::string::npos)
      << run.err;
  EXPECT_TRUE(ReadBytes(path) == image);
}

// The tag file's bytes are the text, without any trimming.
TEST_F(OrviaTagCommandTest, TagFileBytesAreTheText) {
  std::string text = "line one\nline two\n";
  std::string tag_file = dir_ / "tag.txt";
  ASSERT_TRUE(WriteBytes(tag_file, Bytes(text.begin(), text.end())));
  std::string out = dir_ / "tagged.exe";
  CommandResult run = Tag({"set", "--tag-file", tag_file, Signed(), "-o", out});
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectGoodCopy(out, text);
}

// Each row gets a fresh workspace.
struct Workspace : test_support::ToolWorkspace {
  Workspace() : ToolWorkspace("tagged.exe") {}
};

struct Refusal {
  const char* label;
  // Makes the inputs and returns the arguments after the program name;
  // `subject` receives what the message must name (empty: nothing).
  std::function<std::vector<std::string>(const Workspace&, std::string* subject)> make;
  std::string reason;
};

TEST_F(OrviaTagCommandTest, RefusesBadInputAndWritesNothing) {
  std::string error;
  // Signed copies whose extra certificates make the signature nearly 64 KiB,
  // or spell the magic ahead of where the tag certificate goes.
  X509Ptr big = test_support::MakeExtraCertificate("big", 60000);
  X509Ptr magic = test_support::MakeExtraCertificate(std::string("signer ") + kTagMagic, 0);
  ASSERT_TRUE(test_support::WritePem(dir_ / "big.pem", {big.get()}));
  ASSERT_TRUE(test_support::WritePem(dir_ / "magic.pem", {magic.get()}));
  ASSERT_TRUE(fixture_->Sign(kTagTemplate, dir_ / "big.exe", dir_ / "big.pem", &error)) << error;
  ASSERT_TRUE(fixture_->Sign(kTagTemplate, dir_ / "magic.exe", dir_ / "magic.pem", &error))
      << error;
  const Bytes big_signed = ReadBytes(dir_ / "big.exe");
  const Bytes magic_signed = ReadBytes(dir_ / "magic.exe");
  // The big one still has a two-byte length; the tag certificate breaks it.
  const uint32_t big_table = test_support::SecurityDirectory(big_signed).rva;
  ASSERT_TRUE(big_table != 0 && big_table + 9 < big_signed.size());
  ASSERT_EQ(big_signed[big_table + 9], 0x82);

  // The signed copy changed by `patch`; `table` is its certificate table's offset.
  auto patched = [this](const std::function<void(const PeLayout&, uint32_t table, Bytes*)>& patch) {
    Bytes image = signed_;
    PeLayout layout;
    std::string error;
    EXPECT_TRUE(ParsePe32(image.data(), image.size(), &layout, &error)) << error;
    patch(layout, test_support::SecurityDirectory(image).rva, &image);
    return image;
  };
  auto set = [](const Workspace& w, const std::string& in) {
    return std::vector<std::string>{"set", "--tag", "t", in, "-o", w.out};
  };
  auto set_file = [&](const Workspace& w, const Bytes& image, std::string* s) {
    *s = w.File("setup.exe", image);
    return set(w, *s);
  };
  auto set_text = [&](const Workspace& w, const std::string& text, std::string* s) {
    *s = "--tag";
    return std::vector<std::string>{"set", "--tag", text, Signed(), "-o", w.out};
  };

  const Refusal cases[] = {
      {"unsigned",
       [&](const Workspace& w, std::string* s) { return set_file(w, ReadBytes(kTagTemplate), s); },
       "not signed (no certificate table)"},
      {"clear of an unsigned file",
       [&](const Workspace& w, std::string* s) {
         *s = w.File("setup.exe", ReadBytes(kTagTemplate));
         return std::vector<std::string>{"clear", *s, "-o", w.out};
       },
       "not signed (no certificate table)"},
      {"64-bit image",
       [&](const Workspace& w, std::string* s) {
         return set_file(w, patched([](const PeLayout& l, uint32_t, Bytes* image) {
                           WriteLe16(image->data() + l.coff_offset, 0x8664);
                         }),
                         s);
       },
       "64-bit"},
      {"not a PE",
       [&](const Workspace& w, std::string* s) { return set_file(w, Bytes(100, 'M'), s); },
       "not a PE image"},
      {"truncated",
       [&](const Workspace& w, std::string* s) {
         return set_file(w, Bytes(signed_.begin(), signed_.end() - 100), s);
       },
       "the certificate table runs past the end of the file"},
      {"table not last",
       [&](const Workspace& w, std::string* s) {
         Bytes image = signed_;
         image.push_back(0);
         return set_file(w, image, s);
       },
       "the certificate table is not the last thing in the file"},
      {"table off the 8-byte grid",
       [&](const Workspace& w, std::string* s) {
         return set_file(w, patched([](const PeLayout& l, uint32_t table, Bytes* image) {
                           image->insert(image->begin() + table, 4, 0);
                           WriteLe32(image->data() + l.DirectoryOffset(kPeDirectorySecurity),
                                     table + 4);
                         }),
                         s);
       },
       "does not start on an 8-byte boundary"},
      {"two entries' room",
       [&](const Workspace& w, std::string* s) {
         return set_file(w, patched([](const PeLayout&, uint32_t table, Bytes* image) {
                           WriteLe32(image->data() + table, ReadLe32(image->data() + table) - 8);
                         }),
                         s);
       },
       "not one WIN_CERTIFICATE entry"},
      {"entry of type 1",
       [&](const Workspace& w, std::string* s) {
         return set_file(w, patched([](const PeLayout&, uint32_t table, Bytes* image) {
                           WriteLe16(image->data() + table + 6, 0x0001);
                         }),
                         s);
       },
       "not a PKCS#7 signature (revision 0x0200, type 0x0001)"},
      {"signature that does not re-encode",
       [&](const Workspace& w, std::string* s) {
         // The outer SEQUENCE with an indefinite length: same size, still
         // parses, but re-encodes with a definite one.
         return set_file(w, patched([](const PeLayout&, uint32_t table, Bytes* image) {
                           uint8_t* der = image->data() + table + 8;
                           size_t length = (der[2] << 8) | der[3];
                           std::copy(der + 4, der + 4 + length, der + 2);
                           der[1] = 0x80;
                           der[2 + length] = 0;
                           der[3 + length] = 0;
                         }),
                         s);
       },
       "the signature does not re-encode to the same DER bytes"},
      {"non-zero bytes after the DER",
       [&](const Workspace& w, std::string* s) {
         return set_file(w, patched([](const PeLayout& l, uint32_t table, Bytes* image) {
                           image->insert(image->end(), {1, 0, 0, 0, 0, 0, 0, 0});
                           WriteLe32(image->data() + table, ReadLe32(image->data() + table) + 8);
                           size_t size_field = l.DirectoryOffset(kPeDirectorySecurity) + 4;
                           WriteLe32(image->data() + size_field,
                                     ReadLe32(image->data() + size_field) + 8);
                         }),
                         s);
       },
       "non-zero bytes after the signature"},
      {"empty text", [&](const Workspace& w, std::string* s) { return set_text(w, "", s); },
       "the tag text is empty"},
      {"double quote", [&](const Workspace& w, std::string* s) { return set_text(w, "a\"b", s); },
       "holds a double quote"},
      {"NUL byte",
       [&](const Workspace& w, std::string* s) {
         *s = w.File("tag.bin", Bytes{'a', 0, 'b'});
         return std::vector<std::string>{"set", "--tag-file", *s, Signed(), "-o", w.out};
       },
       "holds a NUL byte"},
      {"8,193 bytes",
       [&](const Workspace& w, std::string* s) { return set_text(w, FullText() + "z", s); },
       "8193 bytes, more than the 8192"},
      {"signature past 65,535 bytes with the tag",
       [&](const Workspace& w, std::string* s) { return set_file(w, big_signed, s); },
       "longer than 65,535 bytes"},
      {"magic before the block",
       [&](const Workspace& w, std::string* s) { return set_file(w, magic_signed, s); },
       "spells the tag magic before the tag block"},
      {"missing input",
       [&](const Workspace& w, std::string* s) {
         *s = w.in + "/absent.exe";
         return set(w, *s);
       },
       "no such file"},
      {"missing tag file",
       [&](const Workspace& w, std::string* s) {
         *s = w.in + "/absent.txt";
         return std::vector<std::string>{"set", "--tag-file", *s, Signed(), "-o", w.out};
       },
       "no such file"},
      {"output directory missing",
       [&](const Workspace& w, std::string* s) {
         *s = w.dir / "gone/out.exe";
         return std::vector<std::string>{"set", "--tag", "t", Signed(), "-o", *s};
       },
       "cannot create a temporary file"},
      {"unknown option",
       [&](const Workspace& w, std::string* s) {
         s->clear();
         return std::vector<std::string>{"set", "--fast", "--tag", "t", Signed(), "-o", w.out};
       },
       "unknown option --fast; see --help"},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.label);
    Workspace w;
    ASSERT_TRUE(w.dir.valid());
    std::string subject;
    std::vector<std::string> argv = c.make(w, &subject);
    argv.insert(argv.begin(), kOrviaTag);
    test_support::ExpectRefusal(RunCommand(argv, w.dir), "orvia-tag", subject, c.reason, w.out_dir);
  }
}

// get reports what the stub would take from a block that a download server
// rewrote in place, whatever it holds.
TEST_F(OrviaTagCommandTest, GetReadsAsTheStub) {
  Bytes tagged = Set(Signed(), "placeholder", dir_ / "tagged.exe");
  auto magic = std::search(tagged.begin(), tagged.end(), kTagMagic, kTagMagic + kTagMagicSize);
  ASSERT_NE(magic, tagged.end());
  const size_t block = static_cast<size_t>(magic - tagged.begin());
  // The tagged copy with the block's length field and text replaced.
  auto rewritten = [&](uint16_t length, const std::string& text) {
    Bytes image = tagged;
    image[block + kTagMagicSize] = static_cast<uint8_t>(length >> 8);
    image[block + kTagMagicSize + 1] = static_cast<uint8_t>(length);
    std::fill(image.begin() + block + kTagHeaderSize, image.begin() + block + kTagBlockSize, 0);
    std::copy(text.begin(), text.end(), image.begin() + block + kTagHeaderSize);
    return image;
  };
  // The tagged copy claiming a certificate table `extra` bytes longer than
  // the file: the stub maps whole pages, so within the last one it reads on.
  auto table_longer_by = [&](uint32_t extra) {
    Bytes image = tagged;
    PeLayout layout;
    std::string error;
    EXPECT_TRUE(ParsePe32(image.data(), image.size(), &layout, &error)) << error;
    uint8_t* size = image.data() + layout.DirectoryOffset(kPeDirectorySecurity) + 4;
    WriteLe32(size, ReadLe32(size) + extra);
    return image;
  };
  const uint32_t page_rest = static_cast<uint32_t>(4096 - tagged.size() % 4096);
  ASSERT_NE(page_rest, 4096u) << "the tagged copy fills its last page";
  struct Case {
    const char* label;
    Bytes image;
    int status;
    std::string out;     // on success
    std::string reason;  // on failure
  };
  const Case cases[] = {
      {"table past the end of the file, in its last page", table_longer_by(page_rest), 0,
       "placeholder\n", ""},
      {"table past the last page", table_longer_by(page_rest + 1), 1, "",
       "the certificate table lies outside the file"},
      {"text up to the first zero byte", rewritten(7, std::string("ab\0cd\"e", 7)), 0, "ab\n", ""},
      {"length past the text", rewritten(20, "short"), 0, "short\n", ""},
      {"double quote first", rewritten(3, "a\"b"), 1, "", "the tag holds a double quote"},
      {"length 0", rewritten(0, ""), 1, "", "the tag block is empty (length 0)"},
      {"length 65535", rewritten(0xFFFF, "x"), 1, "", "the tag length is 65535"},
      {"signed, never tagged", signed_, 1, "", "no tag block in the certificate table"},
      {"unsigned", ReadBytes(kTagTemplate), 1, "", "not signed (no certificate table)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::string path = dir_ / "copy.exe";
    ASSERT_TRUE(WriteBytes(path, c.image));
    CommandResult get = Tag({"get", path});
    EXPECT_EQ(get.status, c.status);
    EXPECT_EQ(get.out, c.out);
    EXPECT_EQ(get.err, c.reason.empty() ? "" : "orvia-tag: " + path + ": " + c.reason + "\n");
  }
}

TEST_F(OrviaTagCommandTest, UsageErrors) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "no command given (set, get, clear or serve)"},
      {{"tag", "a.exe"}, "unknown command tag"},
      {{"set", "--tag", "t", "a.exe"}, "no output given (-o OUT.exe)"},
      {{"set", "a.exe", "-o", "b.exe"}, "set takes either --tag TEXT or --tag-file FILE"},
      {{"set", "--tag", "t", "--tag-file", "f", "a.exe", "-o", "b.exe"},
       "set takes either --tag TEXT or --tag-file FILE"},
      {{"set", "--tag", "t", "a.exe", "c.exe", "-o", "b.exe"}, "set takes one file, not 2"},
      {{"clear", "--tag", "t", "a.exe", "-o", "b.exe"}, "--tag and --tag-file go only with set"},
      {{"get", "a.exe", "-o", "b.exe"}, "get writes no file (no -o)"},
      {{"get", "a.exe", "-o"}, "-o needs a value"},
      {{"set", "--tag", "t", "--tag", "u", "a.exe", "-o", "b.exe"}, "--tag given twice"},
  };
  for (const auto& [args, reason] : cases) {
    SCOPED_TRACE(reason);
    CommandResult run = Tag(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "orvia-tag: " + reason + "; see --help\n");
  }
}

TEST_F(OrviaTagCommandTest, HelpAndVersion) {
  CommandResult help = Tag({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(
      help.out.rfind("usage: orvia-tag set (--tag TEXT | --tag-file FILE) IN.exe -o OUT.exe\n", 0),
      0u)
      << help.out;
  for (const char* documented :
       {"orvia-tag get FILE", "orvia-tag clear IN.exe -o OUT.exe", "--tag-file", "8,192 bytes",
        "may be IN.exe", "replaced in place"}) {
    EXPECT_NE(help.out.find(documented), std::string::npos) << documented;
  }
  CommandResult version = Tag({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "orvia-tag 1.3.101.0\n");
}

}  // namespace
}  // namespace orvia
