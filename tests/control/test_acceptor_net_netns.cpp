// The control port against a controller on another host, reached over a
// real interface (a veth pair into a namespace of the controller's own):
// when that interface goes down the controller can no longer be heard, and
// the next controller's knock must still get the port within the probe's
// few seconds. Waits in real time (about 5 s): the kernel's keepalive
// probes decide it.
#include "control/acceptor_net_check_connection.h"
#include "tests/control/notify_recorder.h"
#include "tests/support/loopback.h"
#include "tests/support/netns.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

using testsupport::ip;
using testsupport::StreamCapture;

namespace {

// The controller: connects to the server at 10.80.0.1 and then only lets
// its kernel answer (acknowledgements, keepalive probes).
void silent_controller(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  ::inet_pton(AF_INET, "10.80.0.1", &a.sin_addr);
  for (int i = 0; i < 300; ++i) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s >= 0 && ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      char c;
      while (::read(s, &c, 1) > 0) {
      }
      return;
    }
    if (s >= 0) ::close(s);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

class AcceptorNetnsTest : public testsupport::VirtualClockTest {
 protected:
  StreamCapture cap;
  controltest::NotifyRecorder owner;

  // Runs the loop in real time until `done`, at most `ms`.
  static bool until(unsigned int ms, const std::function<bool()>& done) {
    for (unsigned int t = 0; t < ms; t += 50) {
      run_for(50);
      if (done()) return true;
    }
    return false;
  }
};

TEST_F(AcceptorNetnsTest, ControllerBehindAnInterfaceThatGoesDownGivesWayToTheNextOne) {
  RUN_IN_NETNS(r, [&] {
    platform::vclock::disable();
    ip("link set lo up");
    Control::AcceptorNetCheckConnection acc;
    acc.Bind(&owner);
    acc.service_name("server");
    acc.Activate();
    const std::uint16_t port = acc.GetBoundPort();
    const pid_t controller = testsupport::start_peer("v0", "v1", "10.80.0.2/24", [port] { silent_controller(port); });
    ip("addr add 10.80.0.1/24 dev v0");
    ip("link set v0 up");
    testsupport::wait_running("v0");

    std::ostringstream out;
    out << "served " << until(3000, [&] { return owner.connects == 1; }) << " from "
        << acc.GetAddr().substr(0, acc.GetAddr().find(':')) << "\n";

    ip("link set v0 down");
    testsupport::LoopbackPeer next;
    next.connect(port);
    const bool dropped = until(15000, [&] { return owner.disconnects == 1; });
    out << "refused " << StreamCapture::count(cap.err(), "refuse connection from 127.0.0.1:") << ", dropped " << dropped
        << "\n";
    testsupport::LoopbackPeer again;
    again.connect(port);
    out << "next served " << until(1000, [&] { return owner.connects == 2; }) << "\n";
    acc.Deactivate();
    testsupport::end_peer(controller);
    return out.str() + '\x1e' + cap.all();
  });
  const auto at = r.output.find('\x1e');
  EXPECT_EQ(r.output.substr(0, at),
            "served 1 from 10.80.0.2\n"
            "refused 1, dropped 1\n"
            "next served 1\n")
      << (at == std::string::npos ? std::string() : r.output.substr(at + 1));
}

}  // namespace
