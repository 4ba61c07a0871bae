#include "control/unix_address.h"

#include <cstddef>
#include <cstring>

namespace Control {

static_assert(sizeof(sockaddr_un) == 110, "a Unix-domain address is 110 octets");

sockaddr_un MakeUnixAddress(const std::string& path) {
  sockaddr_un sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sun_family = AF_UNIX;
  const std::size_t n = path.size() < unix_path_max ? path.size() : unix_path_max;
  std::memcpy(sa.sun_path, path.data(), n);
  return sa;
}

std::string UnixAddressPath(const sockaddr_un& sa, socklen_t len) {
  const std::size_t offset = offsetof(sockaddr_un, sun_path);
  if (len <= offset) return std::string();
  std::size_t n = len - offset;
  if (n > sizeof sa.sun_path) n = sizeof sa.sun_path;
  return std::string(sa.sun_path, strnlen(sa.sun_path, n));
}

}  // namespace Control
