#pragma once
// A fixed pool of N cells for objects of type T that never touches the heap.
// Cells are handed out from the head of a free list and returned to its tail:
// a fresh pool hands out its cells in array order, and afterwards the cell
// that was freed longest ago is reused first.
//
// The cells live in one static byte array that is only zero-filled by the
// loader, so the pool (64 MiB for the packet buffers) costs no memory until a
// cell is used. A cell is linked into the free list only when it is returned;
// the cells never used yet are handed out first, in array order, which gives
// exactly the order of a free list built over the whole array at start.
#include <cstddef>
#include <cstdint>
#include <new>

#include "platform/memcheck.h"
#include "runtime/f_dual_list.h"

// The lock of a pool used by one thread only.
struct Dummy_critical_section {
  void lock() {}
  void unlock() {}
};

template <class T, std::uint32_t N, class CriticalSection>
class List_allocator {
 public:
  // One cell: the free-list links, then room for one T.
  struct List_storage : F_dual_list_item<List_storage> {
    alignas(T) unsigned char object[sizeof(T)];
  };

  // Room for one T, or null when every cell is in use. The caller constructs
  // the object in it.
  static void* allocate() {
    crit_section.lock();
    List_storage* cell = nullptr;
    if (never_used < N) {
      cell = new (cell_at(never_used)) List_storage;
      ++never_used;
    } else {
      cell = free_list.remove_from_head();
    }
    crit_section.unlock();
    if (!cell) return nullptr;
    // For memcheck a cell handed out holds nothing written, and one given
    // back may not be touched: its zero-filled or reused bytes would
    // otherwise hide a frame byte never filled or a packet used after its
    // release.
    GW_MEMCHECK_UNDEFINED(cell->object, sizeof cell->object);
    return cell->object;
  }

  // Takes back room that allocate handed out (trusted to be so, and not
  // already free).
  static void deallocate(void* p) {
    const std::size_t index =
        std::size_t(static_cast<unsigned char*>(p) - blocks) / sizeof(List_storage);
    crit_section.lock();
    free_list.insert_to_tail(cell_at(index));
    crit_section.unlock();
    GW_MEMCHECK_NOACCESS(cell_at(index)->object, sizeof(T));
  }

  // Number of cells that allocate can still hand out.
  static std::uint32_t available() { return N - never_used + free_list.count(); }
  static constexpr std::uint32_t capacity() { return N; }

 private:
  static List_storage* cell_at(std::size_t i) {
    return reinterpret_cast<List_storage*>(blocks + i * sizeof(List_storage));
  }

  alignas(List_storage) static inline unsigned char blocks[N * sizeof(List_storage)];
  static inline F_dual_list<List_storage> free_list;
  static inline std::uint32_t never_used = 0;
  static inline CriticalSection crit_section;
};
