// Hostile frames into the data link in each of its states. The first octet
// picks the state the link is brought to (through its own events), the side,
// basic rate and the trace level; the rest is a script: a length octet and
// that many frame octets, or one of the special lengths 0xF0 (T200, T202 or
// T203 expires: the clock moves one second), 0xF1 (a message from above),
// 0xF2 (the transport refuses from now on), 0xF3 (it takes frames again and
// says so), 0xF4 (DL-ESTABLISH), 0xF5 (DL-RELEASE).
#include "signalling/lapd/lapd.h"
#include "tests/signalling/lapd_fuzz_input.h"

#include <cstdint>
#include <cstdlib>
#include <iostream>

namespace {

class Line : public GenericHDLC {
 public:
  bool hdlc_transmit(Packet&) override { return accept; }
  bool is_open() const override { return true; }
  bool is_ready() const override { return accept; }
  bool accept = true;
};

class Owner : public ProtocolsFamily {
 public:
  int on_message(Packet& p) override {
    if (p.length() > 65536) std::abort();
    return 0;
  }
};

Packet frame(std::initializer_list<std::uint8_t> b) {
  Packet p;
  p.reserve_head(8);
  for (std::uint8_t x : b) p.put8(x);
  return p;
}

void message(ISDN::LAPD* l) {
  Packet m = frame({0x08, 0x01, 0x01, 0x7B});
  l->message(m);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::cout.rdbuf(lapdfuzz::start_input().rdbuf());
  if (size == 0) return 0;

  const std::uint8_t sel = data[0];
  const int target = sel & 7;
  const ISDN::Side::type side = (sel & 8) ? ISDN::Side::network : ISDN::Side::user;
  Owner owner;
  Line line;
  auto* link = new ISDN::LAPD(side, (sel & 0x10) ? 4 : 0);
  owner.add_protocol_tail(link);
  if (sel & 0x20) link->change_to_bri();
  link->hdlc(&line);
  // The UA the peer answers with: a response, F = 1.
  const std::uint8_t ua_addr = side == ISDN::Side::user ? 0x00 : 0x02;

  switch (target) {
    case 0: link->mdl_remove(); break;
    case 1: link->mdl_remove(); message(link); break;
    case 2: link->mdl_remove(); link->activate(); break;
    case 3: break;
    case 4: link->activate(); break;
    case 5:
    case 6:
    case 7: {
      link->activate();
      Packet ua = frame({ua_addr, 0x01, 0x73});
      link->receive(ua);
      if (target == 5) link->deactivate();
      if (target == 7) {
        message(link);
        lapdfuzz::expire();
      }
      break;
    }
  }
  if (link->full_state().state != target && !(sel & 0x20 && target == 2)) {
    // Every state is reachable through events; basic rate only changes how
    // the first ones are left.
    std::abort();
  }

  for (std::size_t at = 1; at < size;) {
    std::uint8_t len = data[at++];
    switch (len) {
      case 0xF0: lapdfuzz::expire(); continue;
      case 0xF1: message(link); continue;
      case 0xF2: line.accept = false; continue;
      case 0xF3: line.accept = true; link->on_hdlc_ready(); continue;
      case 0xF4: link->activate(); continue;
      case 0xF5: link->deactivate(); continue;
      default: break;
    }
    if (len > size - at) len = static_cast<std::uint8_t>(size - at);
    Packet p = lapdfuzz::bytes(data + at, len);
    link->receive(p);
    at += len;
    // The link's own bookkeeping stays within its bounds.
    const ISDN::LAPDFullState& s = link->full_state();
    if (s.state < 0 || s.state > 7 || link->unacknowledged() > 7 || link->queued() > 135) std::abort();
  }
  return 0;
}
