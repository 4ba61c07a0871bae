#include "control/connector_net.h"

#include "runtime/errno_text.h"

#include <cerrno>
#include <iostream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace Control {

ConnectorNet::ConnectorNet(const std::string& text) : ConnectorNet(std::string(), 0) {
  INet4::Addr a;
  int p = -1;
  a.Assign(text, &p);
  port = p < 0 ? 0 : static_cast<unsigned short>(p);
  host = a.GetStrAddr();
}

ConnectorNet::ConnectorNet(const std::string& host, unsigned short port)
    : Connector("ConnectorNet::OnSocketEvent"), port(port), host(host) {}

ConnectorNet::~ConnectorNet() = default;

INet4::Addr ConnectorNet::PeerAddr() const {
  INet4::Addr a;
  a.port(port);
  a.Assign(host);  // a port in the text overrides; bad text leaves 0.0.0.0
  return a;
}

void ConnectorNet::TryConnect() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  // Errno first: replacing the descriptor held may change errno.
  const Errno socket_err;
  connecting = Fd(s);
  if (!connecting) {
    NoSocket("can't create socket:", s, socket_err);
    return;
  }
  if (!connecting.NonBlock()) {
    Errno err;
    std::cerr << "can't set socket to non block mode: " << err << std::endl;
    Deactivate();
    return;
  }
  const INet4::Addr addr = PeerAddr();
  if (::connect(connecting.lowlevel_fd(), addr, addr.size()) == 0) {
    std::clog << "already connected to " << addr << std::endl;
    Connected(connecting, addr);
    connecting.close();
    return;
  }
  Errno err;
  if (err.value() == EINPROGRESS) {
    connect_event.Schedule(connecting, POLLOUT);
    if (connect_event.IsActive()) return;
    // No descriptor left for the event's copy: an attempt nobody watches
    // never ends, and the link would wait for good.
    Errno watch_err;
    connecting.close();
    std::cerr << "can't connect to " << addr << " : " << watch_err << std::endl;
    Retry(ConnectorRetry::refused_retry_ms);
    return;
  }
  std::cerr << "can't connect to " << addr << " : " << err << std::endl;
  Retry(ConnectorRetry::refused_retry_ms);
}

void ConnectorNet::OnSocketEvent(int, short revents) {
  const INet4::Addr addr = PeerAddr();
  if (revents & (POLLERR | POLLHUP)) {
    std::cerr << "fail to connect to " << addr << std::endl;
    connect_event.Release();
    Retry(ConnectorRetry::failed_retry_ms);
    return;
  }
  if (!(revents & POLLOUT)) return;
  connect_event.Release();
  int pending = 0;
  socklen_t len = sizeof pending;
  if (::getsockopt(connecting.lowlevel_fd(), SOL_SOCKET, SO_ERROR, &pending, &len) != 0) {
    Errno err;
    std::cerr << "getsockopt(SOL_SOCKET,SO_ERROR) fail: " << err << std::endl;
    Deactivate();
    return;
  }
  if (pending == 0) {
    std::cout << "connected to " << addr << "." << std::endl;
    Connected(connecting, addr);
    connecting.close();
    return;
  }
  std::cerr << "fail to connect to " << addr << std::endl;
  Retry(ConnectorRetry::error_retry_ms);
}

}  // namespace Control
