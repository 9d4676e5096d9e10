// Whole-file reads and all-or-nothing writes for the host tools.
#ifndef ORVIA_TOOLS_COMMON_FILE_UTIL_H_
#define ORVIA_TOOLS_COMMON_FILE_UTIL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/scoped_fd.h"

namespace orvia {

// Reads a regular file whole. On failure returns false and sets `error` to a
// reason without the path ("no such file", "is a directory", ...).
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* data, std::string* error);

// Reads at most `limit` bytes; a longer file fails with "larger than ..." so
// that an oversized input is refused before it is held in memory.
bool ReadWholeFileLimited(const std::string& path,
                          uint64_t limit,
                          std::vector<uint8_t>* data,
                          std::string* error);

// Opens a regular file of at most `limit` bytes for reading, with the same
// reasons as ReadWholeFileLimited; `size` receives its size.
bool OpenFileLimited(const std::string& path,
                     uint64_t limit,
                     ScopedFd* fd,
                     uint64_t* size,
                     std::string* error);

// Reads exactly `size` bytes at `offset`; a file that ends first has shrunk.
bool PreadFully(int fd, uint8_t* dest, size_t size, uint64_t offset, std::string* error);

// Writes all of `data` at `offset`; `error` gets the reason without a path.
bool PwriteFully(int fd, const uint8_t* data, size_t size, uint64_t offset, std::string* error);

// A file's pages mapped into memory, so that a large file costs only the
// pages that are looked at. Unmapped when it goes out of scope.
class MemoryMap {
 public:
  enum class Access {
    kRead,         // shared and read-only: sees later writes to the file
    kPrivateCopy,  // writable, but changes stay in this process
  };
  MemoryMap() = default;
  ~MemoryMap();
  MemoryMap(const MemoryMap&) = delete;
  MemoryMap& operator=(const MemoryMap&) = delete;

  // Maps `length` bytes from the start of `fd`; bytes past the end of the
  // file up to the end of its last page read as zeros. A zero length maps
  // nothing and succeeds.
  bool Map(int fd, size_t length, Access access, std::string* error);
  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// What a path names, for checking inputs before any work is done.
struct FileInfo {
  bool exists = false;
  bool is_directory = false;
  bool is_regular = false;
  uint64_t size = 0;
};
// Returns false with `error` set when the path cannot be examined at all
// (missing, a dangling link, no permission on a parent).
bool StatFile(const std::string& path, FileInfo* info, std::string* error);

// Checks that the file can be opened for reading now.
bool CheckReadable(const std::string& path, std::string* error);

// Reads exactly `size` bytes of a file into `dest`; fails if the file has
// changed size since it was examined.
bool ReadFileInto(const std::string& path, uint8_t* dest, uint64_t size, std::string* error);

// An output written all or nothing: Create makes a temporary file beside the
// destination (so a path that cannot be written fails before any long work),
// Commit fills it and renames it over the destination. A file that is never
// committed is removed.
class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  bool Create(const std::string& path, std::string* error);
  // `mode` is applied to the file (a negative value: 0666 less the umask).
  bool Commit(const std::vector<uint8_t>& data, int mode, std::string* error);
  // Renames what the caller wrote through fd() over the destination.
  bool Commit(int mode, std::string* error);

  // The temporary file, for a caller that writes it in pieces; -1 before
  // Create and after Commit.
  int fd() const { return fd_; }
  const std::string& temp_path() const { return temp_; }

 private:
  void Discard();

  std::string path_;
  std::string temp_;
  int fd_ = -1;
};

// Create and Commit in one step.
bool WriteFileAtomically(const std::string& path,
                         const std::vector<uint8_t>& data,
                         int mode,
                         std::string* error);

// The last path component, after the final '/'.
std::string BaseName(const std::string& path);

}  // namespace orvia

#endif  // ORVIA_TOOLS_COMMON_FILE_UTIL_H_
