// The TDM clock selection service: which source each clockCfg selects, the
// free-running clock on connect and disconnect, a device that is missing or
// refuses, and clock control switched off.
#include "board/services/bus_ctl.h"
#include "board/services/spi_ctrl.h"
#include "tests/board/board_fixture.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using boardtest::BoardTest;
using boardtest::clock_image;
using boardtest::sim;
using boardtest::Strings;

class BusCtlTest : public BoardTest {
 protected:
  void make() {
    bus = std::make_unique<BusCtl>();
    start({bus.get()});
  }
  std::unique_ptr<BusCtl> bus;
};

TEST_F(BusCtlTest, ConnectAndDisconnectSelectTheFreeRunningClock) {
  make();
  EXPECT_EQ(sim("hal clock"), "source 4 selects 1");
  EXPECT_TRUE(cap.has(cap.err(), "clkctl: clock source = freerun"));
  EXPECT_EQ(cap.count(cap.err(), "clkctl: set clock source cmd: "), 1);
  EXPECT_EQ(ask(clock_image(1, false, true, 2)), Strings{"success"});
  EXPECT_EQ(sim("hal clock"), "source 2 selects 2");
  ctl.close();
  run_for(10);
  EXPECT_EQ(sim("hal clock"), "source 4 selects 3");
  // A service closes the device it opened when it goes.
  const std::string devices = sim("devices");
  std::make_unique<BusCtl>()->OnConnect();
  EXPECT_EQ(sim("devices"), devices);
}

TEST_F(BusCtlTest, EachRequestSelectsItsSource) {
  make();
  struct Case {
    bool internal, enabled;
    int source;
    const char* selected;  // "hal clock" afterwards
    const char* line;      // the last line on the error stream
  } cases[] = {
      {true, true, 2, "source 4 selects 2", "clkctl: clock source = freerun"},
      {false, false, 2, "source 5 selects 3", "clkctl: clock source = X3"},
      {false, true, 2, "source 2 selects 4", "clkctl: clock source = f2"},
      {false, true, 0, "source 0 selects 5", "clkctl: clock source = f0"},
      {false, true, 7, "source 7 selects 6", "clkctl: clock source = ?2"},
      // Beyond the name table the number itself is shown.
      {false, true, 8, "source 8 selects 7", "clkctl: clock source = 8"},
      {false, true, 9, "source 9 selects 8", "clkctl: clock source = 9"},
      // A negative source selects nothing, and that is not an error.
      {false, true, -1, "source 9 selects 8", nullptr},
  };
  for (const auto& c : cases) {
    cap.clear();
    EXPECT_EQ(ask(clock_image(3, c.internal, c.enabled, c.source)), Strings{"success"}) << c.selected;
    EXPECT_EQ(sim("hal clock"), c.selected);
    // The request in value notation takes several lines; the service's
    // own lines start with its header.
    const auto lines = cap.matching(cap.err(), "clkctl: ");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().text.rfind("clkctl: set clock source cmd: ", 0), 0u) << cap.all();
    if (c.line) {
      EXPECT_EQ(lines.size(), 2u) << cap.all();
      EXPECT_EQ(lines.back().text, c.line);
    } else {
      EXPECT_EQ(lines.size(), 1u) << cap.all();
    }
  }
}

TEST_F(BusCtlTest, AClockThatWasNotSetIsAnInternalError) {
  make();
  sim("hal fail clock 5 1");
  EXPECT_EQ(ask(clock_image(1, false, true, 1)), Strings{"error internal"});
  EXPECT_TRUE(cap.has(cap.err(), "clkctl: HW_CLOCK_SELECT fail."));
  EXPECT_EQ(ask(clock_image(2, false, true, 1)), Strings{"success"});
}

TEST_F(BusCtlTest, WithoutTheDeviceNoFramerStaysClockMaster) {
  // The framer service exists (it does at start-up), then the device goes.
  spiCtrl::instance();
  const std::string writes_before = sim("hal spi writes");
  sim("hal fail open 2");
  make();
  EXPECT_TRUE(cap.has(cap.err(), "clkctl: set clock source fail: code 1."));
  EXPECT_EQ(ask(clock_image(1, true, true, 0)), Strings{"error internal"});
  EXPECT_EQ(sim("hal clock"), "source none selects 0");
  EXPECT_TRUE(cap.has(cap.log(), "spi: clock master disabled"));
  sim("hal fail open 0");
  EXPECT_EQ(ask(clock_image(2, true, true, 0)), Strings{"success"});
  EXPECT_EQ(sim("hal clock"), "source 4 selects 1");
}

TEST_F(BusCtlTest, DisabledControlLeavesTheClockAloneAndRefusesRequests) {
  bus = std::make_unique<BusCtl>();
  bus->DisableControl();
  EXPECT_TRUE(cap.has(cap.log(), "clock control disabled."));
  start({bus.get()});
  EXPECT_EQ(ask(clock_image(1, false, true, 2)), Strings{"error unsupported"});
  ctl.close();
  run_for(10);
  EXPECT_EQ(sim("hal clock"), "source none selects 0");
  EXPECT_EQ(cap.count(cap.err(), "clkctl"), 0) << cap.all();
}

}  // namespace
