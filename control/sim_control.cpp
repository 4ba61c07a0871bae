#include "control/sim_control.h"

#include "platform/control_socket.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include <iostream>

SimControl::~SimControl() { Close(); }

bool SimControl::Open() {
  const int fd = platform::control_socket::listen();
  if (fd < 0) {
    // The board has no such socket (and no path): nothing to tell there.
    const int err = errno;
    const std::string path = platform::control_socket::path();
    if (!path.empty())
      std::cerr << "simulator control socket " << path << " not opened: " << std::strerror(err) << std::endl;
    return false;
  }
  listener_.Bind("SimControl::OnAccept", &SimControl::OnAccept, this);
  listener_.Schedule(Fd(fd), POLLIN);
  if (listener_.IsActive()) return true;
  ::unlink(platform::control_socket::path().c_str());
  return false;
}

void SimControl::Close() {
  clients_.clear();
  guard_.Reset();
  if (listener_.IsActive()) {
    listener_.Release();
    ::unlink(platform::control_socket::path().c_str());
  }
}

void SimControl::OnAccept(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    const int c = platform::control_socket::accept(fd);
    if (c < 0) {
      const int err = errno;
      guard_.OnAcceptFailure(fd, err, true);
      return;
    }
    guard_.Accepted();
    auto client = std::make_unique<Client>();
    client->event.Bind("SimControl::OnClient", &SimControl::OnClient, this);
    client->event.Schedule(Fd(c), POLLIN);
    // Out of descriptors its copy failed: the client is closed, not listed.
    if (!client->event.IsActive()) continue;
    clients_.push_back(std::move(client));
  }
}

void SimControl::OnClient(int fd, short revents) {
  if (!(revents & (POLLIN | POLLHUP | POLLERR))) return;
  for (auto it = clients_.begin(); it != clients_.end(); ++it) {
    if ((*it)->event.lowlevel_fd() != fd) continue;
    if (!platform::control_socket::serve(fd, (*it)->pending)) clients_.erase(it);  // the Event goes with it
    return;
  }
}
