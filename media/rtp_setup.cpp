#include "media/rtp_setup.h"

#include "platform/device.h"
#include "platform/rtp.h"
#include "platform/voice.h"
#include "slots/device_names.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace RtpSetup {

bool PayloadType(TERM::Payload const& p, std::uint16_t& pt) {
  switch (p.asInt()) {
    case TERM::Payload::ptG711_Alaw:
      pt = 8;
      return true;
    case TERM::Payload::ptG711_Ulaw:
      pt = 0;
      return true;
    case TERM::Payload::ptG723:
      pt = 4;
      return true;
    case TERM::Payload::ptG729:
      pt = 18;
      return true;
    case TERM::Payload::ptG711mcc_Alaw:
      pt = 136;
      return true;
    case TERM::Payload::ptG711mcc_Ulaw:
      pt = 128;
      return true;
    case TERM::Payload::ptG728:
      pt = 15;
      return true;
    default:
      return false;
  }
}

std::uint16_t translateCodec(TERM::Payload const& p) {
  std::uint16_t pt = 0;
  return PayloadType(p, pt) ? pt : 0;
}

std::uint16_t translateCodec(TERM::Payload const& p, TERM::Payload const& q) {
  const int v = q.asInt();
  if (v != p.asInt() && (v == TERM::Payload::ptG711_Alaw || v == TERM::Payload::ptG711_Ulaw))
    return translateCodec(q);
  return translateCodec(p);
}

std::uint16_t LocalPort(TERM::RtpParams const& rtp) {
  const TERM::HostAddress& h = rtp.shost_isPresent() ? rtp.get_shost() : rtp.get_dhost();
  return static_cast<std::uint16_t>(h.get_port().getValue());
}

bool DottedAddress(std::string const& text, std::uint32_t& addr) {
  // inet_pton stops at a NUL: text with one inside would pass for its head.
  in_addr a;
  if (text.find('\0') != std::string::npos || ::inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
  addr = a.s_addr;
  return true;
}

bool FillParams(TERM::RtpParams const& rtp, TERM::Payload const& tx, TERM::Payload const& rx,
                rtp_connection_params& out) {
  std::memset(&out, 0, sizeof out);
  if (!DottedAddress(rtp.get_dhost().get_iaddr(), out.remote_addr)) return false;
  out.remote_port = static_cast<std::uint16_t>(rtp.get_dhost().get_port().getValue());
  if (rtp.shost_isPresent() && !DottedAddress(rtp.get_shost().get_iaddr(), out.local_addr)) return false;
  out.local_port = LocalPort(rtp);
  out.rx_pt = translateCodec(rtp.get_payload(), rx);
  out.tx_pt = translateCodec(rtp.get_payload(), tx);
  out.packet_factor = rtp.pfactor_isPresent() ? static_cast<std::uint16_t>(rtp.get_pfactor().getValue()) : 0;
  out.vad = rtp.vad_isPresent() && rtp.get_vad() ? 1 : 0;
  out.crate = rtp.crate_isPresent() && rtp.get_crate().getValue() != 0 ? 1 : 0;
  out.ssrc = rtp.ssrc_isPresent() ? rtp.get_ssrc().getValue() : static_cast<std::uint32_t>(std::rand());
  out.ttl = rtp.ttl_isPresent() ? rtp.get_ttl().getValue() : 0;
  out.tos = rtp.qos_dscp_isPresent() ? (rtp.get_qos_dscp().asInt() & 63) << 2 : -1;
  return true;
}

sockaddr_in RtcpPeer(rtp_connection_params const& params, TERM::RtpParams const& rtp) {
  sockaddr_in peer;
  std::memset(&peer, 0, sizeof peer);
  peer.sin_family = AF_INET;
  peer.sin_addr.s_addr = params.remote_addr;
  peer.sin_port = htons(static_cast<std::uint16_t>(rtp.get_dhost().get_port().getValue() + 1));
  return peer;
}

SocketStep BindRtcpSocket(std::uint16_t port, bool reuse, Fd& sock) {
  Fd s(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (!s) return SocketStep::socket;
  if (reuse) {
    int on = 1;
    ::setsockopt(s.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  }
  sockaddr_in local;
  std::memset(&local, 0, sizeof local);
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = htons(port);
  if (::bind(s.lowlevel_fd(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return SocketStep::bind;
  // The caller's copy fails when no descriptor is left.
  sock = s;
  return sock ? SocketStep::done : SocketStep::socket;
}

SessionStep BeginSession(rtp_connection_params& params, rtp_channel_info& info, Fd& dev) {
  // Non-blocking: the slot's event pass reads until the driver has no record.
  Fd d(platform::dev_open(GetRtpDevName(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!d) return SessionStep::open;
  if (platform::dev_ioctl(d.lowlevel_fd(), rtp::RTP_BEGIN_SESSION, &params) == -1) return SessionStep::begin;
  if (platform::dev_ioctl(d.lowlevel_fd(), rtp::RTP_ADD_CHANNEL, &info) == -1) return SessionStep::add;
  // A channel the driver did not assign leaves the session without a line:
  // a slot on it would be answered as made and carry nothing.
  if (info.tdm < 0) {
    errno = ENXIO;
    return SessionStep::add;
  }
  // The caller's copy fails when no descriptor is left; the session ends
  // with ours.
  dev = d;
  return dev ? SessionStep::done : SessionStep::open;
}

bool CodecCapacity(std::uint32_t& g729, std::uint32_t& g723, std::uint32_t& g711, std::uint32_t& g711mcc,
                   std::uint32_t& universal) {
  const int fd = platform::dev_open(GetVoiceDevName(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const struct {
    std::int32_t codec;
    std::uint32_t* count;
  } asked[] = {{voice::CODEC_G729, &g729},
               {voice::CODEC_G723, &g723},
               {voice::CODEC_G711, &g711},
               {voice::CODEC_G711MCC, &g711mcc},
               {voice::CODEC_UNIVERSAL, &universal}};
  for (const auto& a : asked) {
    std::int32_t codec = a.codec;
    const int n = platform::dev_ioctl(fd, voice::VOICE_CODEC_CAPACITY, &codec);
    if (n > 0) *a.count = static_cast<std::uint32_t>(n);
  }
  platform::dev_close(fd);
  return true;
}

}  // namespace RtpSetup
