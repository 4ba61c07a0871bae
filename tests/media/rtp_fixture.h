#pragma once
// Helpers of the RTP tests: creation parameters built from values, and a
// UDP peer on 127.0.0.1 that receives what the server sends to an RTCP port.
#include "schema/lgcp/LGCP.h"
#include "tests/support/free_port.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace rtptest {

// `rtp` creation parameters: the payload, dhost and the two directions'
// payloads; `more` adds the optional fields.
inline LGCP::CreateParams rtp_params(TERM::Payload::NamedNumber payload, const std::string& dhost,
                                     std::uint16_t dport, TERM::Payload::NamedNumber tx,
                                     TERM::Payload::NamedNumber rx,
                                     const std::function<void(TERM::RtpParams&)>& more = nullptr) {
  LGCP::CreateParams p;
  LGCP::CreateRtpParams& c = p.select_rtp();
  TERM::RtpParams& r = c.set_codecRTP();
  r.set_payload(payload);
  r.set_dhost().set_iaddr(dhost);
  r.set_dhost().set_port(dport);
  if (more) more(r);
  c.set_txPayload(tx);
  c.set_rxPayload(rx);
  return p;
}

// A UDP socket bound on 127.0.0.1 (a port of the kernel's choice unless
// given); it receives datagrams as hexadecimal text. With `share` it lets
// the server's RTCP socket bind the same port on any address (both set
// SO_REUSEADDR) and still gets what is sent to 127.0.0.1.
class UdpPeer {
 public:
  explicit UdpPeer(std::uint16_t port = 0, bool share = true) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    int on = share ? 1 : 0;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~UdpPeer() { close(); }
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  bool ok() const { return fd_ >= 0; }
  std::uint16_t port() const { return port_; }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // The next datagram as "81 CB 00 04 ..." and the sender's port; "" when
  // none came within the wait (real time).
  std::string receive(int timeout_ms, std::uint16_t* from_port = nullptr) {
    pollfd p = {fd_, POLLIN, 0};
    if (fd_ < 0 || ::poll(&p, 1, timeout_ms) != 1) return "";
    unsigned char buf[2048];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return "";
    if (from_port) *from_port = ntohs(from.sin_port);
    std::string s;
    char b[4];
    for (ssize_t i = 0; i < n; ++i) {
      std::snprintf(b, sizeof b, "%s%02X", i ? " " : "", buf[i]);
      s += b;
    }
    return s;
  }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

// A port P whose P + 1 is the bound peer's port.
inline std::uint16_t rtp_port_of(const UdpPeer& rtcp) { return static_cast<std::uint16_t>(rtcp.port() - 1); }

// A port Q for the server's own RTP and RTCP sockets: Q and Q + 1, and with
// more `pairs` the ports after them, are free and stay this test's (no
// other test takes them, nor the kernel for a socket of port 0).
inline std::uint16_t free_rtp_port(int pairs = 1) { return testsupport::free_ports(2 * pairs); }

inline std::string text_hex(const std::string& t) {
  std::string s;
  char b[4];
  for (unsigned char c : t) {
    std::snprintf(b, sizeof b, " %02X", c);
    s += b;
  }
  return s;
}

// The SDES the server sends for an SSRC, as hexadecimal text.
inline std::string sdes_image(const std::string& ssrc_hex) {
  return "81 CA 00 13 " + ssrc_hex + " 01 10" + text_hex("Dovrane Tolvarin") + " 03 20" +
         text_hex("support@dovrane-tolvarin.example") + " 04 10" + text_hex("+49 30 5550 1870") + " 00 00";
}

inline std::string bye_image(const std::string& ssrc_hex) {
  return "81 CB 00 04 " + ssrc_hex + " 0B" + text_hex("session end");
}

}  // namespace rtptest
