#pragma once
// A TPKT layer in a family of its own, over a wire layer that records what
// is sent and passes fed bytes up; the family collects the messages that
// come out of the top. Shared by the unit tests and the fuzz target.
#include "control/protocols_list.h"
#include "control/tpkt_protocol.h"

#include <cstring>
#include <string>
#include <vector>

namespace tpkttest {

class Wire : public Protocol {
 public:
  std::string sent;
  int message(Packet& p) override {
    if (!p.empty()) sent.append(reinterpret_cast<const char*>(p.data()), p.length());
    return static_cast<int>(p.length());
  }
  int receive(Packet& p) override { return on_message(p); }
};

class Harness : public ProtocolsFamily {
 public:
  Wire* wire;
  Tpkt_protocol* tpkt;
  std::vector<std::string> messages;

  Harness() {
    wire = static_cast<Wire*>(add_protocol_tail(new Wire));
    tpkt = static_cast<Tpkt_protocol*>(add_protocol_tail(new Tpkt_protocol));
    activate();
  }
  int on_message(Packet& p) override {
    messages.emplace_back(p.empty() ? std::string() : std::string(reinterpret_cast<const char*>(p.data()), p.length()));
    return 0;
  }
  void feed(const void* bytes, std::size_t n) {
    Packet p;
    p.reserve_head(0);
    if (n) std::memcpy(p.put(static_cast<std::uint32_t>(n)), bytes, n);
    receive(p);
  }
  void feed(const std::string& bytes) { feed(bytes.data(), bytes.size()); }
  // Frames the payload as the control connection does; message's result.
  int send(const std::string& payload) {
    Packet p;
    prepare_head(p);
    if (!payload.empty())
      std::memcpy(p.put(static_cast<std::uint32_t>(payload.size())), payload.data(), payload.size());
    return message(p);
  }
};

}  // namespace tpkttest
