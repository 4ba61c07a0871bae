#include "board/monitoring/net_if_data_holder.h"

#include "control/trace_ctl.h"
#include "platform/netif.h"

#include <cerrno>
#include <cstring>
#include <iostream>

namespace {

// The protocol number the board code opens its packet socket with.
const int packet_protocol = 255;

}  // namespace

bool NetIfDataHolder::updateNetIf() {
  const int fd = platform::packet_socket(packet_protocol);
  if (fd < 1) {
    if (traces.monitoring.internal)
      std::clog << "Error open socket: " << " errno=\"" << std::strerror(errno) << "\"" << std::endl;
    return false;
  }
  bool changed = false;
  struct ifreq req;
  std::memset(&req, 0, sizeof req);
  req.ifr_ifindex = index_;
  if (platform::netif_ioctl(fd, platform::NETIF_GET_NAME, &req) == 0 &&
      platform::netif_ioctl(fd, platform::NETIF_GET_FLAGS, &req) == 0) {
    const unsigned int flags = static_cast<unsigned short>(req.ifr_flags);
    changed = setNetIfStatus((flags & platform::NETIF_RUNNING) ? 1 : 0);
  } else if (traces.monitoring.internal) {
    std::clog << "Error ioctl socket: " << " errno=\"" << std::strerror(errno) << "\"" << std::endl;
  }
  platform::netif_close(fd);
  return changed;
}

bool NetIfDataHolder::setNetIfStatus(int sample) {
  samples_.push_back(sample);
  while (samples_.size() >= 4) samples_.pop_front();
  int sum = 0;
  for (int s : samples_) sum += s;
  const int status = sum >= 2 ? 1 : 0;
  const bool changed = status != status_;
  status_ = status;
  oper_status_ = admin_status_ = status == 1 ? 1 : 2;
  return changed;
}
