#include "radio/zarn/zarn_radio_control.h"

#include "platform/device.h"
#include "platform/rtp_ext.h"
#include "runtime/mux_time.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

namespace RTPSignalling {

namespace {

// Payload buffers: one header-extension payload never exceeds this.
constexpr int kPayloadMax = 1024;
// Unpack result kept for a packet whose values the TERM types cannot carry.
constexpr int kValuesOutOfRange = -10;

std::uint32_t NowMs() { return static_cast<std::uint32_t>(Mux::milliseconds()); }

// Time since a stamp; 0 when the stamp is not before now. The count wraps at
// 32 bits (every 49.7 days, at any moment of a run), so the order is read
// from the signed difference: compared as plain numbers, every stamp taken
// before a wrap would stay "after" now and no status would be due again
// until the count caught up, days later.
std::uint32_t Elapsed(std::uint32_t now, std::uint32_t stamp) {
  return static_cast<std::int32_t>(now - stamp) > 0 ? now - stamp : 0;
}

}  // namespace

bool isPTTCommand(int type) { return sig_proto_is_ptt_type(static_cast<std::uint32_t>(type)); }

bool isDefaultInitCommand(int type) { return type <= 0; }

namespace {

// What a gateway command of type s.type carries, copied into d; -1 for a
// default-init command (everything), else 0.
int applyGatewayCommand(ZarnRadioState& d, ZarnRadioState const& s) {
  const int t = s.type;
  const bool all = isDefaultInitCommand(t);
  if (all || t == GW_FLAG || t == GW_FLAG_PTT) d.ptt = s.ptt;
  if (all || t == GW_FLAG || t == GW_FLAG_BSS) d.bss = s.bss;
  if (all || t == GW_FLAG || t == GW_FLAG_SH) d.sh = s.sh;
  if (all || t == GW_FLAG || t == GW_FLAG_RV) d.rv = s.rv;
  if (all || t == GW_FLAG || t == GW_FLAG_PW) d.pwr = s.pwr;
  if (all || t == GW_FLAG || t == GW_FLAG_RS) d.resv = s.resv;
  if (all || t == GW_ADJUST_CHAN) {
    d.channel = s.channel;
    d.frequency = s.frequency;
  }
  if (all || t == GW_SEL_CALL) std::memcpy(d.text, s.text, sizeof d.text);
  if (all || t == GW_SELECT_RC_CHAN) {
    d.remote_no = s.remote_no;
    d.remote_ch = s.remote_ch;
  }
  if (all || t == GW_ADJUST_SQUELSHE) d.squelshe = s.squelshe;
  if (all || t == GW_ADJUST_RTE) d.rte = s.rte;
  if (all || t == GW_ADJUST_STANDBY) d.standby_state_channel = s.standby_state_channel;
  return all ? -1 : 0;
}

// What a workstation report of type s.type carries, copied into d, except
// the transmission holder, which the two kinds take differently. True for a
// default-init report (everything).
bool applyWorkstationReport(ZarnRadioState& d, ZarnRadioState const& s) {
  d.li = s.li;
  d.ptt = s.ptt;
  d.bss = s.bss;
  d.vad_rx = s.vad_rx;
  d.vad_tx = s.vad_tx;
  d.sql = s.sql;
  d.sh = s.sh;
  d.pwr = s.pwr;
  d.rv = s.rv;
  d.resv = s.resv;
  d.selcall = s.selcall;
  const int t = s.type;
  const bool all = isDefaultInitCommand(t);
  if (all || t == WM_CHAN) {
    d.channel = s.channel;
    d.frequency = s.frequency;
    d.rte = s.rte;
    d.squelshe = s.squelshe;
  }
  if (all || t == WM_SELECT_RC_CHAN) {
    d.remote_no = s.remote_no;
    d.remote_ch = s.remote_ch;
  }
  if (all || t == WM_RADIO_QUALITY) d.quality = s.quality;
  if (all || t == WM_STANDBY) {
    d.standby_state_channel = s.standby_state_channel;
    d.standby_group = s.standby_group;
    d.standby_state_receiver = s.standby_state_receiver;
  }
  return all;
}

}  // namespace

ZarnRadioControl::ZarnRadioControl(int id, rtp_ext_attach_session_params const& attach,
                                   rtp_ext_init_params const& init)
    : RadioControl(id, attach, init) {
  InitZarn();
}

ZarnRadioControl::ZarnRadioControl(rtp_ext_init_params const& init) : RadioControl(init) { InitZarn(); }

ZarnRadioControl::ZarnRadioControl(int id, Fd rtp, rtp_attach_session_params const& attach)
    : RadioControl(id, rtp, attach) {
  InitZarn();
}

ZarnRadioControl::~ZarnRadioControl() {}

void ZarnRadioControl::InitZarn() {
  const std::uint32_t now = NowMs();
  lastProcessing = now;
  for (std::uint32_t& s : stamps) s = now;
  sig_proto_init(&current);
  sig_proto_init(&previous);
}

int ZarnRadioControl::PutProtoFromRadioToChan(ZarnRadioState const&) { return 0; }
int ZarnRadioControl::PutProtoFromChanToRadio(ZarnRadioState const&) { return 0; }
bool ZarnRadioControl::AccessFormChanToRadio(ZarnRadioState const&) { return true; }
int ZarnRadioControl::EncodeProto(ZarnRadioState const&, sig_proto&) { return 0; }

bool ZarnRadioControl::SendASNToChan(TERM::RadioStatus const& status) {
  if (!status.zarn_isSelected()) return false;
  ZarnRadioState s = radioState;
  if (DecodeASN(status.get_zarn(), s) != 0) return false;
  SendRadioStateToChan(s);
  return true;
}

bool ZarnRadioControl::SendASNToChan(TERM::RadioModifier const& request) {
  if (!request.zarn_isSelected()) return false;
  ZarnRadioState s = radioState;
  // A request with an address that is no dotted quad, or with parameters
  // this side does not know, changes nothing.
  if (DecodeASN(request.get_zarn(), s) != 0 || s.type == 0) return false;
  SendRadioStateToChan(s);
  return true;
}

bool ZarnRadioControl::GetSQU() { return radioState.sql != 0; }

void ZarnRadioControl::OnRtpExtEvent(int fd, short events) {
  if (!(events & POLLIN)) return;
  lastProcessing = NowMs();
  if (debug) std::clog << GetPrefix() << "receive extension packet(s)!" << std::endl;

  sig_proto_init(&previous);
  int decoded = 0;
  std::uint8_t buf[kPayloadMax];
  for (unsigned reads = 0; reads < Event::max_reads_per_event; ++reads) {
    const int queued = platform::dev_ioctl(fd, rtp_ext::RTP_EXT_GET_SOURCE, &source);
    if (queued >= 1)
      ++counters.announced;
    else if (queued < 0)
      counters.sourceErrno = errno;

    const int n = static_cast<int>(platform::dev_read(fd, buf, sizeof buf));
    if (n < 0) {
      counters.readErrno = errno;
      break;
    }
    if (n == 0) break;
    counters.bytesRead += static_cast<std::uint32_t>(n);
    sig_proto_init(&current);
    int res = sig_proto_unpack(&current, buf, n);
    if (res == 0 && !ProtoValuesInRange(current)) res = kValuesOutOfRange;
    if (res != 0) {
      counters.unpackError = res;
      continue;
    }
    ++counters.decoded;
    current.source_addr.s_addr = source.addr;
    current.source_ssrc = source.ssrc;
    if (decoded > 0 && cmp_sig_proto_header(&previous, &current) != 0) OnRtpProtoRXEvent(previous);
    previous = current;
    ++decoded;
  }
  // The last packet that decoded: a failed payload at the end of the batch
  // does not take its good predecessor with it.
  if (decoded > 0) OnRtpProtoRXEvent(previous);
}

int ZarnRadioControl::OnRtpProtoRXEvent(sig_proto const& record) {
  TERM::RtpRadioRequest req;
  ZarnRadioState r;
  DecodeProto(record, r);
  if (AccessFormChanToRadio(r)) {
    PutProtoFromChanToRadio(r);
    EncodeASN(radioState, r, req);
    if (debug)
      std::clog << GetPrefix() << "command=0x" << std::hex << r.type << std::dec
                << " send extension to controller: " << req << std::endl;
    if (notify) notify->RadioControlNotify(req);
  }
  UpdateAccess(radioState.ptt != 0, radioState.session_addr);
  return 0;
}

void ZarnRadioControl::StampGroupOf(int type, std::uint32_t now) {
  switch (type) {
    case WM_FLAG:
    case WM_TRANS:
    case WM_SEL_CALL_TRANS:
      stamps[flagGroup] = now;
      break;
    case WM_CHAN:
      stamps[chanGroup] = now;
      break;
    case WM_SELECT_RC_CHAN:
      stamps[remoteGroup] = now;
      break;
    case WM_STANDBY:
      stamps[standbyGroup] = now;
      break;
    default:
      break;
  }
}

int ZarnRadioControl::SendRadioStateToChan(ZarnRadioState const& s) {
  TERM::RtpRadioRequest req;
  sig_proto record;
  if (PutProtoFromRadioToChan(s) == 0 && EncodeProto(s, record) == 0) {
    SendProtoToChan(record);
    lastProcessing = NowMs();
    if (mode == gateway) StampGroupOf(s.type, lastProcessing);
  }
  EncodeStatusASN(radioState, req);
  if (debug)
    std::clog << GetPrefix() << "command=0x" << std::hex << s.type << std::dec
              << " receive extension from controller: " << req << std::endl;
  UpdateAccess(radioState.ptt != 0, radioState.session_addr);
  return 0;
}

int ZarnRadioControl::SendProtoToChan(sig_proto& record) {
  std::uint8_t buf[kPayloadMax];
  const int len = sig_proto_pack(&record, buf, sizeof buf);
  if (len < 1) {
    counters.packError = len;
    return 0;
  }
  const int n = static_cast<int>(platform::dev_write(extFd.lowlevel_fd(), buf, static_cast<std::size_t>(len)));
  if (n > 0) {
    counters.bytesWritten += static_cast<std::uint32_t>(n);
    ++counters.written;
  } else if (n < 0) {
    counters.writeErrno = errno;
  }
  return n;
}

// ---- gateway kind ----

ZarnRadioGWControl::~ZarnRadioGWControl() {}

bool ZarnRadioGWControl::AccessFormChanToRadio(ZarnRadioState const& r) {
  if (radioState.ptt == 0) return true;
  // A higher priority (lower number) claiming push-to-talk pre-empts.
  if (isPTTCommand(r.type) && r.priority < radioState.priority && r.ptt != 0) return true;
  return r.source_addr.s_addr == radioState.session_addr.s_addr;
}

int ZarnRadioGWControl::PutProtoFromChanToRadio(ZarnRadioState const& r) {
  ZarnRadioState& d = receivedState;
  d.session_addr = r.source_addr;
  d.session_ssrc = r.source_ssrc;
  d.type = r.type;
  d.priority = r.priority;
  return applyGatewayCommand(d, r);
}

int ZarnRadioGWControl::PutProtoFromRadioToChan(ZarnRadioState const& s) {
  ZarnRadioState& d = radioState;
  d.type = s.type;
  d.priority = s.priority;
  const int t = s.type;
  const bool all = applyWorkstationReport(d, s);
  if (all || t == WM_TRANS || t == WM_SEL_CALL_TRANS) {
    d.session_addr = s.session_addr;
    d.session_ssrc = s.session_ssrc;
  }
  // The caller identity of a selective call is kept while that call holds
  // push-to-talk, so the periodic status repeats it (WM_SEL_CALL_TRANS); a
  // plain transmission or the release of push-to-talk drops it.
  if (t == WM_SEL_CALL_TRANS)
    std::memcpy(d.text, s.text, sizeof d.text);
  else if (t == WM_TRANS || d.ptt == 0)
    std::memset(d.text, 0, sizeof d.text);
  return all ? -1 : 0;
}

int ZarnRadioGWControl::EncodeProto(ZarnRadioState const& s, sig_proto& record) { return EncodeProtoGW(s, record); }

unsigned long ZarnRadioGWControl::ProcessRadioStatus(unsigned long nowArg, unsigned long interval) {
  const std::uint32_t now = static_cast<std::uint32_t>(nowArg);
  ZarnRadioState& st = radioState;
  sig_proto record;
  const auto send = [&](int type, Group g) {
    st.type = type;
    if (EncodeProto(st, record) == 0) SendProtoToChan(record);
    stamps[g] = now;
  };

  // A due group whose values are not set sends nothing, and its stamp would
  // age without end: past half the count (24.8 days) it reads as "not before
  // now", and the group would stay silent for weeks after its values come.
  // Held at the age where it is due, it goes out at the first tick after.
  const std::uint32_t dueAge = std::max<std::uint32_t>(1000, static_cast<std::uint32_t>(interval));
  const auto sendIfSet = [&](bool set, int type, Group g) {
    if (Elapsed(now, stamps[g]) <= 999) return;
    if (set)
      send(type, g);
    else if (Elapsed(now, stamps[g]) > dueAge)
      stamps[g] = now - dueAge;
  };

  if (Elapsed(now, stamps[flagGroup]) > 999) {
    int type = WM_FLAG;
    if (st.ptt != 0) type = st.text[0] != '\0' ? WM_SEL_CALL_TRANS : WM_TRANS;
    send(type, flagGroup);
  }
  sendIfSet(st.channel >= 0 && st.frequency >= 0.0f, WM_CHAN, chanGroup);
  sendIfSet(st.remote_no >= 0 && st.remote_ch >= 0, WM_SELECT_RC_CHAN, remoteGroup);
  sendIfSet(st.standby_state_channel >= 0 && st.standby_group >= 0 && st.standby_state_receiver >= 0, WM_STANDBY,
            standbyGroup);

  // The next tick comes 10 ms after the oldest group falls due.
  std::uint32_t oldest = stamps[0];
  for (int g = 1; g < groups; ++g)
    if (static_cast<std::int32_t>(stamps[g] - oldest) < 0) oldest = stamps[g];
  const std::uint32_t e = Elapsed(now, oldest);
  if (e == 0 || e >= interval) return interval;
  return interval - e + 10;
}

// ---- workstation kind ----

ZarnRadioWSControl::~ZarnRadioWSControl() {}

int ZarnRadioWSControl::PutProtoFromRadioToChan(ZarnRadioState const& s) {
  ZarnRadioState& d = radioState;
  d.type = s.type;
  d.priority = s.priority;
  return applyGatewayCommand(d, s);
}

int ZarnRadioWSControl::PutProtoFromChanToRadio(ZarnRadioState const& r) {
  ZarnRadioState& d = receivedState;
  d.session_addr = r.source_addr;
  d.session_ssrc = r.source_ssrc;
  d.type = r.type;
  d.priority = r.priority;
  const int t = r.type;
  const bool all = applyWorkstationReport(d, r);
  // The holder a transmission report names, not the sender.
  if (t == WM_TRANS || t == WM_SEL_CALL_TRANS) {
    d.session_addr = r.session_addr;
    d.session_ssrc = r.session_ssrc;
  }
  return all ? -1 : 0;
}

int ZarnRadioWSControl::EncodeProto(ZarnRadioState const& s, sig_proto& record) { return EncodeProtoWS(s, record); }

}  // namespace RTPSignalling
