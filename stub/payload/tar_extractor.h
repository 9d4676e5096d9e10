// Reads the tarball one entry per call and writes each entry as a file.
#ifndef ORVIA_STUB_PAYLOAD_TAR_EXTRACTOR_H_
#define ORVIA_STUB_PAYLOAD_TAR_EXTRACTOR_H_

#include "core/common/string_list.h"
#include "core/common/wide_string.h"
#include "stub/platform/win32_api.h"

namespace orvia {

// Called once for each completely written file; `path` lives for the call only.
using FileExtractedCallback = void (*)(void* context, const wchar_t* path);

// The chunk through which every entry's data is copied.
constexpr DWORD kTarCopyBufferSize = 0x40000;

class TarExtractor {
 public:
  TarExtractor(Win32Api& api,
               const WideString& directory,
               HANDLE tar_file,
               bool track_files,
               FileExtractedCallback file_callback,
               void* callback_context);
  TarExtractor(const TarExtractor&) = delete;
  TarExtractor& operator=(const TarExtractor&) = delete;
  // Deletes every file it recorded; does not close `tar_file`.
  ~TarExtractor();

  // Extracts the next entry. True after a complete entry, or with
  // `end_of_archive` set at the end; false on any failure.
  bool ExtractNext(bool& end_of_archive);

  const StringList& extracted_files() const { return extracted_files_; }

 private:
  Win32Api& api_;
  WideString directory_;
  HANDLE tar_file_;
  bool track_files_;
  StringList extracted_files_;
  FileExtractedCallback file_callback_;
  void* callback_context_;
};

}  // namespace orvia

#endif  // ORVIA_STUB_PAYLOAD_TAR_EXTRACTOR_H_
