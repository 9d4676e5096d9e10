// The one object of a run: every string and list that outlives a single step,
// and the install sequence itself.
#ifndef ORVIA_STUB_META_INSTALLER_H_
#define ORVIA_STUB_META_INSTALLER_H_

#include <cstdint>

#include "core/common/string_list.h"
#include "core/common/wide_string.h"
#include "stub/platform/win32_api.h"

namespace orvia {

// The fixed name of the stub's copy of itself in the working directory.
constexpr wchar_t kSelfCopyName[] = L"OrviaUpdateSetup.exe";

class MetaInstaller {
 public:
  MetaInstaller(Win32Api& api, HINSTANCE instance, const WideString& command_line);
  MetaInstaller(const MetaInstaller&) = delete;
  MetaInstaller& operator=(const MetaInstaller&) = delete;
  // Deletes what the run registered unless the setup program asked to keep it.
  ~MetaInstaller();

  // The install sequence; its result becomes the process exit code.
  uint32_t Run();

  // Registers each completely extracted file and keeps the first ".exe".
  void OnFileExtracted(const wchar_t* path);
  // Copies the stub's own file into the working directory and registers it.
  bool CopySelfToWorkingDir();

  HINSTANCE instance;
  WideString command_line;
  WideString setup_path;
  uint32_t exit_code = 0;
  StringList cleanup_files;
  WideString working_dir;
  WideString base_dir;

 private:
  Win32Api& api_;
};

}  // namespace orvia

#endif  // ORVIA_STUB_META_INSTALLER_H_
