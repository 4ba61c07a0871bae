#pragma once
// Control::AcceptorUnix: a control connection listening on a Unix-domain
// socket path (backlog 1), serving one peer at a time as every Acceptor
// does. Any file already at the path is removed first; paths are cut to 107
// octets.
#include "control/acceptor.h"

#include <string>

namespace Control {

class AcceptorUnix : public Acceptor<ServiceUnix> {
 public:
  AcceptorUnix() : AcceptorUnix(std::string()) {}
  explicit AcceptorUnix(const std::string& path);
  ~AcceptorUnix() override;

  const std::string& GetPath() const { return path; }

 protected:
  int ImplBind(int fd) override;
  std::string ImplPeerName(const sockaddr_storage& sa, socklen_t len) const override;
  void ImplTake(Fd& conn, const sockaddr_storage& sa, socklen_t len) override;

 private:
  std::string path;
};

}  // namespace Control
