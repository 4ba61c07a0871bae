#include "board/services/bus_ctl.h"

#include "board/services/spi_ctrl.h"
#include "platform/device.h"
#include "platform/hal.h"

#include <cstdint>
#include <fcntl.h>
#include <iostream>

namespace {

const char header[] = "clkctl: ";

const char* SourceName(int source) {
  static const char* const names[] = {"f0", "f1", "f2", "f3", "freerun", "X3", "?1", "?2"};
  return source >= 0 && source < 8 ? names[source] : nullptr;
}

}  // namespace

BusCtl& BusCtl::instance() {
  static BusCtl bus;
  return bus;
}

BusCtl::~BusCtl() {
  if (fd_ >= 0) platform::dev_close(fd_);
}

void BusCtl::DisableControl() {
  std::clog << "clock control disabled." << std::endl;
  enabled_ = false;
}

void BusCtl::OnConnect() { SetDefault(); }

void BusCtl::OnDisconnect() { SetDefault(); }

void BusCtl::SetDefault() {
  if (!enabled_) return;
  LGCP::ClockCfg cfg;
  cfg.set_clkSel0(LGCP::ClkSel0::internal);
  cfg.set_bextEn(LGCP::BExtEn::disabled);
  cfg.set_source(-1);
  Apply(cfg);
}

bool BusCtl::OnCommand(LGCP::Command const& cmd) {
  if (!cmd.clockCfg_isSelected()) return false;
  if (!enabled_) {
    Error(LGCP::ErrorCause::unsupported);
    return true;
  }
  // A clock that could not be set is not reported as set.
  if (Apply(cmd.get_clockCfg()))
    Success();
  else
    Error(LGCP::ErrorCause::internal);
  return true;
}

bool BusCtl::Open() {
  if (fd_ < 0) fd_ = platform::dev_open("/dev/hal", O_RDWR | O_CLOEXEC);
  return fd_ >= 0;
}

bool BusCtl::Apply(LGCP::ClockCfg const& cfg) {
  if (!Open()) {
    // Without the device no framer may stay clock master.
    spiCtrl::instance().clock(-1);
    std::cerr << header << "set clock source fail: code 1." << std::endl;
    return false;
  }
  std::cerr << header << "set clock source cmd: " << cfg << std::endl;
  int source;
  if (cfg.get_clkSel0().asInt() == LGCP::ClkSel0::internal)
    source = source_freerun;
  else if (cfg.get_bextEn().asInt() == LGCP::BExtEn::disabled)
    source = source_x3;
  else
    source = cfg.get_source().getValue();
  if (source < 0) return true;
  return Select(source);
}

bool BusCtl::Select(int source) {
  if (!Open()) {
    std::cerr << header << "device open error" << std::endl;
    return false;
  }
  std::int32_t arg = source;
  if (platform::dev_ioctl(fd_, hal::HW_CLOCK_SELECT, &arg) != 0) {
    std::cerr << header << "HW_CLOCK_SELECT fail." << std::endl;
    return false;
  }
  // The name table covers sources 0 to 7; others are shown by number.
  const char* name = SourceName(source);
  std::cerr << header << "clock source = ";
  if (name)
    std::cerr << name;
  else
    std::cerr << source;
  std::cerr << std::endl;
  return true;
}
