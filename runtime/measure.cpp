#include "runtime/measure.h"

#include "runtime/mux_time.h"

#include <ostream>

void Measure::begin() { start = static_cast<std::uint32_t>(Mux::microseconds()); }

void Measure::end() {
  // Unsigned difference: a wrap of the microsecond clock between the two
  // reads still gives the right duration.
  std::uint32_t d = static_cast<std::uint32_t>(Mux::microseconds()) - start;
  if (first) {
    first = false;
    min = max = cur = d;
    counter = 1;
    return;
  }
  ++counter;
  if (d < min) min = d;
  if (d > max) max = d;
  cur = d;
}

void Measure::put(std::ostream& os) const {
  std::ios_base::fmtflags f = os.flags();
  os << std::dec << "min=" << min << " max=" << max << " avg=" << cur << " counter=" << counter;
  os.flags(f);
}

std::ostream& operator<<(std::ostream& os, const Measure& m) {
  m.put(os);
  return os;
}
