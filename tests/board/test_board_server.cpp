// The board services in the running server program, on the simulated board:
// what they do before and at a controller's connect, and the controller's
// clock, trunk and CAS commands seen on the devices. Real-time waits, each
// bounded and ended as soon as the awaited frames are there.
#include "board/monitoring/monitoring_ctl.h"
#include "board/server_setup.h"
#include "board/services/bus_ctl.h"
#include "board/services/e1_ctl.h"
#include "board/services/hw_tests.h"
#include "board/services/spi_ctrl.h"
#include "control/heartbeat.h"
#include "slots/slots.h"
#include "tests/board/board_lgcp.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/log_sink.h"
#include "tests/support/server_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using boardtest::bpc_image;
using boardtest::cas_image;
using boardtest::clock_image;
using boardtest::describe;
using boardtest::trunk_image;
using testsupport::RunningServer;
using Strings = std::vector<std::string>;

bool is_status(const std::string& s) { return s.rfind("e1 ", 0) == 0 || s.rfind("bri ", 0) == 0; }
bool is_answer(const std::string& s) { return s == "success" || s.rfind("error ", 0) == 0; }

class BoardServer : public ::testing::Test {
 protected:
  // These tests read the status reports too.
  static void SetUpTestSuite() {
    srv = new RunningServer();
    srv->ctl.drop = nullptr;
  }
  static void TearDownTestSuite() {
    delete srv;
    srv = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(srv->ready()) << srv->log(); }

  // Frames (as text) until `done` holds for what came, or the time is up.
  static Strings collect(const std::function<bool(const Strings&)>& done, int timeout_ms = 5000) {
    Strings got;
    testsupport::eventually(
        [&] {
          for (const auto& f : srv->ctl.frames(50)) got.push_back(describe(f));
          return done(got);
        },
        timeout_ms);
    return got;
  }
  // The command's answer and the signals it caused, status reports left out.
  static Strings command(const std::string& image) {
    srv->ctl.send(image);
    // Status reports may come in the same read, after the answer.
    Strings got = collect([](const Strings& g) { return std::any_of(g.begin(), g.end(), is_answer); });
    Strings out;
    for (const auto& s : got)
      if (!is_status(s)) out.push_back(s);
    return out;
  }
  static std::string ask(const std::string& line) { return srv->sim.ask(line); }

  static RunningServer* srv;
};

RunningServer* BoardServer::srv = nullptr;

std::string setup_writes() {
  std::ostringstream s;
  for (int f = 0; f < 8; ++f)
    for (const char* w : {"0x32 0x80", "0x30 0x08", "0x57 0x30", "0x34 0x60", "0x35 0x00", "0x36 0x00",
                          "0x37 0x00", "0x32 0x00"})
      s << f << " " << w << "\n";
  std::string out = s.str();
  out.pop_back();
  return out;
}

TEST_F(BoardServer, ConnectSetsTheClockAndMaskAndStartsTheReports) {
  // The framers were set up at start-up, before the controller came.
  EXPECT_EQ(ask("hal spi writes"), setup_writes());
  EXPECT_EQ(ask("hal clock"), "source 4 selects 1");
  EXPECT_EQ(ask("e1 tclk"), "mask 0x0 writes 1");
  // Four E1 reports at once, then eight BRI ones from a second on, then
  // both every second.
  Strings got = collect([](const Strings& g) { return g.size() >= 24; }, 6000);
  ASSERT_GE(got.size(), 24u);
  for (int t = 0; t < 4; ++t) EXPECT_EQ(got[t], "e1 " + std::to_string(t) + " normal slips 0 bf 0 carrier 0 ais 0 rai 0");
  int e1 = 0, bri = 0;
  for (const auto& s : got) (s.rfind("e1 ", 0) == 0 ? e1 : bri) += 1;
  EXPECT_GE(e1, 8);
  EXPECT_GE(bri, 8);
  EXPECT_TRUE(srv->wait_log("E1: cas interface opened!")) << srv->log();
}

TEST_F(BoardServer, ClockRequests) {
  struct Case {
    bool internal, enabled;
    int source;
    const char* clock;
  } cases[] = {
      {true, true, 2, "source 4 selects 2"},
      {false, false, 2, "source 5 selects 3"},
      {false, true, 2, "source 2 selects 4"},
      {false, true, -1, "source 2 selects 4"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(command(clock_image(1, c.internal, c.enabled, c.source)), Strings{"success"}) << c.clock;
    EXPECT_EQ(ask("hal clock"), c.clock);
  }
  EXPECT_TRUE(srv->wait_log("clkctl: clock source = f2")) << srv->log();
}

TEST_F(BoardServer, TrunkModesAndCas) {
  const std::string before = ask("e1 tclk");
  EXPECT_EQ(command(trunk_image(2, 2, true)), Strings{"success"});
  EXPECT_TRUE(srv->wait_log("E1: TCLT = 0x4")) << srv->log();
  EXPECT_EQ(ask("e1 tclk").substr(0, 8), "mask 0x4");
  EXPECT_EQ(command(trunk_image(3, 2, false)), Strings{"success"});
  EXPECT_EQ(ask("e1 tclk").substr(0, 8), "mask 0x0");
  const std::string writes = ask("e1 tclk");
  EXPECT_EQ(command(trunk_image(4, -1, true)), Strings{"success"});
  EXPECT_EQ(ask("e1 tclk"), writes) << "no write for a negative trunk";

  EXPECT_EQ(command(cas_image(5, 1, 5, "open", 0x1F)), (Strings{"cas 1 0 rx 0 tx 0", "cas 1 5 rx 0 tx 15", "success"}));
  ask("cas rx 1 5 9");
  // The status reports of a second may come in the same read, after it.
  std::string cas;
  for (const auto& s : collect([](const Strings& g) {
         for (const auto& s : g)
           if (s.rfind("cas ", 0) == 0) return true;
         return false;
       }))
    if (!is_status(s)) cas = s;
  EXPECT_EQ(cas, "cas 1 5 rx 9 tx 15");
  EXPECT_EQ(command(cas_image(6, 1, 5, "set", 3)), (Strings{"cas 1 5 rx 9 tx 3", "success"}));
  EXPECT_EQ(command(cas_image(7, 1, 5, "get")), (Strings{"cas 1 5 rx 9 tx 3", "success"}));
  ask("cas fail get 5 1");
  EXPECT_EQ(command(cas_image(8, 1, 5, "get")), (Strings{"cas 1 5 rx -1 tx 0", "success"}));
  EXPECT_EQ(command(cas_image(9, 1, 5, "close")), (Strings{"cas 1 5 rx -1 tx 1", "success"}));
  EXPECT_EQ(command(cas_image(10, 1, 0, "close")), (Strings{"cas 1 0 rx 1 tx 0", "success"}));
  EXPECT_EQ(command(cas_image(11, 4, 5, "open", 1)), Strings{"success"});
  EXPECT_EQ(command(cas_image(12, 2, 16, "open", 1)), (Strings{"cas 2 0 rx 0 tx 0", "success"}));
}

TEST_F(BoardServer, BusTest) {
  const std::string untouched = ask("hal get 8333");
  EXPECT_EQ(command(bpc_image(20, 1, 1, "write", 10, 3)), Strings{"success"});
  EXPECT_EQ(ask("hal get 8330"), "byte 103");
  EXPECT_EQ(ask("hal get 8331"), "byte 198");
  EXPECT_EQ(ask("hal get 8332"), "byte 105");
  EXPECT_EQ(ask("hal get 8333"), untouched);
  EXPECT_EQ(command(bpc_image(21, 1, 1, "read", 10, 3)), Strings{"success"});
  EXPECT_EQ(command(bpc_image(22, 1, 1, "disconnect", 10, 3)), Strings{"success"});
  EXPECT_EQ(ask("hal get 8331"), "disabled");
  ask("hal set 8448 103");
  ask("hal set 8449 0");
  EXPECT_EQ(command(bpc_image(23, 2, 1, "read", 0, 2)), Strings{"error busError"});
  EXPECT_TRUE(srv->wait_log("bus 2: test failed on channel 1 expected C6  read 00 ")) << srv->log();
  ask("hal set 8448 none");
  ask("hal set 8449 none");
}

TEST_F(BoardServer, FailingStatusReadsAndABoardWithoutSpi) {
  ask("e1 status 2 error 5");
  // A whole E1 pass without trunk 2: the others are still reported.
  const auto pass_without_2 = [](const Strings& g) {
    for (size_t k = 0; k + 2 < g.size(); ++k)
      if (g[k].rfind("e1 0 ", 0) == 0 && g[k + 1].rfind("e1 1 ", 0) == 0 && g[k + 2].rfind("e1 3 ", 0) == 0)
        return true;
    return false;
  };
  Strings got = collect(pass_without_2);
  EXPECT_TRUE(pass_without_2(got)) << srv->log();
  EXPECT_TRUE(srv->wait_log("E1: synchronization status read fail, trunk = 2 cause = Input/output error"))
      << srv->log();
  ask("e1 status 2 error 0");
  ask("hal fail spi-read 19");
  EXPECT_TRUE(srv->wait_log("spi: hal without spi")) << srv->log();
  // What was on its way: the pass that met the error still reports the
  // channels after it, and may do so after the log line.
  collect([](const Strings&) { return false; }, 1100);
  got = collect([](const Strings& g) { return g.size() >= 8; }, 2500);
  // The E1 reports go on, the basic-rate ones do not.
  EXPECT_GE(got.size(), 4u) << srv->log();
  for (const auto& s : got) EXPECT_EQ(s.rfind("bri ", 0), std::string::npos) << s;
  ask("hal fail spi-read 0");
}

// Last: the controller leaves.
TEST_F(BoardServer, ZDisconnectFreesTheClockAndAReconnectResetsTheMask) {
  EXPECT_EQ(command(trunk_image(2, 1, true)), Strings{"success"});
  EXPECT_EQ(command(clock_image(1, false, true, 3)), Strings{"success"});
  srv->ctl.close();
  EXPECT_TRUE(testsupport::eventually([] { return ask("hal clock").rfind("source 4 ", 0) == 0; })) << srv->log();
  ASSERT_TRUE(srv->reconnect());
  EXPECT_TRUE(testsupport::eventually([] { return ask("e1 tclk").rfind("mask 0x0 ", 0) == 0; })) << srv->log();
}

TEST(BoardServerClockDisabled, NoClockRequestsAndClockCfgUnsupported) {
  RunningServer srv({"--disable-clock"});
  ASSERT_TRUE(srv.ready()) << srv.log();
  srv.ctl.drop = nullptr;
  srv.ctl.send(clock_image(1, false, true, 2));
  std::string answer;
  testsupport::eventually([&] {
    for (const auto& f : srv.ctl.frames(50))
      if (is_answer(describe(f))) answer = describe(f);
    return !answer.empty();
  });
  EXPECT_EQ(answer, "error unsupported");
  EXPECT_EQ(srv.sim.ask("hal clock"), "source none selects 0");
  const std::string log = srv.log();
  size_t n = 0;
  for (size_t at = log.find("clock control disabled."); at != std::string::npos;
       at = log.find("clock control disabled.", at + 1))
    ++n;
  EXPECT_EQ(n, 1u) << log;
}

// Heartbeat first, so that every command restarts the controller's
// supervision before a later service claims it; then the slots, then the
// board services, which hear of a connect and a disconnect in this order.
TEST(ServerSetup, BindsTheHeartbeatFirstThenTheSlotsThenTheBoardServices) {
  EXPECT_EQ(testsupport::in_child([](Strings& failed) {
              testsupport::ScratchBoardRoot root;
              ServerSetup::BindControlServices();
              const std::vector<CtrlSrv::Service*> order = {
                  &HeartBeatCtl::instance(), &Slots::instance(),   &HwTests::instance(),      &BusCtl::instance(),
                  &E1Ctl::instance(),        &spiCtrl::instance(), &MonitoringCtl::instance()};
              if (ctrlServer.services() != order) failed.push_back("bound in another order");
            }),
            "");
}

}  // namespace
