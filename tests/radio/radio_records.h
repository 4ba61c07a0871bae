#pragma once
// Field-by-field equality of the radio packet records, for the tests and the
// fuzz targets (no test framework here). Floats compare by bit pattern, texts
// over their length, and only the payload fields of the record's type count.
#include <cstdint>
#include <cstring>

#include "radio/ed137/r2s_proto.h"
#include "radio/zarn/sig_proto.h"

namespace radio_test {

inline std::uint32_t bits(float f) {
  std::uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

inline float from_bits(std::uint32_t b) {
  float f;
  std::memcpy(&f, &b, sizeof f);
  return f;
}

inline bool same_header(const sig_proto& a, const sig_proto& b) {
  return a.type == b.type && a.priority == b.priority && a.flag_t == b.flag_t && a.flag_p == b.flag_p &&
         a.flag_r == b.flag_r && a.flag_s == b.flag_s && a.flag_b == b.flag_b && a.flag_rv == b.flag_rv &&
         a.flag_sh == b.flag_sh && a.flag_rs == b.flag_rs && a.flag_pw == b.flag_pw && a.flag_c == b.flag_c &&
         a.status == b.status;
}

inline bool same_text(std::uint8_t la, const std::uint8_t* ta, std::uint8_t lb, const std::uint8_t* tb) {
  return la == lb && std::memcmp(ta, tb, la) == 0;
}

// Same header and same payload as the record's type carries it.
inline bool same_packet(const sig_proto& a, const sig_proto& b) {
  if (!same_header(a, b)) return false;
  switch (a.type) {
    case GW_ADJUST_CHAN:
      return a.gw_adjust_chan.id == b.gw_adjust_chan.id &&
             bits(a.gw_adjust_chan.freq) == bits(b.gw_adjust_chan.freq);
    case GW_SEL_CALL:
      return same_text(a.gw_sel_call.callerID_length, a.gw_sel_call.callerID, b.gw_sel_call.callerID_length,
                       b.gw_sel_call.callerID);
    case GW_SELECT_RC_CHAN:
      return a.gw_select_rc_chan.interface == b.gw_select_rc_chan.interface &&
             a.gw_select_rc_chan.channel == b.gw_select_rc_chan.channel;
    case GW_ADJUST_SQUELSHE:
    case GW_ADJUST_RTE:
    case GW_ADJUST_STANDBY:
      return a.gw_adjust_squelsh.squelsh == b.gw_adjust_squelsh.squelsh;
    case WM_TRANS:
      return a.wm_trans.session_addr.s_addr == b.wm_trans.session_addr.s_addr && a.wm_trans.ssrc == b.wm_trans.ssrc;
    case WM_RADIO_QUALITY:
      return bits(a.wm_radio_quality.radio_quality) == bits(b.wm_radio_quality.radio_quality);
    case WM_CHAN:
      return a.wm_chan.id == b.wm_chan.id && bits(a.wm_chan.freq) == bits(b.wm_chan.freq) &&
             a.wm_chan.squelsh == b.wm_chan.squelsh && a.wm_chan.rte == b.wm_chan.rte;
    case WM_SEL_CALL_TRANS:
      return a.wm_sel_call_trans.session_addr.s_addr == b.wm_sel_call_trans.session_addr.s_addr &&
             a.wm_sel_call_trans.ssrc == b.wm_sel_call_trans.ssrc &&
             same_text(a.wm_sel_call_trans.callerID_length, a.wm_sel_call_trans.callerID,
                       b.wm_sel_call_trans.callerID_length, b.wm_sel_call_trans.callerID);
    case WM_SELECT_RC_CHAN:
      return a.wm_select_rc_chan.interface == b.wm_select_rc_chan.interface &&
             a.wm_select_rc_chan.channel == b.wm_select_rc_chan.channel;
    case WM_STANDBY:
      return a.wm_standby.state == b.wm_standby.state && a.wm_standby.group == b.wm_standby.group &&
             a.wm_standby.receiver_state == b.wm_standby.receiver_state;
    default:
      return true;
  }
}

// Same form, header words and elements (all thirteen value words of each).
inline bool same_payload(const r2s_proto& a, const r2s_proto& b) {
  if (a.type != b.type || a.additional_count != b.additional_count) return false;
  if (std::memcmp(&a.rx, &b.rx, sizeof a.rx) != 0) return false;
  for (std::uint32_t i = 0; i < a.additional_count && i < R2S_PROTO_MAX_ADDITIONALS; ++i)
    if (a.additional[i].type != b.additional[i].type ||
        std::memcmp(a.additional[i].value, b.additional[i].value, sizeof a.additional[i].value) != 0)
      return false;
  return true;
}

}  // namespace radio_test
