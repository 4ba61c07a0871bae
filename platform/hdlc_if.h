#pragma once
// Network-interface requests on the point-to-point "hdlc%d" interfaces of
// the board's HDLC controller: SIOCGIFINDEX, SIOCGIFFLAGS, SIOCSIFFLAGS and
// SIOCWANDEV (generic HDLC settings) on an AF_INET datagram socket. On the
// board they are the plain system call; the simulator answers them for
// "hdlc%d" names from its interface model and passes other names on.
namespace platform {

int hdlc_ioctl(int sock, unsigned long request, void* ifreq_arg);

}  // namespace platform
