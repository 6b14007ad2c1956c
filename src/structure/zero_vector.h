// A vector whose elements start as all-zero bytes without being written one
// by one. Large blocks are mapped straight from the system as untouched zero
// pages (the general allocator would clear them page by page when it carves
// them from memory it already holds): a record sized for the largest
// structure costs memory only for the residues a comparison actually uses.
//
// Only for element types whose value-initialised state is all-zero bytes
// (integers, reals, arrays of them).
#pragma once

#include <sys/mman.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <mutex>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

// GCC says that AddressSanitizer is on with __SANITIZE_ADDRESS__, clang with
// __has_feature(address_sanitizer).
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARVIX_HAS_ASAN 1
#endif
#endif
#ifndef TARVIX_HAS_ASAN
#define TARVIX_HAS_ASAN 0
#endif

namespace tarvix {

// Whether large blocks are mapped from the system (the default, best for one
// comparison per process) or taken from the general allocator (best when one
// process runs many comparisons: freed blocks are reused instead of being
// unmapped and faulted in again). Every block records how it was obtained, so
// the choice may change at any time.
inline std::atomic<bool> zero_blocks_mapped{true};

// Whether a freed mapped block stays mapped until the process ends, for a
// process that exits once its one comparison is done: the exit returns all of
// them at once, which costs much less than a system call for each.
inline std::atomic<bool> zero_blocks_kept_to_exit{false};

// Blocks kept to the exit come from ranges of untouched pages reserved a
// few megabytes at a time and handed out in order, one system call for many
// blocks (on a virtual machine a call costs about as much as a page fault).
// Returns nullptr when a block does not fit or no range can be reserved:
// the caller then maps the block on its own.
inline void* zero_block_from_range(std::size_t bytes) {
  static constexpr std::size_t kRange = std::size_t{16} << 20;
  static std::mutex lock;
  static unsigned char* next = nullptr;
  static std::size_t left = 0;
  bytes = (bytes + 63) & ~std::size_t{63};  // keeps the blocks 64-byte aligned
  if (bytes > kRange / 4) return nullptr;
  const std::lock_guard<std::mutex> hold(lock);
  if (bytes > left) {
    void* m = ::mmap(nullptr, kRange, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (m == MAP_FAILED) return nullptr;
    next = static_cast<unsigned char*>(m);
    left = kRange;
  }
  unsigned char* p = next;
  next += bytes;
  left -= bytes;
  return p;
}

template <class T>
struct ZeroAllocator {
  static_assert(std::is_trivially_copyable_v<T>);
  using value_type = T;
  ZeroAllocator() = default;
  template <class U>
  ZeroAllocator(const ZeroAllocator<U>&) noexcept {}
  // Blocks from this many bytes on are mapped. Not under AddressSanitizer,
  // which guards what calloc returns but not mapped blocks.
#if defined(__SANITIZE_ADDRESS__) || TARVIX_HAS_ASAN
  static constexpr std::size_t kMapped = static_cast<std::size_t>(-1);
  static constexpr std::size_t kKept = static_cast<std::size_t>(-1);
#else
  static constexpr std::size_t kMapped = std::size_t{1} << 14;
  // Kept blocks cost no system call of their own: from this size on they
  // come from the reserved ranges rather than being cleared by the general
  // allocator.
  static constexpr std::size_t kKept = std::size_t{1} << 12;
#endif
  // Room in front of each block for how it was obtained (keeps any alignment
  // the general allocator gives).
  static constexpr std::size_t kHeader = 64;
  enum : unsigned char { kFromHeap = 1, kFromMap = 2, kFromRange = 3 };

  T* allocate(std::size_t n) {
    if (n > (static_cast<std::size_t>(-1) - kHeader) / sizeof(T)) throw std::bad_alloc();
    const std::size_t bytes = n * sizeof(T) + kHeader;
    unsigned char* p = nullptr;
    const bool mapped = zero_blocks_mapped.load(std::memory_order_relaxed);
    if (bytes >= kKept && mapped && zero_blocks_kept_to_exit.load(std::memory_order_relaxed))
      p = static_cast<unsigned char*>(zero_block_from_range(bytes));
    if (p != nullptr) {
      p[0] = kFromRange;
    } else if (bytes >= kMapped && mapped) {
      void* m = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (m == MAP_FAILED) throw std::bad_alloc();
      p = static_cast<unsigned char*>(m);
      p[0] = kFromMap;
    } else {
      p = static_cast<unsigned char*>(std::calloc(bytes, 1));
      if (p == nullptr) throw std::bad_alloc();
      p[0] = kFromHeap;
    }
    return reinterpret_cast<T*>(p + kHeader);
  }
  void deallocate(T* block, std::size_t n) noexcept {
    unsigned char* p = reinterpret_cast<unsigned char*>(block) - kHeader;
    if (p[0] == kFromRange) return;  // goes back at the exit
    if (p[0] == kFromMap) {
      if (!zero_blocks_kept_to_exit.load(std::memory_order_relaxed))
        ::munmap(p, n * sizeof(T) + kHeader);
    } else
      std::free(p);
  }
  // Value-initialisation leaves the zero bytes as they are.
  template <class U>
  void construct(U*) noexcept {}
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  friend bool operator==(const ZeroAllocator&, const ZeroAllocator&) { return true; }
};

template <class T>
using ZeroVector = std::vector<T, ZeroAllocator<T>>;

}  // namespace tarvix
