#pragma once
// A sequence number that counts modulo M + 1 (M + 1 a power of two), as the
// 7-bit send and receive numbers of LAPD and SS7 level 2 do.
//
// The window test is written as a chain: `a <= b <= c` is true exactly when b
// lies on the way forward from a to c, both ends included, counting modulo
// M + 1. It is not an ordering: never use `<=` on two counters alone.
#include <type_traits>

template <typename T, T M>
class Cyclic {
  static_assert(std::is_unsigned<T>::value, "cyclic counters are unsigned");
  static_assert((M & (M + 1)) == 0, "M + 1 must be a power of two");

 public:
  // The first half of a window test: (first, second) waiting for its far end.
  class LessEqPair {
   public:
    LessEqPair(T first, T second) : first_(first), second_(second) {}
    bool operator<=(Cyclic c) const {
      return T((T(c) - first_) & M) >= T((second_ - first_) & M);
    }

   private:
    T first_;
    T second_;
  };

  Cyclic() : value_(0) {}
  Cyclic(T v) : value_(v & M) {}  // NOLINT: counters mix freely with numbers

  operator T() const { return value_; }

  Cyclic operator+(Cyclic other) const { return Cyclic(T(value_ + other.value_)); }
  Cyclic operator-(Cyclic other) const { return Cyclic(T(value_ - other.value_)); }
  // Plain integers (`vs + 1`) would otherwise be ambiguous between this
  // operator and the built-in one reached through the conversion to T.
  template <typename I, typename = std::enable_if_t<std::is_integral<I>::value>>
  Cyclic operator+(I n) const { return Cyclic(T(value_ + T(n))); }
  template <typename I, typename = std::enable_if_t<std::is_integral<I>::value>>
  Cyclic operator-(I n) const { return Cyclic(T(value_ - T(n))); }

  Cyclic& operator++() {
    value_ = value_ == M ? 0 : value_ + 1;
    return *this;
  }
  Cyclic operator++(int) {
    Cyclic old = *this;
    ++*this;
    return old;
  }
  Cyclic& operator--() {
    value_ = value_ == 0 ? M : value_ - 1;
    return *this;
  }

  LessEqPair operator<=(Cyclic b) const { return LessEqPair(value_, b.value_); }
  template <typename I, typename = std::enable_if_t<std::is_integral<I>::value>>
  LessEqPair operator<=(I b) const { return LessEqPair(value_, Cyclic(T(b)).value_); }

 private:
  T value_;
};
