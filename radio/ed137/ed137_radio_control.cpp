#include "radio/ed137/ed137_radio_control.h"

#include "asn1/asn1.h"
#include "media/rtp_setup.h"
#include "platform/device.h"
#include "platform/rtp_ext.h"
#include "runtime/ext_output.h"
#include "runtime/mux_time.h"

#include <arpa/inet.h>
#include <poll.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <iostream>

namespace RTPSignalling {
namespace {

std::uint32_t Now() { return static_cast<std::uint32_t>(Mux::milliseconds()); }

// Time since a stamp; 0 when the stamp is not before now.
std::uint32_t Since(std::uint32_t now, std::uint32_t stamp) {
  return static_cast<std::int32_t>(now - stamp) > 0 ? now - stamp : 0;
}

void DecodeHeader(TERM::ED137RadioHeader const& h, ED137RadioState& s) {
  s.ptt = static_cast<std::uint32_t>(h.get_ptt().asInt());
  s.squ = static_cast<std::uint32_t>(h.get_squ().asInt());
  s.pttId = static_cast<std::uint32_t>(h.get_ptt_id().getValue());
  s.pttMute = h.get_ptt_mute() ? 1 : 0;
  s.pttSummation = h.get_ptt_summation() ? 1 : 0;
  s.sct = h.get_sct() ? 1 : 0;
}

void DecodeSqi(TERM::ED137RadioExtensionSQI const& q, ED137RadioState& s) {
  s.bssMethod = static_cast<std::uint32_t>(q.get_bss_method().asInt());
  s.bssQuality = static_cast<std::uint32_t>(q.get_bss_quality().getValue());
}

// The push-to-talk type and the BSS method go as they are: both enumerations
// are extensible, so a type or method without a name (the ground's
// push-to-talk types 5 to 7) travels as an extension value instead of
// passing for a named one (a normal push-to-talk, an RSSI score). Only a
// number no enumeration can send would go as a normal push-to-talk or an
// RSSI score, since the signal carrying it would not encode at all; the
// controller's own such numbers (from a four-octet extension index) are
// refused before they reach a state.
bool Sendable(std::uint32_t v) { return v <= static_cast<std::uint32_t>(INT_MAX); }

// The header extension has three bits for the push-to-talk type and for the
// BSS method and one for squelch. A controller's value beyond them (an
// extension value of a newer release) would leave as another value: 12 as
// an emergency push-to-talk, squelch 2 as no squelch while this side gates
// its transmission as if there were one.
bool Fits(int value, int largest) { return value >= 0 && value <= largest; }

bool Fits(TERM::ED137RadioHeader const& h) { return Fits(h.get_ptt().asInt(), 7) && Fits(h.get_squ().asInt(), 1); }

bool Fits(TERM::ED137RadioExtensionSQI const& q) { return Fits(q.get_bss_method().asInt(), 7); }

void EncodeHeader(ED137RadioState const& s, TERM::ED137RadioHeader& h) {
  h.set_ptt(Sendable(s.ptt) ? static_cast<TERM::ED137RadioPTT::NamedNumber>(s.ptt)
                            : TERM::ED137RadioPTT::normal_ptt_on);
  h.set_squ(s.squ ? TERM::ED137RadioSQU::squ_on : TERM::ED137RadioSQU::squ_off);
  h.set_ptt_id(s.pttId & 63);
  h.set_ptt_mute(s.pttMute != 0);
  h.set_ptt_summation(s.pttSummation != 0);
  h.set_sct(s.sct != 0);
}

void EncodeSqi(ED137RadioState const& s, TERM::ED137RadioExtensionSQI& q) {
  q.set_bss_method(Sendable(s.bssMethod) ? static_cast<TERM::ED137RadioBSSMethod::NamedNumber>(s.bssMethod)
                                         : TERM::ED137RadioBSSMethod::rssi);
  q.set_bss_quality(s.bssQuality <= 31 ? s.bssQuality : 31);
}

}  // namespace

void ED137RadioParams::Init(TERM::ED137RadioResponse const& r) {
  if (r.transmission_depend_on_squ_isPresent()) transmissionDependOnSQU = r.get_transmission_depend_on_squ();
  if (r.sigtime_isPresent()) sigtime = static_cast<std::uint32_t>(r.get_sigtime().getValue());
  if (r.r2s_keepalive_period_isPresent())
    r2sKeepAlivePeriod = static_cast<std::uint32_t>(r.get_r2s_keepalive_period().getValue());
  if (r.r2s_keepalive_multiplier_isPresent())
    r2sKeepAliveMultiplier = static_cast<std::uint32_t>(r.get_r2s_keepalive_multiplier().getValue());
  type = static_cast<std::uint32_t>(r.get_type().asInt());
  txrxMode = static_cast<std::uint32_t>(r.get_txrxmode().asInt());
}

bool ED137RadioState::IsEqual(ED137RadioState const& o) const {
  return code == o.code && ptt == o.ptt && squ == o.squ && pttId == o.pttId && pttMute == o.pttMute &&
         pttSummation == o.pttSummation && sct == o.sct && bssMethod == o.bssMethod && bssQuality == o.bssQuality &&
         sessionAddr.s_addr == o.sessionAddr.s_addr && sessionSsrc == o.sessionSsrc;
}

bool ED137RadioState::DecodeASN(TERM::ED137RadioModifier const& m) {
  const TERM::ED137RadioModifierParams& p = m.get_params();
  if (!p.rx_isSelected() && !p.tx_isSelected()) return false;
  if (p.rx_isSelected() ? !Fits(p.get_rx().get_header()) || (p.get_rx().sqi_isPresent() && !Fits(p.get_rx().get_sqi()))
                        : !Fits(p.get_tx().get_header()))
    return false;
  // inet_addr would read other text as 255.255.255.255, a filter that
  // shuts every source out.
  std::uint32_t addr = 0;
  if (!RtpSetup::DottedAddress(m.get_addr().get_session_addr(), addr)) return false;
  code = 0;
  sessionAddr.s_addr = addr;
  sessionSsrc = static_cast<std::uint32_t>(m.get_addr().get_session_ssrc().getValue());
  if (p.rx_isSelected()) {
    const TERM::ED137RadioRxCommand& rx = p.get_rx();
    code |= RX_FORM | HEADER;
    DecodeHeader(rx.get_header(), *this);
    if (rx.sqi_isPresent()) {
      code |= RX_FORM | SQI;
      DecodeSqi(rx.get_sqi(), *this);
    }
  } else {
    code |= TX_FORM | HEADER;
    DecodeHeader(p.get_tx().get_header(), *this);
  }
  return true;
}

bool ED137RadioState::Carried(TERM::ED137RadioStatus const& s) {
  return Fits(s.get_header()) && (!s.sqi_isPresent() || Fits(s.get_sqi()));
}

bool ED137RadioState::DecodeASN(TERM::ED137RadioStatus const& s) {
  if (!Carried(s)) return false;
  code = RX_FORM | HEADER;
  DecodeHeader(s.get_header(), *this);
  if (s.sqi_isPresent()) {
    code |= RX_FORM | SQI;
    DecodeSqi(s.get_sqi(), *this);
  }
  return true;
}

void ED137RadioState::EncodeASN(TERM::ED137RadioModifierParams& p) const {
  if (Form() == RX_FORM) {
    TERM::ED137RadioRxCommand& rx = p.select_rx();
    EncodeHeader(*this, rx.set_header());
    if ((code & SQI) != 0) EncodeSqi(*this, rx.set_sqi());
  } else if (Form() == TX_FORM) {
    EncodeHeader(*this, p.select_tx().set_header());
  }
}

ED137RadioControl::ED137RadioControl(int id, rtp_ext_attach_session_params const& attach,
                                     rtp_ext_init_params const& init)
    : RadioControl(id, attach, init) {
  Init();
}

ED137RadioControl::ED137RadioControl(rtp_ext_init_params const& init) : RadioControl(init) { Init(); }

ED137RadioControl::ED137RadioControl(int id, Fd rtp, rtp_attach_session_params const& attach)
    : RadioControl(id, rtp, attach) {
  Init();
}

void ED137RadioControl::Init() {
  const std::uint32_t t = Now();
  lastProcessing = lastPeriodicSend = lastNotification = lastReceive = now = t;
  std::memset(&decoding, 0, sizeof decoding);
  std::memset(&pending, 0, sizeof pending);
}

bool ED137RadioControl::SendASNToChan(TERM::RadioStatus const& status) {
  if (!status.ed_137_isSelected()) return false;
  ED137RadioState state = radioState;
  if (!state.DecodeASN(status.get_ed_137())) return false;
  SendRadioStateToChan(state);
  return true;
}

bool ED137RadioControl::SendASNToChan(TERM::RadioModifier const& modifier) {
  if (!modifier.ed_137_isSelected()) return false;
  ED137RadioState state = radioState;
  if (!state.DecodeASN(modifier.get_ed_137())) return false;
  SendRadioStateToChan(state);
  return true;
}

bool ED137RadioControl::NeedSendProto(ED137RadioState const& state) const {
  if (init.param[3] < 1) return true;
  if (init.param[2] > 0) return !state.IsEqual(radioState);
  return true;
}

void ED137RadioControl::SendRadioStateToChan(ED137RadioState const& state) {
  if (!NeedSendProto(state)) return;
  if (PutProtoFromRadioToChan(state) == 0) {
    r2s_proto proto;
    if (EncodeProto(state, proto) == 0) SendProtoToChan(proto);
    const std::uint32_t t = Now();
    lastProcessing = t;
    if (mode == gateway && (state.code & ED137RadioState::RX_FORM) != 0) lastPeriodicSend = t;
  }
  if (debug) {
    TERM::RtpRadioRequest request;
    EncodeStatusASN(radioState, request);
    std::clog << GetPrefix() << "command=0x" << std::hex << state.code << std::dec
              << " receive extension from controller: " << request << std::endl;
  }
  UpdateAccess(radioState.ptt != 0, radioState.sessionAddr);
}

int ED137RadioControl::SendProtoToChan(r2s_proto const& proto) {
  std::uint8_t buf[1024];
  const int n = r2s_proto_pack(&proto, buf, sizeof buf);
  if (n < 1) {
    counters.packError = n;
    return 0;
  }
  const ssize_t w = platform::dev_write(extFd.lowlevel_fd(), buf, static_cast<std::size_t>(n));
  if (w < 0) {
    counters.writeErrno = errno;
    return static_cast<int>(w);
  }
  ++counters.written;
  counters.bytesWritten += static_cast<std::uint32_t>(w);
  return static_cast<int>(w);
}

int ED137RadioControl::DecodeProto(r2s_proto const& p, ED137RadioState& s) {
  s.sessionAddr = p.source_addr;
  s.sessionSsrc = p.source_ssrc;
  if (p.type == R2S_PROTO_TX) {
    s.code |= ED137RadioState::TX_FORM | ED137RadioState::HEADER;
    s.ptt = p.tx.ptt_type;
    s.pttId = p.tx.ptt_id;
    s.pttMute = p.tx.ptt_mute;
    s.pttSummation = p.tx.ptt_summation;
    return 0;
  }
  if (p.type != R2S_PROTO_RX) return -1;
  s.code |= ED137RadioState::RX_FORM | ED137RadioState::HEADER;
  s.ptt = p.rx.ptt_type;
  s.squ = p.rx.squ;
  s.pttId = p.rx.ptt_id;
  s.pttMute = p.rx.ptt_mute;
  s.pttSummation = p.rx.ptt_summation;
  s.sct = p.rx.sct;
  const std::uint32_t n = p.additional_count < 16 ? p.additional_count : 16;
  for (std::uint32_t i = 0; i < n; ++i) {
    if (p.additional[i].type != R2S_PROTO_ELEMENT_SQI) continue;
    s.code |= ED137RadioState::RX_FORM | ED137RadioState::SQI;
    s.bssQuality = p.additional[i].rx_sqi.quality;
    s.bssMethod = p.additional[i].rx_sqi.method;
  }
  return 0;
}

void ED137RadioControl::EncodeStatusASN(ED137RadioState const& s, TERM::RtpRadioRequest& request) {
  TERM::ED137RadioStatus& status = request.set_status().select_ed_137();
  EncodeHeader(s, status.set_header());
  EncodeSqi(s, status.set_sqi());
  status.omit_radio_response();
}

void ED137RadioControl::EncodeASN(ED137RadioState const& radio, ED137RadioState const& received,
                                  TERM::RtpRadioRequest& request) {
  EncodeStatusASN(radio, request);
  TERM::ED137RadioModifier& m = request.set_request().select_ed_137();
  char text[INET_ADDRSTRLEN] = "";
  ::inet_ntop(AF_INET, &received.sessionAddr, text, sizeof text);
  m.set_addr().set_session_addr(text);
  m.set_addr().set_session_ssrc(received.sessionSsrc);
  received.EncodeASN(m.set_params());
}

void ED137RadioControl::OnRtpExtEvent(int, short revents) {
  if (!(revents & POLLIN)) return;
  if (debug) std::clog << GetPrefix() << "receive extension packet(s)!" << std::endl;
  now = Now();
  lastProcessing = now;
  std::memset(&pending, 0, sizeof pending);
  unsigned pendingCount = 0;
  for (unsigned reads = 0; reads < Event::max_reads_per_event; ++reads) {
    const int queued = platform::dev_ioctl(extFd.lowlevel_fd(), rtp_ext::RTP_EXT_GET_SOURCE, &source);
    if (queued >= 1)
      ++counters.announced;
    else if (queued < 0)
      counters.sourceErrno = errno;
    std::uint8_t buf[1024];
    const ssize_t r = platform::dev_read(extFd.lowlevel_fd(), buf, sizeof buf);
    if (r < 1) {
      if (r < 0) counters.readErrno = errno;
      break;
    }
    counters.bytesRead += static_cast<std::uint32_t>(r);
    std::memset(&decoding, 0, sizeof decoding);
    const int u = r2s_proto_unpack_tx(&decoding, buf, static_cast<int>(r));
    if (u != 0) {
      counters.unpackError = u;
      continue;
    }
    lastReceive = now;
    if (groundSilent) {
      // A ground back from silence is news, whatever it said before: its
      // first state is reported, however long ago the last report was.
      groundSilent = false;
      lastNotification = now - static_cast<std::uint32_t>(interval);
    }
    ++counters.decoded;
    decoding.source_addr.s_addr = source.addr;
    decoding.source_ssrc = source.ssrc;
    if (pendingCount && cmp_r2s_proto_source(&pending, &decoding) != 0) OnRtpProtoRXEvent(pending);
    pending = decoding;
    ++pendingCount;
  }
  // The last payload of the batch, whether the driver ran dry or the pass
  // ended at the bound.
  if (pendingCount) OnRtpProtoRXEvent(pending);
}

void ED137RadioControl::OnRtpProtoRXEvent(r2s_proto const& proto) {
  ED137RadioState state;
  DecodeProto(proto, state);
  if (!AccessFormChanToRadio(state)) return;
  if (state.IsEqual(chanState) && Since(now, lastNotification) < interval) return;
  PutProtoFromChanToRadio(state);
  TERM::RtpRadioRequest request;
  EncodeASN(radioState, state, request);
  if (debug)
    std::clog << GetPrefix() << " command=0x" << std::hex << state.code << std::dec
              << " send extension to controller: " << request << std::endl;
  lastNotification = now;
  if (notify) notify->RadioControlNotify(request);
}

unsigned long ED137RadioGWControl::ProcessRadioStatus(unsigned long nowMs, unsigned long ms) {
  const std::uint32_t t = static_cast<std::uint32_t>(nowMs);
  const std::uint32_t timeout = params.r2sKeepAlivePeriod * params.r2sKeepAliveMultiplier;
  const auto lost = [&] {
    return groundSilent ||
           (timeout != 0 && static_cast<std::int32_t>(t - lastReceive) >= 0 && t - lastReceive >= timeout);
  };
  // The loop fires timers before it reads: after a pass that ran long, what
  // the ground sent meanwhile still waits in the driver's queue. Read it
  // before calling the ground silent.
  if (lost() && HasSession()) ED137RadioControl::OnRtpExtEvent(extFd.lowlevel_fd(), POLLIN);
  if (lost()) {
    groundSilent = true;
    if (notify) notify->RadioControlNotify(ED137_KEEPALIVE_LOST);
  }
  if (Since(t, lastPeriodicSend) >= ms) {
    // The keep-alive is the radio state in RX form, also after a TX-form
    // request (whose form bits it replaces).
    radioState.code = (radioState.code & ~ED137RadioState::FORM) | ED137RadioState::RX_FORM | ED137RadioState::HEADER;
    r2s_proto proto;
    if (EncodeProto(radioState, proto) == 0) {
      SendProtoToChan(proto);
      lastPeriodicSend = t;
    }
  }
  const std::uint32_t e = Since(t, lastPeriodicSend);
  if (e > 0 && e < ms) return ms - e + 10;
  return ms;
}

int ED137RadioGWControl::PutProtoFromRadioToChan(ED137RadioState const& s) {
  const ED137RadioState old = radioState;
  radioState = s;
  if ((s.code & ED137RadioState::SQI) == 0) {
    radioState.bssMethod = old.bssMethod;
    radioState.bssQuality = old.bssQuality;
  }
  return 0;
}

int ED137RadioGWControl::PutProtoFromChanToRadio(ED137RadioState const& s) {
  const ED137RadioState old = chanState;
  chanState = s;
  if ((s.code & ED137RadioState::SQI) == 0) {
    chanState.bssMethod = old.bssMethod;
    chanState.bssQuality = old.bssQuality;
  }
  return 0;
}

bool ED137RadioGWControl::AccessFormChanToRadio(ED137RadioState const&) {
  const bool transmits = params.type == 2 || params.type == 3 || params.type == 4;
  const bool txMode = params.txrxMode == 0 || params.txrxMode == 2;
  return transmits && txMode;
}

int ED137RadioGWControl::EncodeProto(ED137RadioState const& s, r2s_proto& p) {
  if (s.Form() == ED137RadioState::RX_FORM) {
    r2s_proto_init(&p, R2S_PROTO_RX);
    r2s_proto_set_rx_header(&p, s.ptt, s.squ, s.pttId, s.pttMute, s.pttSummation, s.sct);
    if ((s.code & ED137RadioState::SQI) != 0) r2s_proto_add_rx_sqi(&p, s.bssQuality, s.bssMethod);
    return 0;
  }
  if (s.Form() == ED137RadioState::TX_FORM) {
    r2s_proto_init(&p, R2S_PROTO_TX);
    r2s_proto_set_tx_header(&p, s.ptt, s.pttId, s.pttMute, s.pttSummation);
    return 0;
  }
  return -1;
}

}  // namespace RTPSignalling
