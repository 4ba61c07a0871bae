// The basic-rate framer service on the simulated "/dev/hal": set-up writes,
// the once-a-second line status, the clock hook and the driver's failures.
#include "board/services/spi_ctrl.h"
#include "tests/board/board_fixture.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

namespace {

using boardtest::BoardTest;
using boardtest::sim;
using boardtest::Strings;

// The writes of init_channel and enable_channel for one framer.
std::string setup_writes(int f) {
  std::ostringstream s;
  for (const char* w : {"0x32 0x80", "0x30 0x08", "0x57 0x30", "0x34 0x60", "0x35 0x00", "0x36 0x00", "0x37 0x00",
                        "0x32 0x00"})
    s << f << " " << w << "\n";
  return s.str();
}

std::string all_setup_writes() {
  std::string s;
  for (int f = 0; f < 8; ++f) s += setup_writes(f);
  s.pop_back();
  return s;
}

Strings bri_pass(const Strings& states, const Strings& slips = Strings(8, "0")) {
  Strings out;
  for (int f = 0; f < 8; ++f) out.push_back("bri " + std::to_string(f) + " " + states[f] + " slips " + slips[f]);
  return out;
}

class SpiCtrlTest : public BoardTest {
 protected:
  void make() { spi = std::make_unique<spiCtrl>(); }
  std::unique_ptr<spiCtrl> spi;
};

TEST_F(SpiCtrlTest, SetsUpEveryFramerWhenBuiltOnADescriptorChildrenDoNotInherit) {
  make();
  ASSERT_TRUE(spi->is_open());
  EXPECT_EQ(sim("hal spi writes"), all_setup_writes());
  EXPECT_NE(fcntl(spi->descriptor(), F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_TRUE(cap.has(cap.log(), "spi: try init"));
  EXPECT_TRUE(cap.has(cap.log(), "spi: init channel 7"));
  EXPECT_TRUE(cap.has(cap.log(), "spi: enable channel 7"));
  // Open already: later operations do not set the framers up again.
  spi->disable_channel(2);
  EXPECT_EQ(sim("hal spi writes"), all_setup_writes() + "\n2 0x32 0x80");
  EXPECT_EQ(cap.count(cap.log(), "spi: try init"), 1);
}

TEST_F(SpiCtrlTest, ReportsEachFramerEverySecondWhileConnected) {
  make();
  start({spi.get()});
  EXPECT_TRUE(spi->reporting());
  // Nothing at the connect itself; the first pass comes a second later.
  EXPECT_EQ(received(980), Strings());
  const Strings normal(8, "normal");
  EXPECT_EQ(received(40), bri_pass(normal));
  // The line-status bits, tested in order: carrier, frame, then 7 and 6.
  const int regs[8] = {0xC5, 0x85, 0x45, 0x05, 0x01, 0x00, 0x04, 0xC1};
  for (int f = 0; f < 8; ++f) sim("hal spi " + std::to_string(f) + " 0x33 " + std::to_string(regs[f]));
  EXPECT_EQ(received(1000), bri_pass({"normal", "rai", "ais", "ais", "lossBF", "lossCarrier", "lossCarrier", "lossBF"}));
  // The controller leaves: the reports stop; they come back a second after
  // the next connect.
  reconnect();
  EXPECT_EQ(received(970), Strings());
  EXPECT_EQ(received(40).size(), 8u);
  ctl.close();
  run_for(10);
  EXPECT_FALSE(spi->reporting());
  run_for(3000);
  EXPECT_EQ(sim("hal spi writes"), all_setup_writes());
}

// Each framer reports its own slips, once per run of its slip bit, whatever
// the framers read beside it show.
TEST_F(SpiCtrlTest, ASlipIsReportedOncePerFramer) {
  make();
  start({spi.get()});
  sim("hal spi 0 0x33 0xE5");
  sim("hal spi 1 0x33 0xE5");
  const Strings normal(8, "normal");
  EXPECT_EQ(received(1010), bri_pass(normal, {"1", "1", "0", "0", "0", "0", "0", "0"}));
  EXPECT_EQ(received(1000), bri_pass(normal));
  // The bit goes and comes back: a new slip.
  sim("hal spi 1 0x33 0xC5");
  EXPECT_EQ(received(1000), bri_pass(normal));
  sim("hal spi 1 0x33 0xE5");
  EXPECT_EQ(received(1000), bri_pass(normal, {"0", "1", "0", "0", "0", "0", "0", "0"}));
  // The bit on every framer: those that did not show it yet report once.
  for (int f = 0; f < 8; ++f) sim("hal spi " + std::to_string(f) + " 0x33 0xE5");
  EXPECT_EQ(received(1000), bri_pass(normal, {"0", "0", "1", "1", "1", "1", "1", "1"}));
  EXPECT_EQ(received(1000), bri_pass(normal));
  // Framer 3 clears its bit: nobody else's report changes.
  sim("hal spi 3 0x33 0xC5");
  EXPECT_EQ(received(1000), bri_pass(normal));
}

TEST_F(SpiCtrlTest, ClockHookMakesOneFramerMasterOrNone) {
  make();
  const std::string before = sim("hal spi writes");
  spi->clock(8);
  spi->clock(-2);
  EXPECT_EQ(sim("hal spi writes"), before);
  EXPECT_TRUE(cap.has(cap.log(), "spi: bad channel for set clock master 8"));
  EXPECT_TRUE(cap.has(cap.log(), "spi: bad channel for set clock master -2"));
  spi->clock(-1);
  std::string expect = before;
  for (int f = 0; f < 8; ++f) expect += "\n" + std::to_string(f) + " 0x57 0x30";
  EXPECT_EQ(sim("hal spi writes"), expect);
  EXPECT_TRUE(cap.has(cap.log(), "spi: clock master disabled"));
  spi->clock(0);
  for (int f = 0; f < 8; ++f) expect += "\n" + std::to_string(f) + " 0x57 0x30";
  expect += "\n0 0x57 0x38";
  EXPECT_EQ(sim("hal spi writes"), expect);
  EXPECT_TRUE(cap.has(cap.log(), "spi: set clock master on channel 0"));
  spi->init_channel(8);
  spi->enable_channel(-1);
  spi->disable_channel(9);
  EXPECT_EQ(sim("hal spi writes"), expect);
  EXPECT_TRUE(cap.has(cap.log(), "spi: bad channel for init 8"));
  EXPECT_TRUE(cap.has(cap.log(), "spi: bad channel for enable -1"));
  EXPECT_TRUE(cap.has(cap.log(), "spi: bad channel for disable 9"));
  // Nor was a framer past the eighth asked for, whatever the driver says.
  EXPECT_EQ(cap.count(cap.log(), "spi: write error"), 0);
}

TEST_F(SpiCtrlTest, ReadErrorsReportLossOfCarrierAndNoSpiBusStopsEverything) {
  make();
  start({spi.get()});
  sim("hal fail spi-read 5 1");
  Strings states(8, "normal");
  states[0] = "lossCarrier";
  EXPECT_EQ(received(1010), bri_pass(states));
  EXPECT_TRUE(cap.has(cap.log(), "spi: read error: channel=0 addr=51"));
  sim("hal fail spi-write 5 1");
  spi->disable_channel(4);
  EXPECT_TRUE(cap.has(cap.log(), "spi: write error: channel=4 addr=50 data=128"));
  EXPECT_EQ(cap.count(cap.log(), "spi: write error"), 1);
  // A board without an SPI bus: logged once, the pass ends with carrier
  // loss, and nothing more is asked of the driver.
  sim("hal fail spi-read 19");
  EXPECT_EQ(received(1000), bri_pass(Strings(8, "lossCarrier")));
  EXPECT_FALSE(spi->spi_enabled());
  EXPECT_EQ(cap.count(cap.log(), "spi: hal without spi"), 1);
  const std::string writes = sim("hal spi writes");
  EXPECT_EQ(received(3000), Strings());
  spi->clock(2);
  spi->init_channel(1);
  EXPECT_EQ(sim("hal spi writes"), writes);
  // Not even a reconnect starts the reports again.
  reconnect();
  EXPECT_EQ(received(2000), Strings());
}

TEST_F(SpiCtrlTest, ADeviceThatDoesNotOpenIsTriedAgainByTheNextOperation) {
  sim("hal fail open 2 1");
  make();
  EXPECT_FALSE(spi->is_open());
  EXPECT_TRUE(cap.has(cap.log(), "spi: /dev/hal open fail"));
  EXPECT_EQ(sim("hal spi writes"), "");
  start({spi.get()});
  EXPECT_FALSE(spi->reporting());
  EXPECT_EQ(received(2000), Strings());
  // The next per-channel operation opens it and sets every framer up first.
  spi->clock(-1);
  EXPECT_TRUE(spi->is_open());
  std::string expect = all_setup_writes();
  for (int f = 0; f < 8; ++f) expect += "\n" + std::to_string(f) + " 0x57 0x30";
  EXPECT_EQ(sim("hal spi writes"), expect);
}

TEST_F(SpiCtrlTest, DestructionDisablesEveryFramerAndDropsTheClockMaster) {
  make();
  const std::string before = sim("hal spi writes");
  spi.reset();
  std::string expect = before;
  for (int f = 0; f < 8; ++f) expect += "\n" + std::to_string(f) + " 0x32 0x80";
  for (int f = 0; f < 8; ++f) expect += "\n" + std::to_string(f) + " 0x57 0x30";
  EXPECT_EQ(sim("hal spi writes"), expect);
  // One whose device never opened does not open it to say goodbye.
  sim("hal fail open 2 1");
  make();
  spi.reset();
  EXPECT_EQ(sim("hal spi writes"), expect);
}

}  // namespace
