#pragma once
// BusCtl: the source of the board's TDM clock. The controller picks it with
// `clockCfg`; every controller connect and disconnect returns it to the
// free-running source. "--disable-clock" switches clock control off for the
// whole run: the hardware is left alone and `clockCfg` is refused.
#include "control/ctrl_service.h"

class BusCtl : public CtrlSrv::Service {
 public:
  static constexpr int source_freerun = 4;
  static constexpr int source_x3 = 5;

  static BusCtl& instance();

  BusCtl() = default;
  ~BusCtl() override;

  // Logs "clock control disabled." and switches control off for good.
  void DisableControl();
  bool enabled() const { return enabled_; }

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(LGCP::Command const& cmd) override;

  // False when the device could not be opened or refused the source.
  bool Apply(LGCP::ClockCfg const& cfg);

 private:
  void SetDefault();
  bool Open();
  bool Select(int source);

  int fd_ = -1;
  bool enabled_ = true;
};
