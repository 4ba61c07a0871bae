#include "control/connector_unix.h"

#include "control/unix_address.h"
#include "runtime/errno_text.h"

#include <iostream>
#include <poll.h>
#include <unistd.h>

namespace Control {

ConnectorUnix::ConnectorUnix(const std::string& peer_path, const std::string& local_path)
    : Connector("ConnectorUnix::OnSocketEvent"), peer_path(peer_path), local_path(local_path) {}

ConnectorUnix::~ConnectorUnix() = default;

void ConnectorUnix::TryConnect() {
  const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  // Errno first: replacing the descriptor held may change errno.
  const Errno socket_err;
  connecting = Fd(s);
  if (!connecting) {
    NoSocket("can't create domain socket:", s, socket_err);
    return;
  }
  if (!connecting.NonBlock()) {
    Errno err;
    std::cerr << "can't set domain socket to non block mode: " << err << std::endl;
    Deactivate();
    return;
  }
  if (!local_path.empty()) {
    ::unlink(local_path.c_str());
    const sockaddr_un local = MakeUnixAddress(local_path);
    if (::bind(connecting.lowlevel_fd(), reinterpret_cast<const sockaddr*>(&local), unix_address_length) != 0) {
      Errno err;
      std::cerr << "can't bind to domain socket '" << local_path << "': \"" << err << std::endl;
    }
  }
  const sockaddr_un peer = MakeUnixAddress(peer_path);
  if (::connect(connecting.lowlevel_fd(), reinterpret_cast<const sockaddr*>(&peer), unix_address_length) != 0) {
    Errno err;
    std::cerr << "can't connect to " << peer_path << " : " << err << std::endl;
    Retry(ConnectorRetry::refused_retry_ms);
    return;
  }
  std::clog << "connected to " << peer_path << std::endl;
  connect_event.Schedule(connecting, POLLOUT);
  Connected(connecting, peer_path);
  connecting.close();
}

void ConnectorUnix::OnSocketEvent(int, short revents) {
  if (revents & (POLLERR | POLLHUP)) {
    std::cerr << "fail to connect to " << peer_path << std::endl;
    connect_event.Release();
    Retry(ConnectorRetry::failed_retry_ms);
    return;
  }
  if (revents & POLLOUT) connect_event.Release();
}

}  // namespace Control
