// The one owner of a POSIX file descriptor in the host tools and their tests:
// closes it when it goes out of scope.
#ifndef ORVIA_TOOLS_COMMON_SCOPED_FD_H_
#define ORVIA_TOOLS_COMMON_SCOPED_FD_H_

#include <unistd.h>

namespace orvia {

class ScopedFd {
 public:
  explicit ScopedFd(int fd = -1) : fd_(fd) {}
  ~ScopedFd() { reset(); }
  ScopedFd(ScopedFd&& other) noexcept : fd_(other.release()) {}
  ScopedFd& operator=(ScopedFd&& other) noexcept {
    if (this != &other)
      reset(other.release());
    return *this;
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1) {
    if (fd_ >= 0)
      close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

}  // namespace orvia

#endif  // ORVIA_TOOLS_COMMON_SCOPED_FD_H_
