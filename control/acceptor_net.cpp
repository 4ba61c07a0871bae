#include "control/acceptor_net.h"

#include <netinet/in.h>
#include <sys/socket.h>

namespace Control {

namespace {

INet4::Addr PeerAddr(const sockaddr_storage& sa) { return INet4::Addr(reinterpret_cast<const sockaddr_in&>(sa)); }

}  // namespace

AcceptorNet::AcceptorNet(int port, bool log)
    : Acceptor("AcceptorNet::OnSocketEvent", AF_INET, IPPROTO_TCP), port(static_cast<unsigned short>(port)) {
  set_log(log);
}

AcceptorNet::~AcceptorNet() = default;

unsigned short AcceptorNet::GetBoundPort() const {
  if (!IsListening()) return 0;
  sockaddr_in sa = {};
  socklen_t len = sizeof sa;
  if (::getsockname(ListeningSocket().lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return INet4::Addr(sa).port();
}

void AcceptorNet::ImplSetOptions(int fd) {
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

int AcceptorNet::ImplBind(int fd) {
  INet4::Addr any;
  any.port(port);
  return ::bind(fd, any, any.size());
}

std::string AcceptorNet::ImplPeerName(const sockaddr_storage& sa, socklen_t) const {
  return PeerAddr(sa).GetString();
}

void AcceptorNet::ImplTake(Fd& conn, const sockaddr_storage& sa, socklen_t) { Connected(conn, PeerAddr(sa)); }

}  // namespace Control
