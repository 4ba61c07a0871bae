#include "control/acceptor_net_check_connection.h"
#include "control/ctrl_server.h"
#include "control/heartbeat.h"
#include "tests/control/service_probe.h"
#include "tests/support/controller_client.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

using controltest::ServiceProbe;
using testsupport::ControllerClient;
using testsupport::StreamCapture;
using Strings = std::vector<std::string>;

namespace {

const char ping_seq1_slot5[] = "C0 01 01 00 05 18";
const char success_seq1_slot5[] = "C0 01 01 00 05 40";
const char unexpected_seq1_slot5[] = "C0 01 01 00 05 64";
const char timeout_line[] = "heartbeat timeout!!!";

// The program's own server with the heartbeat bound first and a service
// behind it; bindings last for the whole run, so they are made once.
Strings& journal() {
  static Strings j;
  return j;
}

ServiceProbe& next_service() {
  static ServiceProbe probe("next", journal());
  static bool bound = false;
  if (!bound) {
    ctrlServer.Bind(&HeartBeatCtl::instance());
    ctrlServer.Bind(&probe);
    bound = true;
  }
  return probe;
}

class HeartbeatTest : public testsupport::VirtualClockTest {
 protected:
  void SetUp() override {
    VirtualClockTest::SetUp();
    next_service();
    journal().clear();
    auto* acc = new Control::AcceptorNetCheckConnection(0);
    ctrlServer.Activate(acc);
    port = acc->GetBoundPort();
    ASSERT_NE(port, 0);
    ASSERT_TRUE(ctl.connect(port));
    run_for(10);
    journal().clear();
  }
  void TearDown() override {
    ctrlServer.Deactivate();
    VirtualClockTest::TearDown();
  }

  Strings ask(const std::string& hex) {
    ctl.send(hex);
    run_for(10);
    return ctl.frames();
  }

  // Times (loop clock) of the timeout lines.
  std::vector<std::int64_t> timeouts() const {
    std::vector<std::int64_t> t;
    for (const auto& l : cap.log())
      if (l.text == timeout_line) t.push_back(l.ms);
    return t;
  }

  StreamCapture cap;
  ControllerClient ctl;
  std::uint16_t port = 0;
};

TEST_F(HeartbeatTest, PingIsAnsweredHereAndOtherCommandsGoOn) {
  EXPECT_EQ(ask(ping_seq1_slot5), Strings{success_seq1_slot5});
  EXPECT_TRUE(journal().empty());
  EXPECT_EQ(ask("C0 01 01 00 05 00"), Strings{unexpected_seq1_slot5});  // query
  EXPECT_EQ(journal(), Strings{"next command"});
}

TEST_F(HeartbeatTest, ControllerSilentAfterACommandIsDropped) {
  const std::int64_t t0 = now_ms();
  ASSERT_EQ(ask(ping_seq1_slot5), Strings{success_seq1_slot5});
  run_for(119900);
  EXPECT_TRUE(timeouts().empty());
  EXPECT_FALSE(ctl.closed());
  run_for(200);
  ASSERT_EQ(timeouts().size(), 1u) << cap.all();
  EXPECT_NEAR(timeouts()[0] - t0, 120000, 20);
  EXPECT_TRUE(ctl.closed());
  EXPECT_EQ(journal(), Strings{"next disconnect"});
  EXPECT_FALSE(HeartBeatCtl::instance().is_supervising());
}

TEST_F(HeartbeatTest, EveryCommandRestartsTheSupervision) {
  const std::int64_t t0 = now_ms();
  ask(ping_seq1_slot5);
  run_for(100000);
  ask("C0 01 01 00 05 00");  // not a ping, still a command
  run_for(150000);
  ASSERT_EQ(timeouts().size(), 1u) << cap.all();
  EXPECT_NEAR(timeouts()[0] - t0, 220000, 40);
}

TEST_F(HeartbeatTest, MessagesThatReachNoServiceDoNotRestartIt) {
  const std::int64_t t0 = now_ms();
  ask(ping_seq1_slot5);
  run_for(60000);
  ask("C0 01");                    // undecodable
  ask(success_seq1_slot5);         // a response
  ask("C0 01 01 04 00 18");        // slot 1024
  run_for(60100);
  ASSERT_EQ(timeouts().size(), 1u) << cap.all();
  EXPECT_NEAR(timeouts()[0] - t0, 120000, 40);
}

TEST_F(HeartbeatTest, SupervisionStartsWithTheFirstCommandOfEachController) {
  // Connected and silent: not supervised.
  run_for(300000);
  EXPECT_TRUE(timeouts().empty());
  EXPECT_FALSE(ctl.closed());

  // The controller goes while supervised: the supervision goes with it.
  ask(ping_seq1_slot5);
  ctl.close();
  run_for(10);
  EXPECT_FALSE(HeartBeatCtl::instance().is_supervising());
  ASSERT_TRUE(ctl.connect(port));
  run_for(200000);
  EXPECT_TRUE(timeouts().empty());

  const std::int64_t t1 = now_ms();
  ask(ping_seq1_slot5);
  run_for(120100);
  ASSERT_EQ(timeouts().size(), 1u);
  EXPECT_NEAR(timeouts()[0] - t1, 120000, 20);
}

}  // namespace
