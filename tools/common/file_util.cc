#include "tools/common/file_util.h"

#include "tools/common/scoped_fd.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace orvia {
namespace {

std::string ErrnoText(int err) {
  if (err == ENOENT)
    return "no such file";
  return std::strerror(err);
}

std::string DirName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos)
    return ".";
  if (slash == 0)
    return "/";
  return path.substr(0, slash);
}

}  // namespace

bool StatFile(const std::string& path, FileInfo* info, std::string* error) {
  *info = FileInfo();
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *error = ErrnoText(errno);
    return false;
  }
  info->exists = true;
  info->is_directory = S_ISDIR(st.st_mode);
  info->is_regular = S_ISREG(st.st_mode);
  info->size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool CheckReadable(const std::string& path, std::string* error) {
  ScopedFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    *error = ErrnoText(errno);
    return false;
  }
  return true;
}

bool ReadFileInto(const std::string& path, uint8_t* dest, uint64_t size, std::string* error) {
  ScopedFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    *error = ErrnoText(errno);
    return false;
  }
  if (!PreadFully(fd.get(), dest, static_cast<size_t>(size), 0, error))
    return false;
  uint8_t extra;
  if (pread(fd.get(), &extra, 1, static_cast<off_t>(size)) > 0) {
    *error = "file grew while being read";
    return false;
  }
  return true;
}

bool OpenFileLimited(const std::string& path,
                     uint64_t limit,
                     ScopedFd* fd,
                     uint64_t* size,
                     std::string* error) {
  ScopedFd opened(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (opened.get() < 0) {
    *error = ErrnoText(errno);
    return false;
  }
  struct stat st;
  if (fstat(opened.get(), &st) != 0) {
    *error = ErrnoText(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    *error = "is a directory";
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = "not a regular file";
    return false;
  }
  if (static_cast<uint64_t>(st.st_size) > limit) {
    *error = "larger than " + std::to_string(limit) + " bytes";
    return false;
  }
  *fd = std::move(opened);
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool ReadWholeFileLimited(const std::string& path,
                          uint64_t limit,
                          std::vector<uint8_t>* data,
                          std::string* error) {
  ScopedFd fd;
  uint64_t size = 0;
  if (!OpenFileLimited(path, limit, &fd, &size, error))
    return false;
  data->assign(static_cast<size_t>(size), 0);
  return PreadFully(fd.get(), data->data(), data->size(), 0, error);
}

bool PreadFully(int fd, uint8_t* dest, size_t size, uint64_t offset, std::string* error) {
  size_t done = 0;
  while (done < size) {
    ssize_t got = pread(fd, dest + done, size - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0) {
      *error = ErrnoText(errno);
      return false;
    }
    if (got == 0) {
      *error = "file shrank while being read";
      return false;
    }
    done += static_cast<size_t>(got);
  }
  return true;
}

bool PwriteFully(int fd, const uint8_t* data, size_t size, uint64_t offset, std::string* error) {
  size_t done = 0;
  while (done < size) {
    ssize_t put = pwrite(fd, data + done, size - done, static_cast<off_t>(offset + done));
    if (put < 0 && errno == EINTR)
      continue;
    if (put <= 0) {
      *error = ErrnoText(put < 0 ? errno : ENOSPC);
      return false;
    }
    done += static_cast<size_t>(put);
  }
  return true;
}

MemoryMap::~MemoryMap() {
  if (data_ != nullptr)
    munmap(data_, size_);
}

bool MemoryMap::Map(int fd, size_t length, Access access, std::string* error) {
  if (data_ != nullptr)
    munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
  if (length == 0)
    return true;
  int protection = access == Access::kRead ? PROT_READ : PROT_READ | PROT_WRITE;
  int flags = access == Access::kRead ? MAP_SHARED : MAP_PRIVATE;
  void* at = mmap(nullptr, length, protection, flags, fd, 0);
  if (at == MAP_FAILED) {
    *error = std::string("cannot map the file: ") + ErrnoText(errno);
    return false;
  }
  data_ = static_cast<uint8_t*>(at);
  size_ = length;
  return true;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* data, std::string* error) {
  return ReadWholeFileLimited(path, UINT64_MAX, data, error);
}

AtomicFile::~AtomicFile() {
  Discard();
}

void AtomicFile::Discard() {
  if (fd_ >= 0)
    close(fd_);
  fd_ = -1;
  if (!temp_.empty())
    unlink(temp_.c_str());
  temp_.clear();
}

bool AtomicFile::Create(const std::string& path, std::string* error) {
  Discard();
  std::string dir = DirName(path);
  std::string temp = dir + "/." + BaseName(path) + ".XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) {
    *error = "cannot create a temporary file in " + dir + ": " + ErrnoText(errno);
    return false;
  }
  path_ = path;
  temp_ = temp;
  fd_ = fd;
  return true;
}

bool AtomicFile::Commit(const std::vector<uint8_t>& data, int mode, std::string* error) {
  if (fd_ < 0) {
    *error = "no temporary file";
    return false;
  }
  size_t done = 0;
  while (done < data.size()) {
    ssize_t put = write(fd_, data.data() + done, data.size() - done);
    if (put < 0 && errno == EINTR)
      continue;
    if (put <= 0) {
      *error = "cannot write " + temp_ + ": " + ErrnoText(put < 0 ? errno : ENOSPC);
      Discard();
      return false;
    }
    done += static_cast<size_t>(put);
  }
  return Commit(mode, error);
}

bool AtomicFile::Commit(int mode, std::string* error) {
  if (fd_ < 0) {
    *error = "no temporary file";
    return false;
  }
  if (mode < 0) {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~static_cast<int>(mask);
  }
  if (fchmod(fd_, static_cast<mode_t>(mode)) != 0) {
    *error = "cannot set the mode of " + temp_ + ": " + ErrnoText(errno);
    Discard();
    return false;
  }
  int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) {
    *error = "cannot write " + temp_ + ": " + ErrnoText(errno);
    Discard();
    return false;
  }
  if (rename(temp_.c_str(), path_.c_str()) != 0) {
    *error = "cannot rename " + temp_ + ": " + ErrnoText(errno);
    Discard();
    return false;
  }
  temp_.clear();
  return true;
}

bool WriteFileAtomically(const std::string& path,
                         const std::vector<uint8_t>& data,
                         int mode,
                         std::string* error) {
  AtomicFile file;
  return file.Create(path, error) && file.Commit(data, mode, error);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace orvia
