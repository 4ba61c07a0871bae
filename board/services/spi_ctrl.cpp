#include "board/services/spi_ctrl.h"

#include "platform/device.h"
#include "platform/hal.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <iostream>

spiCtrl& spiCtrl::instance() {
  static spiCtrl spi;
  return spi;
}

spiCtrl::spiCtrl() { init_device_and_channels(); }

spiCtrl::~spiCtrl() {
  if (fd_ < 0) return;
  timer_.reset();
  for (int c = 0; c < channels; ++c) disable_channel(c);
  clock(-1);
  platform::dev_close(fd_);
  fd_ = -1;
}

void spiCtrl::OnConnect() {
  if (fd_ >= 0 && enabled_) timer_.set(status_period_ms, &spiCtrl::status, this);
}

void spiCtrl::OnDisconnect() { timer_.reset(); }

bool spiCtrl::OnCommand(LGCP::Command const&) { return false; }

void spiCtrl::init_device_and_channels() {
  if (fd_ >= 0 || !enabled_) return;
  std::clog << "spi: try init" << std::endl;
  // Close-on-exec: children (pppd, fax programs) must not inherit the bus.
  fd_ = platform::dev_open("/dev/hal", O_RDWR | O_CLOEXEC);
  if (fd_ < 0) {
    std::clog << "spi: /dev/hal open fail" << std::endl;
    return;
  }
  for (int c = 0; c < channels; ++c) {
    init_channel(c);
    enable_channel(c);
  }
}

void spiCtrl::OnRequestError(int err) {
  if (err != ENODEV) return;
  enabled_ = false;
  timer_.reset();
  std::clog << "spi: hal without spi" << std::endl;
}

int spiCtrl::read(int channel, int reg) {
  if (fd_ < 0 || !enabled_) return 0;
  std::uint8_t rec[hal::spi_record_size] = {static_cast<std::uint8_t>(channel), static_cast<std::uint8_t>(reg), 0xFF};
  const int r = platform::dev_ioctl(fd_, hal::HAL_SPI_READ, rec);
  if (r == -1) {
    const int err = errno;
    if (err != ENODEV) std::clog << "spi: read error: channel=" << channel << " addr=" << reg << std::endl;
    OnRequestError(err);
    return 0;
  }
  return r & 0xFF;
}

void spiCtrl::write(int channel, int reg, int data) {
  if (fd_ < 0 || !enabled_) return;
  std::uint8_t rec[hal::spi_record_size] = {static_cast<std::uint8_t>(channel), static_cast<std::uint8_t>(reg),
                                            static_cast<std::uint8_t>(data)};
  if (platform::dev_ioctl(fd_, hal::HAL_SPI_WRITE, rec) == -1) {
    const int err = errno;
    if (err != ENODEV)
      std::clog << "spi: write error: channel=" << channel << " addr=" << reg << " data=" << data << std::endl;
    OnRequestError(err);
  }
}

bool spiCtrl::Prepare(int channel, int lowest, const char* what) {
  if (!enabled_) return false;
  if (channel < lowest || channel >= channels) {
    std::clog << "spi: bad channel for " << what << " " << channel << std::endl;
    return false;
  }
  init_device_and_channels();
  return true;
}

void spiCtrl::init_channel(int channel) {
  if (!Prepare(channel, 0, "init")) return;
  write(channel, reg_disable, 0x80);
  write(channel, reg_setup, 0x08);
  write(channel, reg_clock, 0x30);
  write(channel, reg_setup2, 0x60);
  write(channel, 0x35, 0x00);
  write(channel, 0x36, 0x00);
  write(channel, 0x37, 0x00);
  std::clog << "spi: init channel " << channel << std::endl;
}

void spiCtrl::enable_channel(int channel) {
  if (!Prepare(channel, 0, "enable")) return;
  write(channel, reg_disable, 0x00);
  std::clog << "spi: enable channel " << channel << std::endl;
}

void spiCtrl::disable_channel(int channel) {
  if (!Prepare(channel, 0, "disable")) return;
  write(channel, reg_disable, 0x80);
  std::clog << "spi: disable channel " << channel << std::endl;
}

void spiCtrl::clock(int channel) {
  if (!Prepare(channel, -1, "set clock master")) return;
  for (int c = 0; c < channels; ++c) write(c, reg_clock, 0x30);
  if (channel < 0) {
    std::clog << "spi: clock master disabled" << std::endl;
    return;
  }
  write(channel, reg_clock, 0x38);
  std::clog << "spi: set clock master on channel " << channel << std::endl;
}

namespace {

ACP::TrunkState::NamedNumber LineState(int s) {
  if (!(s & 0x01)) return ACP::TrunkState::lossCarrier;
  if (!(s & 0x04)) return ACP::TrunkState::lossBF;
  switch (s & 0xC0) {
    case 0x80:
      return ACP::TrunkState::rai;
    case 0xC0:
      return ACP::TrunkState::normal;
    default:
      return ACP::TrunkState::ais;
  }
}

}  // namespace

void spiCtrl::status() {
  if (!enabled_) return;
  LGCP::Signal sig;
  ACP::TrunkStatus& ts = sig.select_trunkStatus();
  for (int c = 0; c < channels; ++c) {
    const int s = read(c, reg_line_status);
    int slips = 0;
    if (s & 0x20) {
      slips = slip_seen_[c] ? 0 : 1;
      slip_seen_[c] = true;
    } else {
      slip_seen_[c] = false;
    }
    ts.set_trunk(c);
    ts.set_state(LineState(s));
    ts.set_slips(slips);
    ts.set_lossBF(0);
    ts.set_lossCarrier(0);
    ts.set_lossAIS(0);
    ts.set_lossRAI(0);
    ts.set_name("");
    ts.set_clockMaster(false);
    ts.set_type(ACP::TrunkType::bri);
    SendSignal(sig);
  }
  timer_.set(status_period_ms, &spiCtrl::status, this);
}
