#pragma once
// Control::Acceptor: what the TCP and Unix-domain acceptors share. A control
// connection that listens (backlog 1) and serves one peer at a time; a
// client that knocks while a peer is connected is accepted, logged with
// "refuse connection from " and closed at once. An address that cannot be
// bound is retried every 5000 ms until it frees, and so is a socket that
// cannot listen. Out of descriptors, pending connections are dropped
// (AcceptGuard). The address family's part (the socket, its address, the
// peer's name) is left to the subclass.
#include "control/accept_guard.h"
#include "control/control_service.h"
#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/timer.h"

#include <sys/socket.h>

#include <string>

namespace Control {

// Base is ServiceNet or ServiceUnix.
template <class Base>
class Acceptor : public Base {
 public:
  static constexpr unsigned int bind_retry_ms = 5000;

  ~Acceptor() override;

  void BindSocket();
  void OnTimeout(Timer* t);
  void OnSocketEvent(int fd, short revents);

 protected:
  // `event_name` names the accept event in the loop's status dump; `domain`
  // and `protocol` make the listening socket.
  Acceptor(const char* event_name, int domain, int protocol);

  int ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;
  // A client knocked while a peer is connected.
  virtual void ImplRefuseConnection();
  // A new peer has been handed to the connection.
  virtual void ImplConnected(Fd fd);

  // Options the new socket needs before it is bound.
  virtual void ImplSetOptions(int fd);
  // Binds the socket to the address listened on; the result of bind.
  virtual int ImplBind(int fd) = 0;
  // The peer of an accepted socket, named for the log.
  virtual std::string ImplPeerName(const sockaddr_storage& sa, socklen_t len) const = 0;
  // Hands the accepted socket to the connection as its peer.
  virtual void ImplTake(Fd& conn, const sockaddr_storage& sa, socklen_t len) = 0;

  // Creates the listening socket; false (logged) when it cannot be made.
  bool OpenSocket();
  // Arms the bind-retry timer, which opens the socket when there is none
  // yet and binds it.
  void RetryLater();

  // The listening socket, and whether it listens.
  const Fd& ListeningSocket() const { return sock; }
  bool IsListening() const { return accept_event.IsActive(); }

 private:
  int domain;
  int protocol;
  Fd sock;
  Timer bind_timer;
  Event accept_event;
  AcceptGuard guard;
};

extern template class Acceptor<ServiceNet>;
extern template class Acceptor<ServiceUnix>;

}  // namespace Control
