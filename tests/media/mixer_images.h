#pragma once
// LGCP images of the mixer slot commands, and the mixer list of a `query`
// signal as short text ("0:16/16/48/770/17/24" per unit).
#include "tests/support/lgcp_text.h"

#include <string>
#include <utility>
#include <vector>

namespace mixertest {

// A channel: a TDM channel number, or an RTP channel when `rtp` is set.
struct Channel {
  int number;
  bool rtp = false;
};

inline void set_channel(LGCP::MixerChannel& c, Channel ch) {
  if (ch.rtp)
    c.select_rtp(ch.number);
  else
    c.select_tdm(ch.number);
}

inline LGCP::CreateParams mixer_in(int unit, Channel channel, const Channel* summator = nullptr) {
  LGCP::CreateParams p;
  LGCP::MixerInParams& m = p.select_mixerIn();
  m.set_unit(unit);
  set_channel(m.set_channel(), channel);
  if (summator) set_channel(m.set_summator(), *summator);
  return p;
}

inline LGCP::CreateParams mixer_out(int unit, Channel channel, const std::vector<std::pair<Channel, int>>& inputs) {
  LGCP::CreateParams p;
  LGCP::MixerOutParams& m = p.select_mixerOut();
  m.set_unit(unit);
  set_channel(m.set_channel(), channel);
  m.set_inputs();
  for (const auto& in : inputs) {
    LGCP::MixerInput i;
    set_channel(i.set_channel(), in.first);
    i.set_gain(in.second);
    m.ref_inputs().push_back(i);
  }
  return p;
}

inline std::string create(int seq, int slot, LGCP::CreateParams const& p) {
  return testsupport::create_image(seq, slot, [&](LGCP::CreateParams& c) { c = p; });
}

inline std::string in_image(int seq, int slot, int unit, Channel channel) {
  return create(seq, slot, mixer_in(unit, channel));
}

inline std::string in_image(int seq, int slot, int unit, Channel channel, Channel summator) {
  return create(seq, slot, mixer_in(unit, channel, &summator));
}

inline std::string out_image(int seq, int slot, int unit, Channel channel,
                             const std::vector<std::pair<Channel, int>>& inputs = {}) {
  return create(seq, slot, mixer_out(unit, channel, inputs));
}

inline std::string ioctl(int seq, int slot, const std::function<void(LGCP::IoctlParams&)>& fill) {
  return testsupport::command_image(seq, slot, [&](LGCP::Command& c) { fill(c.select_ioctl()); });
}

inline std::string destroy(int seq, int slot) { return testsupport::null_command_image(seq, slot, "destroy"); }

// The units of a `query` signal: "unit:tdm_inputs/tdm_outputs/mixer_inputs/
// dpu_per_mixer/dpu_per_ec/dpu_per_lms"; "not a query" otherwise.
inline std::vector<std::string> mixer_list(const std::string& hex_frame) {
  LGCP::Message m;
  if (!testsupport::decode(hex_frame, m) || !m.get_pdu().signal_isSelected() ||
      !m.get_pdu().get_signal().query_isSelected())
    return {"not a query"};
  std::vector<std::string> out;
  for (LGCP::MixerResources_subtype const& r : m.get_pdu().get_signal().get_query().get_mixer())
    out.push_back(std::to_string(r.get_unit().getValue()) + ":" + std::to_string(r.get_tdm_inputs().getValue()) +
                  "/" + std::to_string(r.get_tdm_outputs().getValue()) + "/" +
                  std::to_string(r.get_mixer_inputs().getValue()) + "/" +
                  std::to_string(r.get_dpu_per_mixer().getValue()) + "/" +
                  std::to_string(r.get_dpu_per_ec().getValue()) + "/" +
                  std::to_string(r.get_dpu_per_lms().getValue()));
  return out;
}

}  // namespace mixertest
