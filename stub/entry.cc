#include "stub/entry.h"

#include <objbase.h>

#include "core/command_line_tail.h"
#include "stub/failure_report.h"
#include "stub/meta_installer.h"
#include "stub/result_codes.h"
#include "stub/widen.h"

namespace orvia {
namespace {

// Not in older SDK headers; the values are fixed by the platform.
constexpr DWORD kLoadLibrarySearchSystem32 = 0x800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
constexpr HRESULT kCoENotInitialized = static_cast<HRESULT>(0x800401F0);  // CO_E_NOTINITIALIZED
using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

bool IsLeadByte(void* api, unsigned char byte) {
  return static_cast<Win32Api*>(api)->IsDBCSLeadByte(byte) != FALSE;
}

// Keeps later DLL loads (by the system or by libraries) out of the directory
// the stub was started from, where a download may have planted a DLL.
void RestrictDllSearch(Win32Api& api) {
  HMODULE kernel32 = api.GetModuleHandleW(L"kernel32.dll");
  if (!kernel32)
    return;
  auto set_directories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void*>(api.GetProcAddress(kernel32, "SetDefaultDllDirectories")));
  if (set_directories)
    set_directories(kLoadLibrarySearchSystem32);
}

}  // namespace

ComInitGuard::~ComInitGuard() {
  // A negative result never needs undoing; the test for CO_E_NOTINITIALIZED
  // stays as the launcher this stub replaces wrote it.
  if (result_ >= 0 && result_ != kCoENotInitialized)
    api_.CoUninitialize();
}

bool IsSupportedWindowsVersion(Win32Api& api) {
  OSVERSIONINFOEXW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  version.dwMajorVersion = 5;
  version.dwMinorVersion = 0;
  version.wServicePackMajor = 4;
  ULONGLONG mask = 0;
  mask = api.VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
  mask = api.VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
  mask = api.VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
  return api.VerifyVersionInfoW(
             &version, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, mask) != FALSE;
}

WideString GetStubArguments(Win32Api& api) {
  const char* line = api.GetCommandLineA();
  if (!line)
    return WideString();
  const char* tail = line + FindCommandLineTail(line, IsLeadByte, &api);
  if (!*tail)
    return WideString();
  return Widen(api, tail, -1);
}

uint32_t StubMain(Win32Api& api, HINSTANCE instance) {
  RestrictDllSearch(api);
  ComInitGuard com(api,
                   api.CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
  if (com.result() < 0)
    return ReportFailure(api, static_cast<uint32_t>(com.result()));
  if (!IsSupportedWindowsVersion(api))
    return ReportFailure(api, STUB_E_UNSUPPORTED_OS);
  MetaInstaller installer(api, instance, GetStubArguments(api));
  return installer.Run();
}

}  // namespace orvia
