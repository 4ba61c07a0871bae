#include "media/mcc_slot.h"

#include "platform/device.h"
#include "platform/mcc.h"
#include "runtime/errno_text.h"
#include "runtime/ext_output.h"

#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <poll.h>

Slot* MccSlot::Create(Fd channel, int timeslot) {
  auto* slot = new MccSlot(channel, timeslot);
  if (slot->event.IsActive()) return slot;
  // No descriptor was left for the event's copy: a slot whose channel is
  // closed is no slot.
  const Errno e;
  std::cerr << "mcc: fail to hold channel " << timeslot << ": " << e << std::endl;
  delete slot;
  return nullptr;
}

MccSlot::MccSlot(Fd channel, int ts) : timeslot(ts) {
  event.Bind("MccSlot::OnEvent", &MccSlot::OnEvent, this);
  event.Schedule(channel, POLLIN);
}

// Releasing the event closes the channel and with it the controller channel.
MccSlot::~MccSlot() { event.Release(); }

bool MccSlot::IUserData(const std::vector<char>& octets) {
  if (platform::dev_write(event.lowlevel_fd(), octets.data(), octets.size()) < 0) {
    // A frame the channel did not take is not reported as sent.
    Errno e;
    std::cerr << *this << ": write fail: " << e << std::endl;
    return false;
  }
  return true;
}

void MccSlot::OnEvent(int, short revents) {
  if (!(revents & (POLLIN | POLLHUP | POLLERR))) return;
  if (DoRead() || !(revents & (POLLHUP | POLLERR))) return;
  // The driver dropped the channel: polling it would wake the loop for
  // ever. The slot stays, without its channel.
  std::cerr << static_cast<const Slot&>(*this) << ": channel hung up" << std::endl;
  // The lines into the channel and out of it go quiet while they are still
  // this slot's: the driver may hand the number out again.
  MuxQuietenLines(this);
  event.Release();
}

bool MccSlot::DoRead() {
  char buf[1024];
  for (unsigned reads = 0; reads < Event::max_reads_per_event; ++reads) {
    const ssize_t n = platform::dev_read(event.lowlevel_fd(), buf, sizeof buf);
    if (n > 0) {
      OnUserData(std::vector<char>(buf, buf + n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // Empty (EAGAIN) ends the pass with the channel well; a 0-byte read or
    // another failure ends it too, as a possible hang-up: a hung-up channel
    // answers 0 or fails (EIO) for ever and must not hold the loop.
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }
  return true;
}

MccFactory& MccFactory::instance() {
  static MccFactory factory;
  return factory;
}

Slot* MccFactory::INewSlot(const LGCP::CreateParams& params) {
  if (!params.mcc_isSelected()) return nullptr;
  const LGCP::MccParams& mcc = params.get_mcc();

  mcc_allocate_params p;
  if (mcc.get_mode().asInt() == LGCP::MccMode::ss7) {
    p.mode = 3;
  } else {
    switch (mcc.get_type().asInt()) {
      case LGCP::MccType::data:
        p.mode = 0;
        break;
      case LGCP::MccType::bri:
        p.mode = 1;
        break;
      case LGCP::MccType::transparent:
        p.mode = 2;
        break;
      default:
        std::cerr << ext::header(this) << "unknown channel type " << mcc.get_type().asInt() << std::endl;
        return nullptr;
    }
  }
  p.packet_size = 512;
  p.reserved = 0;
  p.rx_threshold = 1;
  p.tx_threshold = 1;

  // Close-on-exec: pppd, fax and T.38 children must not hold channels.
  const int fd = platform::dev_open(platform::mcc::device_path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Errno e;
    std::cerr << ext::header(this) << "fail to open MCC device: " << e << std::endl;
    return nullptr;
  }
  std::clog << ext::header(this) << "MCC_ALLOCATE" << " type=" << p.mode << std::endl;
  if (platform::dev_ioctl(fd, platform::mcc::MCC_ALLOCATE, &p) < 0) {
    Errno e;
    std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << e << std::endl;
    platform::dev_close(fd);
    return nullptr;
  }
  // A channel without a switch channel cannot be connected: no slot.
  const int timeslot = platform::dev_ioctl(fd, platform::mcc::MCC_TIMESLOT, nullptr);
  if (timeslot < 0) {
    Errno e;
    std::cerr << ext::header(this) << "MCC_TIMESLOT fail: " << e << std::endl;
    platform::dev_close(fd);
    return nullptr;
  }
  // The slot's event keeps its own duplicate; this copy closes here.
  return MccSlot::Create(Fd(fd), timeslot);
}

void MccFactory::Query(LGCP::Resources& r) {
  r.set_mcc_data(0);
  r.set_mcc_bri(0);
  r.set_mcc_trans(0);
  const int fd = platform::dev_open(platform::mcc::device_path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  mcc_resources counts{0, 0, 0, 0};
  if (platform::dev_ioctl(fd, platform::mcc::MCC_RESOURCES, &counts) >= 0) {
    r.set_mcc_data(static_cast<int>(counts.data));
    r.set_mcc_bri(static_cast<int>(counts.bri));
    r.set_mcc_trans(static_cast<int>(counts.trans));
  }
  platform::dev_close(fd);
}
