// The board monitoring service in-process, on the virtual clock, against the
// simulated "/dev/hal": display commands whose board step fails.
#include "board/monitoring/monitoring_ctl.h"
#include "tests/board/board_fixture.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using boardtest::BoardTest;
using boardtest::command_image;
using boardtest::sim;
using boardtest::Strings;

std::string framer_image(int seq, int e1, bool line, bool on) {
  return command_image(seq, [&](LGCP::Command& c) {
    LGCP::FramerInfo& f = c.select_display().select_framer();
    f.set_e1(e1);
    if (line)
      f.set_info().select_line(on);
    else
      f.set_info().select_link(on);
  });
}

class MonitoringCtlTest : public BoardTest {
 protected:
  void make() {
    mon = std::make_unique<MonitoringCtl>();
    start({mon.get()});
    received();
    sim("hal led");
  }
  std::unique_ptr<MonitoringCtl> mon;
};

// Like a clock or a trunk mode the board refused, LEDs it did not take are
// not answered as shown, and a later write does not carry them.
TEST_F(MonitoringCtlTest, FramerLedsTheBoardDidNotTakeAreRefused) {
  make();
  EXPECT_EQ(ask(framer_image(1, 2, true, true)), Strings{"success"});
  EXPECT_EQ(sim("hal led"), "30");
  sim("hal fail led 5 1");
  EXPECT_EQ(ask(framer_image(2, 0, true, true)), Strings{"error internal"});
  EXPECT_EQ(mon->led_byte(), 0x30);
  EXPECT_EQ(ask(framer_image(3, 2, false, true)), Strings{"success"});
  EXPECT_EQ(sim("hal led"), "20");
}

TEST_F(MonitoringCtlTest, FramerLedsWithoutTheDeviceAreRefusedUntilItOpens) {
  sim("hal fail open 2");
  make();
  EXPECT_EQ(ask(framer_image(1, 1, true, true)), Strings{"error internal"});
  EXPECT_EQ(sim("hal led"), "");
  sim("hal fail open 0");
  // The first use of the device turns every LED off, then sets the pattern.
  EXPECT_EQ(ask(framer_image(2, 1, true, true)), Strings{"success"});
  EXPECT_EQ(sim("hal led"), "00\n0c");
}

}  // namespace
