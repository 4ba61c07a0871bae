#pragma once
// Control::ConnectorNet: a control connection that connects out over TCP to
// an IPv4 address and port (no name resolution) and keeps reconnecting:
// after an activation the first 7 failed attempts are retried after 1000 ms,
// later ones after 20000 ms (refused at once), 15000 ms (error while
// connecting) or 12000 ms (completed with an error); an established
// connection that ends is followed by a new attempt 10000 ms later.
#include "control/control_service.h"
#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/timer.h"

#include <cstdint>
#include <string>

namespace Control {

// The retry schedule shared by the TCP and Unix-domain connectors: the
// quick retries are granted again only by an activation, not by a success.
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

class ConnectorNet : public ServiceNet {
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

  void TryConnect();
  void OnSocketEvent(int fd, short revents);
  void OnTimeout(Timer* t);

 protected:
  int ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;

 private:
  void Retry(unsigned int long_delay_ms);

  unsigned short port = 0;
  std::string host;
  Fd connecting;
  Timer retry_timer;
  Event connect_event;
  ConnectorRetry schedule;
};

}  // namespace Control
