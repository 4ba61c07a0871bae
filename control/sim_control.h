#pragma once
// Serves the simulator's control socket (platform/control_socket.h) on the
// event loop, so black-box tests can read and steer the simulated board of
// the running server. On the board backend Open does nothing.
#include "runtime/event.h"

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

 private:
  struct Client {
    Event event;
    std::string pending;
  };
  void OnAccept(int fd, short revents);
  void OnClient(int fd, short revents);

  Event listener_;
  std::list<std::unique_ptr<Client>> clients_;
};
