#pragma once
// A link under test: an ISDN::LAPD as the only layer of a family that
// records what the link reports upward, on a transport that records what it
// sends. Frames are written as hex text ("00 01 7F").
#include "control/protocols_list.h"
#include "signalling/lapd/lapd.h"

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace lapdtest {

inline Packet frame(const std::string& hex) {
  Packet p;
  p.reserve_head(8);
  std::istringstream in(hex);
  unsigned x;
  while (in >> std::hex >> x) p.put8(static_cast<std::uint8_t>(x));
  return p;
}

inline std::string hex(const Packet& p) {
  std::string s;
  char b[4];
  for (std::uint32_t i = 0; i < p.length(); ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[int(i)]);
    s += b;
  }
  return s;
}

inline Packet message(const std::string& text) {
  Packet p;
  p.reserve_head(16);
  for (char c : text) p.put8(static_cast<std::uint8_t>(c));
  return p;
}

// Takes or refuses every frame, and keeps what it took.
class RecordingLine : public GenericHDLC {
 public:
  bool hdlc_transmit(Packet& f) override {
    if (!accept) {
      ++refusals;
      return false;
    }
    sent.push_back(hex(f));
    return true;
  }
  bool is_open() const override { return true; }
  bool is_ready() const override { return accept; }

  // The frames sent since the last call.
  std::vector<std::string> take() {
    std::vector<std::string> v;
    v.swap(sent);
    return v;
  }

  bool accept = true;
  int refusals = 0;
  std::vector<std::string> sent;
};

class Owner : public ProtocolsFamily, public ISDN::LAPD::Notify {
 public:
  explicit Owner(ISDN::Side::type side, unsigned log = 0, bool bri = false) {
    link = new ISDN::LAPD(side, log);
    if (bri) link->change_to_bri();
    link->hdlc(&line);
    link->BindNotify(this);
    add_protocol_tail(link);
  }

  void on_activated(Protocol*) override { ++activated; }
  void on_deactivated(Protocol*, Smart_pointer<Internal_protocol_status> s) override {
    releases.push_back(s->message());
    release_success.push_back(s->success());
  }
  void on_status(Smart_pointer<Internal_protocol_status> s) override { statuses.push_back(s->message()); }
  int on_message(Packet& p) override {
    std::string s;
    for (std::uint32_t i = 0; i < p.length(); ++i) s += static_cast<char>(p[int(i)]);
    received.push_back(s);
    if (echo) send(s);
    return 0;
  }
  void OnLAPD_FlowStatusChange(ISDN::LAPD* l) override {
    flow.push_back(l->GetFlowStatus());
    flow_queued.push_back(l->queued());
  }

  void rx(const std::string& hexframe) {
    Packet p = frame(hexframe);
    link->receive(p);
  }
  void send(const std::string& text) {
    Packet p = lapdtest::message(text);
    link->message(p);
  }
  const ISDN::LAPDFullState& st() const { return link->full_state(); }
  ISDN::State state() const { return link->full_state().state; }

  RecordingLine line;
  ISDN::LAPD* link;  // owned by the family
  bool echo = false;  // answers every message at once
  int activated = 0;
  std::vector<std::string> releases;
  std::vector<bool> release_success;
  std::vector<std::string> statuses;
  std::vector<std::string> received;
  std::vector<int> flow;
  std::vector<std::uint32_t> flow_queued;
};

// A primary-rate user-side link brought to "Multiple frame established".
inline void establish(Owner& o) {
  o.link->activate();
  o.rx(o.link->side() == ISDN::Side::user ? "00 01 73" : "02 01 73");
  o.line.take();
}

}  // namespace lapdtest
