// Black-box: the Slots service and the cross-connect in the running server,
// before any slot kind is involved.
#include "tests/slots/slots_server.h"

#include <signal.h>

using namespace slotstest;
using testsupport::describe;

namespace {

class SlotsServer : public ServerSuite {};

TEST_F(SlotsServer, CrossConnectOpenedAtStartWithTheSharedBusesDisabled) {
  EXPECT_TRUE(srv().wait_log("hwMux: init\n")) << srv().log();
  EXPECT_TRUE(srv().wait_log("hwMux: device opened\n")) << srv().log();
  std::string batch;
  for (int c = 8192; c <= 10239; ++c) batch += (c == 8192 ? "" : "\n") + ("hal get " + std::to_string(c));
  int disabled = 0;
  auto a = srv().sim.request(batch);
  for (int c = 8192; c <= 10239; ++c) {
    if (c > 8192) a = srv().sim.read_answer();
    if (a.ok() && a.lines == Strings{"disabled"}) ++disabled;
  }
  EXPECT_EQ(disabled, 2048);
  EXPECT_EQ(hal("get 69"), "none");
  EXPECT_EQ(hal("get 8191"), "none");
  EXPECT_EQ(hal("get 10240"), "none");
}

TEST_F(SlotsServer, QueryAnswersThenReportsTheResources) {
  srv().ctl.send("80 01 02 00");  // query, seq 2, no slot
  EXPECT_EQ(srv().ctl.next(testsupport::patience_ms), "80 01 02 40");
  const std::string report = srv().ctl.next(testsupport::patience_ms);
  EXPECT_EQ(describe(report), "query");
  LGCP::Message m;
  ASSERT_TRUE(testsupport::decode(report, m));
  const LGCP::Resources& r = m.get_pdu().get_signal().get_query();
  EXPECT_TRUE(static_cast<bool>(r.get_mux()));
  EXPECT_FALSE(r.drvVersion_isPresent());
  // The simulated board's four DSP modems (`modem` 4) and two point-to-point
  // interfaces (`digital-modems` 2); every other count 0, no mixer, no echo bus.
  EXPECT_EQ(report,
            "20 00 01 00 01 00 01 00 01 00 01 00 01 00 01 04 00 80 01 00 01 00 01 00 00 01 00 01 02 01 00 01 00");
  // A query addressed to a slot is not for this service.
  EXPECT_EQ(ask(testsupport::null_command_image(3, 5, "query")), Strings{"seq 3 slot 5 error unexpectedMsgType"});
}

TEST_F(SlotsServer, CommandsOnMissingSlotsAndBadTargets) {
  using namespace testsupport;
  const Strings images = {connect_image(1, 7, 8),
                          null_command_image(2, 7, "disconnect"),
                          null_command_image(3, 7, "destroy"),
                          activate_image(4, 7),  // with empty parameters
                          null_command_image(5, 7, "deactivate"),
                          user_data_image(6, 7, "ab"),
                          ioctl_image(7, 7),
                          "C0 01 11 00 07 04 04 00"};  // connect to 1024
  EXPECT_EQ(ask(images, 8), (Strings{"seq 1 slot 7 error slotNotExists", "seq 2 slot 7 error slotNotExists",
                                     "seq 3 slot 7 error slotNotExists", "seq 4 slot 7 error slotNotExists",
                                     "seq 5 slot 7 error slotNotExists", "seq 6 slot 7 error slotNotExists",
                                     "seq 7 slot 7 error slotNotExists", "seq 17 slot 7 error invalidSlot"}));
  // Kinds that nothing here makes.
  const Strings creates = {
      trunk_image(1, 3, 4, 1),
      trunk_image(2, 3, 0, 4, true),
      create_image(3, 3, [](LGCP::CreateParams& p) { p.select_spi_tdm().set_channel(1); }),
      create_image(4, 3,
                   [](LGCP::CreateParams& p) {
                     p.select_rtpOnMixer();
                   }),
  };
  EXPECT_EQ(ask(creates, 4),
            (Strings{"seq 1 slot 3 error insufficientResources", "seq 2 slot 3 error insufficientResources",
                     "seq 3 slot 3 error insufficientResources", "seq 4 slot 3 error insufficientResources"}));
  EXPECT_EQ(extra(), Strings{});
}

TEST_F(SlotsServer, SighupSendsTheResourcesAndALeavingControllerStallsOneSecond) {
  // The server has taken the controller (a connect completes in the kernel
  // before that): the resources of a signal that came first go to nobody.
  EXPECT_EQ(ask(testsupport::null_command_image(8, -1, "ping")), Strings{"seq 8 success"});
  srv().process->signal(SIGHUP);
  EXPECT_EQ(frames(1), Strings{"query"});
  EXPECT_TRUE(srv().wait_log("update hardware resources\n"));

  const std::int64_t left = testsupport::real_ms();
  srv().ctl.close();
  // A controller that comes back before the server noticed the old one's
  // end is refused; it tries again until it is served.
  Strings answer;
  EXPECT_TRUE(testsupport::eventually([&] {
    if (!srv().reconnect()) return false;
    srv().ctl.send(testsupport::null_command_image(9, -1, "ping"));
    answer = frames(1);
    return answer == Strings{"seq 9 success"};
  })) << testsupport::describe(answer.empty() ? "" : answer[0]);
  const std::int64_t stalled = testsupport::real_ms() - left;
  EXPECT_GE(stalled, 950);
  EXPECT_LT(stalled, 5000);
}

}  // namespace
