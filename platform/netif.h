#pragma once
// The packet socket through which the board monitoring names the network
// interfaces and samples their flags (SIOCGIFNAME, SIOCGIFFLAGS). On the
// board it is a real AF_PACKET socket, which needs root. On the simulator
// no privilege is needed: the descriptor is a plain socket, and the two
// requests are answered from a table of the host's interfaces 0 to 15,
// copied at first use, whose running flag tests can pin.
#include <net/if.h>

namespace platform {

// The board's request numbers and the running flag, written out.
constexpr unsigned long NETIF_GET_NAME = 0x8910UL;   // SIOCGIFNAME
constexpr unsigned long NETIF_GET_FLAGS = 0x8913UL;  // SIOCGIFFLAGS
constexpr unsigned int NETIF_RUNNING = 0x40;         // IFF_RUNNING

// socket(AF_PACKET, SOCK_RAW, protocol): a descriptor, or -1 with errno.
int packet_socket(int protocol);
// SIOCGIFNAME (by ifr_ifindex) and SIOCGIFFLAGS (by ifr_name) on such a
// descriptor: 0, or -1 with errno.
int netif_ioctl(int fd, unsigned long request, struct ifreq* req);
int netif_close(int fd);

}  // namespace platform
