#pragma once
// LGCP images and short texts for the board services' tests: commands built
// from values, and received frames told back as text:
//
//   "success", "error unsupported",
//   "e1 2 normal slips 0 bf 0 carrier 0 ais 0 rai 0", "bri 5 rai slips 1",
//   "cas 1 5 rx 0 tx 15".
#include "schema/lgcp/LGCP.h"
#include "tests/support/per_image.h"

#include <functional>
#include <string>
#include <vector>

namespace boardtest {

inline std::string command_image(int seq, const std::function<void(LGCP::Command&)>& fill) {
  LGCP::Message m;
  if (seq >= 0) m.set_seq(seq);
  fill(m.set_pdu().select_command());
  return testsupport::per(m);
}

inline std::string clock_image(int seq, bool internal, bool enabled, int source) {
  return command_image(seq, [&](LGCP::Command& c) {
    LGCP::ClockCfg& cfg = c.select_clockCfg();
    cfg.set_clkSel0(internal ? LGCP::ClkSel0::internal : LGCP::ClkSel0::external);
    cfg.set_bextEn(enabled ? LGCP::BExtEn::enabled : LGCP::BExtEn::disabled);
    cfg.set_source(source);
  });
}

inline std::string trunk_image(int seq, int trunk, bool slave) {
  return command_image(seq, [&](LGCP::Command& c) {
    LGCP::TrunkCfg& cfg = c.select_trunkCfg();
    cfg.set_trunk(trunk);
    cfg.set_mode(slave ? LGCP::TrunkMode::slave : LGCP::TrunkMode::master);
  });
}

// what: "open V", "set V", "get", "close".
inline std::string cas_image(int seq, int path, int timeslot, const std::string& what, int value = 0) {
  return command_image(seq, [&](LGCP::Command& c) {
    LGCP::CasCommand& cas = c.select_ioctl().select_cas();
    cas.set_channel().set_path(path);
    cas.set_channel().set_timeslot(timeslot);
    if (what == "open") cas.set_cmd().select_open(value);
    if (what == "set") cas.set_cmd().select_set(value);
    if (what == "get") cas.set_cmd().select_get();
    if (what == "close") cas.set_cmd().select_close();
  });
}

// mode: "read", "write", "disconnect".
inline std::string bpc_image(int seq, unsigned bus, int seed, const std::string& mode, unsigned start,
                             unsigned length) {
  return command_image(seq, [&](LGCP::Command& c) {
    LGCP::BpcTestParams& p = c.select_testBpc();
    p.set_bus(bus);
    p.set_seed(seed);
    if (mode == "read") p.set_mode().select_read();
    if (mode == "write") p.set_mode().select_write();
    if (mode == "disconnect") p.set_mode().select_disconnect();
    p.set_timeslot_start(start);
    p.set_timeslot_length(length);
  });
}

inline std::string describe(const std::string& hex_frame) {
  LGCP::Message m;
  if (!testsupport::decode(hex_frame, m)) return "undecodable " + hex_frame;
  const LGCP::PDU& pdu = m.get_pdu();
  if (pdu.response_isSelected()) {
    const LGCP::Response& r = pdu.get_response();
    if (r.success_isSelected()) return "success";
    return std::string("error ") + r.get_error().getName();
  }
  if (!pdu.signal_isSelected()) return "command";
  const LGCP::Signal& sig = pdu.get_signal();
  if (sig.trunkStatus_isSelected()) {
    const ACP::TrunkStatus& t = sig.get_trunkStatus();
    std::string s = t.get_type().asInt() == ACP::TrunkType::bri ? "bri " : "e1 ";
    s += std::to_string(t.get_trunk().getValue()) + " " + t.get_state().getName() + " slips " +
         std::to_string(t.get_slips().getValue());
    if (t.get_type().asInt() == ACP::TrunkType::e1)
      s += " bf " + std::to_string(t.get_lossBF().getValue()) + " carrier " +
           std::to_string(t.get_lossCarrier().getValue()) + " ais " + std::to_string(t.get_lossAIS().getValue()) +
           " rai " + std::to_string(t.get_lossRAI().getValue());
    return s;
  }
  if (sig.cas_isSelected()) {
    const LGCP::CasSignalling& c = sig.get_cas();
    return "cas " + std::to_string(c.get_channel().get_path().getValue()) + " " +
           std::to_string(c.get_channel().get_timeslot().getValue()) + " rx " +
           std::to_string(c.get_rx().getValue()) + " tx " + std::to_string(c.get_tx().getValue());
  }
  return std::string("signal ") + sig.getSelectionName();
}

inline std::vector<std::string> describe_all(const std::vector<std::string>& frames) {
  std::vector<std::string> out;
  for (const auto& f : frames) out.push_back(describe(f));
  return out;
}

}  // namespace boardtest
