#include "runtime/profile.h"

#include "runtime/mux_time.h"

namespace Profile {

Point* mRoot = nullptr;

Point::Point(const char* name_)
    : next(mRoot), name(name_), min(0), max(0), last(0), first(true), start(0), counter(0) {
  mRoot = this;
}

Point::~Point() {
  for (Point** link = &mRoot; *link; link = &(*link)->next) {
    if (*link == this) {
      *link = next;
      break;
    }
  }
}

void Point::begin() { start = std::uint32_t(Mux::microseconds()); }

void Point::end() {
  // Unsigned arithmetic: a wrap of the clock still gives the right duration.
  const std::uint32_t d = std::uint32_t(Mux::microseconds()) - start;
  if (first) {
    first = false;
    min = max = last = d;
    counter = 1;
    return;
  }
  ++counter;
  if (d < min) min = d;
  if (d > max) max = d;
  last = d;
}

std::ostream& Point::put(std::ostream& os) const {
  const std::ios_base::fmtflags saved = os.flags();
  os << std::dec << "[" << name << "]: min=" << min << " max=" << max << " avg=" << last
     << " counter=" << counter;
  os.flags(saved);
  return os;
}

void dump(std::ostream& os) {
  for (const Point* p = mRoot; p; p = p->next_point()) os << *p << '\n';
}

}  // namespace Profile
