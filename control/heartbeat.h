#pragma once
// HeartBeatCtl: supervision of the controller. It is bound first, so it sees
// every command: each one restarts a 120000 ms timer, and "ping" is answered
// here. A controller that then stays silent for the whole time is dropped.
// Supervision starts with the first command of a connection, not with the
// connection itself, and stops when the controller goes.
#include "control/ctrl_service.h"
#include "runtime/timer.h"

class HeartBeatCtl : public CtrlSrv::Service {
 public:
  static constexpr unsigned int timeout_ms = 120000;

  static HeartBeatCtl& instance();

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(LGCP::Command const& cmd) override;

  bool is_supervising() const { return timer.is_running(); }

 private:
  HeartBeatCtl() = default;
  void OnTimeout();

  Timer timer;
};
