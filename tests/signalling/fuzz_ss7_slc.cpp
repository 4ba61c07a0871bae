// Hostile signal units into an SS7 link in each of its states. The first
// octet picks the starting state (and emergency); the rest is a script of
// operations: received frames, MSUs from level 3, clock jumps that fire the
// link's timers, transport refusal and readiness, trunk and activation
// changes. Every frame the link writes must be well formed and its buffers
// must stay within their bounds.
#include "platform/clock.h"
#include "runtime/multiplexer.h"
#include "runtime/mux_time.h"
#include "signalling/ss7/slc.h"
#include "tests/signalling/ss7_relay.h"

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>

namespace {

// Checks the shape of every frame the link sends.
class Sink : public GenericHDLC {
 public:
  bool hdlc_transmit(Packet& p) override {
    if (refusing) return false;
    const std::uint32_t n = p.length();
    if (n < 3) std::abort();
    const unsigned li = p[2];
    if (n == 4 && li == 1) {
      if (p[0] != 0xFF || p[1] != 0xFF || p[3] > 3) std::abort();  // LSSU
    } else if (li != (n - 3 >= 63 ? 63 : n - 3) || n == 4 || n == 5) {
      std::abort();  // FISU or MSU with a wrong LI, or an MSU too short
    }
    return true;
  }
  bool is_open() const override { return true; }
  bool is_ready() const override { return !refusing; }
  bool refusing = false;
};

void fire_timers(unsigned ms) {
  platform::vclock::advance_ms(ms);
  Mux::g_tv_time = Mux::timeval(0, 0);
  multiplexer.timers_schedule();
}

void feed(SS7::SLC& link, const std::uint8_t* d, std::size_t n) {
  Packet p;
  p.reserve_head(0);
  for (std::size_t i = 0; i < n; ++i) p.put8(d[i]);
  link.on_hdlc_receive(p);
}

void feed(SS7::SLC& link, std::initializer_list<std::uint8_t> b) { feed(link, b.begin(), b.size()); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::ostringstream sink_stream;
  static bool once = [] {
    platform::vclock::enable();
    std::clog.rdbuf(sink_stream.rdbuf());
    std::cerr.rdbuf(sink_stream.rdbuf());
    return true;
  }();
  (void)once;
  sink_stream.str("");
  if (size == 0) return 0;
  Mux::g_tv_time = Mux::timeval(0, 0);

  Sink sink;
  SS7::SLC* link = new SS7::SLC;
  {
    ss7test::Upper upper(link);
    link->hdlc(&sink);
    link->set_emergency(data[0] & 0x80);
    if (data[0] & 0x40) link->trace = SS7::SLC::Trace{true, true, true, true, true, true, true, true};
    switch (data[0] % 6) {
      case 0:
        break;
      case 1:
        link->activate();
        break;
      case 2:
        link->activate();
        feed(*link, {0xFF, 0xFF, 1, SS7::SLC::SIO});
        break;
      case 3:
        link->activate();
        feed(*link, {0xFF, 0xFF, 1, SS7::SLC::SIN});
        break;
      case 4:
        link->activate();
        feed(*link, {0xFF, 0xFF, 1, SS7::SLC::SIN});
        fire_timers(8200);
        break;
      case 5:
        link->activate();
        feed(*link, {0xFF, 0xFF, 1, SS7::SLC::SIN});
        feed(*link, {0xFF, 0xFF, 0});
        break;
    }

    std::size_t at = 1;
    while (at + 1 < size) {
      const std::uint8_t op = data[at++];
      const std::uint8_t arg = data[at++];
      switch (op & 7) {
        case 0: case 1: case 2: case 3: {  // a received frame of arg octets
          const std::size_t n = std::min<std::size_t>(arg, size - at);
          feed(*link, data + at, n);
          at += n;
          break;
        }
        case 4: {  // an MSU from level 3, repeated (op >> 3) + 1 times
          const std::size_t n = std::min<std::size_t>(arg, size - at);
          for (int k = 0; k <= (op >> 3); ++k) {
            Packet p;
            p.reserve_head(op & 0x80 ? 3 : 0);
            for (std::size_t i = 0; i < n; ++i) p.put8(data[at + i]);
            upper.message(p);
          }
          at += n;
          break;
        }
        case 5:
          fire_timers(unsigned(arg) * 200);
          break;
        case 6:
          sink.refusing = arg & 1;
          if (!sink.refusing) link->on_hdlc_ready();
          break;
        case 7:
          switch (arg % 4) {
            case 0: link->OnTrunkHardStatus(arg & 4); break;
            case 1: link->activate(); break;
            case 2: link->deactivate(); break;
            case 3: link->statistics(); break;
          }
          break;
      }
      if (link->rtb_count() < 0 || link->rtb_count() > SS7::SLC::rtb_window) std::abort();
      if (link->tb_count() > SS7::SLC::tb_limit + SS7::SLC::rtb_window) std::abort();
      if (link->get_state_id() > SS7::SLC::State::worked) std::abort();
    }
  }
  return 0;
}
