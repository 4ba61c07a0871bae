// The words of the simulated DSP units in the running server: registered
// with the program (nothing else refers to them), answered before any slot
// has opened the devices.
#include "tests/support/server_process.h"

#include <gtest/gtest.h>

namespace {

TEST(DspUnitWords, ServedByTheRunningServer) {
  testsupport::RunningServer srv;
  ASSERT_TRUE(srv.ready()) << srv.log();
  EXPECT_EQ(srv.sim.ask("dtmf log"), "");
  EXPECT_EQ(srv.sim.ask("dsp log"), "");
  EXPECT_EQ(srv.sim.ask("dsp version 3"), "");
  EXPECT_EQ(srv.sim.ask("dtmf fail DTMF_DIAL 5 1"), "");
  EXPECT_EQ(srv.sim.ask("dsp fail open 2"), "");
  // No slot kind of the server has a time slot on the units yet.
  EXPECT_EQ(srv.sim.ask("dtmf event 11 5 123456 1"), "error dtmf is not open");
  EXPECT_EQ(srv.sim.ask("dsp raw 01020304"), "error dsp is not open");
  EXPECT_EQ(srv.stop(), 0) << srv.log();
}

}  // namespace
