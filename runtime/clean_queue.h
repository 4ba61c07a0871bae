#pragma once
// A fixed-capacity ring queue of packets, fillable and emptiable at both
// ends: `put` adds behind the newest, `append` in front of the oldest (for
// retransmissions, which must go out before new frames), `get` takes the
// oldest and `get_last` the newest.
//
// A slot releases its packet as soon as the packet is taken out (or the queue
// is cleared), so the queue never keeps a pool buffer alive that nobody can
// reach any more. Moving a packet in or out costs a reference count, never a
// copy of its bytes; nothing allocates.
#include <cstdint>

template <class T, std::uint32_t N>
class CleanQueue {
  static_assert(N > 0, "a queue holds at least one element");

 public:
  CleanQueue() : head(0), tail(0), count_(0) {}
  CleanQueue(const CleanQueue&) = delete;
  CleanQueue& operator=(const CleanQueue&) = delete;

  // False (and nothing changes) when full.
  bool put(const T& x) {
    if (count_ == N) return false;
    items[tail] = x;
    tail = inc_index(tail);
    ++count_;
    return true;
  }

  // Puts x in front of the oldest element: `get` returns it next.
  bool append(const T& x) {
    if (count_ == N) return false;
    head = dec_index(head);
    items[head] = x;
    ++count_;
    return true;
  }

  // Takes the oldest element. False (and out untouched) when empty or when
  // there is nowhere to put it.
  bool get(T* out) {
    if (count_ == 0 || !out) return false;
    *out = items[head];
    items[head] = T();
    head = inc_index(head);
    --count_;
    return true;
  }
  bool get(T& out) { return get(&out); }

  // Takes the newest element.
  bool get_last(T* out) {
    if (count_ == 0 || !out) return false;
    tail = dec_index(tail);
    *out = items[tail];
    items[tail] = T();
    --count_;
    return true;
  }

  // Tells whether there is an element and copies the oldest into out when
  // out is given; the queue is unchanged.
  bool preview(T* out) const {
    if (count_ == 0) return false;
    if (out) *out = items[head];
    return true;
  }

  // Forgets every element and releases them (a link reset must give their
  // buffers back to the pool).
  void clear() {
    for (std::uint32_t i = 0, at = head; i < count_; ++i, at = inc_index(at)) items[at] = T();
    head = tail = count_ = 0;
  }

  std::uint32_t count() const { return count_; }
  std::uint32_t size() const { return N; }
  bool empty() const { return count_ == 0; }

  static std::uint32_t inc_index(std::uint32_t i) { return i >= N - 1 ? 0 : i + 1; }
  static std::uint32_t dec_index(std::uint32_t i) { return i == 0 ? N - 1 : i - 1; }

 private:
  T items[N];
  std::uint32_t head;
  std::uint32_t tail;
  std::uint32_t count_;
};
