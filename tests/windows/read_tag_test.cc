// ReadTag and MappedFile on real files, with single results replaced through
// the seam: what each call is given, and that everything opened is released.
#include <algorithm>
#include <string>
#include <vector>

#include "mini_test.h"
#include "stub/tag/mapped_file.h"
#include "stub/tag/read_tag.h"
#include "tests/support/tag_image.h"
#include "tests/support/windows_test_support.h"

namespace {

using orvia::SystemWin32Api;
namespace image = orvia::tag_image;

enum class Step { kNone, kCreateFile, kCreateMapping, kMapView, kQuery };

// Counts what the reader acquires and releases, in order, and fails one step.
class TagApi : public SystemWin32Api {
 public:
  Step fail = Step::kNone;
  std::vector<std::string> calls;
  std::vector<HANDLE> opened;
  std::vector<HANDLE> closed;
  int views = 0;
  int unmapped = 0;
  bool arguments_as_expected = true;

  HANDLE CreateFileW(LPCWSTR name,
                     DWORD access,
                     DWORD share,
                     LPSECURITY_ATTRIBUTES security,
                     DWORD disposition,
                     DWORD flags,
                     HANDLE template_file) override {
    calls.push_back("CreateFileW");
    arguments_as_expected &= access == GENERIC_READ && share == FILE_SHARE_READ && !security &&
                             disposition == OPEN_EXISTING && flags == FILE_ATTRIBUTE_NORMAL &&
                             !template_file;
    if (fail == Step::kCreateFile)
      return INVALID_HANDLE_VALUE;
    HANDLE file = SystemWin32Api::CreateFileW(name, access, share, security, disposition, flags,
                                              template_file);
    if (file != INVALID_HANDLE_VALUE)
      opened.push_back(file);
    return file;
  }
  HANDLE CreateFileMappingW(HANDLE file,
                            LPSECURITY_ATTRIBUTES security,
                            DWORD protect,
                            DWORD size_high,
                            DWORD size_low,
                            LPCWSTR name) override {
    calls.push_back("CreateFileMappingW");
    arguments_as_expected &=
        !security && protect == PAGE_READONLY && size_high == 0 && size_low == 0 && !name;
    if (fail == Step::kCreateMapping)
      return nullptr;
    HANDLE mapping =
        SystemWin32Api::CreateFileMappingW(file, security, protect, size_high, size_low, name);
    if (mapping)
      opened.push_back(mapping);
    return mapping;
  }
  LPVOID MapViewOfFile(HANDLE mapping,
                       DWORD access,
                       DWORD offset_high,
                       DWORD offset_low,
                       SIZE_T length) override {
    calls.push_back("MapViewOfFile");
    arguments_as_expected &=
        access == FILE_MAP_READ && offset_high == 0 && offset_low == 0 && length == 0;
    if (fail == Step::kMapView)
      return nullptr;
    LPVOID view = SystemWin32Api::MapViewOfFile(mapping, access, offset_high, offset_low, length);
    views += view != nullptr;
    return view;
  }
  SIZE_T VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION info, SIZE_T size) override {
    calls.push_back("VirtualQuery");
    arguments_as_expected &= size == sizeof(MEMORY_BASIC_INFORMATION) && info->RegionSize == 0 &&
                             info->BaseAddress == nullptr;
    return fail == Step::kQuery ? 0 : SystemWin32Api::VirtualQuery(address, info, size);
  }
  BOOL UnmapViewOfFile(LPCVOID base) override {
    calls.push_back("UnmapViewOfFile");
    ++unmapped;
    return SystemWin32Api::UnmapViewOfFile(base);
  }
  BOOL CloseHandle(HANDLE handle) override {
    calls.push_back("CloseHandle");
    closed.push_back(handle);
    return SystemWin32Api::CloseHandle(handle);
  }

  // Everything acquired was released, each once.
  bool AllReleased() const {
    std::vector<HANDLE> a = opened, b = closed;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return views == unmapped && a == b;
  }
};

std::string AsString(const image::Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// True when nobody holds the file open any more: only then can it be opened
// without sharing.
bool NotHeldOpen(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  ::CloseHandle(file);
  return true;
}

const char kTag[] = "appguid={3F2B8C1E-7A4D-4E9B-9C21-5D6E8F0A1B2C}&lang=en";

TEST(ReadTag, EveryOpenStepFailingOnceGivesNoTagAndReleasesEverything) {
  orvia_test::ScratchDirectory scratch;
  const std::wstring path = scratch.path() + L"\\tagged.exe";
  orvia_test::WriteFileBytes(
      path, AsString(image::Image(image::CertificateTable(image::TagBlock(kTag)))));
  const struct {
    const char* name;
    Step fail;
    size_t calls_before_release;  // calls up to and including the failing one
  } cases[] = {
      {"CreateFileW", Step::kCreateFile, 1},
      {"CreateFileMappingW", Step::kCreateMapping, 2},
      {"MapViewOfFile", Step::kMapView, 3},
      {"VirtualQuery", Step::kQuery, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    {
      // A failed open releases at once, not only when the object goes.
      TagApi api;
      api.fail = c.fail;
      orvia::MappedFile file(api);
      EXPECT_FALSE(file.Open(path.c_str()));
      EXPECT_TRUE(api.AllReleased());
      EXPECT_TRUE(file.data() == nullptr);
      EXPECT_EQ(file.size(), 0u);
    }
    TagApi api;
    api.fail = c.fail;
    EXPECT_TRUE(!orvia::ReadTag(api, path.c_str()));
    ASSERT_TRUE(api.calls.size() >= c.calls_before_release);
    EXPECT_EQ(api.calls[c.calls_before_release - 1], std::string(c.name));
    EXPECT_TRUE(api.AllReleased());
    EXPECT_TRUE(api.arguments_as_expected);
    EXPECT_TRUE(NotHeldOpen(path));
  }
}

TEST(ReadTag, FindsTheTagAndClosesTheFileOnEveryPath) {
  orvia_test::ScratchDirectory scratch;
  const image::Bytes tagged = image::Image(image::CertificateTable(image::TagBlock(kTag)));
  // The declared table runs 8 bytes past the end of the file: the reader
  // measures against the view, whose last page reads as zeros.
  const image::Bytes past_the_end = image::Put32(
      image::Image(image::CertificateTable(image::Join({image::TagBlock(kTag), image::Bytes(8)}))),
      image::kSecurityEntry + 4,
      static_cast<uint32_t>(image::CertificateTable(image::TagBlock(kTag)).size() + 16));
  const struct {
    const char* name;
    std::string bytes;
    const char* tag;  // null: no tag
  } cases[] = {
      {"tagged", AsString(tagged), kTag},
      {"table past the file's end, inside the last page",
       AsString(past_the_end).substr(0, past_the_end.size() - 8), kTag},
      {"double quote in the text",
       AsString(image::Image(image::CertificateTable(image::TagBlock("a=\"b\"")))), nullptr},
      {"untagged", AsString(image::Image(image::CertificateTable(image::Bytes(64, 0x11)))),
       nullptr},
      // An empty file cannot be mapped.
      {"empty file", "", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring path = scratch.path() + L"\\file.exe";
    orvia_test::WriteFileBytes(path, c.bytes);
    TagApi api;
    orvia::HeapBuffer<char> tag = orvia::ReadTag(api, path.c_str());
    if (c.tag) {
      ASSERT_TRUE(static_cast<bool>(tag));
      EXPECT_STREQ(tag.get(), c.tag);
    } else {
      EXPECT_FALSE(static_cast<bool>(tag));
    }
    EXPECT_TRUE(api.AllReleased());
    if (!c.bytes.empty()) {
      // The view first, then the mapping, then the file.
      ASSERT_EQ(api.opened.size(), 2u);
      EXPECT_EQ(api.closed, std::vector<HANDLE>({api.opened[1], api.opened[0]}));
      EXPECT_EQ(api.calls[4], std::string("UnmapViewOfFile"));
    }
    EXPECT_TRUE(api.arguments_as_expected);
    EXPECT_TRUE(NotHeldOpen(path));
    EXPECT_TRUE(DeleteFileW(path.c_str()));
  }
}

TEST(ReadTag, NoPathOrAMissingFileGivesNoTag) {
  TagApi api;
  EXPECT_TRUE(!orvia::ReadTag(api, nullptr));
  EXPECT_TRUE(api.calls.empty());
  orvia_test::ScratchDirectory scratch;
  EXPECT_TRUE(!orvia::ReadTag(api, (scratch.path() + L"\\missing.exe").c_str()));
  EXPECT_TRUE(api.AllReleased());
}

TEST(MappedFile, ViewCoversWholePagesAndCloseIsIdempotent) {
  orvia_test::ScratchDirectory scratch;
  const std::wstring path = scratch.path() + L"\\data.bin";
  orvia_test::WriteFileBytes(path, std::string(5000, 'x'));
  TagApi api;
  {
    orvia::MappedFile file(api);
    ASSERT_TRUE(file.Open(path.c_str()));
    EXPECT_EQ(file.size(), 8192u);
    EXPECT_EQ(file.data()[4999], static_cast<uint8_t>('x'));
    EXPECT_EQ(file.data()[5000], static_cast<uint8_t>(0));
    // Opening again closes what was held first.
    ASSERT_TRUE(file.Open(path.c_str()));
    EXPECT_EQ(api.unmapped, 1);
    file.Close();
    EXPECT_TRUE(file.data() == nullptr);
    EXPECT_EQ(file.size(), 0u);
    const size_t calls = api.calls.size();
    file.Close();
    EXPECT_EQ(api.calls.size(), calls);
    EXPECT_TRUE(NotHeldOpen(path));
  }
  EXPECT_TRUE(api.AllReleased());
}

}  // namespace
