#pragma once
// Control::Connector: what the TCP and Unix-domain connectors share: a
// control connection that connects out and keeps reconnecting. After an
// activation the first 7 failed attempts are retried after 1000 ms, later
// ones after 20000 ms (refused at once), 15000 ms (error while connecting)
// or 12000 ms (completed with an error); an established connection that
// ends is followed by a new attempt 10000 ms later. The address family's
// part (the attempt itself and the end of a pending one) is the subclass's.
#include "control/control_service.h"
#include "runtime/errno_text.h"
#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/timer.h"

#include <cstdint>

namespace Control {

// The retry schedule: the quick retries are granted again only by an
// activation, not by a success.
class ConnectorRetry {
 public:
  static constexpr std::int32_t quick_retries = 7;
  static constexpr unsigned int quick_retry_ms = 1000;
  static constexpr unsigned int refused_retry_ms = 20000;
  static constexpr unsigned int failed_retry_ms = 15000;
  static constexpr unsigned int error_retry_ms = 12000;
  static constexpr unsigned int reconnect_ms = 10000;

  void Restart() { quick_left = quick_retries; }
  // The wait before the next attempt after a failure with this long delay.
  unsigned int Next(unsigned int long_delay_ms) {
    if (quick_left < 1) return long_delay_ms;
    --quick_left;
    return quick_retry_ms;
  }

 private:
  std::int32_t quick_left = 0;
};

// Base is ServiceNet or ServiceUnix.
template <class Base>
class Connector : public Base {
 public:
  ~Connector() override;

  // One attempt to connect.
  virtual void TryConnect() = 0;
  // The socket of a pending attempt has something to say.
  virtual void OnSocketEvent(int fd, short revents) = 0;
  void OnTimeout(Timer* t);

 protected:
  // `event_name` names the connect event in the loop's status dump.
  explicit Connector(const char* event_name);

  int ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;

  // The next attempt after a failure with this long delay.
  void Retry(unsigned int long_delay_ms);
  // The attempt's socket could not be made: `made` is what socket() gave
  // (its error in `socket_err`); when it is a descriptor, its copy failed.
  // Logs `what` and the cause. A shortage of descriptors or memory passes:
  // the next attempt follows the retry schedule, or the link would be lost
  // for the rest of the run. Any other cause stops the connector.
  void NoSocket(char const* what, int made, Errno const& socket_err);

  Fd connecting;
  Event connect_event;

 private:
  Timer retry_timer;
  ConnectorRetry schedule;
};

extern template class Connector<ServiceNet>;
extern template class Connector<ServiceUnix>;

}  // namespace Control
