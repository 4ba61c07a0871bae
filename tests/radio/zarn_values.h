#pragma once
// The controller's radio values the radio tests build again and again: the
// Zarn radio flags, creation status S and a modifier from a session, and an
// ED-137 header.
#include "schema/term/TERM.h"

#include <functional>
#include <string>

namespace radio_test {

// An ED-137 header with push-to-talk and squelch as given, every other
// field zero or off.
inline void ed137_header(TERM::ED137RadioHeader& h, TERM::ED137RadioPTT::NamedNumber ptt,
                         TERM::ED137RadioSQU::NamedNumber squ) {
  h.set_ptt(ptt);
  h.set_squ(squ);
  h.set_ptt_id(0u);
  h.set_ptt_mute(false);
  h.set_ptt_summation(false);
  h.set_sct(false);
}

// Priority and push-to-talk; every other flag off, selective call and link
// index 0.
inline TERM::RadioFlags zarn_flags(int prio, bool ptt) {
  TERM::RadioFlags f;
  f.set_prio(prio);
  f.set_ptt(ptt);
  f.set_bss(false);
  f.set_vad_rx(false);
  f.set_vad_tx(false);
  f.set_sql(false);
  f.set_sh(false);
  f.set_pwr(false);
  f.set_rv(false);
  f.set_resv(false);
  f.set_selcall(0u);
  f.set_li(0u);
  return f;
}

// The creation status S with the flags: channel 3 at 118.5, remote {1, 2},
// squelch on, RTE a1b, standby active / group 7 / receiver standby.
inline TERM::ZarnRadioStatus zarn_status_s(const TERM::RadioFlags& flags) {
  TERM::ZarnRadioStatus st;
  st.set_flags(flags);
  st.set_freq().set_channel(3);
  st.set_freq().set_frequency(std::string("118.500000"));
  st.set_remote().set_no(1u);
  st.set_remote().set_ch(2u);
  st.set_squelshe(TERM::RadioSquelshe::on);
  st.set_rte(TERM::RadioRTE::a1b);
  st.set_standby_state_channel(TERM::RadioStandby::active);
  st.set_standby_group(7u);
  st.set_standby_state_receiver(TERM::RadioStandby::standby);
  return st;
}

// The slot attaches to the RTP session {fd, pid} of another process (slot
// and channel 0) and has no header-extension session of its own.
inline void attach_only_rtp(TERM::RtpParams& r, int fd, int pid) {
  TERM::RtpE2M& e = r.set_rtp_e2m();
  e.set_slot(0);
  e.set_channel(0);
  TERM::RtpExtDescription& d = e.set_mode().select_only_rtp();
  d.set_fd(fd);
  d.set_pid(pid);
}

// A modifier from the session at `from` with the SSRC; `fill` picks the
// request.
inline TERM::ZarnRadioModifier zarn_modifier(const std::string& from, unsigned ssrc,
                                             const std::function<void(TERM::ZarnRadioModifierParams&)>& fill) {
  TERM::ZarnRadioModifier m;
  m.set_addr().set_session_addr(from);
  m.set_addr().set_session_ssrc(ssrc);
  fill(m.set_params());
  return m;
}

}  // namespace radio_test
