#include "asn1/allocator.h"

#include <cstdlib>
#include <iostream>
#include <new>

#if GW_POOL_CHECKED
#include <sanitizer/asan_interface.h>
#endif

namespace ASN1 {
namespace detail {

ValuePool::Block* ValuePool::free_[ValuePool::Classes] = {};
unsigned long ValuePool::inUse_ = 0;
unsigned long ValuePool::reserved_ = 0;

namespace {

std::size_t blockSize(std::size_t cls) { return cls ? cls * ValuePool::Granule : ValuePool::Granule; }

#if GW_POOL_CHECKED

// Free blocks per class, oldest first, so that a freed value stays poisoned
// for as long as possible before it is reused. The ring lives outside the
// blocks: the leak checker does not look into poisoned memory, so links kept
// in the free blocks would make them look lost.
struct Ring {
  void** slots;
  std::size_t capacity;
  std::size_t head;
  std::size_t count;

  void push(void* p) {
    if (count == capacity) {
      std::size_t const grown = capacity ? 2 * capacity : 64;
      void** fresh = static_cast<void**>(std::malloc(grown * sizeof(void*)));
      if (!fresh) throw std::bad_alloc();
      for (std::size_t i = 0; i < count; ++i) fresh[i] = slots[(head + i) % capacity];
      std::free(slots);
      slots = fresh;
      capacity = grown;
      head = 0;
    }
    slots[(head + count++) % capacity] = p;
  }
  void* pop() {
    if (count == 0) return nullptr;
    void* p = slots[head];
    head = (head + 1) % capacity;
    --count;
    return p;
  }
};
Ring freed[ValuePool::Classes];

#else

// Blocks are carved from chunks taken from the heap; a chunk is never
// returned (the pool keeps the peak of the values alive at once).
std::size_t const ChunkSize = 16384;
char* chunk = nullptr;
std::size_t chunkLeft = 0;

#endif

}  // namespace

#if GW_POOL_CHECKED

void* ValuePool::allocateSlow(std::size_t n) {
  if (n > Largest) return ::operator new(n);
  std::size_t const c = sizeClass(n);
  std::size_t const size = blockSize(c);
  void* b = freed[c].pop();
  if (b) {
    ASAN_UNPOISON_MEMORY_REGION(b, size);
  } else {
    b = ::operator new(size);
    reserved_ += size;
  }
  ++inUse_;
  return b;
}

void ValuePool::deallocateSlow(void* p, std::size_t n) {
  if (n > Largest) {
    ::operator delete(p);
    return;
  }
  if (__asan_address_is_poisoned(p)) {
    std::cerr << "ASN1 value pool: block " << p << " freed twice" << std::endl;
    std::abort();
  }
  std::size_t const c = sizeClass(n);
  freed[c].push(p);
  ASAN_POISON_MEMORY_REGION(p, blockSize(c));
  --inUse_;
}

#else

void* ValuePool::allocateSlow(std::size_t n) {
  if (n > Largest) return ::operator new(n);
  std::size_t const size = blockSize(sizeClass(n));
  if (chunkLeft < size) {
    char* fresh = static_cast<char*>(::operator new(ChunkSize));
    reserved_ += ChunkSize;
    // What is left of the old chunk is a free block of its own size.
    if (chunkLeft >= Granule) {
      Block* rest = reinterpret_cast<Block*>(chunk);
      std::size_t const c = chunkLeft / Granule;
      rest->next = free_[c];
      free_[c] = rest;
    }
    chunk = fresh;
    chunkLeft = ChunkSize;
  }
  void* b = chunk;
  chunk += size;
  chunkLeft -= size;
  ++inUse_;
  return b;
}

void ValuePool::deallocateSlow(void* p, std::size_t) { ::operator delete(p); }

#endif

}  // namespace detail
}  // namespace ASN1
