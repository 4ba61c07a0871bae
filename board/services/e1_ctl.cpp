#include "board/services/e1_ctl.h"

#include "platform/device.h"
#include "platform/e1_cas.h"
#include "platform/maintenance.h"
#include "runtime/errno_text.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <iostream>

namespace {

const char header[] = "E1: ";
const int device_flags = O_RDWR | O_NONBLOCK | O_CLOEXEC;

// Requests whose argument is the number itself, not its address.
void* ByValue(std::uint32_t v) { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(v)); }

e1cas::cas_channel Channel(int path, int timeslot, int tx) {
  e1cas::cas_channel ch;
  std::memset(&ch, 0, sizeof ch);
  ch.path = path;
  ch.timeslot = timeslot;
  ch.rx = 0;
  ch.tx = static_cast<std::uint8_t>(tx & 0x0F);
  return ch;
}

}  // namespace

E1Ctl& E1Ctl::instance() {
  static E1Ctl e1;
  return e1;
}

E1Ctl::E1Ctl() = default;

E1Ctl::~E1Ctl() {
  timer_.reset();
  casEvent_.Release();
  casEvent_.UnBind();
  cas_.close();
  if (maint_ >= 0) platform::dev_close(maint_);
}

bool E1Ctl::OpenMaintenance() {
  if (maint_ < 0) maint_ = platform::dev_open("/dev/maintenance", device_flags);
  return maint_ >= 0;
}

bool E1Ctl::OpenCas() {
  if (cas_.is_valid()) return true;
  const int fd = platform::dev_open("/dev/e1-cas", device_flags);
  if (fd < 0) return false;
  cas_ = Fd(fd);
  casEvent_.Bind("E1/Cas", &E1Ctl::OnUpdateCas, this);
  casEvent_.Schedule(cas_, POLLIN);
  if (!casEvent_.IsActive()) {
    // No descriptor was left for a copy: a device held open with nobody
    // reading its changes would never be opened again. Closed, the next
    // status pass or command retries.
    const Errno e;
    std::cerr << header << "cas interface not watched: " << e << std::endl;
    cas_.close();
    return false;
  }
  std::clog << header << "cas interface opened!" << std::endl;
  return true;
}

void E1Ctl::OnConnect() {
  SendStatus();
  timer_.set(status_period_ms, &E1Ctl::OnCheckStatus, this);
  tclk_ = 0;
  WriteTclk();
  OpenCas();
}

// The reports are the controller's, and the slots that also heard them went
// with it: kept up, each would only be refused by the link and logged, four
// a second for as long as no controller comes. A connect starts them again.
void E1Ctl::OnDisconnect() { timer_.reset(); }

void E1Ctl::OnCheckStatus(Timer*) {
  SendStatus();
  OpenCas();
  timer_.set(status_period_ms, &E1Ctl::OnCheckStatus, this);
}

void E1Ctl::SendStatus() {
  if (!OpenMaintenance()) return;
  LGCP::Signal sig;
  ACP::TrunkStatus& ts = sig.select_trunkStatus();
  for (int t = 0; t < trunks; ++t) {
    maintenance::e1_sync_status rec;
    std::memset(&rec, 0, sizeof rec);
    rec.trunk = static_cast<std::uint32_t>(t);
    if (platform::dev_ioctl(maint_, maintenance::E1_SYNC_STATUS, &rec) != 0) {
      Errno e;
      std::cerr << header << "synchronization status read fail, trunk = " << t << " cause = " << e << std::endl;
      continue;
    }
    ts.set_trunk(t);
    // A state number outside the named ones would make the signal
    // unencodable, and the other services would see it too: it reads as
    // unknown.
    const bool named = rec.state >= ACP::TrunkState::normal && rec.state <= ACP::TrunkState::disabled;
    ts.ref_state().setFromInt(named ? rec.state : static_cast<int>(ACP::TrunkState::unknown));
    ts.set_slips(rec.slips);
    ts.set_lossBF(rec.lossBF);
    ts.set_lossCarrier(rec.lossCarrier);
    ts.set_lossAIS(rec.lossAIS);
    ts.set_lossRAI(rec.lossRAI);
    ts.set_name("");
    ts.set_clockMaster(false);
    ts.set_type(ACP::TrunkType::e1);
    SendSignal(sig);
  }
}

bool E1Ctl::OnCommand(LGCP::Command const& cmd) {
  // A clock mode or CAS command the board could not take is not reported
  // as done; driver failures of a CAS command still come in its signal.
  if (cmd.trunkCfg_isSelected()) {
    if (TrunkCfg(cmd.get_trunkCfg()))
      Success();
    else
      Error(LGCP::ErrorCause::internal);
    return true;
  }
  if (!cmd.ioctl_isSelected()) return false;
  // Slot-less requests other than CAS have nobody to serve them.
  if (!cmd.get_ioctl().cas_isSelected()) {
    Error(LGCP::ErrorCause::unsupported);
    return true;
  }
  if (Cas(cmd.get_ioctl()))
    Success();
  else
    Error(LGCP::ErrorCause::internal);
  return true;
}

bool E1Ctl::TrunkCfg(LGCP::TrunkCfg const& cfg) {
  const int trunk = cfg.get_trunk().getValue();
  if (trunk < 0) return true;
  // The mask has bits for trunks 0 to 31 only.
  const std::uint32_t bit = trunk < 32 ? (std::uint32_t(1) << trunk) : 0;
  const std::uint32_t before = tclk_;
  if (cfg.get_mode().asInt() == LGCP::TrunkMode::slave)
    tclk_ |= bit;
  else
    tclk_ &= ~bit;
  if (WriteTclk()) return true;
  // Refused: a later write must not carry this trunk's mode.
  tclk_ = before;
  return false;
}

bool E1Ctl::WriteTclk() {
  if (!OpenMaintenance()) return false;
  if (platform::dev_ioctl(maint_, maintenance::E1_TCLK_MASK, ByValue(tclk_)) != 0) {
    Errno e;
    std::cerr << header << "fail to set TCLK [cause=" << e << "]" << std::endl;
    return false;
  }
  std::clog << header << "TCLT = 0x" << std::hex << tclk_ << std::dec << std::endl;
  return true;
}

void E1Ctl::select_source(int source) {
  if (!OpenMaintenance()) return;
  if (platform::dev_ioctl(maint_, maintenance::E1_CLOCK_SOURCE, ByValue(static_cast<std::uint32_t>(source))) != 0)
    std::cerr << header << "fail to set clock source" << std::endl;
}

void E1Ctl::SendCASSignal(int path, int timeslot, int rx, int tx) {
  LGCP::Signal sig;
  LGCP::CasSignalling& cas = sig.select_cas();
  cas.set_channel().set_path(path);
  cas.set_channel().set_timeslot(timeslot);
  cas.set_rx(rx);
  cas.set_tx(tx);
  SendSignal(sig);
}

void E1Ctl::SendCASTrunkStatus(int trunk, int result) { SendCASSignal(trunk, 0, result, 0); }

bool E1Ctl::Cas(LGCP::IoctlParams const& params) {
  if (!OpenCas()) return false;
  if (!params.cas_isSelected()) return true;
  const LGCP::CasCommand& c = params.get_cas();
  const int path = c.get_channel().get_path().getValue();
  const int timeslot = c.get_channel().get_timeslot().getValue();
  if (path < 0 || path >= trunks) return true;
  const LGCP::CasCommandSignal& cmd = c.get_cmd();
  if (cmd.open_isSelected()) {
    CasOpen(path, timeslot, cmd.get_open().getValue());
    return true;
  }
  if (!open_[path]) return true;
  if (cmd.set_isSelected())
    CasSet(path, timeslot, cmd.get_set().getValue());
  else if (cmd.get_isSelected())
    CasGet(path, timeslot);
  else if (cmd.close_isSelected())
    CasClose(path, timeslot);
  return true;
}

void E1Ctl::CasOpen(int path, int timeslot, int value) {
  if (open_[path]) {
    SendCASTrunkStatus(path, 0);
  } else {
    const int r = platform::dev_ioctl(cas_.lowlevel_fd(), e1cas::CAS_TRUNK_OPEN, ByValue(static_cast<std::uint32_t>(path)));
    SendCASTrunkStatus(path, r);
    if (r < 0) {
      std::clog << header << "open cas signalling on trunk(" << path << ") - fail(" << r << ")" << std::endl;
      return;
    }
    std::clog << header << "open cas signalling on trunk(" << path << ") - ok" << std::endl;
    open_[path] = true;
  }
  if (timeslot == 0 || timeslot == 16) return;
  e1cas::cas_channel_config cfg;
  std::memset(&cfg, 0, sizeof cfg);
  cfg.channel = Channel(path, timeslot, value);
  cfg.close = 0;
  const int r = platform::dev_ioctl(cas_.lowlevel_fd(), e1cas::CAS_CONFIG, &cfg);
  if (r < 0) {
    SendCASSignal(path, timeslot, r, 0);
    return;
  }
  ReportChannel(path, timeslot);
}

void E1Ctl::CasSet(int path, int timeslot, int value) {
  e1cas::cas_channel ch = Channel(path, timeslot, value);
  const int r = platform::dev_ioctl(cas_.lowlevel_fd(), e1cas::CAS_SET, &ch);
  if (r < 0) {
    SendCASSignal(path, timeslot, r, 0);
    return;
  }
  ReportChannel(path, timeslot);
}

void E1Ctl::CasGet(int path, int timeslot) { ReportChannel(path, timeslot); }

void E1Ctl::ReportChannel(int path, int timeslot) {
  e1cas::cas_channel ch = Channel(path, timeslot, 0);
  const int r = platform::dev_ioctl(cas_.lowlevel_fd(), e1cas::CAS_GET, &ch);
  if (r < 0)
    SendCASSignal(path, timeslot, r, 0);
  else
    SendCASSignal(path, timeslot, ch.rx, ch.tx);
}

void E1Ctl::CasClose(int path, int timeslot) {
  if (timeslot == 0) {
    int r = platform::dev_ioctl(cas_.lowlevel_fd(), e1cas::CAS_TRUNK_CLOSE, ByValue(static_cast<std::uint32_t>(path)));
    if (r == 0) r = 1;
    SendCASTrunkStatus(path, r);
    if (r < 0) return;
    open_[path] = false;
    return;
  }
  if (timeslot == 16) return;
  e1cas::cas_channel_config cfg;
  std::memset(&cfg, 0, sizeof cfg);
  cfg.channel = Channel(path, timeslot, 0);
  cfg.close = 1;
  const int r = platform::dev_ioctl(cas_.lowlevel_fd(), e1cas::CAS_CONFIG, &cfg);
  if (r < 0)
    SendCASSignal(path, timeslot, r, 0);
  else
    SendCASSignal(path, timeslot, -1, 1);
}

void E1Ctl::OnUpdateCas(int fd, short) {
  std::uint8_t buf[sizeof(e1cas::cas_channel)];
  const ssize_t n = platform::dev_read(fd, buf, sizeof buf);
  if (n == static_cast<ssize_t>(sizeof buf)) {
    e1cas::cas_channel ch;
    std::memcpy(&ch, buf, sizeof ch);
    SendCASSignal(ch.path, ch.timeslot, ch.rx, ch.tx);
    return;
  }
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
    // A device that has gone away would wake the loop forever: drop it;
    // the status pass opens it again.
    casEvent_.Release();
    cas_.close();
  }
}
