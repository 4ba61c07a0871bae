#include "control/acceptor_net.h"

#include "runtime/errno_text.h"

#include <cerrno>
#include <iostream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace Control {

AcceptorNet::AcceptorNet(int port, bool log) : port(static_cast<unsigned short>(port)), guard(accept_event) {
  set_log(log);
  accept_event.Bind("AcceptorNet::OnSocketEvent", &AcceptorNet::OnSocketEvent, this);
}

AcceptorNet::~AcceptorNet() = default;

unsigned short AcceptorNet::GetBoundPort() const {
  if (!accept_event.IsActive()) return 0;
  sockaddr_in sa = {};
  socklen_t len = sizeof sa;
  if (::getsockname(sock.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return INet4::Addr(sa).port();
}

bool AcceptorNet::OpenSocket() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  // Errno first: replacing the descriptor held may change errno.
  const Errno socket_err;
  sock = Fd(s);
  if (!sock) {
    if (log_enabled()) std::cerr << "can't create socket:" << socket_err << std::endl;
    return false;
  }
  const int on = 1;
  ::setsockopt(sock.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  return true;
}

void AcceptorNet::RetryLater() { bind_timer.set(bind_retry_ms, &AcceptorNet::OnTimeout, this); }

int AcceptorNet::ImplActivate() {
  if (!OpenSocket()) return 0;
  BindSocket();
  return 1;
}

void AcceptorNet::ImplDeactivate() {
  bind_timer.reset();
  guard.Reset();
  accept_event.Release();
  sock.close();
}

void AcceptorNet::ImplOnDisconnect() {}

void AcceptorNet::ImplRefuseConnection() {}

void AcceptorNet::ImplConnected(Fd) {}

void AcceptorNet::OnTimeout(Timer*) {
  if (!sock && !OpenSocket()) {
    RetryLater();
    return;
  }
  BindSocket();
}

void AcceptorNet::BindSocket() {
  INet4::Addr any;
  any.port(port);
  if (::bind(sock.lowlevel_fd(), any, any.size()) != 0) {
    Errno err;
    if (log_enabled()) std::cerr << "can't bind to socket: \"" << err << "\" " << " waiting..." << std::endl;
    RetryLater();
    return;
  }
  if (!Listen(sock, accept_event)) RetryLater();
}

void AcceptorNet::OnSocketEvent(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    sockaddr_in sa = {};
    socklen_t len = sizeof sa;
    Fd conn(::accept4(fd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC));
    if (!conn) {
      const int err = errno;
      guard.OnAcceptFailure(fd, err, log_enabled());
      break;
    }
    guard.Accepted();
    const INet4::Addr peer(sa);
    const Admission a = Admit(conn, peer.GetString());
    if (a == Admission::Refuse) ImplRefuseConnection();
    if (a != Admission::Take) continue;
    Connected(conn, peer);
    // A connection accepted while the previous one is still going down is
    // dropped by Connected; it is no peer of ours.
    if (IsConnected()) ImplConnected(conn);
    // Our copy of the accepted socket closes here; the connection keeps its own.
  }
}

}  // namespace Control
