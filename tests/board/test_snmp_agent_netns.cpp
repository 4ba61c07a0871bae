// An SNMP agent link to an agent on another host, reached over a real
// interface (a veth pair into a namespace of the agent's own): the
// interface goes down under the live link, the link is dropped by its
// silence limit, its attempts meet an unreachable network, and it comes
// back once the interface is up again.
#include "board/snmp/snmp_agent_ctrl.h"
#include "board/snmp/snmp_agent_instance.h"
#include "runtime/ini_file.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/netns.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using testsupport::ip;
using testsupport::StreamCapture;

namespace {

// The agent: takes every connection on 10.79.0.2:4000 and sends back what
// it receives, so each ping is answered by a frame (any frame counts as
// life for the link).
void echo_agent() {
  const int l = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(4000);
  ::inet_pton(AF_INET, "10.79.0.2", &a.sin_addr);
  if (l < 0 || ::bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(l, 4) != 0) return;
  std::vector<pollfd> fds{{l, POLLIN, 0}};
  for (;;) {
    if (::poll(fds.data(), fds.size(), -1) < 0) continue;
    if (fds[0].revents & POLLIN) {
      const int c = ::accept4(l, nullptr, nullptr, SOCK_CLOEXEC);
      if (c >= 0) fds.push_back({c, POLLIN, 0});
    }
    for (std::size_t i = 1; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      char buf[4096];
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0 && ::write(fds[i].fd, buf, static_cast<std::size_t>(n)) == n) continue;
      ::close(fds[i].fd);
      fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i--));
    }
  }
}

class SnmpAgentNetnsTest : public testsupport::VirtualClockTest {
 protected:
  StreamCapture cap;

  // Runs the loop for `ms` of virtual time in steps, giving the kernel and
  // the agent a moment of real time between them; stops early when `done`.
  static bool step(
      unsigned int ms, const std::function<bool()>& done = [] { return false; }) {
    for (unsigned int t = 0; t < ms; t += 100) {
      run_for(100);
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
};

TEST_F(SnmpAgentNetnsTest, LinkOverAnInterfaceThatGoesDownIsDroppedRetriedAndComesBack) {
  RUN_IN_NETNS(r, [&] {
    ip("link set lo up");
    const pid_t agent = testsupport::start_peer("v0", "v1", "10.79.0.2/24", echo_agent);
    ip("addr add 10.79.0.1/24 dev v0");
    ip("link set v0 up");
    testsupport::wait_running("v0");

    std::ostringstream out;
    const int before = testsupport::open_descriptors();
    {
      SnmpAgentCtrl ctrl;
      IniFile::File config;
      std::istringstream text("[snmpagent]\nhost = 10.79.0.2:4000\nname = zarngw\n");
      text >> config;
      ctrl.CreateInstances(config["snmpagent"]);
      SnmpAgentInstance& link = *ctrl.links().front();
      const auto connected = [&] { return link.state() == SnmpAgentInstance::connected; };
      out << "first connect " << step(3000, connected);
      // The monitoring service pushes its state on every connect; the first
      // value sent starts the pings, which the agent answers.
      std::string value = "1";
      ctrl.Send(27, value);
      step(40000);
      out << ", after 40 s " << connected() << "\n";

      ip("link set v0 down");
      const std::string unreachable = "can't connect to 10.79.0.2:4000 : Network is unreachable";
      step(60000);
      const auto fails = StreamCapture::matching(cap.err(), unreachable);
      int odd = 0;
      for (std::size_t i = 1; i < fails.size(); ++i) {
        const auto gap = fails[i].ms - fails[i - 1].ms;
        if (gap != 1000 && gap != 20000) ++odd;
      }
      out << "interface down: dropped " << (link.state() == SnmpAgentInstance::lost) << ", attempts "
          << (fails.size() >= 7) << ", off the schedule " << odd << "\n";

      ip("link set v0 up");
      testsupport::wait_running("v0");
      out << "interface up: connected again " << step(30000, connected) << "\n";
    }
    testsupport::end_peer(agent);
    out << "descriptors held " << testsupport::open_descriptors() - before << "\n";
    return out.str() + '\x1e' + cap.all();
  });
  const auto at = r.output.find('\x1e');
  EXPECT_EQ(r.output.substr(0, at),
            "first connect 1, after 40 s 1\n"
            "interface down: dropped 1, attempts 1, off the schedule 0\n"
            "interface up: connected again 1\n"
            "descriptors held 0\n")
      << (at == std::string::npos ? std::string() : r.output.substr(at + 1));
}

}  // namespace
