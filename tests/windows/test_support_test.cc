// The test helpers' own guard: removal never reaches beyond a named directory.
#include <string>

#include "mini_test.h"
#include "tests/support/windows_test_support.h"

namespace {

TEST(TestSupport, RemovesOnlyNamedDirectoriesBelowADrive) {
  const struct {
    const wchar_t* path;
    bool removable;
  } cases[] = {
      {L"", false},       {L"C:", false},       {L"C:\\", false},
      {L"Z:\\\\", false}, {L"\\", false},       {L"tmp\\x", false},
      {L"\\tmp", false},  {L"C:\\users", true}, {L"Z:\\tmp\\x", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(orvia_test::Narrow(c.path));
    EXPECT_EQ(orvia_test::IsRemovableTree(c.path), c.removable);
  }
}

}  // namespace
