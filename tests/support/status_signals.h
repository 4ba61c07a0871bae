#pragma once
// The server reports trunk status on its own (the E1 trunks at a
// controller's connect and every second, the basic-rate framers every
// second): black-box tests that wait for one particular frame pass these
// by. Header only: the test program links the schema library.
#include "schema/lgcp/LGCP.h"
#include "tests/support/controller_client.h"
#include "tests/support/per_image.h"
#include "tests/support/server_process.h"

#include <string>
#include <vector>

namespace testsupport {

// A `trunkStatus` signal.
inline bool is_status_signal(const std::string& hex_frame) {
  LGCP::Message m;
  return decode(hex_frame, m) && m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().trunkStatus_isSelected();
}

// The next frame that is not a status report; "" when none came in time.
inline std::string next_non_status(ControllerClient& ctl, int timeout_ms) {
  const std::int64_t deadline = real_ms() + timeout_ms;
  for (;;) {
    const std::int64_t left = deadline - real_ms();
    const std::string f = ctl.next(left > 0 ? static_cast<int>(left) : 0);
    if (f.empty() || !is_status_signal(f)) return f;
  }
}

// Every frame there now that is not a status report.
inline std::vector<std::string> non_status_frames(ControllerClient& ctl, int timeout_ms) {
  std::vector<std::string> out;
  for (const auto& f : ctl.frames(timeout_ms))
    if (!is_status_signal(f)) out.push_back(f);
  return out;
}

}  // namespace testsupport
