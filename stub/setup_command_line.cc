#include "stub/setup_command_line.h"

#include "stub/path_buffer.h"
#include "stub/widen.h"

namespace orvia {

// The switch words are built through formats rather than written as whole
// literals: the launcher this stub replaces composed them that way, and the
// lengths compared below follow from it.

void AppendRecoverArgument(Win32Api& api, const WideString& arguments, WideString* line) {
  WideString recover;
  AppendFormatted(recover, L"/%s", L"recover");
  // Only the opening of the arguments counts, and exactly as written.
  const size_t n = arguments.length() < recover.length() ? arguments.length() : recover.length();
  if (n != recover.length() || !(WideString(arguments.c_str(), n) == recover))
    return;
  wchar_t own_path[MAX_PATH];
  if (!GetModulePath(api, nullptr, own_path))
    return;
  AppendFormatted(*line, L" \"%s\"", own_path);
}

bool RemoveNoMiTagSuffix(Win32Api& api, WideString* line) {
  WideString suffix;
  AppendFormatted(suffix, L" /%s", L"nomitag");
  const size_t start = line->length() > suffix.length() ? line->length() - suffix.length() : 0;
  if (api.lstrcmpiW(line->c_str() + start, suffix.c_str()) != 0)
    return false;
  line->Truncate(line->length() - suffix.length());
  return true;
}

bool BuildSetupCommandLine(Win32Api& api,
                           const WideString& setup_path,
                           const WideString& arguments,
                           const char* tag,
                           WideString* line) {
  // Room for the quotes that PathQuoteSpacesW may add.
  wchar_t quoted[MAX_PATH + 2] = {};
  line->Clear();
  if (CopyToPathBuffer(setup_path, quoted)) {
    api.PathQuoteSpacesW(quoted);
    quoted[MAX_PATH + 1] = L'\0';
    line->Assign(quoted);
  } else {
    *line = setup_path;
  }
  if (!arguments.empty()) {
    AppendFormatted(*line, L" %s", arguments);
    AppendRecoverArgument(api, arguments, line);
  } else {
    if (!tag)
      return false;
    AppendFormatted(*line, L" /%s %s /%s", L"installsource", L"taggedmi", L"install");
  }
  if (!RemoveNoMiTagSuffix(api, line) && tag)
    AppendFormatted(*line, L" \"%s\"", Widen(api, tag, -1));
  return true;
}

}  // namespace orvia
