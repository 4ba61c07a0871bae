#pragma once
// The owner of a control connection in tests: counts connects and
// disconnects and keeps every message.
#include "control/control_service.h"

#include <string>
#include <vector>

namespace controltest {

class NotifyRecorder : public Control::Notify {
 public:
  void OnConnect() override { ++connects; }
  void OnDisconnect() override { ++disconnects; }
  void OnMessage(char const* data, int len) override { messages.emplace_back(data, len); }
  int connects = 0;
  int disconnects = 0;
  std::vector<std::string> messages;
};

}  // namespace controltest
