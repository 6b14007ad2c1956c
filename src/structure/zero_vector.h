// A vector whose elements start as all-zero bytes, taken from calloc instead
// of being written one by one. Large blocks then come straight from the
// system as untouched zero pages: a record sized for the largest structure
// costs memory only for the residues a comparison actually uses.
//
// Only for element types whose value-initialised state is all-zero bytes
// (integers, reals, arrays of them).
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace tarvix {

template <class T>
struct ZeroAllocator {
  static_assert(std::is_trivially_copyable_v<T>);
  using value_type = T;
  ZeroAllocator() = default;
  template <class U>
  ZeroAllocator(const ZeroAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    void* p = std::calloc(n == 0 ? 1 : n, sizeof(T));
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t) noexcept { std::free(p); }
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
