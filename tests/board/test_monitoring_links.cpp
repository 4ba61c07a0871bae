// Black-box runs of the monitoring links and the controller check, in real
// time: a silent agent is dropped 30 to 35 s after it connected and comes
// back 10 s later, an answering one stays; the gateway's own controller
// state follows the process named "controller". Tests whose names hold
// "ControllerProcess" share a ctest resource lock, since that process is a
// real one that every server on the machine sees.
#include "tests/board/snmp_test_agent.h"
#include "tests/support/server_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

namespace {

using testsupport::SnmpTestAgent;

std::string config(const SnmpTestAgent& a, const SnmpTestAgent& b) {
  return "[snmpagent]\nhost = 127.0.0.1:" + std::to_string(a.port()) + "\nname = zarngw\n[snmpagent]\nhost = 127.0.0.1:" +
         std::to_string(b.port()) + "\nname = dovr\n";
}

void write_config(const std::string& root, const std::string& text) {
  ASSERT_EQ(std::system(("mkdir -p '" + root + "/usr/local/etc'").c_str()), 0);
  std::ofstream(root + "/usr/local/etc/server.conf") << text;
}

std::string last(const SnmpTestAgent& a, const std::string& name) {
  auto v = a.values_of(name);
  return v.empty() ? "?" : v.back().value;
}

// Index of the first frame of a connection that carries a ping, -1 if none.
int first_ping(const SnmpTestAgent& a) {
  for (std::size_t i = 0; i < a.frames.size(); ++i) {
    const auto& f = a.frames[i];
    if (f.decoded && f.msg->get_pdu().command_isSelected() && f.msg->get_pdu().get_command().ping_isSelected())
      return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

TEST(MonitoringServer, SilentAgentDroppedWithoutControllerProcess) {
  SnmpTestAgent silent(false), answering(true);
  // The links connect while the server starts; their first frames are
  // stamped when the test first reads them, later. The connect lies between.
  const std::int64_t started = testsupport::real_ms();
  testsupport::RunningServer srv({}, [&](const std::string& root) {
    write_config(root, config(silent, answering));
    ASSERT_EQ(std::system(("mkdir -p '" + root + "/proc/voice'").c_str()), 0);
    std::ofstream(root + "/proc/voice/version") << "drv 1.4.2\n";
  });
  ASSERT_TRUE(srv.ready()) << srv.log();
  // Without a controller and without a "controller" process: not running.
  srv.ctl.close();
  auto both = [&](const std::function<bool()>& cond, int ms) {
    const std::int64_t end = testsupport::real_ms() + ms;
    for (;;) {
      silent.pump(0);
      answering.pump(0);
      if (cond()) return true;
      if (testsupport::real_ms() >= end) return false;
      silent.pump(10);
      answering.pump(10);
    }
  };
  ASSERT_TRUE(both([&] { return last(silent, "controllerStatus") == "5" && last(answering, "controllerStatus") == "5"; },
                   testsupport::patience_ms))
      << srv.log();
  ASSERT_FALSE(silent.frames.empty());
  const std::int64_t connected = silent.frames.front().ms;
  const std::size_t pushes = answering.values_of("softwareBuild").size();
  // The driver text is read at each push: two pieces are "none"; the four
  // written now are the reconnection's.
  ASSERT_TRUE(both([&] { return last(silent, "driverBuild") != "?"; }, testsupport::patience_ms)) << srv.log();
  EXPECT_EQ(last(silent, "driverBuild"), "none");
  std::ofstream(srv.board("/proc/voice/version")) << "drv 1.4.2 r5 smp\n";

  // Pings after 5000 ms without other traffic.
  ASSERT_TRUE(both([&] { return first_ping(answering) > 0; }, 20000)) << srv.log();
  const int p = first_ping(answering);
  EXPECT_GE(answering.frames[p].ms - answering.frames[p - 1].ms, 4500);

  // The silent link goes 30 to 35 s after it connected and is back 10 s
  // later; the push of the new connection reaches both links.
  ASSERT_TRUE(both([&] { return silent.connections() == 2 && !silent.frames.empty() && silent.frames.back().connection == 2; },
                   60000))
      << srv.log();
  ASSERT_TRUE(srv.wait_log(": ping timeout !!!", 1000)) << srv.log();
  std::int64_t last_of_first = 0, first_of_second = 0;
  for (const auto& f : silent.frames) {
    if (f.connection == 1) last_of_first = f.ms;
    if (f.connection == 2 && !first_of_second) first_of_second = f.ms;
  }
  EXPECT_GE(last_of_first - started, 29000);
  EXPECT_LE(last_of_first - connected, 36500);
  EXPECT_GE(first_of_second - last_of_first, 9000);
  EXPECT_LE(first_of_second - last_of_first, 13000);
  ASSERT_TRUE(both([&] { return answering.values_of("softwareBuild").size() >= pushes + 2; }, 5000));
  EXPECT_EQ(answering.connections(), 1);
  EXPECT_TRUE(both([&] { return last(silent, "driverBuild") == "1.4.2 [r5 smp]"; }, testsupport::patience_ms))
      << last(silent, "driverBuild");
}

TEST(MonitoringServer, ControllerProcessRunning) {
  const pid_t test = ::getpid();
  const pid_t controller = ::fork();
  ASSERT_GE(controller, 0);
  if (controller == 0) {
    // Ends with this test also when the test is killed (see the reaper).
    ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    if (::getppid() != test) ::_exit(0);
    ::prctl(PR_SET_NAME, "controller", 0, 0, 0);
    for (;;) ::pause();
  }
  // Gone however the test ends (a failed assertion, a killed test): left
  // behind, every later server on the machine would see a controller.
  struct Reaper {
    pid_t pid;
    void reap() {
      if (pid > 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
      }
      pid = -1;
    }
    ~Reaper() { reap(); }
  } reaper{controller};
  SnmpTestAgent agent(true), other(true);
  testsupport::RunningServer srv({}, [&](const std::string& root) { write_config(root, config(agent, other)); });
  ASSERT_TRUE(srv.ready()) << srv.log();
  srv.ctl.close();
  EXPECT_TRUE(agent.wait([&] { return last(agent, "controllerStatus") == "4"; })) << srv.log();
  reaper.reap();
  // The next controller check (every 5 s) finds it gone.
  EXPECT_TRUE(agent.wait([&] { return last(agent, "controllerStatus") == "5"; })) << srv.log();
}
