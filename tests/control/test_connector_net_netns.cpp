// The reconnecting TCP connector against what a board's network does and
// loopback never does: no route to the agent (the connect fails at once with
// ENETUNREACH) and an address on a link with nothing behind it (the connect
// hangs until the kernel gives up). Each runs in a private user and network
// namespace.
#include "control/connector_net.h"
#include "tests/control/notify_recorder.h"
#include "tests/support/netns.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

using testsupport::ip;
using testsupport::StreamCapture;

namespace {

#define RUN_IN_NETNS(result, body)               \
  auto result = testsupport::run_in_netns(body); \
  if (!result.ran) GTEST_SKIP() << result.reason;

int open_descriptors() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d)) ++n;
    ::closedir(d);
  }
  return n;
}

std::string gaps(const std::vector<testsupport::LogLine>& lines) {
  std::ostringstream out;
  for (std::size_t i = 1; i < lines.size(); ++i) out << (i > 1 ? " " : "") << lines[i].ms - lines[i - 1].ms;
  return out.str();
}

// A listening TCP socket on a given IPv4 address.
int listen_on(const char* addr, std::uint16_t port) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  ::inet_pton(AF_INET, addr, &a.sin_addr);
  if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 4) != 0)
    throw testsupport::NetnsUnavailable(std::string("cannot listen on ") + addr);
  return s;
}

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

// No route to the agent: every attempt fails inside connect, on the refused
// schedule, without a descriptor left behind; once the network is there the
// next attempt connects.
TEST_F(ConnectorNetnsTest, UnreachableNetworkKeepsTheScheduleAndTheLinkReturnsWithTheRoute) {
  RUN_IN_NETNS(r, [&] {
    ip("link set lo up");
    std::ostringstream out;
    const int before = open_descriptors();
    Control::ConnectorNet conn("10.77.0.1", 4000);
    conn.Bind(&owner);
    conn.Activate();
    run_for(47500);
    const auto fails = StreamCapture::matching(cap.err(), "can't connect to 10.77.0.1:4000 : ");
    out << "attempts " << fails.size() << " gaps " << gaps(fails) << "\n";
    if (!fails.empty()) out << fails[0].text << "\n";
    out << "descriptors held " << open_descriptors() - before << "\n";

    ip("link add v0 type veth peer name v1");
    ip("addr add 10.77.0.1/24 dev v0");
    ip("link set v0 up");
    const int listener = listen_on("10.77.0.1", 4000);
    run_for(20000);
    out << "connects " << owner.connects << " state " << Control::GetTextNotation(conn.GetState()) << "\n";
    conn.Deactivate();
    ::close(listener);
    out << "descriptors held " << open_descriptors() - before << "\n";
    return report(out);
  });
  EXPECT_EQ(findings(r.output),
            "attempts 10 gaps 1000 1000 1000 1000 1000 1000 1000 20000 20000\n"
            "can't connect to 10.77.0.1:4000 : Network is unreachable\n"
            "descriptors held 1\n"  // the socket of the last attempt
            "connects 1 state Connected\n"
            "descriptors held 0\n")
      << lines(r.output);
}

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
    const int before = open_descriptors();
    const double cpu = cpu_seconds();
    Control::ConnectorNet conn("10.78.0.2", 4000);
    conn.Bind(&owner);
    conn.Activate();
    run_for(4500);
    const double used = cpu_seconds() - cpu;
    out << "failures " << StreamCapture::count(cap.err(), "fail to connect to 10.78.0.2:4000") << " state "
        << Control::GetTextNotation(conn.GetState()) << " spinning " << (used > 1.0) << "\n";
    conn.Deactivate();
    out << "descriptors held " << open_descriptors() - before << "\n";
    return report(out);
  });
  EXPECT_EQ(findings(r.output),
            "failures 1 state Connecting spinning 0\n"
            "descriptors held 0\n")
      << lines(r.output);
}

}  // namespace
