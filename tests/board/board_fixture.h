#pragma once
// Board services under test: a control server of their own with a
// controller over loopback TCP, the loop on the virtual clock, and the
// simulated devices reset before and after each test.
#include "control/acceptor_net_check_connection.h"
#include "control/ctrl_server.h"
#include "platform/sim/control_words.h"
#include "platform/sim/device_model.h"
#include "platform/sim/e1_cas.h"
#include "platform/sim/hal.h"
#include "platform/sim/hal_framers.h"
#include "platform/sim/maintenance.h"
#include "tests/board/board_lgcp.h"
#include "tests/support/controller_client.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <string>
#include <vector>

namespace boardtest {

using Strings = std::vector<std::string>;

inline void reset_board() {
  // Parts of the board (the framers of "/dev/hal") join their models when
  // the devices are first installed: make sure that has happened.
  platform::sim::install_default_models();
  platform::sim::hal().clear();
  platform::sim::hal_framers().clear();
  platform::sim::maintenance_model().clear();
  platform::sim::e1_cas_model().clear();
}

// The data lines of a control-socket request, joined by "\n".
inline std::string sim(const std::string& line) {
  std::string a = platform::sim::control_request(line);
  const std::string ok = "ok\n";
  if (a.size() >= ok.size() && a.compare(a.size() - ok.size(), ok.size(), ok) == 0) {
    a.resize(a.size() - ok.size());
    if (!a.empty() && a.back() == '\n') a.pop_back();
  }
  return a;
}

class BoardTest : public testsupport::VirtualClockTest {
 protected:
  void SetUp() override {
    VirtualClockTest::SetUp();
    reset_board();
  }
  void TearDown() override {
    if (active_) srv.Deactivate();
    reset_board();
    VirtualClockTest::TearDown();
  }
  // Binds the services in order and connects the controller.
  void start(const std::vector<CtrlSrv::Service*>& services) {
    for (auto* s : services) srv.Bind(s);
    auto* acc = new Control::AcceptorNetCheckConnection(0);
    srv.Activate(acc);
    active_ = true;
    port_ = acc->GetBoundPort();
    ASSERT_NE(port_, 0);
    ASSERT_TRUE(ctl.connect(port_));
    run_for(10);
  }
  void reconnect() {
    ctl.close();
    run_for(10);
    ASSERT_TRUE(ctl.connect(port_));
    run_for(10);
  }
  // What the controller received within `ms` of loop time, as text.
  Strings received(unsigned ms = 10) {
    run_for(ms);
    return describe_all(ctl.frames());
  }
  Strings ask(const std::string& image) {
    ctl.send(image);
    return received();
  }

  testsupport::StreamCapture cap;
  CtrlSrv::Server srv;
  testsupport::ControllerClient ctl;

 private:
  std::uint16_t port_ = 0;
  bool active_ = false;
};

}  // namespace boardtest
