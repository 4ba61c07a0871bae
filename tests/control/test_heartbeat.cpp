#include "control/heartbeat.h"
#include "tests/control/controller_fixture.h"
#include "tests/control/service_probe.h"

#include <gtest/gtest.h>

using namespace controltest;

namespace {

const char query_seq1_slot5[] = "C0 01 01 00 05 00";
const char timeout_line[] = "heartbeat timeout!!!";

// The program's own server with the heartbeat bound first and a service
// behind it; bindings last for the whole run, so they are made once.
Strings& journal() {
  static Strings j;
  static ServiceProbe probe("next", j);
  static bool bound = false;
  if (!bound) {
    ctrlServer.Bind(&HeartBeatCtl::instance());
    ctrlServer.Bind(&probe);
    bound = true;
  }
  return j;
}

class HeartbeatTest : public ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    journal();
    connect(ctrlServer);
    journal().clear();
  }
  void TearDown() override {
    ctrlServer.Deactivate();
    ControllerTest::TearDown();
  }

  // Times (loop clock) of the timeout lines.
  std::vector<std::int64_t> timeouts() const {
    std::vector<std::int64_t> t;
    for (const auto& l : cap.log())
      if (l.text == timeout_line) t.push_back(l.ms);
    return t;
  }
};

TEST_F(HeartbeatTest, PingIsAnsweredHereAndOtherCommandsGoOn) {
  EXPECT_EQ(ask(ping_seq1_slot5), Strings{success_seq1_slot5});
  EXPECT_TRUE(journal().empty());
  EXPECT_EQ(ask(query_seq1_slot5), Strings{unexpected_seq1_slot5});
  EXPECT_EQ(journal(), Strings{"next command"});
}

TEST_F(HeartbeatTest, EveryCommandButNothingElseRestartsTheSupervision) {
  const std::int64_t t0 = now_ms();
  ask(ping_seq1_slot5);
  run_for(100000);
  ask(query_seq1_slot5);  // not a ping, still a command
  run_for(100000);
  ask("C0 01");              // undecodable
  ask(success_seq1_slot5);   // a response
  ask("C0 01 01 04 00 18");  // slot 1024
  journal().clear();
  run_for(19800);
  EXPECT_TRUE(timeouts().empty());
  EXPECT_FALSE(ctl.closed());

  run_for(200);
  ASSERT_EQ(timeouts().size(), 1u) << cap.all();
  EXPECT_NEAR(timeouts()[0] - t0, 220000, 50);
  EXPECT_TRUE(ctl.closed());
  EXPECT_EQ(journal(), Strings{"next disconnect"});
  EXPECT_FALSE(HeartBeatCtl::instance().is_supervising());
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
