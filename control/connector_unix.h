#pragma once
// Control::ConnectorUnix: a control connection that connects to a
// Unix-domain socket path, optionally from a local path of its own, and
// keeps reconnecting on the schedule of every Connector.
#include "control/connector.h"

#include <string>

namespace Control {

class ConnectorUnix : public Connector<ServiceUnix> {
 public:
  ConnectorUnix() : ConnectorUnix(std::string(), std::string()) {}
  explicit ConnectorUnix(const std::string& peer_path) : ConnectorUnix(peer_path, std::string()) {}
  ConnectorUnix(const std::string& peer_path, const std::string& local_path);
  ~ConnectorUnix() override;

  const std::string& GetPeerPath() const { return peer_path; }
  const std::string& GetLocalPath() const { return local_path; }

  void TryConnect() override;
  void OnSocketEvent(int fd, short revents) override;

 private:
  std::string peer_path;
  std::string local_path;
};

}  // namespace Control
