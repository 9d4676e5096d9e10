// The entry's paths through the seam: COM start, the version gate, the
// MetaInstaller's life, the exit code.
#include <cstdint>
#include <string>
#include <vector>

#include "mini_test.h"
#include "stub/entry.h"
#include "stub/result_codes.h"
#include "tests/support/windows_test_support.h"

namespace {

using orvia::SystemWin32Api;

BOOL WINAPI RecordDllDirectories(DWORD flags);
DWORD g_dll_directory_flags = 0;
int g_dll_directory_calls = 0;

BOOL WINAPI RecordDllDirectories(DWORD flags) {
  g_dll_directory_flags = flags;
  ++g_dll_directory_calls;
  return TRUE;
}

// Scripts COM start and the running Windows version; every run ends at its
// first step (a user whose temporary path cannot be had), so nothing touches
// the disk. Boxes are recorded, not shown.
class EntryApi : public SystemWin32Api {
 public:
  HRESULT co_init_result = S_OK;
  // False: the version check fails as on Windows older than 5.0 SP4. True:
  // the system itself answers the stub's request.
  bool supported = true;
  DWORD co_init_flags = 0;
  bool has_set_default_dll_directories = true;

  int co_uninitialize_calls = 0;
  int run_started = 0;
  int teardowns = 0;
  std::vector<std::wstring> box_texts;
  std::vector<std::pair<DWORD, BYTE>> mask_steps;
  DWORD verify_type_mask = 0;
  DWORDLONG verify_condition_mask = 0;
  OSVERSIONINFOEXW verify_request = {};

  HRESULT CoInitializeEx(LPVOID reserved, DWORD flags) override {
    EXPECT_EQ(reserved, nullptr);
    co_init_flags = flags;
    return co_init_result;
  }
  void CoUninitialize() override { ++co_uninitialize_calls; }
  FARPROC GetProcAddress(HMODULE module, LPCSTR name) override {
    if (std::string(name) == "SetDefaultDllDirectories")
      return has_set_default_dll_directories
                 ? reinterpret_cast<FARPROC>(reinterpret_cast<void*>(RecordDllDirectories))
                 : nullptr;
    return SystemWin32Api::GetProcAddress(module, name);
  }
  ULONGLONG VerSetConditionMask(ULONGLONG mask, DWORD type, BYTE condition) override {
    mask_steps.emplace_back(type, condition);
    return SystemWin32Api::VerSetConditionMask(mask, type, condition);
  }
  BOOL VerifyVersionInfoW(LPOSVERSIONINFOEXW request, DWORD type, DWORDLONG mask) override {
    verify_request = *request;
    verify_type_mask = type;
    verify_condition_mask = mask;
    return supported ? SystemWin32Api::VerifyVersionInfoW(request, type, mask) : FALSE;
  }
  int MessageBoxW(HWND, LPCWSTR text, LPCWSTR, UINT) override {
    box_texts.push_back(text);
    return IDOK;
  }
  BOOL IsUserAnAdmin() override {
    ++run_started;
    return FALSE;
  }
  DWORD GetTempPathW(DWORD, LPWSTR) override { return 0; }
  // The MetaInstaller's teardown always tries to remove its working directory.
  BOOL RemoveDirectoryW(LPCWSTR path) override {
    ++teardowns;
    return SystemWin32Api::RemoveDirectoryW(path);
  }
};

struct EntryCase {
  const char* name;
  HRESULT co_init_result;
  bool supported;
  uint32_t exit_code;
  int boxes;
  int co_uninitialize_calls;
  int runs;
};

TEST(Entry, PathTable) {
  const EntryCase cases[] = {
      {"com ok, supported", S_OK, true, orvia::kRunFailed, 0, 1, 1},
      {"com already initialised", S_FALSE, true, orvia::kRunFailed, 0, 1, 1},
      {"com fails", E_OUTOFMEMORY, true, static_cast<uint32_t>(E_OUTOFMEMORY), 1, 0, 0},
      {"com fails oddly", static_cast<HRESULT>(0x8001010E), true, 0x8001010E, 1, 0, 0},
      {"windows too old", S_OK, false, orvia::STUB_E_UNSUPPORTED_OS, 1, 1, 0},
  };
  for (const EntryCase& c : cases) {
    SCOPED_TRACE(c.name);
    EntryApi api;
    api.co_init_result = c.co_init_result;
    api.supported = c.supported;
    EXPECT_EQ(orvia::StubMain(api, GetModuleHandleW(nullptr)), c.exit_code);
    // A single-threaded apartment without OLE1 DDE: COINIT_APARTMENTTHREADED |
    // COINIT_DISABLE_OLE1DDE.
    EXPECT_EQ(api.co_init_flags, 6u);
    EXPECT_EQ(api.box_texts.size(), static_cast<size_t>(c.boxes));
    EXPECT_EQ(api.co_uninitialize_calls, c.co_uninitialize_calls);
    EXPECT_EQ(api.run_started, c.runs);
    // Every MetaInstaller that was built was torn down after its run.
    EXPECT_EQ(api.teardowns, c.runs);
  }
}

TEST(Entry, VersionGateAsksForFiveZeroServicePackFour) {
  EntryApi api;
  ASSERT_TRUE(orvia::IsSupportedWindowsVersion(api));
  EXPECT_EQ(api.verify_request.dwOSVersionInfoSize, 284u);
  EXPECT_EQ(api.verify_request.dwMajorVersion, 5u);
  EXPECT_EQ(api.verify_request.dwMinorVersion, 0u);
  EXPECT_EQ(api.verify_request.wServicePackMajor, 4u);
  EXPECT_EQ(api.verify_request.wServicePackMinor, 0u);
  EXPECT_EQ(api.verify_type_mask, 0x23u);
  const std::vector<std::pair<DWORD, BYTE>> steps = {{2, 3}, {1, 3}, {0x20, 3}};
  EXPECT_EQ(api.mask_steps, steps);
  // Three bits of condition per field: minor (bit 0), major (bit 3), service
  // pack major (bit 15), each VER_GREATER_EQUAL.
  EXPECT_EQ(api.verify_condition_mask, (3ull << 0) | (3ull << 3) | (3ull << 15));
}

TEST(Entry, RestrictsDllSearchToSystemDirectory) {
  EntryApi api;
  g_dll_directory_calls = 0;
  orvia::StubMain(api, GetModuleHandleW(nullptr));
  EXPECT_EQ(g_dll_directory_calls, 1);
  EXPECT_EQ(g_dll_directory_flags, 0x800u);

  // Without the call (older systems) the run goes on all the same.
  EntryApi old_system;
  old_system.has_set_default_dll_directories = false;
  g_dll_directory_calls = 0;
  EXPECT_EQ(orvia::StubMain(old_system, GetModuleHandleW(nullptr)), orvia::kRunFailed);
  EXPECT_EQ(g_dll_directory_calls, 0);
  EXPECT_EQ(old_system.run_started, 1);
}

class CommandLineApi : public SystemWin32Api {
 public:
  explicit CommandLineApi(const char* line, bool double_byte = false)
      : line_(line), double_byte_(double_byte) {}
  LPSTR GetCommandLineA() override { return &line_[0]; }
  // A double-byte code page whose lead bytes are 0x81 to 0x9F, as in Shift JIS.
  BOOL IsDBCSLeadByte(BYTE byte) override {
    return double_byte_ ? byte >= 0x81 && byte <= 0x9F : SystemWin32Api::IsDBCSLeadByte(byte);
  }

 private:
  std::string line_;
  bool double_byte_;
};

TEST(Entry, StubArgumentsComeFromTheNarrowCommandLine) {
  const struct {
    const char* line;
    bool double_byte;
    const wchar_t* arguments;
  } cases[] = {
      {"OrviaUpdateSetup.exe", false, L""},
      {"\"C:\\Program Files\\Orvia Setup.exe\" /recover x", false, L"/recover x"},
      {"setup.exe   /nomitag  ", false, L"/nomitag  "},
      {"setup.exe\t\x01 a", false, L"a"},
      {"\"a b\"c d", false, L"d"},
      // A trail byte that looks like a quote or a blank belongs to its lead byte.
      {"\"C:\\\x81\"x\" /a", true, L"/a"},
      {"a\x81 b c", true, L"c"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    CommandLineApi api(c.line, c.double_byte);
    EXPECT_STREQ(orvia::GetStubArguments(api).c_str(), c.arguments);
  }
}

TEST(FormatFatal, MissingFormatStringEndsTheProcessNonContinuably) {
  EXPECT_EQ(orvia_test::RunAndWait(L"\"" + orvia_test::OwnPath() + L"\" --child=format-missing"),
            0xC000001Du);
}

TEST(StringListFatal, AtOutOfRangeEndsTheProcessNonContinuably) {
  // The child exits with the exception code only when it was non-continuable.
  EXPECT_EQ(orvia_test::RunAndWait(L"\"" + orvia_test::OwnPath() + L"\" --child=string-list-at"),
            0xC000008Cu);
}

}  // namespace
