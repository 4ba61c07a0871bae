#pragma once
// LGCP messages for tests of the slot commands: command images built from
// values (for the many commands whose images the protocol does not spell
// out), and received frames told back as short text:
//
//   "seq 1 slot 3 success", "seq 1 slot 3 error connectFail",
//   "slot 3 transmitter active 69", "slot 5 receiver inactive",
//   "query" (a resources signal without slot), "slot 3 signal tonec".
//
// Header only: the test program links the schema library.
#include "schema/lgcp/LGCP.h"
#include "tests/support/per_image.h"

#include <functional>
#include <string>

namespace testsupport {

// The image of a command with a sequence number and a slot (either left
// out when negative).
inline std::string command_image(int seq, int slot, const std::function<void(LGCP::Command&)>& fill) {
  LGCP::Message m;
  if (seq >= 0) m.set_seq(seq);
  if (slot >= 0) m.set_slot(static_cast<unsigned>(slot));
  fill(m.set_pdu().select_command());
  return per(m);
}

inline std::string create_image(int seq, int slot, const std::function<void(LGCP::CreateParams&)>& fill) {
  return command_image(seq, slot, [&](LGCP::Command& c) { fill(c.select_create()); });
}

// ISDN link parameters on trunk 1, log level 0: primary or basic rate, user
// or network side.
inline void fill_isdn(LGCP::IsdnParams& i, bool bri, bool network) {
  i.set_type(bri ? LGCP::IsdnType::bri : LGCP::IsdnType::pri);
  i.set_trunk(1);
  i.set_log(0);
  if (network)
    i.set_side().select_network();
  else
    i.set_side().select_user();
}

inline std::string trunk_image(int seq, int slot, int trunk, int timeslot, bool bri = false) {
  return create_image(seq, slot, [&](LGCP::CreateParams& p) {
    LGCP::TrunkParams& t = bri ? p.select_trunk_bri() : p.select_trunk();
    t.set_trunk(static_cast<unsigned>(trunk));
    t.set_timeslot(static_cast<unsigned>(timeslot));
  });
}

// A map slot; a negative channel leaves that direction out. Channels are
// given as shared-bus channel numbers (8192 + 128 bus + time slot).
inline std::string map_image(int seq, int slot, int tx, int rx) {
  return create_image(seq, slot, [&](LGCP::CreateParams& p) {
    LGCP::MapParams& m = p.select_map();
    if (tx >= 0) {
      m.set_transmitter().set_bus(static_cast<unsigned>((tx - 8192) / 128));
      m.set_transmitter().set_channel(static_cast<unsigned>((tx - 8192) % 128));
    }
    if (rx >= 0) {
      m.set_receiver().set_bus(static_cast<unsigned>((rx - 8192) / 128));
      m.set_receiver().set_channel(static_cast<unsigned>((rx - 8192) % 128));
    }
  });
}

inline std::string ext_image(int seq, int slot, int tx, int rx) {
  return create_image(seq, slot, [&](LGCP::CreateParams& p) {
    LGCP::ExtParams& e = p.select_ext();
    e.set_transmitter(tx);
    e.set_receiver(rx);
  });
}

inline std::string connect_image(int seq, int slot, int target) {
  return command_image(seq, slot, [&](LGCP::Command& c) { c.select_connect(static_cast<unsigned>(target)); });
}

inline std::string null_command_image(int seq, int slot, const char* which) {
  return command_image(seq, slot, [&](LGCP::Command& c) {
    const std::string w = which;
    if (w == "query") c.select_query();
    if (w == "disconnect") c.select_disconnect();
    if (w == "destroy") c.select_destroy();
    if (w == "deactivate") c.select_deactivate();
    if (w == "ping") c.select_ping();
  });
}

// activate with empty parameters.
inline std::string activate_image(int seq, int slot) {
  return command_image(seq, slot, [&](LGCP::Command& c) { c.select_activate().select_empty(); });
}

inline std::string user_data_image(int seq, int slot, const std::string& octets) {
  return command_image(seq, slot,
                       [&](LGCP::Command& c) { c.select_userData(std::vector<char>(octets.begin(), octets.end())); });
}

// ioctl deactivateTonec (a request without parameters).
inline std::string ioctl_image(int seq, int slot) {
  return command_image(seq, slot, [&](LGCP::Command& c) { c.select_ioctl().select_deactivateTonec(); });
}

// A received frame as short text; "undecodable <hex>" when it is not a
// message.
inline std::string describe(const std::string& hex_frame) {
  LGCP::Message m;
  if (!decode(hex_frame, m)) return "undecodable " + hex_frame;
  std::string s;
  if (m.seq_isPresent()) s += "seq " + std::to_string(m.get_seq().getValue()) + " ";
  if (m.slot_isPresent()) s += "slot " + std::to_string(m.get_slot().getValue()) + " ";
  const LGCP::PDU& pdu = m.get_pdu();
  if (pdu.response_isSelected()) {
    const LGCP::Response& r = pdu.get_response();
    if (r.success_isSelected()) return s + "success";
    return s + "error " + r.get_error().getName();
  }
  if (pdu.command_isSelected()) return s + "command " + pdu.get_command().getSelectionName();
  const LGCP::Signal& sig = pdu.get_signal();
  if (sig.receiver_isSelected() || sig.transmitter_isSelected()) {
    const LGCP::Stream& st = sig.receiver_isSelected() ? sig.get_receiver() : sig.get_transmitter();
    s += sig.getSelectionName();
    if (st.active_isSelected()) return s + " active " + std::to_string(st.get_active().getValue());
    return s + " inactive";
  }
  if (sig.query_isSelected()) return s + "query";
  return s + "signal " + sig.getSelectionName();
}

}  // namespace testsupport
