#pragma once
// Host name and interface address queries.
#include "runtime/inet4_addr.h"

#include <list>
#include <string>

namespace Net {

// Selects interfaces; an interface is taken when any set bit selects it, and
// every interface when the mode is 0.
using ifconfig_mode_t = unsigned int;
enum : ifconfig_mode_t {
  if_not_loopback = 1,  // name other than "lo" (any case)
  if_link_local = 2,    // 169.254.0.0/16
  if_private = 4,       // 10/8, 172.16/12, 192.168/16
};

// The host name; "" when it cannot be read.
std::string hostname();
// Sets the host name; the result of sethostname.
int hostname(const std::string& name);

// Appends the IPv4 address of each selected interface; the number appended,
// or -1 when the interface list cannot be obtained.
int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode);
// Appends the name of each selected interface that has every bit of `flags`
// (IFF_UP, IFF_RUNNING, ...) set.
int ifconfig(std::list<std::string>& out, ifconfig_mode_t mode, unsigned int flags);

}  // namespace Net
