#include "media/rtp_slot.h"

#include "platform/device.h"
#include "platform/rtp.h"
#include "runtime/errno_text.h"
#include "runtime/ext_output.h"
#include "slots/device_names.h"
#include "slots/hw_mux.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <iostream>

namespace {

// The texts of the SDES items.
const char sdes_cname[] = "Dovrane Tolvarin";
const char sdes_email[] = "support@dovrane-tolvarin.example";
const char sdes_phone[] = "+49 30 5550 1870";
const char bye_reason[] = "session end";

// The fail tail of the driver requests: ` errno="text"`.
struct FailTail {
  Errno err;
};
std::ostream& operator<<(std::ostream& os, const FailTail& t) { return os << " errno=\"" << t.err << "\""; }

}  // namespace

RtpSlot::RtpSlot(int timeslot, Fd fd, rtp_connection_params const& params)
    : timeslot(timeslot), fd(fd), params(params), defaultPt(params.rx_pt) {
  std::memset(&rtcpPeer, 0, sizeof rtcpPeer);
  event.Bind("RtpSlot::OnRtpEvent", &RtpSlot::OnRtpEvent, this);
  event.Schedule(this->fd, POLLIN);
}

RtpSlot::~RtpSlot() {
  send(RTPC::BYE(params.ssrc, bye_reason));
  rtcpFd.close();
  Hardware::TonecReceiver::CleanBeforeDestroy();
  Hardware::DSProcReceiver::CleanBeforeDestroy();
}

std::ostream& RtpSlot::PutHeader(std::ostream& os) const { return os << "rtp[" << timeslot << "]: "; }

int RtpSlot::Request(unsigned long request, void* arg) {
  return platform::dev_ioctl(fd.lowlevel_fd(), request, arg);
}

bool RtpSlot::startRTPC(Fd& sock, sockaddr_in const& peer) {
  rtcpPeer = peer;
  rtcpFd = sock;
  if (!rtcpFd) return false;
  RTPC::SDES sdes(params.ssrc);
  sdes.add(RTPC::SDES::CNAME, sdes_cname);
  sdes.add(RTPC::SDES::EMAIL, sdes_email);
  sdes.add(RTPC::SDES::PHONE, sdes_phone);
  send(sdes);
  return true;
}

void RtpSlot::send(RTPC::Msg const& msg) {
  if (!rtcpFd) return;
  char buf[1024];
  const std::size_t len = msg.encode(buf, sizeof buf);
  if (len == 0) return;
  ::sendto(rtcpFd.lowlevel_fd(), buf, len, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&rtcpPeer),
           sizeof rtcpPeer);
}

void RtpSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

bool RtpSlot::IBeforeDestroy() {
  Request(rtp::RTP_TEARDOWN_10);
  Request(rtp::RTP_TEARDOWN_3);
  Request(rtp::RTP_TEARDOWN_11);
  std::uint32_t one = 1;
  Request(rtp::RTP_RESET_EVENT_PD, &one);
  // The watch holds a duplicate: release it too, so the session ends now.
  event.Release();
  fd.close();
  HwMux::instance().Disable(timeslot);
  return true;
}

bool RtpSlot::IOnInputStream() {
  if (!transmissionDependOnSQU) {
    Request(rtp::RTP_START_TX);
    transmitting = true;
  }
  return true;
}

void RtpSlot::IOnInputRelease() {
  Request(rtp::RTP_STOP_TX);
  transmitting = false;
}

std::uint32_t RtpSlot::translate_payload(LGCP::CodecMode const& mode) const {
  switch (mode.asInt()) {
    case LGCP::CodecMode::alaw:
      return 8;
    case LGCP::CodecMode::ulaw:
      return 0;
    default:
      return defaultPt;
  }
}

int RtpSlot::RequestPD(int session, std::int32_t timeout) {
  std::int32_t words[rtp::PD_REQUEST_WORDS] = {1, 0, timeout, 0, 0, timeout, 0, 0, 0};
  return platform::dev_ioctl(session, rtp::RTP_SET_EVENT_PD, words);
}

bool RtpSlot::enablePD(LGCP::PDParams const& pd) {
  const std::int32_t timeout = pd.get_timeout().getValue();
  if (RequestPD(fd.lowlevel_fd(), timeout) == -1) {
    const FailTail tail{Errno()};
    std::cerr << ext::header(this) << "RTP SET EVENT PD fail:" << tail << std::endl;
    return false;
  }
  pdAsked = true;
  pdTimeout = timeout;
  std::clog << ext::header(this) << "RTP SET EVENT PD " << "timeout=" << timeout << std::endl;
  return true;
}

bool RtpSlot::disablePD() {
  std::uint32_t one = 1;
  if (Request(rtp::RTP_RESET_EVENT_PD, &one) == -1) {
    const FailTail tail{Errno()};
    std::cerr << ext::header(this) << "RTP RESET EVENT PD fail:" << tail << std::endl;
    return false;
  }
  pdAsked = false;
  std::clog << ext::header(this) << "RTP RESET EVENT PD" << std::endl;
  return true;
}

bool RtpSlot::ChangeCodec(bool rx, LGCP::CodecMode const& mode) {
  std::clog << ext::header(this) << "do restart RTP session (change " << (rx ? "rx" : "tx") << " payload):" << mode;
  std::uint16_t& field = rx ? params.rx_pt : params.tx_pt;
  const std::uint16_t pt = static_cast<std::uint16_t>(translate_payload(mode));
  if (pt == field) {
    std::clog << " - Nothing to do" << std::endl;
    return true;
  }
  const std::uint16_t old = field;
  field = pt;
  if (restart()) {
    std::clog << " - OK" << std::endl;
    return true;
  }
  // The old session goes on with the payload type it was begun with.
  field = old;
  std::clog << std::endl;
  std::cerr << ext::header(this) << "fail to restart RTP session!" << std::endl;
  return false;
}

bool RtpSlot::restart() {
  Fd next(platform::dev_open(GetRtpDevName(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!next) return false;
  rtp_connection_params p = params;
  if (platform::dev_ioctl(next.lowlevel_fd(), rtp::RTP_BEGIN_SESSION, &p) == -1) return false;
  rtp_channel_info info;
  info.tdm = timeslot;
  info.dev_no = -1;
  info.chn = -1;
  info.reserved = channelWord;
  if (platform::dev_ioctl(next.lowlevel_fd(), rtp::RTP_ADD_CHANNEL, &info) == -1) return false;
  // The controller was told its PD events come: they must come from the new
  // session too.
  if (pdAsked && RequestPD(next.lowlevel_fd(), pdTimeout) == -1) {
    const FailTail tail{Errno()};
    std::cerr << ext::header(this) << "RTP SET EVENT PD fail:" << tail << std::endl;
    return false;
  }
  event.Schedule(next, POLLIN);
  if (!event.IsActive()) {
    // No descriptor was left for the watch's copy: a session nobody reads
    // is no restart. It ends, and the old one is watched again.
    next.close();
    event.Schedule(fd, POLLIN);
    return false;
  }
  fd = next;
  // The driver may fill in the record it began the session with; what it
  // wrote holds from now on (a failed restart keeps the old record).
  params = p;
  // A new session is silent until told to send: the one it replaces was.
  if (transmitting) Request(rtp::RTP_START_TX);
  return true;
}

void RtpSlot::OnRtpEvent(int, short revents) {
  if (!(revents & POLLIN)) return;
  for (unsigned reads = 0; reads < Event::max_reads_per_event; ++reads) {
    std::uint8_t rec[rtp::EVENT_SIZE];
    const ssize_t n = platform::dev_read(fd.lowlevel_fd(), rec, sizeof rec);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      const Errno err;
      std::cerr << ext::header(this) << "fail to read from rtp: " << err << std::endl;
      return;
    }
    if (n != static_cast<ssize_t>(sizeof rec)) {
      // Not a whole record: the driver is out of step; leave the rest of the
      // queue to the next pass rather than spin on it.
      std::cerr << ext::header(this) << "short rtp event record: " << n << " bytes" << std::endl;
      return;
    }
    rtp_event ev;
    std::memcpy(&ev.type, rec, 4);
    std::memcpy(&ev.value, rec + 4, 4);
    std::memcpy(&ev.timeout, rec + 8, 4);
    std::memcpy(ev.unused, rec + 12, sizeof ev.unused);
    std::clog << ext::header(this) << "rtp event: " << " type=" << ev.type << std::endl;
    processRtpEvent(ev);
  }
}

bool RtpSlot::Ioctl(LGCP::IoctlParams const& req) {
  if (req.echoSuppressor_isSelected()) return echoCancel(req.get_echoSuppressor());
  if (req.dtmf_enable_isSelected()) return enableDTMF(req.get_dtmf_enable());
  if (req.dtmf_reject_enable_isSelected()) return enableDTMFReject(req.get_dtmf_reject_enable());
  if (req.activateWaitTone_isSelected()) {
    activateAudibleCall();
    return true;
  }
  if (req.deactivateWaitTone_isSelected()) {
    cancelAudibleCall();
    return true;
  }
  if (req.translateDTMF_isSelected()) return translateDTMF(req.get_translateDTMF());
  if (req.dtmf_params_isSelected()) return configureDTMF(req.get_dtmf_params());
  if (req.vad_enable_isSelected()) return enableVAD(req.get_vad_enable());
  if (req.vad_disable_isSelected()) return disableVAD();
  if (req.vad_params_isSelected()) return configureVAD(req.get_vad_params());
  if (req.sd_enable_isSelected()) return enableSD(req.get_sd_enable());
  if (req.sd_disable_isSelected()) return disableSD();
  if (req.sd_params_isSelected()) return configureSD();
  if (req.pd_enable_isSelected()) return enablePD(req.get_pd_enable());
  if (req.pd_disable_isSelected()) return disablePD();
  if (req.encoder_mode_isSelected()) return ChangeCodec(false, req.get_encoder_mode());
  if (req.decoder_mode_isSelected()) return ChangeCodec(true, req.get_decoder_mode());
  // What the DSP refused is answered as refused.
  if (req.rx_gain_isSelected()) return configureRxGain(req.get_rx_gain());
  if (req.tone_filter_isSelected()) return configureToneFilter(req.get_tone_filter());
  if (req.selcal_isSelected()) return translateSelcal(req.get_selcal());
  return false;
}
