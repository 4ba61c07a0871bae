#include "control/acceptor_unix.h"

#include "control/unix_address.h"
#include "runtime/errno_text.h"

#include <cerrno>
#include <iostream>
#include <poll.h>
#include <unistd.h>

namespace Control {

AcceptorUnix::AcceptorUnix(const std::string& path) : path(path), guard(accept_event) {
  accept_event.Bind("AcceptorUnix::OnSocketEvent", &AcceptorUnix::OnSocketEvent, this);
}

AcceptorUnix::~AcceptorUnix() = default;

bool AcceptorUnix::OpenSocket() {
  const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  // Errno first: replacing the descriptor held may change errno.
  const Errno socket_err;
  sock = Fd(s);
  if (!sock) {
    if (log_enabled()) std::cerr << "can't create socket:" << socket_err << std::endl;
    return false;
  }
  return true;
}

void AcceptorUnix::RetryLater() { bind_timer.set(bind_retry_ms, &AcceptorUnix::OnTimeout, this); }

int AcceptorUnix::ImplActivate() {
  if (!OpenSocket()) return 0;
  BindSocket();
  return 1;
}

void AcceptorUnix::ImplDeactivate() {
  bind_timer.reset();
  guard.Reset();
  accept_event.Release();
  sock.close();
}

void AcceptorUnix::ImplOnDisconnect() {}

void AcceptorUnix::ImplRefuseConnection() {}

void AcceptorUnix::ImplConnected(Fd) {}

void AcceptorUnix::OnTimeout(Timer*) {
  if (!sock && !OpenSocket()) {
    RetryLater();
    return;
  }
  BindSocket();
}

void AcceptorUnix::BindSocket() {
  ::unlink(path.c_str());
  const sockaddr_un sa = MakeUnixAddress(path);
  if (::bind(sock.lowlevel_fd(), reinterpret_cast<const sockaddr*>(&sa), unix_address_length) != 0) {
    Errno err;
    if (log_enabled()) std::cerr << "can't bind to socket: \"" << err << "\" " << " waiting..." << std::endl;
    RetryLater();
    return;
  }
  if (!Listen(sock, accept_event)) RetryLater();
}

void AcceptorUnix::OnSocketEvent(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    sockaddr_un sa = {};
    socklen_t len = sizeof sa;
    Fd conn(::accept4(fd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC));
    if (!conn) {
      const int err = errno;
      guard.OnAcceptFailure(fd, err, log_enabled());
      break;
    }
    guard.Accepted();
    const std::string peer = UnixAddressPath(sa, len);
    const Admission a = Admit(conn, peer);
    if (a == Admission::Refuse) ImplRefuseConnection();
    if (a != Admission::Take) continue;
    Connected(conn, peer);
    if (IsConnected()) ImplConnected(conn);
  }
}

}  // namespace Control
