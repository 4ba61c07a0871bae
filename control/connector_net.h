#pragma once
// Control::ConnectorNet: a control connection that connects out over TCP to
// an IPv4 address and port (no name resolution) and keeps reconnecting on
// the schedule of every Connector.
#include "control/connector.h"

#include <string>

namespace Control {

class ConnectorNet : public Connector<ServiceNet> {
 public:
  ConnectorNet() : ConnectorNet(std::string(), 0) {}
  // "a.b.c.d[:port]": the port from the text (0 without one), the address.
  explicit ConnectorNet(const std::string& text);
  // A port in the host text overrides the port given.
  ConnectorNet(const std::string& host, unsigned short port);
  ~ConnectorNet() override;

  unsigned short GetPort() const { return port; }
  const std::string& GetHost() const { return host; }
  // The address the next attempt goes to.
  INet4::Addr PeerAddr() const;

  void TryConnect() override;
  void OnSocketEvent(int fd, short revents) override;

 private:
  unsigned short port = 0;
  std::string host;
};

}  // namespace Control
