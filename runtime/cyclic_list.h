#pragma once
// Intrusive circular doubly linked list: one node class serves as the ring's
// head and as the link an element embeds as a member. A node in no ring (and
// an empty head) links to itself; destroying a node unlinks it.
#include <cstddef>

namespace Containers {

class CyclicList {
 public:
  template <class Ref, class Ptr>
  class TIterator {
   public:
    TIterator() = default;
    explicit TIterator(Ptr p) : cur(p) {}
    Ptr operator*() const { return cur; }
    TIterator& operator++() {
      cur = cur->next;
      return *this;
    }
    bool operator==(const TIterator& o) const { return cur == o.cur; }
    bool operator!=(const TIterator& o) const { return cur != o.cur; }

   private:
    Ptr cur;
  };
  using iterator = TIterator<CyclicList&, CyclicList*>;

  CyclicList() { InternalInit(); }
  ~CyclicList() { InternalDel(prev, next); }

  // A node's place in a ring is not a value that can be copied.
  CyclicList(const CyclicList&) = delete;
  CyclicList& operator=(const CyclicList&) = delete;

  // Called on the head: moves e (out of whatever ring holds it) to the end.
  void AddToTail(CyclicList* e) {
    InternalDel(e->prev, e->next);
    InternalAddToTail(e);
  }

  iterator begin() { return iterator(next); }
  iterator end() { return iterator(this); }
  bool empty() const { return next == this; }

  CyclicList* get_next() const { return next; }
  CyclicList* get_prev() const { return prev; }

 protected:
  void InternalInit() { next = prev = this; }
  void InternalAddToTail(CyclicList* e) { InternalAdd(e, prev, this); }
  static void InternalAdd(CyclicList* e, CyclicList* before, CyclicList* after) {
    after->prev = e;
    e->next = after;
    e->prev = before;
    before->next = e;
  }
  static void InternalDel(CyclicList* before, CyclicList* after) {
    after->prev = before;
    before->next = after;
  }

 private:
  CyclicList* next;
  CyclicList* prev;
};

// The object of type T that embeds `node` as its member `member`.
template <class T>
T* offset(CyclicList* node, CyclicList T::*member) {
  const T* probe = nullptr;
  // Position of the member within T, computed without dereferencing an object.
  alignas(T) static unsigned char storage[sizeof(T)];
  probe = reinterpret_cast<const T*>(storage);
  std::ptrdiff_t pos = reinterpret_cast<const unsigned char*>(&(probe->*member)) - storage;
  return reinterpret_cast<T*>(reinterpret_cast<unsigned char*>(node) - pos);
}

}  // namespace Containers
