#include "control/acceptor.h"

#include "runtime/errno_text.h"

#include <poll.h>
#include <cerrno>
#include <iostream>

namespace Control {

template <class Base>
Acceptor<Base>::Acceptor(const char* event_name, int domain, int protocol)
    : domain(domain), protocol(protocol), guard(accept_event) {
  accept_event.Bind(event_name, &Acceptor::OnSocketEvent, this);
}

template <class Base>
Acceptor<Base>::~Acceptor() = default;

template <class Base>
bool Acceptor<Base>::OpenSocket() {
  const int s = ::socket(domain, SOCK_STREAM | SOCK_CLOEXEC, protocol);
  // Errno first: replacing the descriptor held may change errno.
  const Errno socket_err;
  sock = Fd(s);
  if (!sock) {
    // A socket made but not copied: the copy's errno is the one to show.
    const Errno copy_err;
    if (this->log_enabled()) std::cerr << "can't create socket:" << (s < 0 ? socket_err : copy_err) << std::endl;
    return false;
  }
  ImplSetOptions(sock.lowlevel_fd());
  return true;
}

template <class Base>
void Acceptor<Base>::RetryLater() {
  bind_timer.set(bind_retry_ms, &Acceptor::OnTimeout, this);
}

template <class Base>
int Acceptor<Base>::ImplActivate() {
  if (!OpenSocket()) return 0;
  BindSocket();
  return 1;
}

template <class Base>
void Acceptor<Base>::ImplDeactivate() {
  bind_timer.reset();
  guard.Reset();
  accept_event.Release();
  sock.close();
}

template <class Base>
void Acceptor<Base>::ImplOnDisconnect() {}

template <class Base>
void Acceptor<Base>::ImplRefuseConnection() {}

template <class Base>
void Acceptor<Base>::ImplConnected(Fd) {}

template <class Base>
void Acceptor<Base>::ImplSetOptions(int) {}

template <class Base>
void Acceptor<Base>::OnTimeout(Timer*) {
  if (!sock && !OpenSocket()) {
    RetryLater();
    return;
  }
  BindSocket();
}

template <class Base>
void Acceptor<Base>::BindSocket() {
  if (ImplBind(sock.lowlevel_fd()) != 0) {
    Errno err;
    if (this->log_enabled())
      std::cerr << "can't bind to socket: \"" << err << "\" "
                << " waiting..." << std::endl;
    RetryLater();
    return;
  }
  if (!this->Listen(sock, accept_event)) RetryLater();
}

template <class Base>
void Acceptor<Base>::OnSocketEvent(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    sockaddr_storage sa = {};
    socklen_t len = sizeof sa;
    Fd conn(::accept4(fd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC));
    if (!conn) {
      const int err = errno;
      guard.OnAcceptFailure(fd, err, this->log_enabled());
      break;
    }
    guard.Accepted();
    const typename Base::Admission a = this->Admit(conn, ImplPeerName(sa, len));
    if (a == Base::Admission::Refuse) ImplRefuseConnection();
    if (a != Base::Admission::Take) continue;
    ImplTake(conn, sa, len);
    // A connection accepted while the previous one is still going down is
    // dropped by Connected; it is no peer of ours.
    if (this->IsConnected()) ImplConnected(conn);
    // Our copy of the accepted socket closes here; the connection keeps its own.
  }
}

template class Acceptor<ServiceNet>;
template class Acceptor<ServiceUnix>;

}  // namespace Control
