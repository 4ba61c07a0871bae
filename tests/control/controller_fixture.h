#pragma once
// A control server under test and a controller that reaches it over
// loopback TCP, with the loop on the virtual clock.
#include "control/acceptor_net_check_connection.h"
#include "control/ctrl_server.h"
#include "tests/support/controller_client.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <string>
#include <vector>

namespace controltest {

using Strings = std::vector<std::string>;

// Images of the control link (aligned PER).
constexpr char ping_seq1_slot5[] = "C0 01 01 00 05 18";
constexpr char success_seq1_slot5[] = "C0 01 01 00 05 40";
constexpr char unexpected_seq1_slot5[] = "C0 01 01 00 05 64";

class ControllerTest : public testsupport::VirtualClockTest {
 protected:
  // Hands the server a checking acceptor on a port of the kernel's choice.
  void listen(CtrlSrv::Server& srv) {
    auto* acc = new Control::AcceptorNetCheckConnection(0);
    srv.Activate(acc);
    port = acc->GetBoundPort();
    ASSERT_NE(port, 0);
  }
  void connect(CtrlSrv::Server& srv) {
    listen(srv);
    ASSERT_TRUE(ctl.connect(port));
    run_for(10);
  }
  // The frames that come back for one message.
  Strings ask(const std::string& hex) {
    ctl.send(hex);
    run_for(10);
    return ctl.frames();
  }
  // How the server's log lines name the controller.
  std::string peer() const { return "127.0.0.1:" + std::to_string(ctl.local_port()); }

  testsupport::StreamCapture cap;
  testsupport::ControllerClient ctl;
  std::uint16_t port = 0;
};

}  // namespace controltest
