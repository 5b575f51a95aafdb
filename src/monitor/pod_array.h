#ifndef SENTREL_MONITOR_POD_ARRAY_H_
#define SENTREL_MONITOR_POD_ARRAY_H_

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include "platform/large_memory.h"

namespace sentrel {

// A growable array of plain values whose large blocks come straight from the
// system and go straight back when freed (see AllocateLarge), so that the
// memory of a snapshot that was replaced is really given back. Small blocks
// come from the heap as usual.
template <typename T>
class PodArray {
  static_assert(std::is_trivially_copyable_v<T>, "plain values only");

 public:
  PodArray() = default;
  ~PodArray() { Release(); }
  PodArray(const PodArray&) = delete;
  PodArray& operator=(const PodArray&) = delete;
  PodArray(PodArray&& o) noexcept : data_(o.data_), size_(o.size_), capacity_(o.capacity_) {
    o.data_ = nullptr;
    o.size_ = o.capacity_ = 0;
  }
  PodArray& operator=(PodArray&& o) noexcept {
    if (this != &o) {
      Release();
      data_ = o.data_;
      size_ = o.size_;
      capacity_ = o.capacity_;
      o.data_ = nullptr;
      o.size_ = o.capacity_ = 0;
    }
    return *this;
  }

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  size_t capacity() const { return capacity_; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  T& back() { return data_[size_ - 1]; }

  void reserve(size_t n) {
    if (n > capacity_) Reallocate(n);
  }
  void push_back(const T& v) {
    if (size_ == capacity_) Grow(size_ + 1);
    data_[size_++] = v;
  }
  void append(const T* p, size_t n) {
    if (n == 0) return;
    if (size_ + n > capacity_) Grow(size_ + n);
    std::memcpy(static_cast<void*>(data_ + size_), p, n * sizeof(T));
    size_ += n;
  }
  // New elements are zero.
  void resize(size_t n) {
    reserve(n);
    if (n > size_) std::memset(static_cast<void*>(data_ + size_), 0, (n - size_) * sizeof(T));
    size_ = n;
  }
  void pop_back() { --size_; }
  void clear() { size_ = 0; }
  void shrink_to_fit() {
    if (capacity_ > size_) Reallocate(size_);
  }
  void Release() {
    Free(data_, capacity_);
    data_ = nullptr;
    size_ = capacity_ = 0;
  }

 private:
  // Below this a block comes from the heap: a page-sized grain would waste
  // more than the heap keeps.
  static constexpr size_t kLargeBytes = 64 * 1024;

  static T* Allocate(size_t n) {
    if (n == 0) return nullptr;
    const size_t bytes = n * sizeof(T);
    void* p = bytes >= kLargeBytes ? AllocateLarge(bytes) : std::malloc(bytes);
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  static void Free(T* p, size_t n) {
    if (p == nullptr) return;
    const size_t bytes = n * sizeof(T);
    if (bytes >= kLargeBytes) {
      FreeLarge(p, bytes);
    } else {
      std::free(p);
    }
  }
  void Grow(size_t need) {
    size_t c = capacity_ + capacity_ / 2;
    if (c < need) c = need;
    if (c < 16) c = 16;
    Reallocate(c);
  }
  void Reallocate(size_t n) {
    T* p = Allocate(n);
    if (size_ > 0) std::memcpy(static_cast<void*>(p), data_, size_ * sizeof(T));
    Free(data_, capacity_);
    data_ = p;
    capacity_ = n;
  }

  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace sentrel

#endif  // SENTREL_MONITOR_POD_ARRAY_H_
