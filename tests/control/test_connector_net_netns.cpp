// The reconnecting TCP connector against an address on a link with nothing
// behind it, which loopback never offers: the connect hangs until the kernel
// gives up. Runs in a private user and network namespace.
#include "control/connector_net.h"
#include "tests/control/notify_recorder.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/netns.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <sstream>
#include <string>

using testsupport::ip;
using testsupport::StreamCapture;

namespace {

double cpu_seconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

class ConnectorNetnsTest : public testsupport::VirtualClockTest {
 protected:
  StreamCapture cap;
  controltest::NotifyRecorder owner;

  // The child's findings, then (after a separator) its log lines, which the
  // parent shows when the findings differ.
  std::string report(const std::ostringstream& out) const { return out.str() + '\x1e' + cap.all(); }
  static std::string findings(const std::string& output) { return output.substr(0, output.find('\x1e')); }
  static std::string lines(const std::string& output) {
    const auto at = output.find('\x1e');
    return at == std::string::npos ? std::string() : output.substr(at + 1);
  }
};

// An address on a link whose other end is down: the attempt stays pending
// until the kernel gives up on the handshake (one retransmission here, about
// 3 s; this test waits for it in real time), then fails like an attempt
// refused late. The loop sleeps meanwhile instead of spinning on the socket.
TEST_F(ConnectorNetnsTest, AttemptThatNeverCompletesEndsWithTheKernelTimeoutWithoutSpinning) {
  RUN_IN_NETNS(r, [&] {
    ip("link set lo up");
    ip("link add v0 type veth peer name v1");
    ip("addr add 10.78.0.1/24 dev v0");
    ip("link set v0 up");
    const int fd = ::open("/proc/sys/net/ipv4/tcp_syn_retries", O_WRONLY | O_CLOEXEC);
    if (fd < 0 || ::write(fd, "1", 1) != 1)
      throw testsupport::NetnsUnavailable("cannot shorten the handshake time-out");
    ::close(fd);
    platform::vclock::disable();

    std::ostringstream out;
    const int before = testsupport::open_descriptors();
    const double cpu = cpu_seconds();
    Control::ConnectorNet conn("10.78.0.2", 4000);
    conn.Bind(&owner);
    conn.Activate();
    run_for(4500);
    const double used = cpu_seconds() - cpu;
    out << "failures " << StreamCapture::count(cap.err(), "fail to connect to 10.78.0.2:4000") << " state "
        << Control::GetTextNotation(conn.GetState()) << " spinning " << (used > 1.0) << "\n";
    conn.Deactivate();
    out << "descriptors held " << testsupport::open_descriptors() - before << "\n";
    return report(out);
  });
  EXPECT_EQ(findings(r.output),
            "failures 1 state Connecting spinning 0\n"
            "descriptors held 0\n")
      << lines(r.output);
}

}  // namespace
