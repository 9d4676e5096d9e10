// Choosing the base directory and making the working directory, through the
// seam, on the real file system inside a scratch directory.
#include <shlobj.h>

#include <string>
#include <vector>

#include "mini_test.h"
#include "stub/meta_installer.h"
#include "stub/result_codes.h"
#include "stub/workdir/base_directory.h"
#include "stub/workdir/directory_ops.h"
#include "tests/support/windows_test_support.h"

namespace {

using orvia::SystemWin32Api;
using orvia::WideString;
using orvia_test::Exists;
using orvia_test::IsDirectory;
using orvia_test::ScratchDirectory;

// Stands the Windows and Program Files folders, the ProgramFiles variable and
// the temporary path in for directories of the test's own.
class FolderApi : public SystemWin32Api {
 public:
  bool admin = true;
  std::wstring windows_folder;          // empty: SHGetFolderPathW fails for it
  std::wstring program_files_folder;    // empty: SHGetFolderPathW fails for it
  std::wstring program_files_variable;  // empty: the variable is absent
  std::wstring temp_path;               // returned by GetTempPathW as it is
  std::wstring unwritable;              // GetTempFileNameW fails in this directory
  std::vector<int> folders_asked;
  int temp_path_calls = 0;

  BOOL IsUserAnAdmin() override { return admin; }
  HRESULT SHGetFolderPathW(HWND owner,
                           int folder,
                           HANDLE token,
                           DWORD flags,
                           LPWSTR path) override {
    folders_asked.push_back(folder);
    EXPECT_EQ(owner, nullptr);
    EXPECT_EQ(token, nullptr);
    EXPECT_EQ(flags, 0u);
    const std::wstring& answer =
        (folder & 0xFF) == CSIDL_WINDOWS ? windows_folder : program_files_folder;
    if (answer.empty())
      return E_FAIL;
    wcscpy(path, answer.c_str());
    return S_OK;
  }
  DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) override {
    if (std::wstring(name) != L"ProgramFiles")
      return SystemWin32Api::GetEnvironmentVariableW(name, buffer, size);
    if (program_files_variable.empty())
      return 0;
    DWORD needed = static_cast<DWORD>(program_files_variable.size() + 1);
    if (size < needed)
      return needed;
    wcscpy(buffer, program_files_variable.c_str());
    return needed - 1;
  }
  UINT GetTempFileNameW(LPCWSTR path, LPCWSTR prefix, UINT unique, LPWSTR name) override {
    if (!unwritable.empty() && unwritable == path) {
      ::SetLastError(ERROR_ACCESS_DENIED);
      return 0;
    }
    return SystemWin32Api::GetTempFileNameW(path, prefix, unique, name);
  }
  DWORD GetTempPathW(DWORD size, LPWSTR buffer) override {
    ++temp_path_calls;
    if (temp_path.size() < size)
      wcscpy(buffer, temp_path.c_str());
    return static_cast<DWORD>(temp_path.size());
  }
};

struct AdminCase {
  const char* name;
  bool admin;
  bool windows_given;
  const char* system_temp;  // "dir", "unwritable" (a dir), "file" or nullptr
  bool program_files_given;
  bool program_files_variable;
  const char* chosen;  // "system-temp", "program-files", "variable" or nullptr
};

TEST(AdminBaseDirectory, CandidateTable) {
  const AdminCase cases[] = {
      {"system temp exists", true, true, "dir", true, false, "system-temp"},
      {"system temp is a file", true, true, "file", true, false, "program-files"},
      {"no system temp", true, true, nullptr, true, false, "program-files"},
      {"no windows folder", true, false, "dir", true, false, "program-files"},
      {"system temp not writable", true, true, "unwritable", true, false, "program-files"},
      {"program files from the variable", true, true, nullptr, false, true, "variable"},
      {"the system's answer before the variable", true, true, nullptr, true, true, "program-files"},
      {"no folder, no variable", true, true, nullptr, false, false, nullptr},
      {"not an administrator", false, true, "dir", true, false, nullptr},
  };
  for (const AdminCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDirectory scratch;
    const std::wstring windows = scratch.path() + L"\\windows";
    const std::wstring program_files = scratch.path() + L"\\Program Files";
    const std::wstring variable = scratch.path() + L"\\From Variable";
    CreateDirectoryW(windows.c_str(), nullptr);
    CreateDirectoryW(program_files.c_str(), nullptr);
    CreateDirectoryW(variable.c_str(), nullptr);
    const std::wstring system_temp = windows + L"\\SystemTemp";
    if (c.system_temp && std::string(c.system_temp) != "file")
      CreateDirectoryW(system_temp.c_str(), nullptr);
    if (c.system_temp && std::string(c.system_temp) == "file")
      orvia_test::WriteFileBytes(system_temp, "x");

    FolderApi api;
    api.admin = c.admin;
    api.windows_folder = c.windows_given ? windows : L"";
    api.program_files_folder = c.program_files_given ? program_files : L"";
    api.program_files_variable = c.program_files_variable ? variable : L"";
    if (c.system_temp && std::string(c.system_temp) == "unwritable")
      api.unwritable = system_temp;
    WideString chosen = orvia::FindAdminBaseDirectory(api);

    std::wstring expected;
    if (c.chosen && std::string(c.chosen) == "system-temp")
      expected = system_temp;
    if (c.chosen && std::string(c.chosen) == "program-files")
      expected = program_files + L"\\Orvia\\Temp";
    if (c.chosen && std::string(c.chosen) == "variable")
      expected = variable + L"\\Orvia\\Temp";
    EXPECT_EQ(std::wstring(chosen.c_str()), expected);
    if (!expected.empty()) {
      EXPECT_TRUE(IsDirectory(expected));
      // The probe file is gone again: the candidate holds nothing new.
      EXPECT_TRUE(orvia_test::ListDirectory(expected).empty());
    }
    // Rows after the chosen one are never composed.
    if (expected == system_temp) {
      EXPECT_FALSE(Exists(program_files + L"\\Orvia"));
      EXPECT_EQ(api.folders_asked, std::vector<int>{CSIDL_WINDOWS | CSIDL_FLAG_CREATE});
    }
    if (!c.admin) {
      EXPECT_TRUE(api.folders_asked.empty());
    }
  }
}

// A folder so long that the sub-path no longer fits: the composition says so
// and leaves the path alone.
TEST(ComposeFolderPath, SubPathThatDoesNotFitIsRefused) {
  const struct {
    const char* name;
    size_t folder_length;
    HRESULT result;
  } cases[] = {
      {"fits", 40, S_OK},
      {"one unit too long", MAX_PATH - 11, static_cast<HRESULT>(orvia::STUB_E_PATH_APPEND)},
      {"the folder alone fills the buffer", MAX_PATH - 1,
       static_cast<HRESULT>(orvia::STUB_E_PATH_APPEND)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FolderApi api;
    // "Orvia\\Temp" is 10 units; with its backslash and the NUL, 12 more than the folder.
    api.program_files_folder = L"C:\\" + std::wstring(c.folder_length - 3, L'p');
    WideString path(L"untouched");
    EXPECT_EQ(orvia::ComposeFolderPath(api, CSIDL_PROGRAM_FILES, L"Orvia\\Temp", false, &path),
              c.result);
    EXPECT_EQ(std::wstring(path.c_str()),
              c.result == S_OK ? api.program_files_folder + L"\\Orvia\\Temp" : L"untouched");
  }
}

TEST(AdminBaseDirectory, NoCandidateMeansNoRunAndNoUserFallback) {
  ScratchDirectory scratch;
  FolderApi api;
  api.temp_path = scratch.path() + L"\\";
  orvia::MetaInstaller installer(api, GetModuleHandleW(nullptr), WideString());
  EXPECT_EQ(installer.Run(), orvia::kRunFailed);
  EXPECT_EQ(api.temp_path_calls, 0);
  EXPECT_TRUE(installer.working_dir.empty());
  EXPECT_TRUE(installer.base_dir.empty());
  EXPECT_TRUE(orvia_test::ListDirectory(scratch.path()).empty());
}

TEST(UserTempDirectory, RouteTable) {
  const struct {
    const char* name;
    const wchar_t* temp;  // below the scratch directory
    bool pad_to_260;
    bool succeeds;
  } cases[] = {
      {"existing temp", L"\\tmp\\", false, true},
      {"missing last level is made", L"\\new\\", false, true},
      {"missing parent fails", L"\\gone\\tmp\\", false, false},
      {"260 units fail", L"\\", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDirectory scratch;
    CreateDirectoryW((scratch.path() + L"\\tmp").c_str(), nullptr);
    FolderApi api;
    api.admin = false;
    api.temp_path = scratch.path() + c.temp;
    if (c.pad_to_260)
      api.temp_path += std::wstring(260 - api.temp_path.size() - 1, L'x') + L"\\";
    WideString working_dir, base_dir;
    EXPECT_EQ(orvia::UseUserTempDirectory(api, &working_dir, &base_dir), c.succeeds);
    if (!c.succeeds) {
      EXPECT_TRUE(base_dir.empty());
      EXPECT_TRUE(working_dir.empty());
      continue;
    }
    // The user's base keeps its trailing backslash; the name follows it
    // with no second one.
    EXPECT_EQ(std::wstring(base_dir.c_str()), api.temp_path);
    const std::wstring working = working_dir.c_str();
    EXPECT_EQ(working.rfind(L'\\') + 1, api.temp_path.size());
    EXPECT_EQ(working.find(L"\\\\"), std::wstring::npos);
    EXPECT_TRUE(IsDirectory(working));
  }
}

class CanonicalizeFailsApi : public SystemWin32Api {
 public:
  BOOL PathCanonicalizeW(LPWSTR, LPCWSTR) override { return FALSE; }
};

TEST(CreateDirectoryPath, Table) {
  ScratchDirectory scratch;
  const std::wstring s = scratch.path();
  orvia_test::WriteFileBytes(s + L"\\file", "x");
  SystemWin32Api api;
  // What the system itself reports for a level below a file.
  CreateDirectoryW((s + L"\\file\\below").c_str(), nullptr);
  const uint32_t below_file = 0x80070000u | (GetLastError() & 0xFFFF);
  CreateDirectoryW(L"", nullptr);
  const uint32_t empty_level = 0x80070000u | (GetLastError() & 0xFFFF);

  const struct {
    const char* name;
    std::wstring path;
    uint32_t result;
    std::vector<std::wstring> made;
    std::vector<std::wstring> not_made;
  } cases[] = {
      {"forward slashes", s + L"/x/y", 0, {s + L"\\x", s + L"\\x\\y"}, {}},
      {"dot-dot resolved first", s + L"\\a\\..\\b\\c", 0, {s + L"\\b\\c"}, {s + L"\\a"}},
      {"trailing backslash", s + L"\\t\\", 0, {s + L"\\t"}, {}},
      {"middle level is a file",
       s + L"\\file\\below\\deeper",
       below_file,
       {},
       {s + L"\\file\\below"}},
      {"leading backslash", L"\\orvia-no-such-root\\x", empty_level, {}, {L"\\orvia-no-such-root"}},
      {"exists in full", s + L"\\x\\y", 0, {s + L"\\x\\y"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(static_cast<uint32_t>(orvia::CreateDirectoryPath(api, WideString(c.path.c_str()))),
              c.result);
    for (const std::wstring& made : c.made)
      EXPECT_TRUE(IsDirectory(made)) << orvia_test::Narrow(made);
    for (const std::wstring& not_made : c.not_made)
      EXPECT_FALSE(Exists(not_made)) << orvia_test::Narrow(not_made);
  }
  EXPECT_NE(below_file & 0xFFFF, 0u);
  CanonicalizeFailsApi refusing;
  EXPECT_EQ(orvia::CreateDirectoryPath(refusing, WideString((s + L"\\z").c_str())), E_FAIL);
  EXPECT_FALSE(Exists(s + L"\\z"));
}

class TempNameApi : public SystemWin32Api {
 public:
  UINT result = 0;
  UINT GetTempFileNameW(LPCWSTR path, LPCWSTR prefix, UINT unique, LPWSTR name) override {
    SystemWin32Api::GetTempFileNameW(path, prefix, unique, name);
    return result;
  }
};

TEST(MakeTempFileName, DistinctNamesAndRefusedResults) {
  ScratchDirectory scratch;
  SystemWin32Api api;
  WideString dir(scratch.path().c_str());
  WideString first = orvia::MakeTempFileName(api, dir, L"KUM");
  WideString second = orvia::MakeTempFileName(api, dir, L"KUM");
  ASSERT_FALSE(first.empty());
  EXPECT_NE(first, second);
  EXPECT_TRUE(Exists(first.c_str()));
  EXPECT_TRUE(Exists(second.c_str()));
  EXPECT_TRUE(orvia::MakeTempFileName(api, WideString((scratch.path() + L"\\gone").c_str()), L"KUM")
                  .empty());
  for (UINT refused : {0u, 111u}) {
    SCOPED_TRACE(refused);
    TempNameApi scripted;
    scripted.result = refused;
    EXPECT_TRUE(orvia::MakeTempFileName(scripted, dir, L"KUM").empty());
  }
}

TEST(CreateWorkingDirectory, Table) {
  ScratchDirectory scratch;
  orvia_test::WriteFileBytes(scratch.path() + L"\\plain-file", "x");
  const struct {
    const char* name;
    std::wstring base;
    bool succeeds;
  } cases[] = {
      {"base is a file", scratch.path() + L"\\plain-file", false},
      {"base's parent is missing", scratch.path() + L"\\gone\\base", false},
      {"base is made", scratch.path() + L"\\base", true},
      {"base exists", scratch.path() + L"\\base", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SystemWin32Api api;
    WideString working_dir;
    EXPECT_EQ(orvia::CreateWorkingDirectory(api, WideString(c.base.c_str()), &working_dir),
              c.succeeds);
    if (c.succeeds) {
      const std::wstring working = working_dir.c_str();
      EXPECT_EQ(working.substr(0, c.base.size() + 1), c.base + L"\\");
      // The placeholder file was replaced by a directory of the same name.
      EXPECT_TRUE(IsDirectory(working));
    } else {
      EXPECT_TRUE(working_dir.empty());
    }
  }
  EXPECT_FALSE(Exists(scratch.path() + L"\\gone"));
}

}  // namespace
