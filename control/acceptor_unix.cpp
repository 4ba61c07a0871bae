#include "control/acceptor_unix.h"

#include "control/unix_address.h"

#include <unistd.h>

namespace Control {

AcceptorUnix::AcceptorUnix(const std::string& path)
    : Acceptor("AcceptorUnix::OnSocketEvent", AF_UNIX, 0), path(path) {}

AcceptorUnix::~AcceptorUnix() = default;

int AcceptorUnix::ImplBind(int fd) {
  ::unlink(path.c_str());
  const sockaddr_un sa = MakeUnixAddress(path);
  return ::bind(fd, reinterpret_cast<const sockaddr*>(&sa), unix_address_length);
}

std::string AcceptorUnix::ImplPeerName(const sockaddr_storage& sa, socklen_t len) const {
  return UnixAddressPath(reinterpret_cast<const sockaddr_un&>(sa), len);
}

void AcceptorUnix::ImplTake(Fd& conn, const sockaddr_storage& sa, socklen_t len) {
  Connected(conn, ImplPeerName(sa, len));
}

}  // namespace Control
