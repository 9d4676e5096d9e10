// The string table as the stub's lookups read it, and the box's arguments.
#include <string>
#include <vector>

#include "mini_test.h"
#include "stub/failure_report.h"
#include "stub/result_codes.h"

namespace {

using orvia::SystemWin32Api;
using orvia::WideString;

class RecordingBoxApi : public SystemWin32Api {
 public:
  struct Box {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT type;
  };
  std::vector<Box> boxes;
  int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) override {
    boxes.push_back({owner, text, caption, type});
    return 0;  // a failed box changes nothing
  }
};

TEST(FailureReport, IdsBesideTheTableAreAbsentAndLeaveTheTargetAlone) {
  SystemWin32Api api;
  for (UINT id : {21120u, 21127u, 21132u, 21135u, 21136u}) {
    SCOPED_TRACE(id);
    WideString text(L"unchanged");
    EXPECT_FALSE(orvia::LoadResourceString(api, id, text));
    EXPECT_STREQ(text.c_str(), L"unchanged");
  }
  WideString company;
  ASSERT_TRUE(orvia::LoadResourceString(api, IDS_COMPANY_NAME, company));
  EXPECT_STREQ(company.c_str(), L"VantuCompanyName");
}

TEST(FailureReport, FormattingKeepsTheLastError) {
  SystemWin32Api api;
  ::SetLastError(12345);
  WideString caption;
  orvia::FormatResourceString(api, caption, IDS_INSTALLER_CAPTION, L"Acme");
  EXPECT_EQ(::GetLastError(), 12345u);
  // The insert lands where the format names it, whatever the language.
  EXPECT_EQ(std::wstring(caption.c_str()).find(L"Acme "), 0u);
}

// The texts as the English string table spells them (the test runs in an
// English user interface).
TEST(FailureReport, BoxHasNoOwnerNoIconAndReturnsTheCode) {
  const struct {
    uint32_t code;
    const wchar_t* text;
  } cases[] = {
      {orvia::STUB_E_UNSUPPORTED_OS,
       L"Installation failed. VantuCompanyName Installer requires Windows 2000 Service Pack 4 or "
       L"better."},
      {orvia::STUB_E_UNTAGGED, L"Unknown Installer Error"},
      {0x80004005, L"Unknown Installer Error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    RecordingBoxApi api;
    EXPECT_EQ(orvia::ReportFailure(api, c.code), c.code);
    ASSERT_EQ(api.boxes.size(), 1u);
    EXPECT_EQ(api.boxes[0].owner, nullptr);
    EXPECT_EQ(api.boxes[0].type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(api.boxes[0].caption, std::wstring(L"VantuCompanyName Installer"));
    EXPECT_EQ(api.boxes[0].text, std::wstring(c.text));
  }
}

}  // namespace
