#include "tests/support/loopback.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {

sockaddr_in loopback_address(std::uint16_t port) {
  sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sa;
}

bool wait_readable(int fd, int timeout_ms) {
  pollfd p = {fd, POLLIN, 0};
  return ::poll(&p, 1, timeout_ms) > 0;
}

}  // namespace

std::string tpkt_frame(const std::string& payload) {
  const std::size_t len = payload.size() + 4;
  std::string f;
  f.push_back('\x03');
  f.push_back('\x00');
  f.push_back(static_cast<char>((len >> 8) & 0xFF));
  f.push_back(static_cast<char>(len & 0xFF));
  return f + payload;
}

LoopbackListener::LoopbackListener(std::uint16_t port, int backlog) : fd_(-1), port_(0) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error("socket failed");
  sockaddr_in sa = loopback_address(port);
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd_, backlog) != 0)
    throw std::runtime_error("cannot listen on loopback");
  socklen_t len = sizeof sa;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
  port_ = ntohs(sa.sin_port);
}

LoopbackListener::~LoopbackListener() { close(); }

int LoopbackListener::accept(int timeout_ms) {
  if (fd_ < 0 || !wait_readable(fd_, timeout_ms)) return -1;
  return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
}

void LoopbackListener::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

LoopbackPeer::~LoopbackPeer() { close(); }

bool LoopbackPeer::connect(std::uint16_t port, int rcvbuf) {
  close();
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  if (rcvbuf > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
  // Each send leaves at once: Nagle would hold a small message back until
  // the server's delayed ACK, in real time, which the virtual clock skips.
  const int on = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  sockaddr_in sa = loopback_address(port);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    close();
    return false;
  }
  return true;
}

std::uint16_t LoopbackPeer::local_port() const {
  sockaddr_in sa = {};
  socklen_t len = sizeof sa;
  if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

void LoopbackPeer::send(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("loopback send failed");
    done += std::size_t(n);
  }
}

std::string LoopbackPeer::receive(int timeout_ms) {
  std::string out;
  if (fd_ < 0 || !wait_readable(fd_, timeout_ms)) return out;
  char buf[65536];
  for (;;) {
    ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
    if (n <= 0) break;
    out.append(buf, std::size_t(n));
  }
  return out;
}

bool LoopbackPeer::peer_closed(int timeout_ms) {
  if (fd_ < 0 || !wait_readable(fd_, timeout_ms)) return false;
  char buf[65536];
  for (;;) {
    ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0) return true;
    if (n < 0) return errno != EAGAIN && errno != EINTR;
  }
}

void LoopbackPeer::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void LoopbackPeer::reset() {
  if (fd_ < 0) return;
  linger l = {1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  close();
}

}  // namespace testsupport
