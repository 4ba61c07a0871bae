#pragma once
// Intrusive reference-counting handle. The counter lives in the object; the
// handle owns one reference while it is non-null. Nothing is atomic: every
// user runs on the event-loop thread.
//
// How a type keeps its counter, is destroyed and (for copy on write) is
// copied is told by Smart_pointer_traits<T>; the default expects a member
// `std::uint32_t ref_counter`, destroys with delete and does not copy on
// write. A type may specialise the traits, e.g.
//
//   template <> struct Smart_pointer_traits<_Packet> {
//     static std::uint32_t& counter(_Packet& p) { return p.refcount; }
//     static void destroy(_Packet* p) { delete p; }
//     static constexpr bool copy_on_write = true;
//     static _Packet* clone(const _Packet& p) { return new _Packet(p); }
//   };
//
// With copy_on_write, the non-const operator-> first calls
// prepare_for_modify(): a shared object is cloned and this handle moves to
// the copy, whose counter is set to 1.
#include <cstdint>

// Prints "SMART POINTER ASSERTION!" on the log stream and ends the process.
[[noreturn]] void SmartPtrAssertion();

template <class T>
struct Smart_pointer_traits {
  static std::uint32_t& counter(T& obj) { return obj.ref_counter; }
  static void destroy(T* obj) { delete obj; }
  static constexpr bool copy_on_write = false;
  static T* clone(const T& obj) { return new T(obj); }
};

template <class T>
class Smart_pointer {
  using Traits = Smart_pointer_traits<T>;

 public:
  Smart_pointer(T* p = nullptr) : ptr(p) { add_ref(); }
  Smart_pointer(const Smart_pointer& o) : ptr(o.ptr) { add_ref(); }
  ~Smart_pointer() { remove_current(); }

  Smart_pointer& operator=(const Smart_pointer& o) {
    // Releasing first would free the object when this handle held its last
    // reference and is assigned to itself (or to another handle of it).
    if (o.ptr == ptr) return *this;
    remove_current();
    ptr = o.ptr;
    add_ref();
    return *this;
  }

  Smart_pointer& operator=(T* p) {
    if (p == ptr) return *this;
    remove_current();
    ptr = p;
    add_ref();
    return *this;
  }

  // Drops this handle's reference; the object is destroyed with the last one.
  // While others still hold it, the stored pointer is left as it was.
  void remove_current() {
    if (!ptr) return;
    std::uint32_t& c = Traits::counter(*ptr);
    if (c > 0) --c;
    if (c == 0) {
      T* p = ptr;
      ptr = nullptr;
      Traits::destroy(p);
    }
  }

  void clean() {
    remove_current();
    ptr = nullptr;
  }

  T* operator->() const {
    if (!ptr) SmartPtrAssertion();
    return ptr;
  }

  T* operator->() {
    if (!ptr) SmartPtrAssertion();
    if constexpr (Traits::copy_on_write) prepare_for_modify();
    return ptr;
  }

  // Copy on write: a shared object is copied and this handle takes the copy.
  void prepare_for_modify() {
    if (!ptr || Traits::counter(*ptr) <= 1) return;
    T* copy = Traits::clone(*ptr);  // may throw; nothing has changed yet
    remove_current();
    ptr = copy;
    Traits::counter(*copy) = 1;
  }

  T* get() const { return ptr; }
  explicit operator bool() const { return ptr != nullptr; }
  bool operator!() const { return ptr == nullptr; }
  bool null() const { return ptr == nullptr; }

 private:
  void add_ref() {
    if (ptr) ++Traits::counter(*ptr);
  }

  T* ptr;
};
