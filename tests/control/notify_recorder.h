#pragma once
// The owner of a control connection in tests: counts connects and
// disconnects, keeps every message and, when given, runs a reaction to each.
#include "control/control_service.h"

#include <functional>
#include <string>
#include <vector>

namespace controltest {

class NotifyRecorder : public Control::Notify {
 public:
  void OnConnect() override { ++connects; }
  void OnDisconnect() override { ++disconnects; }
  void OnMessage(char const* data, int len) override {
    messages.emplace_back(data, len);
    if (on_message) on_message();
  }
  int connects = 0;
  int disconnects = 0;
  std::vector<std::string> messages;
  std::function<void()> on_message;
};

}  // namespace controltest
