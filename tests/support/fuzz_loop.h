#pragma once
// What the fuzz targets that drive the event loop share (header only: the
// support library does not link the runtime).
#include "platform/clock.h"
#include "runtime/multiplexer.h"
#include "runtime/mux_time.h"
#include "runtime/packet.h"
#include "runtime/timer.h"

#include <cstddef>
#include <iostream>
#include <vector>

namespace fuzzsupport {

inline void stop_loop() { multiplexer.terminate(); }

// Runs the loop until `ms` of virtual time have passed.
inline void run_for(unsigned ms) {
  Timer stop;
  stop.set(ms, &stop_loop);
  multiplexer.run(false, true);
}

// The virtual clock from 0, and the log streams silenced: the loop and the
// code under test log on every pass.
inline void start_quiet() {
  platform::vclock::enable();
  Mux::g_tv_time = Mux::timeval(0, 0);
  std::clog.rdbuf(nullptr);
  std::cerr.rdbuf(nullptr);
  std::cout.rdbuf(nullptr);
}

// Takes all but `spare` buffers of the packet pool for good, so that
// emptying the rest during an input stays cheap.
inline void keep_spare_cells(std::size_t spare) {
  static std::vector<Packet> reserve;
  while (PacketPool::available() > spare) {
    reserve.emplace_back();
    reserve.back().reserve_head(0);
  }
}

// The buffers an input holds to run the pool dry: toggle takes every free
// one, or gives them all back when it holds some; give_one gives one back,
// clear all of them.
class PoolDrain {
 public:
  void toggle() {
    if (!held_.empty()) {
      held_.clear();
      return;
    }
    for (;;) {
      Packet p;
      if (!p.try_reserve_head(0)) break;
      held_.push_back(p);
    }
  }
  void give_one() {
    if (!held_.empty()) held_.pop_back();
  }
  void clear() { held_.clear(); }

 private:
  std::vector<Packet> held_;
};

// Plays input[at..size) as device frames: a step octet 0xFF takes the whole
// pool or gives it back, 0xFE gives one buffer back, any other gives the
// length (low 7 bits) of the frame that follows, which `deliver` gets (bytes,
// length); then the loop runs 1000 ms (top bit set) or 1 ms. The pool is
// given back at the end.
template <class Deliver>
void play_frames(const unsigned char* data, std::size_t size, std::size_t at, Deliver deliver) {
  PoolDrain held;
  while (at < size) {
    const unsigned char head = data[at++];
    if (head == 0xFF) {
      held.toggle();
      continue;
    }
    if (head == 0xFE) {
      held.give_one();
      continue;
    }
    std::size_t len = head & 0x7F;
    if (len > size - at) len = size - at;
    deliver(data + at, len);
    at += len;
    run_for((head & 0x80) ? 1000 : 1);
  }
}

}  // namespace fuzzsupport
