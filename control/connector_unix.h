#pragma once
// Control::ConnectorUnix: a control connection that connects to a
// Unix-domain socket path, optionally from a local path of its own, and
// keeps reconnecting on the schedule of ConnectorNet.
#include "control/connector_net.h"

#include <cstdint>
#include <string>

namespace Control {

class ConnectorUnix : public ServiceUnix {
 public:
  ConnectorUnix() : ConnectorUnix(std::string(), std::string()) {}
  explicit ConnectorUnix(const std::string& peer_path) : ConnectorUnix(peer_path, std::string()) {}
  ConnectorUnix(const std::string& peer_path, const std::string& local_path);
  ~ConnectorUnix() override;

  const std::string& GetPeerPath() const { return peer_path; }
  const std::string& GetLocalPath() const { return local_path; }

  void TryConnect();
  void OnSocketEvent(int fd, short revents);
  void OnTimeout(Timer* t);

 protected:
  int ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;

 private:
  void Retry(unsigned int long_delay_ms);

  std::string peer_path;
  std::string local_path;
  Fd connecting;
  Timer retry_timer;
  Event connect_event;
  ConnectorRetry schedule;
};

}  // namespace Control
