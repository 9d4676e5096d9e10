// One owner for the stub's plain heap blocks: the decoder's buffers, the
// tag's copy, an environment value. An allocation that fails ends the process.
#ifndef ORVIA_CORE_COMMON_HEAP_BUFFER_H_
#define ORVIA_CORE_COMMON_HEAP_BUFFER_H_

#include <cstddef>
#include <cstdlib>

#include "core/common/fatal.h"

namespace orvia {

// malloc that never returns null: exhausted memory is fatal.
inline void* AllocateOrDie(size_t size) {
  void* block = std::malloc(size ? size : 1);
  if (!block)
    RaiseFatalError(kStatusNoMemory);
  return block;
}

template <typename T>
class HeapBuffer {
 public:
  HeapBuffer() = default;
  // `count` elements, not initialised: the decoder's buffers are hundreds of
  // megabytes and are written whole before they are read.
  explicit HeapBuffer(size_t count)
      : data_(static_cast<T*>(AllocateOrDie(count * sizeof(T)))), count_(count) {}
  HeapBuffer(const HeapBuffer&) = delete;
  HeapBuffer& operator=(const HeapBuffer&) = delete;
  HeapBuffer(HeapBuffer&& other) : data_(other.data_), count_(other.count_) {
    other.data_ = nullptr;
    other.count_ = 0;
  }
  HeapBuffer& operator=(HeapBuffer&& other) {
    if (this != &other) {
      std::free(data_);
      data_ = other.data_;
      count_ = other.count_;
      other.data_ = nullptr;
      other.count_ = 0;
    }
    return *this;
  }
  ~HeapBuffer() { std::free(data_); }

  T* get() const { return data_; }
  size_t count() const { return count_; }
  T& operator[](size_t i) const { return data_[i]; }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  T* data_ = nullptr;
  size_t count_ = 0;
};

}  // namespace orvia

#endif  // ORVIA_CORE_COMMON_HEAP_BUFFER_H_
