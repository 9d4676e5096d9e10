// The compressor's progress on one terminal line.
#ifndef ORVIA_TOOLS_PACK_PROGRESS_LINE_H_
#define ORVIA_TOOLS_PACK_PROGRESS_LINE_H_

#include <cstdint>

#include "tools/pack/lzma_alone.h"

namespace orvia {

// Shows how far the compressor has got, on a terminal only, so that logs of
// scripted builds stay clean.
class ProgressLine {
 public:
  explicit ProgressLine(uint64_t total) : total_(total), active_(isatty(STDERR_FILENO) == 1) {}
  ~ProgressLine() {
    if (active_ && shown_ >= 0)
      std::fputs("\n", stderr);
  }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  LzmaProgress Callback() {
    if (!active_)
      return LzmaProgress();
    return [this](uint64_t consumed) { Show(consumed); };
  }

  // The encoder reports only between its blocks, never at the end.
  void Done() {
    if (active_)
      Show(total_);
  }

 private:
  void Show(uint64_t consumed) {
    // The encoder's input is a little longer than the tarball (the flags).
    consumed = consumed < total_ ? consumed : total_;
    int percent = total_ == 0 ? 100 : static_cast<int>(consumed * 100 / total_);
    if (percent == shown_)
      return;
    shown_ = percent;
    std::fprintf(stderr, "\rorvia-pack: compressing %3d%% (%llu of %llu MiB)", percent,
                 static_cast<unsigned long long>(consumed >> 20),
                 static_cast<unsigned long long>(total_ >> 20));
    std::fflush(stderr);
  }

  uint64_t total_;
  bool active_;
  int shown_ = -1;
};

}  // namespace orvia

#endif  // ORVIA_TOOLS_PACK_PROGRESS_LINE_H_
