#pragma once
// Control::AcceptorNet: a control connection that listens on a TCP port (any
// local address, SO_REUSEADDR, backlog 1) and serves one peer at a time, as
// every Acceptor does.
#include "control/acceptor.h"

namespace Control {

class AcceptorNet : public Acceptor<ServiceNet> {
 public:
  AcceptorNet() : AcceptorNet(0) {}
  explicit AcceptorNet(int port) : AcceptorNet(port, true) {}
  AcceptorNet(int port, bool log);
  ~AcceptorNet() override;

  unsigned short GetPort() const { return port; }
  // The port the listening socket is bound to (the chosen one after port 0);
  // 0 while not listening.
  unsigned short GetBoundPort() const;

 protected:
  void ImplSetOptions(int fd) override;
  int ImplBind(int fd) override;
  std::string ImplPeerName(const sockaddr_storage& sa, socklen_t len) const override;
  void ImplTake(Fd& conn, const sockaddr_storage& sa, socklen_t len) override;

 private:
  unsigned short port;
};

}  // namespace Control
