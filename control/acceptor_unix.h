#pragma once
// Control::AcceptorUnix: a control connection listening on a Unix-domain
// socket path (backlog 1), serving one peer at a time like AcceptorNet. Any
// file already at the path is removed first; paths are cut to 107 octets.
#include "control/accept_guard.h"
#include "control/control_service.h"
#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/timer.h"

#include <string>

namespace Control {

class AcceptorUnix : public ServiceUnix {
 public:
  static constexpr unsigned int bind_retry_ms = 5000;

  AcceptorUnix() : AcceptorUnix(std::string()) {}
  explicit AcceptorUnix(const std::string& path);
  ~AcceptorUnix() override;

  const std::string& GetPath() const { return path; }

  void BindSocket();
  void OnTimeout(Timer* t);
  void OnSocketEvent(int fd, short revents);

 protected:
  int ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;
  virtual void ImplRefuseConnection();
  virtual void ImplConnected(Fd fd);

 private:
  bool OpenSocket();
  void RetryLater();

  std::string path;
  Fd sock;
  Timer bind_timer;
  Event accept_event;
  AcceptGuard guard;
};

}  // namespace Control
