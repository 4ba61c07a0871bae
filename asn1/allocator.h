#ifndef ASN1_ALLOCATOR_H
#define ASN1_ALLOCATOR_H

// Class-level allocation of the value classes.
//
// A decoded message is a tree of small objects (every field is a value of
// its own, every SEQUENCE has a vector of field pointers), made for one frame
// and freed after it. The values therefore come from free lists, one per
// size class: a freed value goes to the list of its size and the next value
// of that size reuses it, so decoding the next frame takes almost nothing
// from the heap. The program has one thread and nothing is locked.
//
// The build option GW_POOL_ALLOC (on by default) turns this on; off, the
// value classes and their containers use the global allocator.
//
// With AddressSanitizer the pool stays on but every block is its own heap
// allocation (so overruns hit ASan's red zones and values that are never
// freed are reported as leaks), a free block is poisoned until it is handed
// out again, free blocks are reused oldest first, and freeing a free block
// aborts.

#include <cstddef>
#include <new>

#ifndef GW_POOL_ALLOC
#define GW_POOL_ALLOC 1
#endif

// GW_POOL_CHECKED: set by the build with the sanitizers.
#ifndef GW_POOL_CHECKED
#define GW_POOL_CHECKED 0
#endif

namespace ASN1 {
namespace detail {

class ValuePool {
 public:
  // Sizes are rounded up to the granule; blocks above the largest class go
  // to the global allocator and back to it when freed.
  static std::size_t const Granule = 8;
  static std::size_t const Largest = 512;
  static std::size_t const Classes = Largest / Granule + 1;

  static void* allocate(std::size_t n) {
#if !GW_POOL_CHECKED
    if (n <= Largest) {
      std::size_t const c = sizeClass(n);
      if (Block* b = free_[c]) {
        free_[c] = b->next;
        ++inUse_;
        return b;
      }
    }
#endif
    return allocateSlow(n);
  }

  // n: the size given to allocate.
  static void deallocate(void* p, std::size_t n) {
    if (!p) return;
#if !GW_POOL_CHECKED
    if (n <= Largest) {
      Block* b = static_cast<Block*>(p);
      std::size_t const c = sizeClass(n);
      b->next = free_[c];
      free_[c] = b;
      --inUse_;
      return;
    }
#endif
    deallocateSlow(p, n);
  }

  // Blocks handed out and not yet freed (pooled sizes only).
  static unsigned long inUse() { return inUse_; }
  // Octets taken from the global allocator for pooled blocks so far.
  static unsigned long reserved() { return reserved_; }

 private:
  struct Block {
    Block* next;
  };

  static std::size_t sizeClass(std::size_t n) { return (n + Granule - 1) / Granule; }

  static void* allocateSlow(std::size_t n);
  static void deallocateSlow(void* p, std::size_t n);

  // Constant-initialised, so values made and freed during static
  // initialisation or at exit find the pool ready.
  static Block* free_[Classes];
  static unsigned long inUse_;
  static unsigned long reserved_;
};

// Standard allocator over the pool, for the containers of the values.
template <class T>
class PoolAllocator {
 public:
  typedef T value_type;

  PoolAllocator() noexcept {}
  template <class U>
  PoolAllocator(PoolAllocator<U> const&) noexcept {}

  T* allocate(std::size_t n) {
#if GW_POOL_ALLOC
    return static_cast<T*>(ValuePool::allocate(n * sizeof(T)));
#else
    return static_cast<T*>(::operator new(n * sizeof(T)));
#endif
  }
  void deallocate(T* p, std::size_t n) noexcept {
#if GW_POOL_ALLOC
    ValuePool::deallocate(p, n * sizeof(T));
#else
    ::operator delete(p);
    (void)n;
#endif
  }

  template <class U>
  bool operator==(PoolAllocator<U> const&) const noexcept {
    return true;
  }
  template <class U>
  bool operator!=(PoolAllocator<U> const&) const noexcept {
    return false;
  }
};

// The allocation mixin of a value class T: objects of T and of the classes
// derived from it come from the pool. It adds no data.
template <class T>
class Allocator {
 public:
  Allocator() {}

#if GW_POOL_ALLOC
  static void* operator new(std::size_t n) {
    static_assert(alignof(T) <= ValuePool::Granule, "pool blocks are aligned to the granule");
    return ValuePool::allocate(n);
  }
  // n: the size of the most derived class (the destructors are virtual).
  static void operator delete(void* p, std::size_t n) { ValuePool::deallocate(p, n); }

  // Placement new keeps its usual meaning.
  static void* operator new(std::size_t, void* where) noexcept { return where; }
  static void operator delete(void*, void*) noexcept {}
#endif
};

}  // namespace detail
}  // namespace ASN1

#endif
