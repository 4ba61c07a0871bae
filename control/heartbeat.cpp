#include "control/heartbeat.h"

#include <iostream>

HeartBeatCtl& HeartBeatCtl::instance() {
  static HeartBeatCtl heartbeat;
  return heartbeat;
}

void HeartBeatCtl::OnConnect() {}

void HeartBeatCtl::OnDisconnect() { timer.reset(); }

bool HeartBeatCtl::OnCommand(LGCP::Command const& cmd) {
  timer.set(timeout_ms, &HeartBeatCtl::OnTimeout, this);
  if (!cmd.ping_isSelected()) return false;
  Success();
  return true;
}

void HeartBeatCtl::OnTimeout() {
  std::clog << "heartbeat timeout!!!" << std::endl;
  if (server()) server()->OnHeartbeatTimeout();
}
