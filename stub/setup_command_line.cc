#include "stub/setup_command_line.h"

#include "stub/path_buffer.h"
#include "stub/widen.h"

namespace orvia {

void MetaInstaller::AppendRecoverArgument(WideString& line) {
  WideString recover;
  AppendFormatted(recover, L"/%s", L"recover");
  // Only the opening of the arguments counts, and exactly as written.
  const size_t n = command_line.length() < recover.length() ? command_line.length()
                                                            : recover.length();
  if (n != recover.length() || !(WideString(command_line.c_str(), n) == recover))
    return;
  wchar_t own_path[MAX_PATH] = {};
  DWORD length = api_.GetModuleFileNameW(nullptr, own_path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return;
  AppendFormatted(line, L" \"%s\"", own_path);
}

bool RemoveNoMiTagSuffix(Win32Api& api, WideString& line) {
  WideString suffix;
  AppendFormatted(suffix, L" /%s", L"nomitag");
  const size_t start = line.length() > suffix.length() ? line.length() - suffix.length() : 0;
  if (api.lstrcmpiW(line.c_str() + start, suffix.c_str()) != 0)
    return false;
  line.Truncate(line.length() - suffix.length());
  return true;
}

bool BuildSetupCommandLine(Win32Api& api, MetaInstaller& installer, const char* tag,
                           WideString& line) {
  // Room for the quotes that PathQuoteSpacesW may add.
  wchar_t quoted[MAX_PATH + 2] = {};
  line.Clear();
  if (CopyToPathBuffer(installer.setup_path, quoted)) {
    api.PathQuoteSpacesW(quoted);
    quoted[MAX_PATH + 1] = L'\0';
    line.Assign(quoted);
  } else {
    line = installer.setup_path;
  }
  if (!installer.command_line.empty()) {
    AppendFormatted(line, L" %s", installer.command_line);
    installer.AppendRecoverArgument(line);
  } else {
    if (!tag)
      return false;
    AppendFormatted(line, L" /%s %s /%s", L"installsource", L"taggedmi", L"install");
  }
  if (!RemoveNoMiTagSuffix(api, line) && tag)
    AppendFormatted(line, L" \"%s\"", Widen(api, tag, -1));
  return true;
}

}  // namespace orvia
