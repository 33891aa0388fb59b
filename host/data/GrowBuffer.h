// GrowBuffer is a growable array of trivially copyable values kept in one block. A small block
// comes from malloc; a large one (kMapBytes and up) is mapped straight from the system, asked to
// be backed by huge pages where the system offers them (whole huge pages, on their boundaries), and
// grown with mremap, which moves page tables instead of copying bytes. So a store filled row by
// row as a packet arrives neither copies its text at each doubling nor holds the old and the new
// block at once, and touching a fresh gigabyte costs a few hundred page faults instead of a
// quarter million.
//
// A large block given back is not unmapped at once: a few of them (kKeptBytes in all) are kept,
// marked free for the system to take back under memory pressure (MADV_FREE), and handed to the
// next large buffer, whose pages are then mostly already present (the pages it does not write stay
// free for the system to take). A record set reloaded after a save decodes a million rows into
// the pages the list before it held, instead of having a hundred megabytes of fresh pages cleared
// by the system.
//
// Thread rules: none (a plain value). Copyable (deep copy) and movable. The kept blocks are shared
// by all threads, under a lock.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <sys/mman.h>
#include <string_view>
#include <type_traits>
#include <utility>

namespace host {

// Large blocks given back, kept for reuse (see above).
class KeptMappings {
 public:
  static constexpr std::size_t kKeptBytes = std::size_t{512} << 20;
  static constexpr std::size_t kKeptBlocks = 4;

  // Keeps the block, or unmaps it when it does not fit among those kept.
  static void Give(void* block, std::size_t length) {
    {
      Kept& kept = Instance();
      const std::lock_guard<std::mutex> lock(kept.mutex);
      if (kept.count < kKeptBlocks && kept.bytes + length <= kKeptBytes) {
#ifdef MADV_FREE
        ::madvise(block, length, MADV_FREE);
#endif
        kept.blocks[kept.count++] = {block, length};
        kept.bytes += length;
        return;
      }
    }
    ::munmap(block, length);
  }
  // The largest kept block of at least `length` bytes (its length in *got), or null.
  static void* Take(std::size_t length, std::size_t* got) {
    Kept& kept = Instance();
    const std::lock_guard<std::mutex> lock(kept.mutex);
    std::size_t best = kKeptBlocks;
    for (std::size_t i = 0; i < kept.count; ++i)
      if (kept.blocks[i].length >= length && (best == kKeptBlocks || kept.blocks[i].length > kept.blocks[best].length))
        best = i;
    if (best == kKeptBlocks) return nullptr;
    const Block block = kept.blocks[best];
    kept.blocks[best] = kept.blocks[--kept.count];
    kept.bytes -= block.length;
    *got = block.length;
    return block.address;
  }

 private:
  struct Block {
    void* address;
    std::size_t length;
  };
  struct Kept {
    std::mutex mutex;
    Block blocks[kKeptBlocks];
    std::size_t count = 0;
    std::size_t bytes = 0;
  };
  // Never destroyed: a buffer may be given back while the process exits.
  static Kept& Instance() {
    static Kept* const kept = new Kept;
    return *kept;
  }
};

template <typename T>
class GrowBuffer {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
#ifdef __EMSCRIPTEN__
  // A WebAssembly heap has no pages to map or move: every block comes from malloc there.
  static constexpr std::size_t kMapBytes = SIZE_MAX;
#else
  static constexpr std::size_t kMapBytes = std::size_t{2} << 20;
#endif

  GrowBuffer() = default;
  ~GrowBuffer() { Release(); }
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
        capacity_(std::exchange(other.capacity_, 0)),
        mapped_(std::exchange(other.mapped_, 0)) {}
  GrowBuffer& operator=(GrowBuffer&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    std::swap(mapped_, other.mapped_);
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
  // Counts as held the next n elements, already written past size() within capacity().
  // REQUIRES: size() + n <= capacity().
  void extend(std::size_t n) { size_ += n; }
  void shrink_to_fit() {
    if (size_ < capacity_ && size_ > 0) Reallocate(size_);
  }

 private:
  // Mappings are whole huge pages, placed on a huge page's boundary: the system backs with huge
  // pages only aligned 2 MiB ranges, and moving such a range to an unaligned place splits it.
  static constexpr std::size_t kHugePage = std::size_t{2} << 20;
  static std::size_t HugeRound(std::size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }
  // A fresh mapping of length bytes (a multiple of kHugePage) starting on a huge page's boundary,
  // or MAP_FAILED.
  static void* MapAligned(std::size_t length) {
    const std::size_t span = length + kHugePage;
    void* raw = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return MAP_FAILED;
    char* const from = static_cast<char*>(raw);
    char* const aligned = reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(from) + kHugePage - 1) & ~(kHugePage - 1));
    if (aligned > from) ::munmap(from, static_cast<std::size_t>(aligned - from));
    const std::size_t tail = static_cast<std::size_t>(from + span - (aligned + length));
    if (tail) ::munmap(aligned + length, tail);
    return aligned;
  }

  void Release() {
    if (mapped_) {
      KeptMappings::Give(data_, mapped_);
    } else {
      std::free(data_);
    }
    data_ = nullptr;
    mapped_ = 0;
  }

  void Reallocate(std::size_t n) {
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kMapBytes) {
      if (mapped_) {  // shrinking a mapped block below the mapping size: back to malloc
        void* small = std::malloc(bytes ? bytes : 1);
        if (!small) throw std::bad_alloc();
        std::memcpy(small, data_, std::min(size_, n) * sizeof(T));
        Release();
        data_ = static_cast<T*>(small);
      } else {
        void* grown = std::realloc(data_, bytes ? bytes : 1);
        if (!grown) throw std::bad_alloc();
        data_ = static_cast<T*>(grown);
      }
      capacity_ = n;
      return;
    }
    std::size_t length = HugeRound(bytes);
    void* block;
    if (mapped_) {
      // Grow or shrink in place where the address space allows (a shrink always does); else move
      // the pages (page tables, not bytes) to the start of a fresh aligned mapping of the new
      // length, whose rest stays fresh.
      block = ::mremap(data_, mapped_, length, 0);
      if (block == MAP_FAILED) {
        void* target = MapAligned(length);
        if (target == MAP_FAILED) throw std::bad_alloc();
        block = ::mremap(data_, mapped_, mapped_, MREMAP_MAYMOVE | MREMAP_FIXED, target);
        if (block == MAP_FAILED) {
          ::munmap(target, length);
          throw std::bad_alloc();
        }
      }
    } else {
      std::size_t kept = 0;
      block = KeptMappings::Take(length, &kept);
      if (block) {
        length = kept;
      } else {
        block = MapAligned(length);
        if (block == MAP_FAILED) throw std::bad_alloc();
      }
      if (size_) std::memcpy(block, data_, size_ * sizeof(T));
      std::free(data_);
    }
#ifdef MADV_HUGEPAGE
    ::madvise(block, length, MADV_HUGEPAGE);  // a hint: ignored where huge pages are off
#endif
    data_ = static_cast<T*>(block);
    mapped_ = length;
    capacity_ = length / sizeof(T);
  }

  T* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  std::size_t mapped_ = 0;  // bytes mapped, when the block is a mapping (else from malloc)
};

}  // namespace host
