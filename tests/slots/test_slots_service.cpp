// The slot framework on the virtual clock: the Slots service bound to the
// program's control server, a controller over loopback TCP speaking LGCP,
// and test-only slot kinds (probe_slots.h) on the simulated cross-connect.
#include "platform/sim/hal.h"
#include "slots/slots.h"
#include "tests/control/controller_fixture.h"
#include "tests/slots/probe_slots.h"
#include "tests/support/lgcp_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <iomanip>
#include <sstream>

using namespace slotstest;
using platform::sim::hal;
using testsupport::describe;
using Strings = std::vector<std::string>;

namespace {

std::string probe(int seq, int slot, int kind, int channel) {
  return testsupport::create_image(seq, slot, [&](LGCP::CreateParams& p) {
    LGCP::EchoParams& e = p.select_echo();
    e.set_bus(kind);
    e.set_channel(channel);
  });
}

class SlotsTest : public controltest::ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    static bool bound = false;
    if (!bound) {
      ctrlServer.Bind(&Slots::instance());
      bound = true;
    }
    ProbeFactory::instance();
    hal().clear();
    connect(ctrlServer);
    journal().clear();
    deletions().clear();
  }
  void TearDown() override {
    ctrlServer.Deactivate();
    hal().clear();
    ControllerTest::TearDown();
  }
  // The answers and signals to the images, as text.
  Strings say(const Strings& images) {
    for (const auto& i : images) ctl.send(i);
    run_for(10);
    Strings out;
    for (const auto& f : ctl.frames()) out.push_back(describe(f));
    return out;
  }
  Strings say(const std::string& image) { return say(Strings{image}); }
  // The frames sent without a command (signals of slot events).
  Strings sent() {
    run_for(10);
    Strings out;
    for (const auto& f : ctl.frames()) out.push_back(describe(f));
    return out;
  }
  Strings take_journal() {
    Strings j = journal();
    journal().clear();
    return j;
  }
  static Slot* slot(int n) { return Slots::instance().Get(n); }
};

TEST_F(SlotsTest, StreamsAndHardwareFollowTheConnectionModel) {
  EXPECT_EQ(say({probe(1, 1, 0, 8201), probe(2, 2, 0, 8202), probe(3, 3, 0, 8203), probe(4, 4, 0, 8204)}),
            (Strings{"seq 1 slot 1 success", "seq 2 slot 2 success", "seq 3 slot 3 success", "seq 4 slot 4 success"}));
  EXPECT_EQ(take_journal(),
            (Strings{"01:probe after-create", "02:probe after-create", "03:probe after-create", "04:probe after-create"}));

  // The first receiver: the source acquires its output and announces it.
  EXPECT_EQ(say(testsupport::connect_image(5, 1, 2)),
            (Strings{"slot 1 transmitter active 8201", "slot 2 receiver active 8202", "seq 5 slot 1 success"}));
  EXPECT_EQ(take_journal(), (Strings{"01:probe out-stream", "02:probe in-stream", "02:probe hw-connect-receiver"}));
  EXPECT_EQ(hal().describe(8202), "connected 8201");
  EXPECT_TRUE(testsupport::StreamCapture::has(cap.log(), "mux: slot 01:probe [8201] -> 02:probe [8202]"))
      << cap.all();
  // A second receiver acquires nothing on the source's side.
  EXPECT_EQ(say(testsupport::connect_image(6, 1, 3)), (Strings{"slot 3 receiver active 8203", "seq 6 slot 1 success"}));
  EXPECT_EQ(take_journal(), (Strings{"03:probe in-stream", "03:probe hw-connect-receiver"}));
  // The source it already has: success and nothing else.
  EXPECT_EQ(say(testsupport::connect_image(7, 1, 2)), (Strings{"seq 7 slot 1 success"}));
  EXPECT_EQ(take_journal(), Strings{});

  // Moving receivers to slot 4: the old path goes before the new one is
  // made; slot 1 releases its output when its last receiver has gone.
  EXPECT_EQ(say(testsupport::connect_image(8, 4, 2)),
            (Strings{"slot 4 transmitter active 8204", "seq 8 slot 4 success"}));
  EXPECT_EQ(take_journal(),
            (Strings{"04:probe out-stream", "01:probe hw-disconnect-transmitter", "02:probe hw-connect-receiver"}));
  EXPECT_EQ(say(testsupport::connect_image(9, 4, 3)), (Strings{"seq 9 slot 4 success"}));
  EXPECT_EQ(take_journal(),
            (Strings{"01:probe hw-disconnect-transmitter", "03:probe hw-connect-receiver", "01:probe out-release"}));
  EXPECT_EQ(hal().describe(8203), "connected 8204");

  // disconnect is addressed to the receiver; a slot without source is fine.
  EXPECT_EQ(say({testsupport::null_command_image(10, 4, "disconnect"),
                 testsupport::null_command_image(11, 2, "disconnect")}),
            (Strings{"seq 10 slot 4 success", "seq 11 slot 2 success"}));
  EXPECT_EQ(take_journal(), (Strings{"04:probe hw-disconnect-transmitter", "02:probe in-release"}));
  EXPECT_EQ(hal().describe(8202), "byte 213");
  EXPECT_EQ(hal().describe(8203), "connected 8204");

  // Priority 1 does the hardware work on either side.
  EXPECT_EQ(say({probe(12, 5, 2, 8205), testsupport::connect_image(13, 5, 2),
                 testsupport::null_command_image(14, 2, "disconnect"), testsupport::connect_image(15, 2, 5),
                 testsupport::null_command_image(16, 5, "disconnect")}),
            (Strings{"seq 12 slot 5 success", "slot 5 transmitter active 8205", "seq 13 slot 5 success",
                     "seq 14 slot 2 success", "slot 2 transmitter active 8202", "slot 5 receiver active 8205",
                     "seq 15 slot 2 success", "seq 16 slot 5 success"}));
  EXPECT_EQ(take_journal(),
            (Strings{"05:probe after-create", "05:probe out-stream", "02:probe in-stream",
                     "05:probe hw-connect-transmitter", "05:probe hw-disconnect-transmitter", "02:probe in-release",
                     "05:probe out-release", "02:probe out-stream", "05:probe in-stream", "05:probe hw-connect-receiver",
                     "05:probe hw-disconnect-receiver", "05:probe in-release", "02:probe out-release"}));
}

TEST_F(SlotsTest, ErrorCausesByName) {
  say({probe(1, 1, 0, 8201), probe(2, 2, 3, 8202), probe(3, 3, 0, 8203)});
  EXPECT_EQ(say(testsupport::create_image(4, 4, [](LGCP::CreateParams& p) { p.select_spi_tdm().set_channel(1); })),
            Strings{"seq 4 slot 4 error insufficientResources"});
  EXPECT_EQ(say("C0 01 11 00 07 04 04 00"), Strings{"seq 17 slot 7 error invalidSlot"});
  EXPECT_EQ(say({testsupport::null_command_image(5, 9, "destroy"), testsupport::connect_image(6, 1, 9)}),
            (Strings{"seq 5 slot 9 error slotNotExists", "seq 6 slot 1 error slotNotExists"}));
  EXPECT_EQ(say({testsupport::null_command_image(7, 1, "deactivate"), testsupport::user_data_image(8, 1, "x"),
                 testsupport::ioctl_image(9, 1), testsupport::activate_image(10, 1)}),
            (Strings{"seq 7 slot 1 error unsupported", "seq 8 slot 1 error unsupported",
                     "seq 9 slot 1 error unsupported", "seq 10 slot 1 success"}));
  // A refused stream; the output acquired for it is released.
  take_journal();
  EXPECT_EQ(say(testsupport::connect_image(11, 1, 2)),
            (Strings{"slot 1 transmitter active 8201", "seq 11 slot 1 error connectFail"}));
  EXPECT_EQ(take_journal(), (Strings{"01:probe out-stream", "02:probe in-stream", "01:probe out-release"}));
  EXPECT_TRUE(testsupport::StreamCapture::has(cap.err(), "slot 02:probe don't have input stream from 01:probe"));
  EXPECT_EQ(say(testsupport::connect_image(12, 2, 1)), Strings{"seq 12 slot 2 error connectFail"});
  EXPECT_TRUE(testsupport::StreamCapture::has(cap.err(), "slot 02:probe don't have output stream to 01:probe"));
  // The hardware refuses the disconnection.
  say(testsupport::connect_image(13, 1, 3));
  hal().fail(platform::sim::Hal::Kind::write, EIO, 1);
  EXPECT_EQ(say(testsupport::null_command_image(14, 3, "disconnect")), Strings{"seq 14 slot 3 error disconnectFail"});
  EXPECT_EQ(slot(3)->GetSource(), nullptr) << "the link is dropped all the same";

  // A release pending: the number is busy, then refused while releasing.
  say(probe(15, 10, 1, 8210));
  EXPECT_EQ(say(probe(16, 10, 0, 8210)), Strings{"seq 16 slot 10 error slotIdBusy"});
  EXPECT_EQ(say({probe(17, 10, 0, 8210), testsupport::null_command_image(18, 10, "destroy")}),
            (Strings{"seq 17 slot 10 error destroyInProgress", "seq 18 slot 10 error destroyInProgress"}));
  // A releasing slot still takes the other commands.
  EXPECT_EQ(say(testsupport::activate_image(19, 10)), Strings{"seq 19 slot 10 success"});
  // No destroy waits for this release: it answers nothing.
  slot(10)->on_release();
  EXPECT_EQ(sent(), Strings{});
  EXPECT_EQ(slot(10), nullptr);
  EXPECT_EQ(say(probe(20, 10, 0, 8210)), Strings{"seq 20 slot 10 success"});
}

TEST_F(SlotsTest, DestroyAnswersOnceAtOnceOrWhenThePendingReleaseEnds) {
  EXPECT_EQ(say({probe(1, 1, 0, 8201), probe(2, 0, 1, 8200), testsupport::connect_image(3, 1, 0)}),
            (Strings{"seq 1 slot 1 success", "seq 2 slot 0 success", "slot 1 transmitter active 8201",
                     "slot 0 receiver active 8200", "seq 3 slot 1 success"}));
  // Goes at once, disconnected first.
  EXPECT_EQ(say(testsupport::null_command_image(4, 1, "destroy")), Strings{"seq 4 slot 1 success"});
  EXPECT_EQ(slot(1), nullptr);
  EXPECT_EQ(slot(0)->GetSource(), nullptr);
  EXPECT_EQ(hal().describe(8200), "byte 213");

  // Pending: silent until the slot releases, then one success with the
  // destroy's own sequence number and slot (number 0 too).
  EXPECT_EQ(say(testsupport::null_command_image(40, 0, "destroy")), Strings{});
  ASSERT_NE(slot(0), nullptr);
  EXPECT_TRUE(slot(0)->is_releasing());
  run_for(5000);
  EXPECT_EQ(sent(), Strings{});
  journal().clear();
  slot(0)->on_release();
  EXPECT_EQ(sent(), Strings{"seq 40 slot 0 success"});
  EXPECT_EQ(slot(0), nullptr);
  EXPECT_EQ(deletions().back().first, "00:probe");
  // A create over a slot that goes at once: one success, the new slot.
  say(probe(5, 3, 0, 8203));
  EXPECT_EQ(say(probe(6, 3, 0, 8213)), Strings{"seq 6 slot 3 success"});
  EXPECT_EQ(slot(3)->GetTransmitChannel(), 8213);
}

// A releasing slot can still be connected; when its release ends it must
// not leave its source or its receivers pointing at it.
TEST_F(SlotsTest, AReleaseThatEndsUnlinksTheSlotFirst) {
  say({probe(1, 60, 1, 8260), probe(2, 61, 0, 8261), probe(3, 62, 0, 8262), probe(4, 63, 1, 8263)});
  EXPECT_EQ(say({testsupport::null_command_image(5, 60, "destroy"), testsupport::connect_image(6, 60, 61),
                 testsupport::connect_image(7, 62, 60)}),
            (Strings{"slot 60 transmitter active 8260", "slot 61 receiver active 8261", "seq 6 slot 60 success",
                     "slot 62 transmitter active 8262", "slot 60 receiver active 8260", "seq 7 slot 62 success"}));
  take_journal();
  slot(60)->on_release();
  EXPECT_EQ(sent(), Strings{"seq 5 slot 60 success"});
  EXPECT_EQ(slot(60), nullptr);
  EXPECT_EQ(slot(61)->GetSource(), nullptr);
  EXPECT_TRUE(slot(62)->GetReceivers().empty());
  EXPECT_EQ(take_journal(), (Strings{"62:probe hw-disconnect-transmitter", "60:probe in-release",
                                     "62:probe out-release", "60:probe hw-disconnect-transmitter",
                                     "61:probe in-release", "60:probe out-release"}));
  EXPECT_EQ(hal().describe(8261), "byte 213");
  EXPECT_EQ(hal().describe(8260), "byte 213");
  // The slots it was linked with go on as usual.
  EXPECT_EQ(say({testsupport::null_command_image(8, 61, "destroy"), testsupport::null_command_image(9, 62, "destroy")}),
            (Strings{"seq 8 slot 61 success", "seq 9 slot 62 success"}));

  // The same when the controller goes with the release still pending: the
  // slot leaves its factory's list as well.
  say({testsupport::null_command_image(10, 63, "destroy"), probe(11, 64, 0, 8264),
       testsupport::connect_image(12, 63, 64)});
  ctl.close();
  run_for(10);
  EXPECT_EQ(Slots::instance().Count(), 0u);
  EXPECT_TRUE(ProbeFactory::instance().GetSlots().empty());
}

TEST_F(SlotsTest, ALostControllerDeletesEverySlotPendingOnesASecondLater) {
  say({probe(1, 1, 0, 8201), probe(2, 2, 1, 8202), probe(3, 3, 0, 8203), probe(4, 0, 1, 8200),
       testsupport::connect_image(5, 1, 2), testsupport::connect_image(6, 2, 3)});
  say(testsupport::null_command_image(7, 0, "destroy"));  // already releasing, and number 0
  deletions().clear();
  const std::int64_t t0 = now_ms();
  ctl.close();
  run_for(10);
  ASSERT_EQ(deletions().size(), 4u);
  EXPECT_EQ(deletions()[0].first, "01:probe");
  EXPECT_EQ(deletions()[1].first, "03:probe");
  EXPECT_NEAR(deletions()[1].second - t0, 0, 20);
  EXPECT_EQ(deletions()[2].first, "02:probe");
  EXPECT_EQ(deletions()[3].first, "00:probe");
  EXPECT_NEAR(deletions()[2].second - deletions()[1].second, 1000, 1);
  EXPECT_EQ(Slots::instance().Count(), 0u);
  for (int n = 0; n < Slots::table_size; ++n) ASSERT_EQ(slot(n), nullptr) << n;
  EXPECT_EQ(hal().describe(8202), "byte 213");
  EXPECT_EQ(hal().describe(8203), "byte 213");
}

TEST_F(SlotsTest, AFailedMoveRestoresTheOldPathOrDropsTheLink) {
  say({probe(1, 30, 0, 8230), probe(2, 31, 0, 8231), probe(3, 32, 0, 8232), testsupport::connect_image(4, 30, 32)});
  take_journal();
  hal().fail(platform::sim::Hal::Kind::connect, EIO, 1);
  EXPECT_EQ(say(testsupport::connect_image(5, 31, 32)),
            (Strings{"slot 31 transmitter active 8231", "seq 5 slot 31 error connectFail"}));
  EXPECT_EQ(hal().describe(8232), "connected 8230");
  EXPECT_EQ(slot(32)->GetSource(), slot(30));
  EXPECT_EQ(take_journal(), (Strings{"31:probe out-stream", "30:probe hw-disconnect-transmitter",
                                     "32:probe hw-connect-receiver", "32:probe hw-connect-receiver",
                                     "31:probe out-release"}));
  // Neither the move nor the way back: the receiver is left without source.
  hal().fail(platform::sim::Hal::Kind::connect, EIO, 2);
  EXPECT_EQ(say(testsupport::connect_image(6, 31, 32)), Strings{"seq 6 slot 31 error connectFail"});
  EXPECT_EQ(slot(32)->GetSource(), nullptr);
  EXPECT_TRUE(slot(30)->GetReceivers().empty());
  EXPECT_EQ(take_journal(),
            (Strings{"31:probe out-stream", "30:probe hw-disconnect-transmitter", "32:probe hw-connect-receiver",
                     "32:probe hw-connect-receiver", "32:probe in-release", "30:probe out-release",
                     "31:probe out-release"}));
  EXPECT_EQ(hal().describe(8232), "byte 213");
}

// A slot whose channel goes quietens the lines it feeds, but only those the
// cross-connect still feeds from it: a receiver sharing its channel with a
// slot wired since keeps that slot's line.
TEST_F(SlotsTest, AGoneChannelQuietensOnlyTheLinesItStillFeeds) {
  say({probe(1, 40, 0, 8240), probe(2, 41, 0, 8241), probe(4, 43, 0, 8241), probe(5, 44, 0, 8244),
       probe(6, 45, 0, 8245), testsupport::connect_image(7, 40, 41), testsupport::connect_image(9, 40, 45),
       testsupport::connect_image(10, 44, 43)});
  ASSERT_EQ(hal().describe(8241), "connected 8244");
  ASSERT_EQ(hal().describe(8245), "connected 8240");
  MuxQuietenLines(slot(40));  // a source without a source of its own
  EXPECT_EQ(hal().describe(8245), "byte 213");
  EXPECT_EQ(hal().describe(8241), "connected 8244") << "the line of the slot wired since was cut";
  EXPECT_EQ(slot(41)->GetSource(), slot(40)) << "the links stay for the controller";
  // The line into a gone channel likewise: 41's channel now carries 43's
  // line, which 41's source no longer feeds.
  MuxQuietenLines(slot(41));
  EXPECT_EQ(hal().describe(8241), "connected 8244") << "the line of the slot wired since was cut";
  MuxQuietenLines(slot(43));
  EXPECT_EQ(hal().describe(8241), "byte 213");
  // Channel 0 is a channel like any other: its line goes quiet too.
  say({probe(11, 46, 0, 0), testsupport::connect_image(12, 44, 46)});
  ASSERT_EQ(hal().describe(0), "connected 8244");
  MuxQuietenReceivers(slot(44));
  EXPECT_EQ(hal().describe(0), "byte 213");
}

TEST_F(SlotsTest, StreamAnnouncementsAndTrunkStatus) {
  say({probe(1, 1, 0, 8201), probe(2, 2, 0, 8202), probe(3, 3, 0, 8203), probe(4, 4, 0, 8204)});
  say({testsupport::connect_image(5, 1, 2), testsupport::connect_image(6, 1, 3), testsupport::connect_image(7, 1, 4)});
  take_journal();
  slot(1)->OnChangeOutputStream(false);
  EXPECT_EQ(sent(), Strings{"slot 1 transmitter inactive"});
  EXPECT_TRUE(slot(1)->GetReceivers().empty());
  EXPECT_FALSE(testsupport::StreamCapture::has(cap.err(), "mux: internal error: expected slots not exists."));
  for (int ch : {8202, 8203, 8204}) EXPECT_EQ(hal().describe(ch), "byte 213") << ch;
  slot(1)->OnChangeOutputStream(false);  // already inactive
  slot(2)->OnChangeInputStream(false);
  slot(2)->OnChangeInputStream(false);
  EXPECT_EQ(sent(), Strings{"slot 2 receiver inactive"});

  LGCP::Signal status;
  status.select_trunkStatus();
  Slots::instance().OnSignal(status);
  Slots::instance().OnSignal(LGCP::Signal(LGCP::Signal::abort::index, 1));
  EXPECT_EQ(std::count(journal().begin(), journal().end(), "factory trunkStatus"), 1);
}

TEST_F(SlotsTest, SlotsPrintTheirNumberAndKind) {
  ProbeSlot s(0, 1);
  std::ostringstream os;
  os << s << "|";
  s.set_id(7);
  os << s << "|";
  s.set_id(1023);
  os << s << "|";
  s.set_id(1024);
  os << s << "|";
  s.set_id(-5);
  os << s << "|" << std::setw(4) << 1;
  EXPECT_EQ(os.str(), "na:probe|07:probe|1023:probe|i1024:probe|i4294967291:probe|   1");
}

TEST_F(SlotsTest, HardwareEventsBecomeSignals) {
  say(probe(1, 20, 0, 8220));
  Slot* s = slot(20);
  s->processTonecEvent({17, 5});
  s->processTonecEvent({18, 6});
  s->processTonecEvent({7, 7});
  s->processTonecEvent({0x0500, 8});
  s->processTonecEvent({0x1500, 9});
  s->processTonecEvent({0x1600, 10});
  s->processToneGenEvent();
  s->processToneFltEvent({2100, 1});
  run_for(10);
  Strings seen;
  for (const auto& f : ctl.frames()) {
    LGCP::Message m;
    ASSERT_TRUE(testsupport::decode(f, m));
    ASSERT_EQ(m.get_slot().getValue(), 20u);
    const LGCP::TonecEvent& ev = m.get_pdu().get_signal().get_tonec();
    const LGCP::TonecCode& c = ev.get_event();
    std::string t = std::to_string(ev.get_timestamp().getValue()) + " " + c.getSelectionName();
    if (c.dtmf_isSelected()) t += " " + std::to_string(c.get_dtmf().getValue());
    if (c.iva_isSelected())
      t += c.get_iva().code_isSelected() ? " code " + std::to_string(c.get_iva().get_code().getValue()) : " ringoff";
    if (c.tone_presence_isSelected())
      t += " " + std::to_string(c.get_tone_presence().get_freq().getValue()) +
           (c.get_tone_presence().get_presence() ? " present" : " absent");
    seen.push_back(t);
  }
  EXPECT_EQ(seen, (Strings{"5 ced", "6 cng", "7 dtmf 7", "8 iva code 5", "9 iva ringoff", "0 dtmfDone",
                           "0 tone-presence 2100 present"}));
  EXPECT_TRUE(testsupport::StreamCapture::has(cap.err(), "bad DTMF code, ignored."));

  // Flags: mask bits 29 and 31 give vad (rx only) and then selcal.
  s->processFlagsEvent({(1u << 29), (1u << 29) | (1u << 31)});
  s->processVADEvent({-1, 1});
  s->processVADEvent({-1, -1});
  s->processSDEvent({-1});
  s->processSDEvent({0});
  s->processBSSEvent({1.5f});
  s->processRtpEvent({2, 1, 1, {}});
  s->processRtpEvent({1, 3, 400, {}});
  run_for(10);
  seen.clear();
  for (const auto& f : ctl.frames()) {
    LGCP::Message m;
    ASSERT_TRUE(testsupport::decode(f, m));
    const LGCP::Signal& sig = m.get_pdu().get_signal();
    std::string t = sig.getSelectionName();
    if (sig.vad_isSelected()) {
      const LGCP::VADEvent& v = sig.get_vad();
      t += v.vad_rx_isPresent() ? (v.get_vad_rx() ? " rx on" : " rx off") : "";
      t += v.vad_tx_isPresent() ? (v.get_vad_tx() ? " tx on" : " tx off") : "";
    }
    if (sig.selcal_isSelected()) t += sig.get_selcal().get_in_progress() ? " in progress" : " idle";
    if (sig.sd_isSelected()) t += sig.get_sd().get_sd_rx() ? " on" : " off";
    if (sig.bss_isSelected()) t += " " + std::string(sig.get_bss().get_score());
    if (sig.rtp_isSelected())
      t += " pd " + std::to_string(sig.get_rtp().get_pd().get_value().getValue()) + " " +
           std::to_string(sig.get_rtp().get_pd().get_timeout().getValue());
    seen.push_back(t);
  }
  EXPECT_EQ(seen, (Strings{"vad rx on", "selcal idle", "vad tx on", "sd off", "bss 1.500000", "rtp pd 3 400"}));
  EXPECT_TRUE(testsupport::StreamCapture::has(cap.err(), "bad VAD event, ignored."));
  EXPECT_TRUE(testsupport::StreamCapture::has(cap.err(), "bad SD event, ignored."));
}

}  // namespace
