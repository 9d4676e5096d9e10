#include "stub/meta_installer.h"

#include "core/payload/tar_header.h"
#include "stub/failure_report.h"
#include "stub/launch.h"
#include "stub/path_buffer.h"
#include "stub/payload/tar_extractor.h"
#include "stub/payload/unpack.h"
#include "stub/result_codes.h"
#include "stub/scoped_handle.h"
#include "stub/setup_command_line.h"
#include "stub/tag/read_tag.h"
#include "stub/workdir/base_directory.h"
#include "stub/workdir/directory_ops.h"

namespace orvia {
namespace {

void ForwardExtractedFile(void* installer, const wchar_t* path) {
  static_cast<MetaInstaller*>(installer)->OnFileExtracted(path);
}

}  // namespace

MetaInstaller::MetaInstaller(Win32Api& api, HINSTANCE instance, const WideString& command_line)
    : instance(instance), command_line(command_line), api_(api) {}

MetaInstaller::~MetaInstaller() {
  if (exit_code != STUB_EXIT_KEEP_FILES) {
    for (int32_t i = 0; i < cleanup_files.Count(); ++i)
      api_.DeleteFileW(cleanup_files.At(i).c_str());
    cleanup_files.RemoveAll();
    // Removes the directory only when nothing else is left in it.
    api_.RemoveDirectoryW(working_dir.c_str());
    working_dir.Clear();
  }
}

uint32_t MetaInstaller::Run() {
  if (api_.IsUserAnAdmin()) {
    // No fallback to the user's temporary directory: another user could
    // have prepared files there.
    WideString base = FindAdminBaseDirectory(api_);
    if (base.empty() || !CreateWorkingDirectory(api_, base, &working_dir))
      return kRunFailed;
    base_dir = base;
  } else if (!UseUserTempDirectory(api_, &working_dir, &base_dir)) {
    return kRunFailed;
  }

  ScopedFileHandle tarball = UnpackPayload(api_, base_dir, &cleanup_files);
  if (!tarball.valid())
    return kRunFailed;

  // The extractor deletes its files before the tarball handle closes.
  TarExtractor extractor(api_, working_dir, tarball.get(), true, ForwardExtractedFile, this);
  bool end_of_archive = false;
  while (!end_of_archive) {
    if (!extractor.ExtractNext(end_of_archive))
      return kRunFailed;
  }
  if (!CopySelfToWorkingDir())
    return kRunFailed;
  exit_code = kRunFailed;
  if (setup_path.empty())
    return kRunFailed;

  // Declared before the tag so that the tag is released first.
  WideString line;
  HeapBuffer<char> tag;
  // The tag is read from the file of the stub's own module.
  wchar_t own_path[MAX_PATH];
  if (GetModulePath(api_, instance, own_path))
    tag = ReadTag(api_, own_path);
  if (!BuildSetupCommandLine(api_, setup_path, command_line, tag.get(), &line))
    return ReportFailure(api_, STUB_E_UNTAGGED);
  LaunchAndWait(api_, line, &exit_code);
  return exit_code;
}

void MetaInstaller::OnFileExtracted(const wchar_t* path) {
  WideString copy(path);
  cleanup_files.Add(copy);
  size_t start = copy.length();
  while (start > 0 && copy[start - 1] != L'\\')
    --start;
  WideString name(copy.c_str() + start, copy.length() - start);
  if (name.empty())
    return;
  // Over the length and the NUL after it.
  api_.CharLowerBuffW(name.data(), static_cast<DWORD>(name.length() + 1));
  if (setup_path.empty() && IsSetupProgramName(name.c_str(), name.length()))
    setup_path = copy;
}

bool MetaInstaller::CopySelfToWorkingDir() {
  wchar_t own_path[MAX_PATH];
  if (!GetModulePath(api_, nullptr, own_path))
    return false;
  wchar_t target[MAX_PATH] = {};
  if (!CopyToPathBuffer(working_dir, target) || !api_.PathAppendW(target, kSelfCopyName))
    return false;
  if (!api_.CopyFileW(own_path, target, FALSE))
    return false;
  cleanup_files.Add(target);
  return true;
}

}  // namespace orvia
