#pragma once
// Unix-domain socket addresses of the control links: the path is cut to 107
// octets so that it always ends with a NUL inside sun_path.
#include <string>
#include <sys/socket.h>
#include <sys/un.h>

namespace Control {

constexpr std::size_t unix_path_max = 107;

sockaddr_un MakeUnixAddress(const std::string& path);
// The length passed to bind and connect: the whole structure.
constexpr socklen_t unix_address_length = sizeof(sockaddr_un);
// The path of an accepted peer's address; "" for an unnamed client.
std::string UnixAddressPath(const sockaddr_un& sa, socklen_t len);

}  // namespace Control
