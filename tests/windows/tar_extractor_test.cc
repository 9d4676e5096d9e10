// ExtractNext on tarballs built by the test, writing into a scratch directory.
#include <cstdio>
#include <string>
#include <vector>

#include "mini_test.h"
#include "stub/payload/tar_extractor.h"
#include "tests/support/windows_test_support.h"

namespace {

using orvia::SystemWin32Api;
using orvia::WideString;

// One 512-byte ustar header; `size_field` is written as given (12 bytes).
std::string Header(const std::string& name,
                   const std::string& size_field,
                   const char* magic =
                       "ustar\0"
                       "00") {
  std::string h(512, '\0');
  h.replace(0, name.size() < 100 ? name.size() : 100, name.substr(0, 100));
  h.replace(124, size_field.size(), size_field);
  h.replace(257, 8, std::string(magic, 8));
  return h;
}

std::string OctalSize(size_t size) {
  char field[13];
  std::snprintf(field, sizeof(field), "%011zo", size);
  return std::string(field, 12);
}

std::string Entry(const std::string& name, const std::string& data) {
  std::string entry = Header(name, OctalSize(data.size())) + data;
  entry.append((512 - data.size() % 512) % 512, '\0');
  return entry;
}

const std::string kEnd(1024, '\0');

struct Outcome {
  std::vector<bool> results;
  bool end_of_archive = false;
  std::vector<std::wstring> reported;
  std::vector<int> recorded_before_report;
  std::vector<std::wstring> left_in_directory;
};

struct Observer {
  const orvia::TarExtractor* extractor = nullptr;
  Outcome* run = nullptr;
};

void Report(void* context, const wchar_t* path) {
  Observer* observer = static_cast<Observer*>(context);
  observer->run->reported.push_back(path);
  observer->run->recorded_before_report.push_back(observer->extractor->extracted_files().Count());
}

// Extracts `tarball` into a fresh directory until the end, a failure or
// `max_calls`; returns what happened and what the extractor's teardown left.
Outcome Extract(const std::string& tarball, const std::wstring& directory, int max_calls = 16) {
  orvia_test::ScratchDirectory holder;
  const std::wstring tar_path = holder.path() + L"\\archive.tar";
  orvia_test::WriteFileBytes(tar_path, tarball);
  HANDLE tar = CreateFileW(tar_path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  Outcome run;
  SystemWin32Api api;
  {
    Observer observer;
    orvia::TarExtractor extractor(api, WideString(directory.c_str()), tar, true, Report, &observer);
    observer.extractor = &extractor;
    observer.run = &run;
    for (int i = 0; i < max_calls && !run.end_of_archive; ++i) {
      run.results.push_back(extractor.ExtractNext(run.end_of_archive));
      if (!run.results.back())
        break;
    }
  }
  CloseHandle(tar);
  run.left_in_directory = orvia_test::ListDirectory(directory);
  return run;
}

TEST(TarExtractor, EntriesAreWrittenRecordedAndReported) {
  orvia_test::ScratchDirectory dir;
  const std::string tarball = Entry("setup.exe", std::string(700, 'x')) + Entry("empty", "") +
                              Entry("setup.exe", "second") + kEnd;
  Outcome run = Extract(tarball, dir.path());
  EXPECT_EQ(run.results, (std::vector<bool>{true, true, true, true}));
  EXPECT_TRUE(run.end_of_archive);
  const std::wstring setup = dir.path() + L"\\setup.exe";
  EXPECT_EQ(run.reported, (std::vector<std::wstring>{setup, dir.path() + L"\\empty", setup}));
  // Each path is recorded before the callback hears of it.
  EXPECT_EQ(run.recorded_before_report, (std::vector<int>{1, 2, 3}));
  // The teardown deleted every recorded file.
  EXPECT_TRUE(run.left_in_directory.empty());
}

TEST(TarExtractor, EndAndDamage) {
  std::string zero_magic_with_fields = Header("name", OctalSize(10),
                                              "\0\0\0\0"
                                              "ar00");
  const struct {
    const char* name;
    std::string tarball;
    std::vector<bool> results;
    bool end;
    std::vector<std::wstring> left;  // files that outlive the teardown
  } cases[] = {
      {"four zero magic bytes end it", zero_magic_with_fields + Entry("x", "y"), {true}, true, {}},
      {"GNU magic accepted",
       Header("g", OctalSize(1), "ustar  \0") + std::string(512, 'g') + kEnd,
       {true, true},
       true,
       {}},
      {"other magic is damage", Header("x", OctalSize(0), "tar\0\0\0\0\0"), {false}, false, {}},
      {"header cut short", std::string(300, 'a'), {false}, false, {}},
      {"no end block", Entry("a", "b"), {true, false}, false, {}},
      {"data cut short",
       Header("part", OctalSize(2000)) + std::string(1000, 'p'),
       {false},
       false,
       {L"part"}},
      {"directory entry", Entry("dir/", ""), {false}, false, {}},
      {"member in a directory", Entry("dir/x", "y"), {false}, false, {}},
      {"name the file system refuses", Entry("a?b", "y"), {false}, false, {}},
      {"negative size", Header("neg", "-0000000001\0") + kEnd, {false}, false, {}},
      {"size of 2 GiB", Header("big", "20000000000\0") + kEnd, {false}, false, {}},
      {"pax header lands as @PaxHeader",
       Entry("././@PaxHeader", "26 mtime=1\n") + kEnd,
       {true, true},
       true,
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    orvia_test::ScratchDirectory dir;
    Outcome run = Extract(c.tarball, dir.path());
    EXPECT_EQ(run.results, c.results);
    EXPECT_EQ(run.end_of_archive, c.end);
    EXPECT_EQ(run.left_in_directory, c.left);
  }
}

TEST(TarExtractor, PaxHeadersResolveToOneFileRecordedPerEntry) {
  orvia_test::ScratchDirectory dir;
  const std::string pax = Entry("././@PaxHeader", "27 mtime=12\n");
  Outcome run = Extract(pax + Entry("a.txt", "a") + pax + Entry("b.txt", "b") + kEnd, dir.path());
  ASSERT_TRUE(run.end_of_archive);
  const std::wstring pax_path = dir.path() + L"\\././@PaxHeader";
  EXPECT_EQ(run.reported, (std::vector<std::wstring>{pax_path, dir.path() + L"\\a.txt", pax_path,
                                                     dir.path() + L"\\b.txt"}));
  EXPECT_TRUE(run.left_in_directory.empty());
}

TEST(TarExtractor, NamesThatLeaveTheDirectoryAreRefusedBeforeAnythingIsWritten) {
  orvia_test::ScratchDirectory outer;
  const std::wstring dir = outer.path() + L"\\work";
  CreateDirectoryW(dir.c_str(), nullptr);
  for (const char* name :
       {"../escaped", "..\\escaped", "sub/../../escaped", "C:escaped", "c:\\escaped", "/escaped",
        "\\escaped", "NUL", "con.txt", "Aux.log", "COM1", "lpt9.txt"}) {
    SCOPED_TRACE(name);
    Outcome run = Extract(Entry(name, "payload") + kEnd, dir);
    EXPECT_EQ(run.results, std::vector<bool>{false});
    EXPECT_TRUE(run.reported.empty());
    EXPECT_TRUE(run.left_in_directory.empty());
    EXPECT_EQ(orvia_test::ListDirectory(outer.path()), std::vector<std::wstring>{L"work"});
  }
}

}  // namespace
