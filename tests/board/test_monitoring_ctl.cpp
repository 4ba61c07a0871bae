// The board monitoring service in-process, on the virtual clock, against the
// simulated "/dev/hal": display commands whose board step fails.
#include "board/monitoring/monitoring_ctl.h"
#include "tests/board/board_fixture.h"

#include "platform/paths.h"
#include "tests/support/log_sink.h"
#include "tests/support/server_process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

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

std::string controller_image(int seq, const std::string& host, HSP::ControllerStatus::NamedNumber status) {
  return command_image(seq, [&](LGCP::Command& c) {
    LGCP::ControllerInfo& ci = c.select_display().select_controller();
    ci.set_host().set_iaddr(host);
    ci.set_host().set_port(0);
    ci.set_status(status);
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
  // The last framer's LEDs are the top two bits.
  EXPECT_EQ(ask(framer_image(7, 3, true, true)), Strings{"success"});
  EXPECT_EQ(sim("hal led"), "e0");
  // Another service's command is not the monitoring's to take.
  EXPECT_EQ(ask(boardtest::trunk_image(4, 0, true)), Strings{"error unexpectedMsgType"});
  // A service that goes turns its LEDs off and lets the device go.
  const std::string devices = sim("devices");
  {
    MonitoringCtl other;
    LGCP::FramerInfo f;
    f.set_e1(1);
    f.set_info().select_line(true);
    ASSERT_TRUE(other.setFramerLed(f));
    EXPECT_EQ(sim("hal led"), "00\n0c");
  }
  EXPECT_EQ(sim("hal led"), "00");
  EXPECT_EQ(sim("devices"), devices);
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

// A controller's status file lies under the directory of its dotted
// address. A host text that is not such an address names no directory of
// its own: "self" is the link to the gateway's own directory, whose status
// it would overwrite; other texts get a directory of another name and no
// file.
TEST_F(MonitoringCtlTest, ControllerHostsThatAreNotDottedAddressesAreRefused) {
  using testsupport::file_text;
  make();
  const std::string dir = platform::board_path("/var/monitoring/controller/");
  const std::string own = mon->state().getSelfHostAddress().GetStrAddr();
  const std::string own_status = file_text(dir + own + "/status");
  ASSERT_FALSE(own_status.empty());
  for (const char* bad : {"self", "self_tmp", "controller-a", "10.1.2", "010.0.0.1", "10.1.2.3:4", "10.1.2.3 "}) {
    EXPECT_EQ(ask(controller_image(1, bad, HSP::ControllerStatus::active)), Strings{"error invalidParams"}) << bad;
    EXPECT_EQ(file_text(dir + own + "/status"), own_status) << bad;
  }
  // A dotted address gets its directory and file.
  EXPECT_EQ(ask(controller_image(2, "10.1.2.3", HSP::ControllerStatus::standby)), Strings{"success"});
  EXPECT_EQ(file_text(dir + "10.1.2.3/status"), "3");
  EXPECT_EQ(file_text(dir + own + "/status"), own_status);
}


// A full list refuses new keys, keeps taking the ones it holds, and says
// so in one line, not one per refusal.
TEST_F(MonitoringCtlTest, AFullListRefusesNewKeysAndSaysSoOnce) {
  make();
  const auto counter = [](int seq, int id) {
    return command_image(seq, [&](LGCP::Command& c) {
      LGCP::TermCounter& t = c.select_display().select_termCounter();
      t.set_owner(LGCP::TermCounterOwner::extBoard);
      t.set_ownerId(id);
      t.set_cnt(1);
    });
  };
  for (int i = 0; i < 128; ++i) ASSERT_EQ(ask(counter(i, i)), Strings{"success"}) << i;
  for (int i = 128; i < 131; ++i) EXPECT_EQ(ask(counter(i, i)), Strings{"error insufficientResources"}) << i;
  EXPECT_EQ(ask(counter(131, 5)), Strings{"success"});
  EXPECT_EQ(mon->refused_displays(), 3u);
  EXPECT_EQ(cap.count(cap.err(), "monitoring list full"), 1) << cap.all();
  EXPECT_TRUE(cap.has(cap.err(), "display: monitoring list full, new entry refused (1 refused)")) << cap.all();
}

// The configuration's version and build are read from its file's name:
// "config.", eight hex digits, a separator and up to sixteen hex digits.
TEST_F(MonitoringCtlTest, ConfigVersionAndBuildFromTheFileName) {
  make();
  // A board root of its own: cases running beside it write configurations
  // into the shared one.
  testsupport::ScratchBoardRoot scratch;
  const std::string dir = platform::board_path("/usr/local/etc/");
  std::filesystem::create_directories(dir);
  const struct {
    const char* name;
    std::uint32_t version;
    std::uint64_t build;
  } rows[] = {
      {"config.0000002a-00000000000000ff", 0x2a, 0xff},
      {"config.0000002b-f", 0x2b, 0xf},  // a build of one digit
      {"config.0000002c-", 0x2c, 0},     // none
  };
  for (const auto& r : rows) {
    std::ofstream(dir + r.name).put('\n');
    mon->doConfigCheck();
    EXPECT_EQ(mon->state().getConfigVersion(), r.version) << r.name;
    EXPECT_EQ(mon->state().getConfigBuild(), r.build) << r.name;
    std::filesystem::remove(dir + r.name);
  }
}
}  // namespace
