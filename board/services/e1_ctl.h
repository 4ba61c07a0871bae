#pragma once
// E1Ctl: the board's four E1 trunks. Every trunk's synchronisation status
// goes to the controller (and, as every service signal, to the other bound
// services) once a second as a `trunkStatus` signal; `trunkCfg` sets a
// trunk's transmit clock (slave: from the line, master: own); slot-less
// `ioctl` commands carry CAS commands, and CAS changes read from the CAS
// device go out as `cas` signals.
//
// The status reports run while a controller is connected; the CAS device
// is retried at each connect, each report and each CAS command.
#include "control/ctrl_service.h"
#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/timer.h"

#include <cstdint>

class E1Ctl : public CtrlSrv::Service {
 public:
  static constexpr int trunks = 4;
  static constexpr unsigned int status_period_ms = 1000;

  static E1Ctl& instance();

  // Both devices closed, every trunk closed for CAS, mask 0. Tests build
  // their own.
  E1Ctl();
  ~E1Ctl() override;

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(LGCP::Command const& cmd) override;

  void OnCheckStatus(Timer* t);
  void OnUpdateCas(int fd, short revents);
  // Selects the E1 clock source (nothing calls it today).
  void select_source(int source);

  void SendCASSignal(int path, int timeslot, int rx, int tx);
  void SendCASTrunkStatus(int trunk, int result);

  std::uint32_t tclk_mask() const { return tclk_; }
  bool trunk_open(int trunk) const { return trunk >= 0 && trunk < trunks && open_[trunk]; }
  bool cas_open() const { return cas_.is_valid(); }
  bool cas_watched() const { return casEvent_.IsActive(); }
  bool timer_running() const { return timer_.is_running(); }

 private:
  bool OpenMaintenance();
  bool OpenCas();
  void SendStatus();
  // False when the mask could not be written (it stays as it was).
  bool TrunkCfg(LGCP::TrunkCfg const& cfg);
  bool WriteTclk();
  // False when the CAS device is not there: nothing was done.
  bool Cas(LGCP::IoctlParams const& params);
  void CasOpen(int path, int timeslot, int value);
  void CasSet(int path, int timeslot, int value);
  void CasGet(int path, int timeslot);
  void CasClose(int path, int timeslot);
  // 'C' 3 on the channel and a `cas` signal with its bits or the failure.
  void ReportChannel(int path, int timeslot);

  int maint_ = -1;
  Timer timer_;
  Fd cas_;
  Event casEvent_;
  bool open_[trunks] = {false, false, false, false};
  std::uint32_t tclk_ = 0;
};
