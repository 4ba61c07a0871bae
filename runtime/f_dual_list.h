#pragma once
// Intrusive doubly linked lists. Elements carry their own links (by deriving
// from F_dual_list_item<T>), so linking never allocates; the lists neither own
// nor copy nor destroy what they link. An element sits in at most one list.
//
// Removal leaves the removed element's links as they were, so an iterator
// already advanced past it, or one still pointing at it, can step on to its
// old successor.
#include <cstdint>
#include <iterator>

template <class T>
class F_dual_list;

template <class T>
class F_dual_list_item {
 public:
  F_dual_list_item() = default;
  // Copying an element must not copy its membership.
  F_dual_list_item(const F_dual_list_item&) : next(nullptr), prev(nullptr) {}
  F_dual_list_item& operator=(const F_dual_list_item&) { return *this; }

  T* get_next() const { return next; }
  T* get_prev() const { return prev; }

 private:
  friend class F_dual_list<T>;
  T* next = nullptr;
  T* prev = nullptr;
};

template <class T>
class F_dual_list {
 public:
  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = T*;
    using difference_type = std::ptrdiff_t;
    using pointer = T**;
    using reference = T*;

    iterator() = default;
    explicit iterator(T* p) : cur(p) {}

    T* operator*() const { return cur; }
    T* operator->() const { return cur; }
    iterator& operator++() {
      cur = cur->get_next();
      return *this;
    }
    iterator operator++(int) {
      iterator old(*this);
      cur = cur->get_next();
      return old;
    }
    bool operator==(const iterator& o) const { return cur == o.cur; }
    bool operator!=(const iterator& o) const { return cur != o.cur; }
    bool good() const { return cur != nullptr; }
    bool operator!() const { return cur == nullptr; }

   private:
    T* cur = nullptr;
  };

  F_dual_list() = default;
  // Links n consecutive cells of an array, in array order.
  F_dual_list(T* cells, std::uint32_t n) { init(cells, n); }

  // A list does not own its elements; copying one would let two heads claim
  // the same links.
  F_dual_list(const F_dual_list&) = delete;
  F_dual_list& operator=(const F_dual_list&) = delete;

  void init(T* cells, std::uint32_t n) {
    head = tail = nullptr;
    count_ = 0;
    for (std::uint32_t i = 0; i < n; ++i) insert_to_tail(&cells[i]);
  }

  T* insert_to_head(T* e) {
    ++count_;
    link(e).prev = nullptr;
    link(e).next = head;
    if (head) link(head).prev = e;
    head = e;
    if (!tail) tail = e;
    return e;
  }

  T* insert_to_tail(T* e) {
    ++count_;
    link(e).next = nullptr;
    link(e).prev = tail;
    if (tail) link(tail).next = e;
    tail = e;
    if (!head) head = e;
    return e;
  }

  T* push_back(T* e) { return insert_to_tail(e); }

  T* insert_after(T* pos, T* e) {
    ++count_;
    link(e).next = link(pos).next;
    link(e).prev = pos;
    if (link(pos).next)
      link(link(pos).next).prev = e;
    else
      tail = e;
    link(pos).next = e;
    return e;
  }

  T* remove(T* e) {
    if (link(e).prev)
      link(link(e).prev).next = link(e).next;
    else
      head = link(e).next;
    if (link(e).next)
      link(link(e).next).prev = link(e).prev;
    else
      tail = link(e).prev;
    --count_;
    return e;
  }

  T* remove_from_head() {
    T* e = head;
    if (!e) return nullptr;
    head = link(e).next;
    if (head)
      link(head).prev = nullptr;
    else
      tail = nullptr;
    --count_;
    return e;
  }

  T* remove_from_tail() {
    T* e = tail;
    if (!e) return nullptr;
    tail = link(e).prev;
    if (tail)
      link(tail).next = nullptr;
    else
      head = nullptr;
    --count_;
    return e;
  }

  // Whether e is linked in this list (linear); for callers that must not
  // trust membership.
  bool contains(const T* e) const {
    for (T* p = head; p; p = link(p).next)
      if (p == e) return true;
    return false;
  }

  iterator begin() const { return iterator(head); }
  iterator end() const { return iterator(); }
  iterator last() const { return iterator(tail); }
  T* get_head() const { return head; }
  T* get_tail() const { return tail; }
  std::uint32_t size() const { return count_; }
  std::uint32_t count() const { return count_; }
  bool empty() const { return count_ == 0; }

  // Exchanges the whole contents of the two lists.
  void merge(F_dual_list& other) {
    T* h = head;
    T* t = tail;
    std::uint32_t c = count_;
    head = other.head;
    tail = other.tail;
    count_ = other.count_;
    other.head = h;
    other.tail = t;
    other.count_ = c;
  }

 private:
  static F_dual_list_item<T>& link(T* e) { return *e; }
  static const F_dual_list_item<T>& link(const T* e) { return *e; }

  T* head = nullptr;
  T* tail = nullptr;
  std::uint32_t count_ = 0;
};

// A list kept in ascending order of T::compare (a signed difference, so it
// stays right across wrap-around of 32-bit deadlines). The new element goes
// behind the last one that does not compare greater, so elements that
// compare equal keep their insertion order. In a sorted list that place is
// also just before the first element that compares greater; the walk looks
// from both ends at once and stops at whichever finds it first, so appending
// the latest element costs one comparison and a short delay among thousands
// of long ones (a retransmission timer armed per frame) costs a few, not a
// walk through every pending one.
template <class T>
class F_sorted_list : public F_dual_list<T> {
 public:
  T* insert_to_tail_by_grown(T* e) {
    T* back = this->get_tail();
    T* front = this->get_head();
    while (back) {
      if (back->compare(*e) <= 0) return this->insert_after(back, e);
      // Everything behind `back` and `back` itself compare greater, every
      // element before `front` does not: when the two meet, or `front`
      // compares greater, the place is just before `front`.
      if (front == back || front->compare(*e) > 0) {
        T* before = front->get_prev();
        return before ? this->insert_after(before, e) : this->insert_to_head(e);
      }
      front = front->get_next();
      back = back->get_prev();
    }
    return this->insert_to_head(e);
  }
};
