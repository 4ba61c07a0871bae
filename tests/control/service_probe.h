#pragma once
// A control service for tests: writes what it hears into a shared journal
// ("a connect", "a command", "b signal", ...) and does with each command
// what the test tells it.
#include "control/ctrl_service.h"

#include <functional>
#include <utility>
#include <string>
#include <vector>

namespace controltest {

class ServiceProbe : public CtrlSrv::Service {
 public:
  ServiceProbe(std::string n, std::vector<std::string>& j) : name(std::move(n)), journal(j) {}

  void OnConnect() override { journal.push_back(name + " connect"); }
  void OnDisconnect() override { journal.push_back(name + " disconnect"); }
  bool OnCommand(LGCP::Command const& cmd) override {
    journal.push_back(name + " command");
    return on_command ? on_command(cmd) : false;
  }
  void OnSignal(LGCP::Signal const&) override {
    journal.push_back(name + " signal");
    if (on_signal) on_signal();
  }

  std::string name;
  std::vector<std::string>& journal;
  // Claims the command when it returns true; nothing claimed without it.
  std::function<bool(LGCP::Command const&)> on_command;
  // Called on each signal offered to it.
  std::function<void()> on_signal;
};

}  // namespace controltest
