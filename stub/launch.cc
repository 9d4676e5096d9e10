#include "stub/launch.h"

#include "stub/scoped_handle.h"

namespace orvia {

bool LaunchAndWait(Win32Api& api, const WideString& command_line, uint32_t* exit_code) {
  // CreateProcessW may write into the line it is given; the caller's stays intact.
  WideString writable(command_line);
  STARTUPINFOW startup = {};
  api.GetStartupInfoW(&startup);
  startup.dwFlags |= STARTF_USESHOWWINDOW | STARTF_FORCEOFFFEEDBACK;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process = {};
  if (!api.CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE,
                          CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup, &process)) {
    if (exit_code)
      *exit_code = api.GetLastError();
    return false;
  }
  ScopedProcess child(api, process);
  api.WaitForSingleObject(child.process(), INFINITE);
  if (!exit_code)
    return true;
  DWORD code = 0;
  if (!api.GetExitCodeProcess(child.process(), &code))
    return false;
  *exit_code = code;
  return true;
}

}  // namespace orvia
