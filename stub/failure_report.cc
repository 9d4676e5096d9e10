#include "stub/failure_report.h"

#include <cstdarg>

#include "core/common/fatal.h"
#include "core/string_table.h"
#include "stub/result_codes.h"

namespace orvia {
namespace {

// The block's entry for `id`, or false when the block or the entry is missing.
bool LockStringEntry(Win32Api& api,
                     HMODULE module,
                     HRSRC block,
                     UINT id,
                     const wchar_t** units,
                     size_t* count) {
  HGLOBAL loaded = api.LoadResource(module, block);
  const void* bytes = loaded ? api.LockResource(loaded) : nullptr;
  if (!bytes)
    return false;
  size_t offset = 0;
  if (!FindStringTableEntry(static_cast<const uint8_t*>(bytes), api.SizeofResource(module, block),
                            StringEntryOf(id), &offset, count))
    return false;
  *units = reinterpret_cast<const wchar_t*>(static_cast<const uint8_t*>(bytes) + offset);
  return true;
}

}  // namespace

bool LoadResourceString(Win32Api& api, UINT id, WideString& text) {
  // The executable is the program's only resource module.
  HMODULE module = api.GetModuleHandleW(nullptr);
  LPCWSTR block_name = MAKEINTRESOURCEW(StringBlockOf(id));
  const wchar_t* units = nullptr;
  size_t count = 0;
  // Two lookups on purpose: the neutral-language block must hold the entry,
  // and the text shown is then the one the loader picks for the thread.
  HRSRC probe = api.FindResourceExW(module, RT_STRING, block_name, 0);
  if (!probe || !LockStringEntry(api, module, probe, id, &units, &count))
    return false;
  HRSRC block = api.FindResourceW(module, block_name, RT_STRING);
  if (!block || !LockStringEntry(api, module, block, id, &units, &count))
    return false;
  text.Assign(units, count);
  return true;
}

void FormatResourceString(Win32Api& api, WideString& text, UINT id, ...) {
  WideString format;
  if (!LoadResourceString(api, id, format) || format.empty())
    RaiseFatalError(kStatusIllegalInstruction);
  DWORD saved_error = api.GetLastError();
  api.SetLastError(0);
  wchar_t* formatted = nullptr;
  va_list inserts;
  va_start(inserts, id);
  DWORD count =
      api.FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                         format.c_str(), 0, 0, reinterpret_cast<LPWSTR>(&formatted), 0, &inserts);
  va_end(inserts);
  if (count == 0 && api.GetLastError() != 0)
    RaiseFatalError(kStatusNoMemory);
  api.SetLastError(saved_error);
  text.Clear();
  if (formatted) {
    text.Assign(formatted);
    api.LocalFree(formatted);
  }
}

uint32_t ReportFailure(Win32Api& api, uint32_t code) {
  WideString text;
  if (code == STUB_E_UNSUPPORTED_OS) {
    WideString company;
    LoadResourceString(api, IDS_COMPANY_NAME, company);
    FormatResourceString(api, text, IDS_UNSUPPORTED_OS, company.c_str());
  } else {
    LoadResourceString(api, IDS_UNKNOWN_ERROR, text);
  }
  WideString company;
  LoadResourceString(api, IDS_COMPANY_NAME, company);
  WideString caption;
  FormatResourceString(api, caption, IDS_INSTALLER_CAPTION, company.c_str());
  api.MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK);
  return code;
}

}  // namespace orvia
