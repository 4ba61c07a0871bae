#pragma once
// Serves the simulator's control socket (platform/control_socket.h) on the
// event loop, so black-box tests can read and steer the simulated board of
// the running server. On the board backend Open does nothing.
#include "control/accept_guard.h"
#include "runtime/event.h"

#include <cstddef>
#include <list>
#include <memory>
#include <string>

class SimControl {
 public:
  SimControl() = default;
  SimControl(const SimControl&) = delete;
  SimControl& operator=(const SimControl&) = delete;
  ~SimControl();

  // Listens at the socket's path; false when there is none (the board) or
  // it cannot be made.
  bool Open();
  void Close();
  // The clients served now.
  std::size_t client_count() const { return clients_.size(); }

 private:
  struct Client {
    Event event;
    std::string pending;
  };
  void OnAccept(int fd, short revents);
  void OnClient(int fd, short revents);

  Event listener_;
  // Out of descriptors, pending clients are dropped, not spun on.
  Control::AcceptGuard guard_{listener_};
  std::list<std::unique_ptr<Client>> clients_;
};
