#pragma once
// Errno: the value of errno captured at construction, streamed as the
// system's text for it. Capture it right after the failing call, before
// anything else can change errno, and stream it after the failed step's name.
#include <iosfwd>

class Errno {
 public:
  Errno();
  explicit Errno(int value) : value_(value) {}
  int value() const { return value_; }
  void Put(std::ostream& os) const;

 private:
  int value_;
};

std::ostream& operator<<(std::ostream& os, const Errno& e);
