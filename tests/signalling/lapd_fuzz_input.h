#pragma once
// What the data-link fuzz targets share: frames made of the input's octets,
// the clock moved on, and each input started quietly on the virtual clock.
#include "control/protocols_list.h"
#include "platform/clock.h"
#include "runtime/multiplexer.h"
#include "runtime/mux_time.h"

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>

namespace lapdfuzz {

inline Packet bytes(const std::uint8_t* d, std::size_t n) {
  Packet p;
  p.reserve_head(8);
  for (std::size_t i = 0; i < n; ++i) p.put8(d[i]);
  return p;
}

// The clock moves a second; the timers then due expire.
inline void expire() {
  platform::vclock::advance_ms(1000);
  multiplexer.timers_schedule();
}

// Called at the start of each input: the links' log lines go to a sink that
// is emptied, which is returned. The first call starts the virtual clock at 0.
inline std::ostringstream& start_input() {
  static std::ostringstream sink;
  static const bool once = [] {
    platform::vclock::enable();
    Mux::g_tv_time = Mux::timeval(0, 0);
    return true;
  }();
  (void)once;
  std::clog.rdbuf(sink.rdbuf());
  sink.str("");
  return sink;
}

}  // namespace lapdfuzz
