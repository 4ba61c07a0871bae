// Hostile frames into the network-side basic-rate manager: the input is a
// script of a length octet and that many frame octets, or a special length:
// 0xF0 (the clock moves a second: checks, polls, T200), 0xF1 (a message
// from above for the call reference of the next octet), 0xF2 (a SETUP from
// above), 0xF3 (deactivate and activate again). Frames it sends must be
// whole frames of a known shape.
#include "control/protocols_list.h"
#include "platform/clock.h"
#include "runtime/multiplexer.h"
#include "runtime/mux_time.h"
#include "signalling/lapd/lapd_nt.h"

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>

namespace {

class Stack : public ProtocolsFamily {
 public:
  int transmit(Packet& f) override {
    if (f.length() < 3) std::abort();
    const Packet& c = f;
    if (c[0] != 0x00 && c[0] != 0x02 && c[0] != 0xFE) std::abort();
    if (!(c[1] & 1)) std::abort();
    return 0;
  }
  int on_message(Packet&) override { return 0; }
};

Packet bytes(const std::uint8_t* d, std::size_t n) {
  Packet p;
  p.reserve_head(8);
  for (std::size_t i = 0; i < n; ++i) p.put8(d[i]);
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::ostringstream sink;
  static bool once = [] {
    platform::vclock::enable();
    Mux::g_tv_time = Mux::timeval(0, 0);
    return true;
  }();
  (void)once;
  std::clog.rdbuf(sink.rdbuf());
  sink.str("");
  if (size == 0) return 0;
  Stack stack;
  auto* nt = new ISDN::LAPD_NT;
  stack.add_protocol_tail(nt);
  nt->set_log(data[0] & 3);
  nt->activate();
  for (std::size_t at = 1; at < size;) {
    std::uint8_t len = data[at++];
    switch (len) {
      case 0xF0:
        platform::vclock::advance_ms(1000);
        multiplexer.timers_schedule();
        continue;
      case 0xF1: {
        std::uint8_t cr = at < size ? data[at++] : 0;
        std::uint8_t m[] = {0x08, 0x01, cr, 0x7B};
        Packet p = bytes(m, sizeof m);
        nt->message(p);
        continue;
      }
      case 0xF2: {
        std::uint8_t m[] = {0x08, 0x01, 0x01, 0x05};
        Packet p = bytes(m, sizeof m);
        nt->message(p);
        continue;
      }
      case 0xF3:
        nt->deactivate();
        nt->activate();
        continue;
      default:
        break;
    }
    if (len > size - at) len = static_cast<std::uint8_t>(size - at);
    Packet p = bytes(data + at, len);
    nt->receive(p);
    at += len;
    for (unsigned i = 0; i < ISDN::LAPD_NT::users; ++i) {
      const ISDN::LAPD_NT_user& u = nt->user(i);
      if (u.unacknowledged() > 7 || u.held() > 128) std::abort();
    }
  }
  return 0;
}
