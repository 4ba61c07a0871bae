// PSTN signalling slots on the virtual clock: the Slots service bound to the
// program's control server, a controller over loopback TCP, and the
// simulated HDLC controller in process. Two SS7 slots cross-wired on the
// controller align; trunk status reaches them through the Slots service's
// signal walk.
#include "platform/sim/hal.h"
#include "platform/sim/mcc.h"
#include "signalling/pstn_slot.h"
#include "slots/slots.h"
#include "slots/trunk.h"
#include "tests/control/controller_fixture.h"
#include "tests/support/lgcp_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <tuple>

using platform::sim::mcc;
using testsupport::describe;
using Strings = std::vector<std::string>;

namespace {

std::string ss7_image(int seq, int slot, int trunk) {
  return testsupport::create_image(seq, slot, [&](LGCP::CreateParams& p) {
    LGCP::SS7Params& s = p.select_pstn().select_ss7();
    s.set_trunk(trunk);
    s.set_slc(2);
    s.set_dpc(3);
    s.set_opc(4);
    s.set_emergency(true);
  });
}

std::string isdn_image(int seq, int slot, bool bri, bool network = false) {
  return testsupport::create_image(
      seq, slot, [&](LGCP::CreateParams& p) { testsupport::fill_isdn(p.select_pstn().select_isdn(), bri, network); });
}

LGCP::Signal trunk_status(int trunk, ACP::TrunkState::NamedNumber state,
                          ACP::TrunkType::NamedNumber type = ACP::TrunkType::e1) {
  LGCP::Signal s;
  ACP::TrunkStatus& t = s.select_trunkStatus();
  t.set_trunk(trunk);
  t.set_state(state);
  t.set_type(type);
  return s;
}

class PstnSlotTest : public controltest::ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    static bool bound = false;
    if (!bound) {
      ctrlServer.Bind(&Slots::instance());
      bound = true;
    }
    PstnFactory::instance();
    connect(ctrlServer);
  }
  void TearDown() override {
    ctrlServer.Deactivate();
    run_for(1100);
    ControllerTest::TearDown();
  }
  Strings say(const std::string& image, unsigned ms = 10) {
    ctl.send(image);
    return sent(ms);
  }
  Strings sent(unsigned ms = 10) {
    run_for(ms);
    Strings out;
    for (const auto& f : ctl.frames()) out.push_back(describe(f));
    return out;
  }
  static long count(const Strings& v, const std::string& s) { return std::count(v.begin(), v.end(), s); }
};

TEST_F(PstnSlotTest, PeriodicReportsAndTrunkStatusReachTheLinkOnChangeOnly) {
  EXPECT_EQ(say(ss7_image(1, 10, 1)), Strings{"seq 1 slot 10 success"});
  EXPECT_EQ(say(ss7_image(2, 11, 2)), Strings{"seq 2 slot 11 success"});
  // Counters every 3000 ms from creation, link or not.
  Strings got = sent(9000);
  EXPECT_EQ(count(got, "slot 10 signal ioctl"), 6) << testing::PrintToString(got);  // hdlc + ss7, three times

  // Activated by the controller, wired to each other: both align.
  EXPECT_EQ(say(testsupport::activate_image(3, 10)), Strings{"seq 3 slot 10 success"});
  EXPECT_EQ(say(testsupport::activate_image(4, 11)), Strings{"seq 4 slot 11 success"});
  const auto channels = mcc().allocations();
  ASSERT_EQ(channels.size(), 2u);
  EXPECT_EQ(channels[0].params.mode, 3u);
  ASSERT_TRUE(mcc().wire(channels[0].timeslot, channels[1].timeslot));
  got = sent(5000);
  EXPECT_EQ(count(got, "slot 10 signal activated"), 1) << testing::PrintToString(got);
  EXPECT_EQ(count(got, "slot 11 signal activated"), 1) << testing::PrintToString(got);

  // A status of trunk 1 (index 0) reaches slot 10's link: out of service.
  // The same state again, or another trunk's, does not reach it.
  Slots::instance().OnSignal(trunk_status(0, ACP::TrunkState::lossCarrier));
  got = sent(10);
  EXPECT_EQ(count(got, "slot 10 signal deactivated"), 1) << testing::PrintToString(got);
  // Both start again (the far end may have left service too).
  EXPECT_EQ(count(say(testsupport::activate_image(5, 10)), "seq 5 slot 10 success"), 1);
  EXPECT_EQ(count(say(testsupport::activate_image(6, 11)), "seq 6 slot 11 success"), 1);
  const auto again = mcc().allocations();
  ASSERT_EQ(again.size(), 2u);
  ASSERT_TRUE(mcc().wire(again[0].timeslot, again[1].timeslot));
  got = sent(8000);
  EXPECT_EQ(count(got, "slot 10 signal activated"), 1) << testing::PrintToString(got);
  Slots::instance().OnSignal(trunk_status(0, ACP::TrunkState::lossCarrier));
  Slots::instance().OnSignal(trunk_status(3, ACP::TrunkState::ais));
  got = sent(10);
  EXPECT_EQ(count(got, "slot 10 signal deactivated"), 0) << testing::PrintToString(got);
  // A change does: normal keeps the link, then a loss ends it.
  Slots::instance().OnSignal(trunk_status(0, ACP::TrunkState::normal));
  EXPECT_EQ(count(sent(10), "slot 10 signal deactivated"), 0);
  // Other signals are none of the links' business, whoever hands them on.
  LGCP::Signal other;
  other.select_abort(1);
  PstnFactory::instance().SelfSignal(other);
  EXPECT_EQ(count(sent(10), "slot 10 signal deactivated"), 0);
  // The basic-rate framer of the same number is another line.
  Slots::instance().OnSignal(trunk_status(0, ACP::TrunkState::lossCarrier, ACP::TrunkType::bri));
  EXPECT_EQ(count(sent(10), "slot 10 signal deactivated"), 0);
  Slots::instance().OnSignal(trunk_status(0, ACP::TrunkState::lossBF));
  EXPECT_EQ(count(sent(10), "slot 10 signal deactivated"), 1);

  // The lowest trunk number the controller can send (for an ISDN link too)
  // is taken without overflow.
  EXPECT_EQ(say(ss7_image(7, 12, INT_MIN)), Strings{"seq 7 slot 12 success"});
  EXPECT_EQ(say(testsupport::create_image(8, 13, [](LGCP::CreateParams& p) {
              LGCP::IsdnParams& i = p.select_pstn().select_isdn();
              i.set_type(LGCP::IsdnType::pri);
              i.set_trunk(INT_MIN);
              i.set_log(0);
              i.set_side().select_user();
            })),
            Strings{"seq 8 slot 13 success"});
  EXPECT_EQ(say(testsupport::null_command_image(9, 12, "destroy")), Strings{"seq 9 slot 12 success"});
  EXPECT_EQ(say(testsupport::null_command_image(10, 13, "destroy")), Strings{"seq 10 slot 13 success"});
}


// The driver dropping the engine's channel (its reads end) leaves the link
// on nothing: the controller must hear it, whatever the link kind, and an
// activate opens a channel again.
TEST_F(PstnSlotTest, AChannelTheDriverDropsTakesTheLinkDown) {
  EXPECT_EQ(say(ss7_image(1, 20, 1)), Strings{"seq 1 slot 20 success"});
  EXPECT_EQ(say(ss7_image(2, 21, 2)), Strings{"seq 2 slot 21 success"});
  EXPECT_EQ(say(isdn_image(3, 22, true, true)), Strings{"seq 3 slot 22 success"});
  EXPECT_EQ(say(testsupport::activate_image(4, 20)), Strings{"seq 4 slot 20 success"});
  EXPECT_EQ(say(testsupport::activate_image(5, 21)), Strings{"seq 5 slot 21 success"});
  Strings got = say(testsupport::activate_image(6, 22));
  EXPECT_EQ(count(got, "slot 22 signal activated"), 1) << testing::PrintToString(got);
  const auto channels = mcc().allocations();
  ASSERT_EQ(channels.size(), 3u);
  ASSERT_TRUE(mcc().wire(channels[0].timeslot, channels[1].timeslot));
  got = sent(5000);
  ASSERT_EQ(count(got, "slot 20 signal activated"), 1) << testing::PrintToString(got);

  // Both channels dropped: each link goes down at once, and once.
  ASSERT_TRUE(mcc().hangup(channels[0].timeslot));
  ASSERT_TRUE(mcc().hangup(channels[2].timeslot));
  got = sent(100);
  EXPECT_EQ(count(got, "slot 20 signal deactivated"), 1) << testing::PrintToString(got);
  EXPECT_EQ(count(got, "slot 22 signal deactivated"), 1) << testing::PrintToString(got);
  got = sent(20000);
  EXPECT_EQ(count(got, "slot 20 signal deactivated"), 0) << testing::PrintToString(got);
  EXPECT_EQ(count(got, "slot 22 signal deactivated"), 0) << testing::PrintToString(got);

  // Activated again, the link has a channel of its own once more.
  got = say(testsupport::activate_image(7, 22));
  EXPECT_EQ(count(got, "slot 22 signal activated"), 1) << testing::PrintToString(got);
  const auto now = mcc().allocations();
  ASSERT_EQ(now.size(), 2u);  // slot 21's and slot 22's new one
  EXPECT_EQ(now[0].timeslot, channels[1].timeslot);
  EXPECT_NE(now[1].timeslot, channels[2].timeslot);

  // Slot 21's link is still in service on its own channel (its peer just
  // went quiet). A new channel refused on activate loses the old one too:
  // the link ends, reported once, and the next activate aligns afresh.
  mcc().fail(platform::sim::Mcc::Step::allocate, EBUSY, 1);
  got = say(testsupport::activate_image(30, 21));
  EXPECT_EQ(count(got, "slot 21 signal deactivated"), 1) << testing::PrintToString(got);
  EXPECT_EQ(mcc().allocations().size(), 1u);
  got = sent(20000);
  EXPECT_EQ(count(got, "slot 21 signal deactivated"), 0) << testing::PrintToString(got);
  got = say(testsupport::activate_image(31, 21));
  EXPECT_EQ(count(got, "slot 21 signal activated"), 0) << testing::PrintToString(got);
  // A terminal manager never up, refused its channel: told at once.
  EXPECT_EQ(say(isdn_image(32, 23, true, true)), Strings{"seq 32 slot 23 success"});
  mcc().fail(platform::sim::Mcc::Step::allocate, EBUSY, 1);
  got = say(testsupport::activate_image(33, 23));
  EXPECT_EQ(count(got, "slot 23 signal deactivated"), 1) << testing::PrintToString(got);
  EXPECT_EQ(say(testsupport::null_command_image(34, 23, "destroy")), Strings{"seq 34 slot 23 success"});
  const auto fresh = mcc().allocations();
  ASSERT_EQ(fresh.size(), 2u);
  const auto units = mcc().take_written(fresh[1].timeslot);
  ASSERT_FALSE(units.empty());
  EXPECT_EQ(units.front(), (platform::sim::Mcc::Frame{0xFF, 0xFF, 0x01, 0x00}));  // SIO

  // A dropped channel whose reads only say "not now" is dropped all the
  // same: the hang-up is reported on every poll, so waiting for a frame
  // would hold the loop for ever.
  int seq = 40;
  for (int err : {EAGAIN, EINTR}) {
    SCOPED_TRACE(err);
    const auto live = mcc().allocations();
    ASSERT_EQ(live.size(), 2u);
    mcc().fail(platform::sim::Mcc::Step::read, err);
    ASSERT_TRUE(mcc().hangup(live[1].timeslot));
    got = sent(100);
    mcc().fail(platform::sim::Mcc::Step::read, 0);
    EXPECT_EQ(count(got, "slot 21 signal deactivated"), 1) << testing::PrintToString(got);
    EXPECT_EQ(mcc().allocations().size(), 1u);
    EXPECT_EQ(count(say(testsupport::activate_image(seq, 21)), "seq " + std::to_string(seq) + " slot 21 success"), 1);
    ++seq;
  }

  for (int slot = 20; slot <= 22; ++slot)
    EXPECT_EQ(count(say(testsupport::null_command_image(8 + slot, slot, "destroy")),
                    "seq " + std::to_string(8 + slot) + " slot " + std::to_string(slot) + " success"),
              1);
}

// An SS7 or primary-rate link sends on the time slot it listens to, wired
// with its source. A disconnect of the trunk slot cuts that line; connected
// again, the line is the link's once more, not left idle behind a success.
TEST_F(PstnSlotTest, ALinksLineDisconnectedAndConnectedAgainCarriesTheLinkOnceMore) {
  // A read of the factory's link keeps the trunk factories in the program:
  // a call the compiler resolves at build time would not pull their file in.
  ASSERT_NE(trunk1.GetNext(), nullptr);
  auto& h = platform::sim::hal();
  say(testsupport::trunk_image(1, 1, 1, 1));  // channel 33
  say(testsupport::trunk_image(2, 2, 1, 2));  // channel 34
  say(ss7_image(3, 10, 1));
  say(isdn_image(4, 11, false));
  int seq = 5;
  for (const auto& [link, trunk, line] : {std::tuple{10, 1, 33}, std::tuple{11, 2, 34}}) {
    SCOPED_TRACE(link);
    say(testsupport::connect_image(seq++, trunk, link));
    const auto ch = mcc().allocations();
    const std::string fed = "connected " + std::to_string(ch.back().timeslot);
    ASSERT_EQ(h.describe(line), fed);
    say(testsupport::connect_image(seq++, link, trunk));
    say(testsupport::connect_image(seq++, link, trunk));  // the same again changes nothing
    EXPECT_EQ(h.describe(line), fed);
    say(testsupport::null_command_image(seq++, trunk, "disconnect"));
    EXPECT_EQ(h.describe(line), "byte 213");
    EXPECT_EQ(say(testsupport::connect_image(seq, link, trunk)),
              Strings{"seq " + std::to_string(seq) + " slot " + std::to_string(link) + " success"});
    ++seq;
    EXPECT_EQ(h.describe(line), fed) << "the line was left idle behind a success";
    EXPECT_EQ(mcc().allocations().size(), ch.size()) << "the link keeps its channel";
  }
  // A line the switch refuses to give back is no success.
  say(testsupport::null_command_image(seq++, 1, "disconnect"));
  h.fail(platform::sim::Hal::Kind::connect, EIO, 1);
  EXPECT_EQ(say(testsupport::connect_image(seq, 10, 1)),
            Strings{"seq " + std::to_string(seq) + " slot 10 error connectFail"});
  for (int n : {10, 11, 1, 2}) say(testsupport::null_command_image(100 + n, n, "destroy"));
  EXPECT_TRUE(mcc().allocations().empty());
}

// A link whose source the controller disconnects is stopped; its channel,
// which stays open, must not go on hearing that line either: the far end's
// alignment or establishment would bring the link up again on it.
TEST_F(PstnSlotTest, ALinkDisconnectedFromItsSourceHearsItsLineNoMore) {
  ASSERT_NE(trunk_bri1.GetNext(), nullptr);  // linked in, as above
  auto& h = platform::sim::hal();
  say(testsupport::trunk_image(1, 3, 1, 3));        // channel 35
  say(testsupport::trunk_image(2, 4, 1, 1, true));  // channel 5
  say(ss7_image(3, 12, 1));
  say(isdn_image(4, 13, true));
  say(testsupport::trunk_image(20, 5, 1, 2, true));  // channel 6
  say(testsupport::trunk_image(21, 6, 1, 3, true));  // channel 7
  say(isdn_image(22, 14, true));
  say(testsupport::connect_image(5, 3, 12));
  say(testsupport::trunk_image(26, 7, 1, 5));  // channel 37
  say(testsupport::connect_image(23, 12, 7));  // another line: not the SS7 link's to drive
  say(testsupport::connect_image(6, 4, 13));
  say(testsupport::connect_image(7, 13, 4));
  // A basic-rate link sending on another line than the one it hears.
  say(testsupport::connect_image(24, 5, 14));
  say(testsupport::connect_image(25, 14, 6));
  const auto ch = mcc().allocations();
  ASSERT_EQ(ch.size(), 3u);
  ASSERT_EQ(h.describe(ch[0].timeslot), "connected 35");
  ASSERT_EQ(h.describe(ch[1].timeslot), "connected 5");
  ASSERT_EQ(h.describe(35), "connected " + std::to_string(ch[0].timeslot));
  ASSERT_EQ(h.describe(5), "connected " + std::to_string(ch[1].timeslot));
  ASSERT_EQ(h.describe(7), "connected " + std::to_string(ch[2].timeslot));
  for (int link : {12, 13, 14}) {
    const Strings got = say(testsupport::null_command_image(8, link, "disconnect"));
    EXPECT_EQ(count(got, "slot " + std::to_string(link) + " signal deactivated"), 1) << testing::PrintToString(got);
    EXPECT_EQ(count(got, "seq 8 slot " + std::to_string(link) + " success"), 1) << testing::PrintToString(got);
  }
  EXPECT_EQ(h.describe(ch[0].timeslot), "byte 213");
  EXPECT_EQ(h.describe(ch[1].timeslot), "byte 213");
  // The SS7 link was wired onto its source's line with the source alone:
  // that line is not left carrying it. The basic-rate link still feeds the
  // line the controller connected it to.
  EXPECT_EQ(h.describe(35), "byte 213");
  EXPECT_EQ(h.describe(5), "connected " + std::to_string(ch[1].timeslot));
  EXPECT_EQ(h.describe(7), "connected " + std::to_string(ch[2].timeslot));
  // Given a source again, the link listens to it on a fresh channel.
  say(testsupport::connect_image(9, 3, 12));
  EXPECT_EQ(h.describe(mcc().allocations().back().timeslot), "connected 35");
  // A switch that will not quieten a line at the parting: no success.
  h.fail(platform::sim::Hal::Kind::write, EIO, 1);
  EXPECT_EQ(count(say(testsupport::null_command_image(10, 12, "disconnect")), "seq 10 slot 12 error disconnectFail"),
            1);
  for (int n : {12, 13, 14, 3, 4, 5, 6, 7}) say(testsupport::null_command_image(100 + n, n, "destroy"));
}

// A link the controller also connected to its source's line keeps driving
// that line when only the source side is parted; the line goes quiet with
// the second disconnect.
TEST_F(PstnSlotTest, ALinkConnectedBothWaysKeepsItsLineUntilBothAreParted) {
  ASSERT_NE(trunk_bri1.GetNext(), nullptr);  // linked in, as above
  auto& h = platform::sim::hal();
  say(testsupport::trunk_image(1, 3, 1, 3));  // channel 35
  say(ss7_image(2, 12, 1));
  say(testsupport::connect_image(3, 3, 12));
  say(testsupport::connect_image(4, 12, 3));
  const auto ch = mcc().allocations();
  ASSERT_EQ(ch.size(), 1u);
  const std::string fed = "connected " + std::to_string(ch[0].timeslot);
  ASSERT_EQ(h.describe(35), fed);
  EXPECT_EQ(count(say(testsupport::null_command_image(5, 12, "disconnect")), "seq 5 slot 12 success"), 1);
  EXPECT_EQ(h.describe(ch[0].timeslot), "byte 213") << "the link still hears the parted source";
  EXPECT_EQ(h.describe(35), fed) << "the line the controller connected the link to went quiet";
  EXPECT_EQ(count(say(testsupport::null_command_image(6, 3, "disconnect")), "seq 6 slot 3 success"), 1);
  EXPECT_EQ(h.describe(35), "byte 213");
  for (int n : {12, 3}) say(testsupport::null_command_image(100 + n, n, "destroy"));

  // Line 0 (trunk 0, time slot 0) is a line like any other.
  say(testsupport::trunk_image(7, 3, 0, 0));
  say(ss7_image(8, 12, 1));
  say(testsupport::connect_image(9, 3, 12));
  say(testsupport::connect_image(10, 12, 3));
  const auto ch0 = mcc().allocations();
  ASSERT_EQ(ch0.size(), 1u);
  ASSERT_EQ(h.describe(0), "connected " + std::to_string(ch0[0].timeslot));
  EXPECT_EQ(count(say(testsupport::null_command_image(11, 12, "disconnect")), "seq 11 slot 12 success"), 1);
  EXPECT_EQ(h.describe(0), "connected " + std::to_string(ch0[0].timeslot));
  for (int n : {12, 3}) say(testsupport::null_command_image(100 + n, n, "destroy"));
}

}  // namespace
