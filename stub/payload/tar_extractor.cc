#include "stub/payload/tar_extractor.h"

#include "core/common/heap_buffer.h"
#include "core/payload/tar_header.h"
#include "stub/scoped_handle.h"
#include "stub/widen.h"

namespace orvia {

TarExtractor::TarExtractor(Win32Api& api,
                           const WideString& directory,
                           HANDLE tar_file,
                           bool track_files,
                           FileExtractedCallback file_callback,
                           void* callback_context)
    : api_(api),
      directory_(directory),
      tar_file_(tar_file),
      track_files_(track_files),
      file_callback_(file_callback),
      callback_context_(callback_context) {}

TarExtractor::~TarExtractor() {
  for (int32_t i = 0; i < extracted_files_.Count(); ++i)
    api_.DeleteFileW(extracted_files_.At(i).c_str());
  extracted_files_.RemoveAll();
}

bool TarExtractor::ExtractNext(bool& end_of_archive) {
  uint8_t block[kTarBlockSize];
  DWORD read = 0;
  if (!api_.ReadFile(tar_file_, block, kTarBlockSize, &read, nullptr) || read != kTarBlockSize)
    return false;
  TarHeader header = ParseTarHeader(block);
  if (header.kind == TarHeaderKind::kEnd) {
    end_of_archive = true;
    return true;
  }
  if (header.kind != TarHeaderKind::kEntry)
    return false;

  // A bad size or an unsafe name is refused before anything is created: a
  // negative size would copy until the disk is full, and a name that leaves
  // the directory or opens a device would write where nobody cleans up. The
  // name is judged as the system will see it, after widening.
  DWORD position = api_.SetFilePointer(tar_file_, 0, nullptr, FILE_CURRENT);
  if (position == INVALID_SET_FILE_POINTER)
    return false;
  const int64_t next = NextTarHeaderPosition(position, header.size);
  const WideString name = Widen(api_, header.name, static_cast<int>(header.name_length));
  if (next == kNoTarPosition || !IsSafeMemberName(name.c_str(), name.length()))
    return false;

  WideString path(directory_);
  path.Append(L"\\");
  path.Append(name);
  bool failed = false;
  {
    ScopedFileHandle file(api_, api_.CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                                 CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr));
    if (!file.valid())
      return false;
    // On the heap: too large for the stack of a 32-bit GUI thread.
    HeapBuffer<uint8_t> buffer(kTarCopyBufferSize);
    uint32_t remaining = static_cast<uint32_t>(header.size);
    while (remaining > 0 && !failed) {
      DWORD chunk = remaining < kTarCopyBufferSize ? remaining : kTarCopyBufferSize;
      DWORD got = 0;
      DWORD put = 0;
      // A short read means the tarball was cut inside this entry's data.
      failed = !api_.ReadFile(tar_file_, buffer.get(), chunk, &got, nullptr) || got != chunk ||
               !api_.WriteFile(file.get(), buffer.get(), chunk, &put, nullptr);
      remaining -= chunk;
    }
  }
  // A member whose writing failed is registered nowhere and stays on disk:
  // the run ends, and the working directory is then left with it in it.
  if (!failed) {
    if (track_files_)
      extracted_files_.Add(path);
    if (file_callback_)
      file_callback_(callback_context_, path.c_str());
  }
  api_.SetFilePointer(tar_file_, static_cast<LONG>(next), nullptr, FILE_BEGIN);
  return !failed;
}

}  // namespace orvia
