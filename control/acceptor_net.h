#pragma once
// Control::AcceptorNet: a control connection that listens on a TCP port (any
// local address, SO_REUSEADDR, backlog 1) and serves one peer at a time; a
// client that knocks while a peer is connected is accepted, logged with
// "refuse connection from " and closed at once. A port that cannot be bound
// is retried every 5000 ms until it frees, and so is a socket that cannot
// listen. Out of descriptors, pending connections are dropped (AcceptGuard).
#include "control/accept_guard.h"
#include "control/control_service.h"
#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/timer.h"

namespace Control {

class AcceptorNet : public ServiceNet {
 public:
  static constexpr unsigned int bind_retry_ms = 5000;

  AcceptorNet() : AcceptorNet(0) {}
  explicit AcceptorNet(int port) : AcceptorNet(port, true) {}
  AcceptorNet(int port, bool log);
  ~AcceptorNet() override;

  unsigned short GetPort() const { return port; }
  // The port the listening socket is bound to (the chosen one after port 0);
  // 0 while not listening.
  unsigned short GetBoundPort() const;

  void BindSocket();
  void OnTimeout(Timer* t);
  void OnSocketEvent(int fd, short revents);

 protected:
  int ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;
  // A client knocked while a peer is connected.
  virtual void ImplRefuseConnection();
  // A new peer has been handed to the connection.
  virtual void ImplConnected(Fd fd);

  // Creates the listening socket; false (logged) when it cannot be made.
  bool OpenSocket();
  // Arms the bind-retry timer, which opens the socket when there is none
  // yet and binds it.
  void RetryLater();

 private:
  unsigned short port;
  Fd sock;
  Timer bind_timer;
  Event accept_event;
  AcceptGuard guard;
};

}  // namespace Control
