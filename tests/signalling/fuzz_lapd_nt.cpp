// Hostile frames into the network-side basic-rate manager: the input is a
// script of a length octet and that many frame octets, or a special length:
// 0xF0 (the clock moves a second: checks, polls, T200), 0xF1 (a message
// from above for the call reference of the next octet), 0xF2 (a SETUP from
// above), 0xF3 (deactivate and activate again). Frames it sends must be
// whole frames of a known shape.
#include "signalling/lapd/lapd_nt.h"
#include "tests/signalling/lapd_fuzz_input.h"

#include <cstdint>
#include <cstdlib>

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  lapdfuzz::start_input();
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
        lapdfuzz::expire();
        continue;
      case 0xF1: {
        std::uint8_t cr = at < size ? data[at++] : 0;
        std::uint8_t m[] = {0x08, 0x01, cr, 0x7B};
        Packet p = lapdfuzz::bytes(m, sizeof m);
        nt->message(p);
        continue;
      }
      case 0xF2: {
        std::uint8_t m[] = {0x08, 0x01, 0x01, 0x05};
        Packet p = lapdfuzz::bytes(m, sizeof m);
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
    Packet p = lapdfuzz::bytes(data + at, len);
    nt->receive(p);
    at += len;
    for (unsigned i = 0; i < ISDN::LAPD_NT::users; ++i) {
      const ISDN::LAPD_NT_user& u = nt->user(i);
      if (u.unacknowledged() > 7 || u.held() > 128) std::abort();
    }
  }
  return 0;
}
