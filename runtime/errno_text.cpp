#include "runtime/errno_text.h"

#include <cerrno>
#include <cstring>
#include <ostream>

Errno::Errno() : value_(errno) {}

void Errno::Put(std::ostream& os) const { os << std::strerror(value_); }

std::ostream& operator<<(std::ostream& os, const Errno& e) {
  e.Put(os);
  return os;
}
