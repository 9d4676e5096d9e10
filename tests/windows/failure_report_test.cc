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

TEST(FailureReport, BoxHasNoOwnerNoIconAndReturnsTheCode) {
  const struct {
    uint32_t code;
    UINT text_id;
  } cases[] = {
      {orvia::STUB_E_UNSUPPORTED_OS, IDS_UNSUPPORTED_OS},
      {orvia::STUB_E_UNTAGGED, IDS_UNKNOWN_ERROR},
      {0x80004005, IDS_UNKNOWN_ERROR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    RecordingBoxApi api;
    EXPECT_EQ(orvia::ReportFailure(api, c.code), c.code);
    ASSERT_EQ(api.boxes.size(), 1u);
    EXPECT_EQ(api.boxes[0].owner, nullptr);
    EXPECT_EQ(api.boxes[0].type, static_cast<UINT>(MB_OK));
    WideString company, caption, text;
    orvia::LoadResourceString(api, IDS_COMPANY_NAME, company);
    orvia::FormatResourceString(api, caption, IDS_INSTALLER_CAPTION, company.c_str());
    if (c.text_id == IDS_UNSUPPORTED_OS)
      orvia::FormatResourceString(api, text, c.text_id, company.c_str());
    else
      orvia::LoadResourceString(api, c.text_id, text);
    EXPECT_EQ(api.boxes[0].caption, caption.c_str());
    EXPECT_EQ(api.boxes[0].text, text.c_str());
  }
}

}  // namespace
