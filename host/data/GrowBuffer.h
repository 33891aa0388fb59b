// GrowBuffer is a growable array of trivially copyable values kept in one block from malloc, grown
// with realloc. For the large blocks of a record set's storage the C library moves pages instead
// of copying bytes when it grows them, so a store filled row by row as a packet arrives neither
// copies its text at each doubling nor holds the old and the new block at once.
//
// Thread rules: none (a plain value). Copyable (deep copy) and movable.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

namespace host {

template <typename T>
class GrowBuffer {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  GrowBuffer() = default;
  ~GrowBuffer() { std::free(data_); }
  GrowBuffer(const GrowBuffer& other) { *this = other; }
  GrowBuffer& operator=(const GrowBuffer& other) {
    if (this != &other) {
      size_ = 0;
      reserve(other.size_);
      if (other.size_) std::memcpy(data_, other.data_, other.size_ * sizeof(T));
      size_ = other.size_;
    }
    return *this;
  }
  GrowBuffer(GrowBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  GrowBuffer& operator=(GrowBuffer&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    return *this;
  }

  T* data() { return data_; }
  const T* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }

  // Raises std::bad_alloc when memory is refused (the buffer is then unchanged).
  void reserve(std::size_t n) {
    if (n > capacity_) Reallocate(n);
  }
  // New elements are zero.
  void resize(std::size_t n) {
    if (n > capacity_) Reallocate(std::max(n, capacity_ * 2));
    if (n > size_) std::memset(static_cast<void*>(data_ + size_), 0, (n - size_) * sizeof(T));
    size_ = n;
  }
  void append(const T* values, std::size_t n) {
    if (size_ + n > capacity_) Reallocate(std::max(size_ + n, capacity_ * 2));
    std::memcpy(data_ + size_, values, n * sizeof(T));
    size_ += n;
  }
  void shrink_to_fit() {
    if (size_ < capacity_ && size_ > 0) Reallocate(size_);
  }

 private:
  void Reallocate(std::size_t n) {
    void* grown = std::realloc(data_, n * sizeof(T));
    if (!grown) throw std::bad_alloc();
    data_ = static_cast<T*>(grown);
    capacity_ = n;
  }

  T* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace host
