// Board backend of the packet socket: the plain system calls.
#include "platform/netif.h"

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

int packet_socket(int protocol) { return ::socket(AF_PACKET, SOCK_RAW, protocol); }

int netif_ioctl(int fd, unsigned long request, struct ifreq* req) { return ::ioctl(fd, request, req); }

int netif_close(int fd) { return ::close(fd); }

}  // namespace platform
