#include "radio/zarn/zarn_radio_state.h"

#include "media/rtp_setup.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace RTPSignalling {

ZarnRadioState::ZarnRadioState()
    : type(0),
      priority(15),
      ptt(0),
      session_ssrc(0),
      bss(0),
      vad_rx(0),
      vad_tx(0),
      sql(0),
      sh(0),
      pwr(0),
      rv(0),
      resv(0),
      selcall(0),
      li(0),
      remote_no(0),
      remote_ch(0),
      channel(0),
      frequency(0.0f),
      squelshe(-1),
      rte(-1),
      standby_state_channel(-1),
      standby_group(-1),
      standby_state_receiver(-1),
      quality(0.0f),
      source_ssrc(0) {
  session_addr.s_addr = 0;
  source_addr.s_addr = 0;
  std::memset(text, 0, sizeof text);
}

namespace {

int flag(std::uint32_t v) { return v != 0 ? 1 : 0; }

void HeaderToState(sig_proto const& p, ZarnRadioState& s) {
  s.type = static_cast<int>(p.type);
  s.priority = static_cast<int>(p.priority);
  s.ptt = flag(p.flag_p);
  s.bss = flag(p.flag_b);
  s.vad_rx = flag(p.flag_r);
  s.vad_tx = flag(p.flag_t);
  s.sql = flag(p.flag_s);
  s.sh = flag(p.flag_sh);
  s.pwr = flag(p.flag_pw);
  s.rv = flag(p.flag_rv);
  s.resv = flag(p.flag_rs);
  s.selcall = static_cast<int>(p.flag_c);
  s.li = static_cast<int>(p.status);
  s.source_addr = p.source_addr;
  s.source_ssrc = p.source_ssrc;
}

void StateToHeader(ZarnRadioState const& s, sig_proto& p) {
  sig_proto_init(&p);
  p.type = static_cast<std::uint32_t>(s.type);
  p.priority = static_cast<std::uint32_t>(s.priority);
  // The packer keeps only bit 0 of a flag: a flag set as 2 would go out clear.
  p.flag_p = s.ptt != 0;
  p.flag_b = s.bss != 0;
  p.flag_r = s.vad_rx != 0;
  p.flag_t = s.vad_tx != 0;
  p.flag_s = s.sql != 0;
  p.flag_sh = s.sh != 0;
  p.flag_pw = s.pwr != 0;
  p.flag_rv = s.rv != 0;
  p.flag_rs = s.resv != 0;
  p.flag_c = static_cast<std::uint32_t>(s.selcall);
  p.status = static_cast<std::uint32_t>(s.li);
  p.source_addr = s.source_addr;
  p.source_ssrc = s.source_ssrc;
}

// A caller identity of a packet (not terminated) into the state's text.
void TextFromProto(const std::uint8_t* id, ZarnRadioState& s) {
  std::memset(s.text, 0, sizeof s.text);
  std::memcpy(s.text, id, SIG_PROTO_CALLER_ID_MAX);
}

std::uint8_t TextToProto(ZarnRadioState const& s, std::uint8_t* id) {
  const std::size_t n = ::strnlen(s.text, SIG_PROTO_CALLER_ID_MAX);
  std::memcpy(id, s.text, n);
  return static_cast<std::uint8_t>(n);
}

void TextFromASN(std::string const& cid, ZarnRadioState& s) {
  std::memset(s.text, 0, sizeof s.text);
  std::strncpy(s.text, cid.c_str(), SIG_PROTO_CALLER_ID_MAX);
}

std::string FloatText(float f) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%4.6f", static_cast<double>(f));
  return buf;
}

std::string AddrText(in_addr a) {
  char buf[INET_ADDRSTRLEN];
  if (!::inet_ntop(AF_INET, &a, buf, sizeof buf)) return std::string();
  return buf;
}

// Strict dotted quad; anything else is what inet_addr would have turned
// into 255.255.255.255.
bool Dotted(std::string const& text, in_addr& a) {
  std::uint32_t v;
  const bool ok = RtpSetup::DottedAddress(text, v);
  a.s_addr = ok ? v : INADDR_NONE;
  return ok;
}

// The packet header has four bits for the priority: beyond them a
// controller's value would leave as another one, 16 as the highest.
bool Fits(TERM::RadioFlags const& f) { return f.get_prio().getValue() >= 0 && f.get_prio().getValue() <= 15; }

// False when the priority does not fit its field; s takes the flags anyway
// (the caller refuses the copy).
bool FlagsFromASN(TERM::RadioFlags const& f, ZarnRadioState& s) {
  s.priority = f.get_prio().getValue();
  s.ptt = f.get_ptt() ? 1 : 0;
  s.bss = f.get_bss() ? 1 : 0;
  s.vad_rx = f.get_vad_rx() ? 1 : 0;
  s.vad_tx = f.get_vad_tx() ? 1 : 0;
  s.sql = f.get_sql() ? 1 : 0;
  s.sh = f.get_sh() ? 1 : 0;
  s.pwr = f.get_pwr() ? 1 : 0;
  s.rv = f.get_rv() ? 1 : 0;
  s.resv = f.get_resv() ? 1 : 0;
  s.selcall = static_cast<int>(f.get_selcall().getValue());
  s.li = static_cast<int>(f.get_li().getValue());
  return Fits(f);
}

// A value of a constrained TERM field: out of range goes as `neutral`.
unsigned Within(int v, int lo, int hi, int neutral) {
  return static_cast<unsigned>(v < lo || v > hi ? neutral : v);
}

void FlagsToASN(ZarnRadioState const& s, TERM::RadioFlags& f) {
  f.set_prio(s.priority);
  f.set_ptt(s.ptt != 0);
  f.set_bss(s.bss != 0);
  f.set_vad_rx(s.vad_rx != 0);
  f.set_vad_tx(s.vad_tx != 0);
  f.set_sql(s.sql != 0);
  f.set_sh(s.sh != 0);
  f.set_pwr(s.pwr != 0);
  f.set_rv(s.rv != 0);
  f.set_resv(s.resv != 0);
  f.set_selcall(static_cast<unsigned>(s.selcall) & 3u);
  f.set_li(static_cast<unsigned>(s.li) & 511u);
}

void FreqFromASN(TERM::RadioFrequency const& f, ZarnRadioState& s) {
  s.channel = f.get_channel().getValue();
  s.frequency = static_cast<float>(std::atof(f.get_frequency().c_str()));
}

void FreqToASN(ZarnRadioState const& s, TERM::RadioFrequency& f) {
  f.set_channel(s.channel);
  f.set_frequency(FloatText(s.frequency));
}

void RemoteToASN(ZarnRadioState const& s, TERM::RadioRemote& r) {
  r.set_no(Within(s.remote_no, 0, 255, 0));
  r.set_ch(Within(s.remote_ch, 0, 255, 0));
}

// Squelch and RTE settings never given (-1) or beyond the enumeration go as
// no-config (0); a standby state other than 0 or 1 goes as active (0).
void SquelsheToASN(int v, TERM::RadioSquelshe& e) { e.setFromInt(static_cast<int>(Within(v, 0, 2, 0))); }
void RteToASN(int v, TERM::RadioRTE& e) { e.setFromInt(static_cast<int>(Within(v, 0, 7, 0))); }
void StandbyToASN(int v, TERM::RadioStandby& e) { e.setFromInt(static_cast<int>(Within(v, 0, 1, 0))); }

}  // namespace

int DecodeProto(sig_proto const& p, ZarnRadioState& s) {
  HeaderToState(p, s);
  switch (p.type) {
    case GW_FLAG:
    case GW_FLAG_PTT:
    case GW_FLAG_BSS:
    case GW_FLAG_RV:
    case GW_FLAG_SH:
    case GW_FLAG_PW:
    case GW_FLAG_RS:
    case WM_FLAG:
      return 0;
    case GW_ADJUST_CHAN:
      s.channel = static_cast<int>(p.gw_adjust_chan.id);
      s.frequency = p.gw_adjust_chan.freq;
      return 0;
    case GW_SEL_CALL:
      TextFromProto(p.gw_sel_call.callerID, s);
      return 0;
    case GW_SELECT_RC_CHAN:
      s.remote_no = p.gw_select_rc_chan.interface;
      s.remote_ch = p.gw_select_rc_chan.channel;
      return 0;
    case WM_SELECT_RC_CHAN:
      s.remote_no = p.wm_select_rc_chan.interface;
      s.remote_ch = p.wm_select_rc_chan.channel;
      return 0;
    case GW_ADJUST_SQUELSHE:
      s.squelshe = p.gw_adjust_squelsh.squelsh;
      return 0;
    case GW_ADJUST_RTE:
      s.rte = p.gw_adjust_rte.rte;
      return 0;
    case GW_ADJUST_STANDBY:
      s.standby_state_channel = p.gw_adjust_standby.state;
      return 0;
    case WM_TRANS:
      s.session_addr = p.wm_trans.session_addr;
      s.session_ssrc = p.wm_trans.ssrc;
      return 0;
    case WM_RADIO_QUALITY:
      s.quality = p.wm_radio_quality.radio_quality;
      return 0;
    case WM_CHAN:
      s.channel = static_cast<int>(p.wm_chan.id);
      s.frequency = p.wm_chan.freq;
      s.squelshe = p.wm_chan.squelsh;
      s.rte = p.wm_chan.rte;
      return 0;
    case WM_SEL_CALL_TRANS:
      s.session_addr = p.wm_sel_call_trans.session_addr;
      s.session_ssrc = p.wm_sel_call_trans.ssrc;
      TextFromProto(p.wm_sel_call_trans.callerID, s);
      return 0;
    case WM_STANDBY:
      s.standby_state_channel = p.wm_standby.state;
      s.standby_group = p.wm_standby.group;
      s.standby_state_receiver = p.wm_standby.receiver_state;
      return 0;
    default:
      return -1;
  }
}

int EncodeProtoGW(ZarnRadioState const& s, sig_proto& p) {
  StateToHeader(s, p);
  switch (s.type) {
    case WM_FLAG:
      return 0;
    case WM_TRANS:
      p.wm_trans.session_addr = s.session_addr;
      p.wm_trans.ssrc = s.session_ssrc;
      return 0;
    case WM_RADIO_QUALITY:
      p.wm_radio_quality.radio_quality = s.quality;
      return 0;
    case WM_CHAN:
      p.wm_chan.id = static_cast<std::uint32_t>(s.channel);
      p.wm_chan.freq = s.frequency;
      p.wm_chan.squelsh = static_cast<std::uint8_t>(s.squelshe);
      p.wm_chan.rte = static_cast<std::uint8_t>(s.rte);
      return 0;
    case WM_SEL_CALL_TRANS:
      p.wm_sel_call_trans.session_addr = s.session_addr;
      p.wm_sel_call_trans.ssrc = s.session_ssrc;
      p.wm_sel_call_trans.callerID_length = TextToProto(s, p.wm_sel_call_trans.callerID);
      return 0;
    case WM_SELECT_RC_CHAN:
      p.wm_select_rc_chan.interface = static_cast<std::uint8_t>(s.remote_no);
      p.wm_select_rc_chan.channel = static_cast<std::uint8_t>(s.remote_ch);
      return 0;
    case WM_STANDBY:
      p.wm_standby.state = static_cast<std::uint8_t>(s.standby_state_channel);
      p.wm_standby.group = static_cast<std::uint8_t>(s.standby_group);
      p.wm_standby.receiver_state = static_cast<std::uint8_t>(s.standby_state_receiver);
      return 0;
    default:
      return -1;
  }
}

int EncodeProtoWS(ZarnRadioState const& s, sig_proto& p) {
  StateToHeader(s, p);
  switch (s.type) {
    case GW_FLAG:
    case GW_FLAG_PTT:
    case GW_FLAG_BSS:
    case GW_FLAG_RV:
    case GW_FLAG_SH:
    case GW_FLAG_PW:
    case GW_FLAG_RS:
      return 0;
    case GW_ADJUST_CHAN:
      p.gw_adjust_chan.id = static_cast<std::uint32_t>(s.channel);
      p.gw_adjust_chan.freq = s.frequency;
      return 0;
    case GW_SEL_CALL:
      p.gw_sel_call.callerID_length = TextToProto(s, p.gw_sel_call.callerID);
      return 0;
    case GW_SELECT_RC_CHAN:
      p.gw_select_rc_chan.interface = static_cast<std::uint8_t>(s.remote_no);
      p.gw_select_rc_chan.channel = static_cast<std::uint8_t>(s.remote_ch);
      return 0;
    case GW_ADJUST_SQUELSHE:
      p.gw_adjust_squelsh.squelsh = static_cast<std::uint8_t>(s.squelshe);
      return 0;
    case GW_ADJUST_RTE:
      p.gw_adjust_rte.rte = static_cast<std::uint8_t>(s.rte);
      return 0;
    case GW_ADJUST_STANDBY:
      p.gw_adjust_standby.state = static_cast<std::uint8_t>(s.standby_state_channel);
      return 0;
    default:
      return -1;
  }
}

int DecodeASN(TERM::ZarnRadioModifier const& m, ZarnRadioState& s) {
  s.type = 0;
  bool dotted = Dotted(m.get_addr().get_session_addr(), s.source_addr);
  bool fits = true;
  s.source_ssrc = m.get_addr().get_session_ssrc().getValue();

  // The holder named by the selective-call and transmission requests.
  const auto holder = [&](std::string const& ip, std::uint32_t ssrc) {
    dotted = Dotted(ip, s.session_addr) && dotted;
    s.session_ssrc = ssrc;
  };

  TERM::ZarnRadioModifierParams const& p = m.get_params();
  typedef TERM::ZarnRadioModifierParams P;
  switch (p.currentSelection()) {
    case P::gw_set_flags::index:
      s.type = GW_FLAG;
      fits = FlagsFromASN(p.get_gw_set_flags().get_flags(), s);
      break;
    case P::gw_set_freq::index:
      s.type = GW_ADJUST_CHAN;
      FreqFromASN(p.get_gw_set_freq().get_freq(), s);
      break;
    case P::gw_set_ptt::index:
      s.type = GW_FLAG_PTT;
      fits = FlagsFromASN(p.get_gw_set_ptt().get_flags(), s);
      break;
    case P::gw_set_bss::index:
      s.type = GW_FLAG_BSS;
      fits = FlagsFromASN(p.get_gw_set_bss().get_flags(), s);
      break;
    case P::gw_set_rv::index:
      s.type = GW_FLAG_RV;
      fits = FlagsFromASN(p.get_gw_set_rv().get_flags(), s);
      break;
    case P::gw_set_sh::index:
      s.type = GW_FLAG_SH;
      fits = FlagsFromASN(p.get_gw_set_sh().get_flags(), s);
      break;
    case P::gw_set_pwr::index:
      s.type = GW_FLAG_PW;
      fits = FlagsFromASN(p.get_gw_set_pwr().get_flags(), s);
      break;
    case P::gw_set_resv::index:
      s.type = GW_FLAG_RS;
      fits = FlagsFromASN(p.get_gw_set_resv().get_flags(), s);
      break;
    case P::gw_set_selcall::index: {
      TERM::RadioCommandGWSetSelCall const& c = p.get_gw_set_selcall();
      s.type = GW_SEL_CALL;
      fits = FlagsFromASN(c.get_flags(), s);
      holder(c.get_ip(), c.get_ssrc().getValue());
      TextFromASN(c.get_cid(), s);
      break;
    }
    case P::gw_set_remote::index:
      s.type = GW_SELECT_RC_CHAN;
      s.remote_no = static_cast<int>(p.get_gw_set_remote().get_remote().get_no().getValue());
      s.remote_ch = static_cast<int>(p.get_gw_set_remote().get_remote().get_ch().getValue());
      break;
    case P::gw_set_squelshe::index:
      s.type = GW_ADJUST_SQUELSHE;
      s.squelshe = p.get_gw_set_squelshe().get_squelshe().asInt();
      break;
    case P::gw_set_rte::index:
      s.type = GW_ADJUST_RTE;
      s.rte = p.get_gw_set_rte().get_rte().asInt();
      break;
    case P::gw_set_standby::index:
      s.type = GW_ADJUST_STANDBY;
      s.standby_state_channel = p.get_gw_set_standby().get_state().asInt();
      break;
    case P::wm_flags::index:
      s.type = WM_FLAG;
      fits = FlagsFromASN(p.get_wm_flags().get_flags(), s);
      break;
    case P::wm_trans::index: {
      TERM::RadioCommandWMTrans const& c = p.get_wm_trans();
      s.type = WM_TRANS;
      fits = FlagsFromASN(c.get_flags(), s);
      holder(c.get_ip(), c.get_ssrc().getValue());
      break;
    }
    case P::wm_quality::index:
      s.type = WM_RADIO_QUALITY;
      s.quality = static_cast<float>(std::atof(p.get_wm_quality().get_bss_val().c_str()));
      break;
    case P::wm_chan::index: {
      TERM::RadioCommandWMChan const& c = p.get_wm_chan();
      s.type = WM_CHAN;
      FreqFromASN(c.get_freq(), s);
      s.rte = c.get_rte().asInt();
      s.squelshe = c.get_squelshe().asInt();
      break;
    }
    case P::wm_selcall::index: {
      TERM::RadioCommandWMSelCall const& c = p.get_wm_selcall();
      s.type = WM_SEL_CALL_TRANS;
      fits = FlagsFromASN(c.get_flags(), s);
      holder(c.get_ip(), c.get_ssrc().getValue());
      TextFromASN(c.get_cid(), s);
      break;
    }
    case P::wm_remote::index:
      s.type = WM_SELECT_RC_CHAN;
      s.remote_no = static_cast<int>(p.get_wm_remote().get_remote().get_no().getValue());
      s.remote_ch = static_cast<int>(p.get_wm_remote().get_remote().get_ch().getValue());
      break;
    case P::wm_standby::index: {
      TERM::RadioCommandWMStandby const& c = p.get_wm_standby();
      s.type = WM_STANDBY;
      s.standby_state_channel = c.get_state_channel().asInt();
      s.standby_group = static_cast<int>(c.get_group().getValue());
      s.standby_state_receiver = c.get_state_receiver().asInt();
      break;
    }
    default:
      break;
  }
  return dotted && fits ? 0 : -1;
}

bool Carried(TERM::ZarnRadioStatus const& st) { return Fits(st.get_flags()); }

int DecodeASN(TERM::ZarnRadioStatus const& st, ZarnRadioState& s) {
  if (!Carried(st)) return -1;
  s.type = 0;
  FlagsFromASN(st.get_flags(), s);
  FreqFromASN(st.get_freq(), s);
  s.rte = st.get_rte().asInt();
  s.squelshe = st.get_squelshe().asInt();
  s.remote_no = static_cast<int>(st.get_remote().get_no().getValue());
  s.remote_ch = static_cast<int>(st.get_remote().get_ch().getValue());
  s.standby_state_channel = st.get_standby_state_channel().asInt();
  s.standby_group = static_cast<int>(st.get_standby_group().getValue());
  s.standby_state_receiver = st.get_standby_state_receiver().asInt();
  return 0;
}

int EncodeStatusASN(ZarnRadioState const& s, TERM::RtpRadioRequest& req) {
  TERM::ZarnRadioStatus st;
  FlagsToASN(s, st.set_flags());
  FreqToASN(s, st.set_freq());
  RemoteToASN(s, st.set_remote());
  RteToASN(s.rte, st.set_rte());
  SquelsheToASN(s.squelshe, st.set_squelshe());
  StandbyToASN(s.standby_state_channel, st.set_standby_state_channel());
  st.set_standby_group(Within(s.standby_group, 0, 255, 0));
  StandbyToASN(s.standby_state_receiver, st.set_standby_state_receiver());
  req.set_status(TERM::RadioStatus(TERM::RadioStatus::zarn::index, st));
  return 0;
}

int EncodeASN(ZarnRadioState const& radio, ZarnRadioState const& r, TERM::RtpRadioRequest& req) {
  EncodeStatusASN(radio, req);

  TERM::ZarnRadioModifier m;
  m.set_addr().set_session_addr(AddrText(r.source_addr));
  m.set_addr().set_session_ssrc(r.source_ssrc);

  typedef TERM::ZarnRadioModifierParams P;
  P& p = m.set_params();
  switch (r.type) {
    case GW_FLAG:
      FlagsToASN(r, p.select_gw_set_flags().set_flags());
      break;
    case GW_ADJUST_CHAN:
      FreqToASN(r, p.select_gw_set_freq().set_freq());
      break;
    case GW_FLAG_PTT:
      FlagsToASN(r, p.select_gw_set_ptt().set_flags());
      break;
    case GW_FLAG_BSS:
      FlagsToASN(r, p.select_gw_set_bss().set_flags());
      break;
    case GW_FLAG_RV:
      FlagsToASN(r, p.select_gw_set_rv().set_flags());
      break;
    case GW_FLAG_SH:
      FlagsToASN(r, p.select_gw_set_sh().set_flags());
      break;
    case GW_FLAG_PW:
      FlagsToASN(r, p.select_gw_set_pwr().set_flags());
      break;
    case GW_FLAG_RS:
      FlagsToASN(r, p.select_gw_set_resv().set_flags());
      break;
    case GW_SEL_CALL: {
      TERM::RadioCommandGWSetSelCall& c = p.select_gw_set_selcall();
      FlagsToASN(r, c.set_flags());
      c.set_ip(AddrText(r.session_addr));
      c.set_ssrc(r.session_ssrc);
      c.set_cid(std::string(r.text, ::strnlen(r.text, SIG_PROTO_CALLER_ID_MAX)));
      break;
    }
    case GW_SELECT_RC_CHAN:
      RemoteToASN(r, p.select_gw_set_remote().set_remote());
      break;
    case GW_ADJUST_SQUELSHE:
      SquelsheToASN(r.squelshe, p.select_gw_set_squelshe().set_squelshe());
      break;
    case GW_ADJUST_RTE:
      RteToASN(r.rte, p.select_gw_set_rte().set_rte());
      break;
    case GW_ADJUST_STANDBY:
      StandbyToASN(r.standby_state_channel, p.select_gw_set_standby().set_state());
      break;
    case WM_FLAG:
      FlagsToASN(r, p.select_wm_flags().set_flags());
      break;
    case WM_TRANS: {
      TERM::RadioCommandWMTrans& c = p.select_wm_trans();
      FlagsToASN(r, c.set_flags());
      c.set_ip(AddrText(r.session_addr));
      c.set_ssrc(r.session_ssrc);
      break;
    }
    case WM_RADIO_QUALITY:
      p.select_wm_quality().set_bss_val(FloatText(r.quality));
      break;
    case WM_CHAN: {
      TERM::RadioCommandWMChan& c = p.select_wm_chan();
      FreqToASN(r, c.set_freq());
      SquelsheToASN(r.squelshe, c.set_squelshe());
      RteToASN(r.rte, c.set_rte());
      break;
    }
    case WM_SEL_CALL_TRANS: {
      TERM::RadioCommandWMSelCall& c = p.select_wm_selcall();
      FlagsToASN(r, c.set_flags());
      c.set_ip(AddrText(r.session_addr));
      c.set_ssrc(r.session_ssrc);
      c.set_cid(std::string(r.text, ::strnlen(r.text, SIG_PROTO_CALLER_ID_MAX)));
      break;
    }
    case WM_SELECT_RC_CHAN:
      RemoteToASN(r, p.select_wm_remote().set_remote());
      break;
    case WM_STANDBY: {
      TERM::RadioCommandWMStandby& c = p.select_wm_standby();
      StandbyToASN(r.standby_state_channel, c.set_state_channel());
      c.set_group(Within(r.standby_group, 0, 255, 0));
      StandbyToASN(r.standby_state_receiver, c.set_state_receiver());
      break;
    }
    default:
      break;
  }
  req.set_request(TERM::RadioModifier(TERM::RadioModifier::zarn::index, m));
  return 0;
}

bool ProtoValuesInRange(sig_proto const& p) {
  switch (p.type) {
    case GW_ADJUST_SQUELSHE:
      return p.gw_adjust_squelsh.squelsh <= 2;
    case GW_ADJUST_RTE:
      return p.gw_adjust_rte.rte <= 7;
    case GW_ADJUST_STANDBY:
      return p.gw_adjust_standby.state <= 1;
    case WM_CHAN:
      return p.wm_chan.squelsh <= 2 && p.wm_chan.rte <= 7;
    case WM_STANDBY:
      return p.wm_standby.state <= 1 && p.wm_standby.receiver_state <= 1;
    default:
      return true;
  }
}

}  // namespace RTPSignalling
