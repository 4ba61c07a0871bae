#include "tests/control/controller_fixture.h"
#include "tests/control/service_probe.h"
#include "tests/support/per_image.h"

#include <gtest/gtest.h>

using namespace controltest;
using testsupport::StreamCapture;
using Cause = LGCP::ErrorCause;

namespace {

LGCP::Signal activated() {
  LGCP::Signal s;
  s.select_activated();
  return s;
}

LGCP::Message decoded(const std::string& hex) {
  LGCP::Message m;
  EXPECT_TRUE(testsupport::decode(hex, m)) << hex;
  return m;
}

class CtrlServerTest : public ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    srv.Bind(&a);
    srv.Bind(&b);
  }
  void connect() {
    ControllerTest::connect(srv);
    journal.clear();
  }

  Strings journal;
  ServiceProbe a{"a", journal};
  ServiceProbe b{"b", journal};
  CtrlSrv::Server srv;
};

TEST_F(CtrlServerTest, AnswersWhatNoServiceCanTake) {
  connect();

  // Offered to every service in bind order, claimed by none.
  EXPECT_EQ(ask(ping_seq1_slot5), Strings{unexpected_seq1_slot5});
  EXPECT_EQ(journal, (Strings{"a command", "b command"}));
  // Neither sequence number nor slot: the answer carries neither.
  EXPECT_EQ(ask("06 00"), Strings{"19 00"});
  // The last slot is a slot like any other.
  EXPECT_EQ(ask("C0 01 01 03 FF 18"), Strings{"C0 01 01 03 FF 64"});

  journal.clear();
  // Slot 1024 fits the wire but is no slot: invalidSlot, without the slot.
  EXPECT_EQ(ask("C0 01 01 04 00 18"), Strings{"80 01 01 62"});
  // A response or a signal from the controller: unexpectedMsgType with its
  // sequence number and no slot number.
  EXPECT_EQ(ask(success_seq1_slot5), Strings{"80 01 01 64"});
  LGCP::Message sig;
  sig.set_seq(2);
  sig.set_slot(3);
  sig.set_pdu().select_signal(activated());
  EXPECT_EQ(ask(testsupport::per(sig)), Strings{"80 01 02 64"});
  EXPECT_TRUE(journal.empty()) << journal.size();
}

TEST_F(CtrlServerTest, ClaimedCommandGetsOneSuccessAndNeverTwoErrors) {
  connect();
  std::function<void()> act;
  a.on_command = [&](const LGCP::Command&) {
    act();
    return true;
  };

  act = [&] { a.Success(); };
  EXPECT_EQ(ask(ping_seq1_slot5), Strings{success_seq1_slot5});
  EXPECT_EQ(journal, Strings{"a command"});  // b is not asked
  EXPECT_EQ(ask("40 00 05 18"), Strings{"40 00 05 40"});
  EXPECT_EQ(ask("06 00"), Strings{"10"});

  act = [&] { a.Success(); a.Success(); };
  EXPECT_EQ(ask(ping_seq1_slot5), Strings{success_seq1_slot5});
  act = [&] { a.Error(Cause::slotNotExists); a.Error(Cause::internal); };
  EXPECT_EQ(ask(ping_seq1_slot5), Strings{"C0 01 01 00 05 63"});
  // A failure found after the success still reaches the controller.
  act = [&] { a.Success(); a.Error(Cause::unsupported); };
  EXPECT_EQ(ask(ping_seq1_slot5), (Strings{success_seq1_slot5, "C0 01 01 00 05 66"}));
  // A deferral is no answer yet: an error may still take its place.
  act = [&] { a.delayResponse(); a.Error(Cause::busError); };
  EXPECT_EQ(ask(ping_seq1_slot5), Strings{"C0 01 01 00 05 6A"});

  // Claimed and forgotten: the server answers internal and says why.
  act = [] {};
  EXPECT_EQ(ask(ping_seq1_slot5), Strings{"C0 01 01 00 05 65"});
  const auto lines = StreamCapture::matching(cap.err(), "software error: server do NOT send ack!!!");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, "ctrl [" + peer() + "]: software error: server do NOT send ack!!!");
}

TEST_F(CtrlServerTest, DeferredAnswerCarriesWhatTheCommandCarried) {
  connect();
  CtrlSrv::DelayedSeq later;
  a.on_command = [&](const LGCP::Command&) {
    later = a.delayResponse();
    return true;
  };

  EXPECT_TRUE(ask(ping_seq1_slot5).empty());
  srv.delayedSuccess(5, later);
  run_for(10);
  EXPECT_EQ(ctl.frames(), Strings{success_seq1_slot5});

  // The command without a sequence number is answered without one, not with
  // the number of the command before it.
  EXPECT_TRUE(ask("40 00 05 18").empty());
  EXPECT_FALSE(later.present);
  a.delayedSuccess(5, later);
  run_for(10);
  EXPECT_EQ(ctl.frames(), Strings{"40 00 05 40"});
}

TEST_F(CtrlServerTest, UndecodableBytesAreLoggedAndLeftUnanswered) {
  connect();
  a.on_command = [&](const LGCP::Command&) {
    a.Success();
    return true;
  };
  EXPECT_TRUE(ask("C0 01").empty());
  EXPECT_TRUE(StreamCapture::has(cap.err(), "ctrl [" + peer() + "]: receive fail: decode error!")) << cap.all();
  EXPECT_TRUE(StreamCapture::has(cap.err(), " msg: C0 01 ")) << cap.all();
  EXPECT_TRUE(journal.empty());
  // The connection stays and the next message is handled.
  EXPECT_EQ(ask(ping_seq1_slot5), Strings{success_seq1_slot5});
}

TEST_F(CtrlServerTest, SignalsCarrySlotOnlyWhileACommandForItIsHandled) {
  connect();
  a.on_command = [&](const LGCP::Command&) {
    EXPECT_EQ(a.GetSlot(), 7);
    EXPECT_TRUE(a.IsSlotPresent());
    a.SendSignal(activated());
    a.Success();
    return true;
  };
  const Strings frames = ask("C0 01 01 00 07 18");
  ASSERT_EQ(frames.size(), 2u);
  LGCP::Message s = decoded(frames[0]);
  EXPECT_FALSE(s.seq_isPresent());
  ASSERT_TRUE(s.slot_isPresent());
  EXPECT_EQ(s.get_slot().getValue(), 7u);
  EXPECT_TRUE(s.get_pdu().signal_isSelected());
  // The other services see it first; the sender does not get it back.
  EXPECT_EQ(journal, (Strings{"a command", "b signal"}));
  EXPECT_EQ(frames[1], "C0 01 01 00 07 40");

  // Outside a command: no slot, unless given.
  EXPECT_EQ(srv.GetSlot(), -1);
  journal.clear();
  b.SendSignal(activated());
  b.SendSignal(9, activated());
  run_for(10);
  const Strings later = ctl.frames();
  ASSERT_EQ(later.size(), 2u);
  s = decoded(later[0]);
  EXPECT_FALSE(s.seq_isPresent() || s.slot_isPresent());
  s = decoded(later[1]);
  EXPECT_FALSE(s.seq_isPresent());
  EXPECT_EQ(s.get_slot().getValue(), 9u);
  EXPECT_EQ(journal, (Strings{"a signal", "a signal"}));

  // What another service sends on seeing a signal goes out before it.
  a.on_signal = [&] { a.SendSignal(5, activated()); };
  b.SendSignal(activated());
  b.SendSignal(9, activated());
  run_for(10);
  const Strings reacted = ctl.frames();
  ASSERT_EQ(reacted.size(), 4u);
  const int slots[] = {5, -1, 5, 9};
  for (int i = 0; i < 4; ++i) {
    s = decoded(reacted[i]);
    EXPECT_EQ(s.slot_isPresent() ? int(s.get_slot().getValue()) : -1, slots[i]) << "frame " << i;
  }
}

TEST_F(CtrlServerTest, EveryServiceHearsConnectAndDisconnectInBindOrder) {
  bool connected = true;
  EXPECT_FALSE(srv.CheckServerConnection(connected));
  std::ostringstream h;
  srv.PutHeader(h);
  EXPECT_EQ(h.str(), "ctrl [null]: ");

  ControllerTest::connect(srv);
  EXPECT_EQ(journal, (Strings{"a connect", "b connect"}));
  EXPECT_TRUE(StreamCapture::has(cap.log(), "ctrl [" + peer() + "]: controller connect.")) << cap.all();
  EXPECT_TRUE(srv.CheckServerConnection(connected));
  EXPECT_TRUE(connected);

  journal.clear();
  ctl.close();
  run_for(10);
  EXPECT_EQ(journal, (Strings{"a disconnect", "b disconnect"}));
  EXPECT_TRUE(srv.CheckServerConnection(connected));
  EXPECT_FALSE(connected);
  h.str("");
  srv.PutHeader(h);
  EXPECT_EQ(h.str(), "ctrl [not connected]: ");

  // The next controller is served; at shutdown it hears one disconnect.
  ASSERT_TRUE(ctl.connect(port));
  run_for(10);
  journal.clear();
  srv.Deactivate();
  EXPECT_EQ(journal, (Strings{"a disconnect", "b disconnect"}));
  EXPECT_TRUE(ctl.closed(1000));
  EXPECT_EQ(srv.connection(), nullptr);
}

TEST_F(CtrlServerTest, ShutdownWithoutControllerStillTellsEveryServiceOnce) {
  listen(srv);
  run_for(10);
  srv.Deactivate();
  EXPECT_EQ(journal, (Strings{"a disconnect", "b disconnect"}));
  srv.Deactivate();  // nothing held: nothing more
  EXPECT_EQ(journal.size(), 2u);
}

TEST_F(CtrlServerTest, LostAnswersAreLogged) {
  // No connection object.
  b.SendSignal(activated());
  EXPECT_TRUE(StreamCapture::has(cap.err(), "ctrl [null]: send fail: Service not attached!")) << cap.all();
  // A signal with nothing selected cannot be encoded.
  b.SendSignal(LGCP::Signal());
  EXPECT_EQ(StreamCapture::count(cap.err(), "ctrl [null]: send fail: encode error!"), 1) << cap.all();
  // Its value notation cannot be printed either; the error log goes on.
  b.SendSignal(activated());
  EXPECT_EQ(StreamCapture::count(cap.err(), "ctrl [null]: send fail: Service not attached!"), 2) << cap.all();
}

TEST(CtrlServiceUnbound, ReportsTheFaultAndDoesNothing) {
  StreamCapture cap;
  Strings journal;
  ServiceProbe lone("lone", journal);
  lone.Success();
  lone.Error(Cause::internal);
  lone.SendSignal(activated());
  lone.SendSignal(5, activated());
  lone.delayedSuccess(5, CtrlSrv::DelayedSeq());
  EXPECT_EQ(lone.GetSlot(), -1);
  EXPECT_FALSE(lone.IsSlotPresent());
  EXPECT_FALSE(lone.delayResponse().present);
  bool connected = true;
  EXPECT_FALSE(lone.CheckServerConnection(connected));  // without a line
  EXPECT_TRUE(connected);
  EXPECT_EQ(StreamCapture::count(cap.err(), "CtrlSrv::Service error! service not connected to server."), 8);
}

}  // namespace
