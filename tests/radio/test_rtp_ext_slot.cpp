// The RTP-extension radio slot around a stand-in control, and the session
// set-up steps that the radio factories share, in-process on the simulated
// board: where ioctls go, the header-extension session around codec
// changes, transmission gated by squelch, and the logged refusals.
#include "platform/sim/rtp.h"
#include "radio/ed137/ed137_factory.h"
#include "radio/rtp_ext_slot.h"
#include "radio/rtp_radio_factory.h"
#include "radio/zarn/rtp_zarn_factory.h"
#include "tests/media/rtp_fixture.h"
#include "tests/radio/radio_sim.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

using namespace radio_test;
using testsupport::StreamCapture;
using P = TERM::Payload;

namespace {

// Answers as the test says and notes what reaches it.
class StandInControl : public RTPSignalling::RadioControl {
 public:
  StandInControl(int id, rtp_ext_attach_session_params const& a) : RadioControl(id, a, ed137_init()) {}
  bool SendASNToChan(TERM::RadioStatus const& s) override {
    seen.push_back(s.zarn_isSelected() ? "status zarn" : s.ed_137_isSelected() ? "status ed-137" : "status none");
    return true;
  }
  bool SendASNToChan(TERM::RadioModifier const&) override {
    seen.push_back("modifier");
    return answer;
  }
  bool GetSQU() override { return squ; }
  bool answer = false;
  bool squ = false;
  std::vector<std::string> seen;
};

class StandInSlot : public RtpExtSlot {
 public:
  StandInSlot(int tdm, Fd fd, rtp_connection_params const& p, bool gated)
      : RtpExtSlot(tdm, fd, p, rtp_ext_attach_session_params{-1, -1}, ed137_init()) {
    transmissionDependOnSQU = gated;
    control = new StandInControl(tdm, rtp_ext_attach_session_params{this->fd.lowlevel_fd(), -1});
    radioControl = control;
    control->Bind(this);
  }
  StandInControl* control;
};

class RtpExtSlotTest : public testsupport::VirtualClockTest {
 protected:
  StandInSlot* make(bool gated = false) {
    RtpSession s = begin_session(5004);
    EXPECT_GE(s.tdm, 0);
    return new StandInSlot(s.tdm, s.fd, s.params, gated);
  }
  static void destroy(StandInSlot* s) {
    EXPECT_TRUE(s->BeforeDestroy());
    delete s;
  }
  static LGCP::IoctlParams codec(bool encoder, LGCP::CodecMode::NamedNumber m) {
    LGCP::IoctlParams p;
    if (encoder)
      p.select_encoder_mode(m);
    else
      p.select_decoder_mode(m);
    return p;
  }
  static LGCP::IoctlParams rtp_ext() {
    LGCP::IoctlParams p;
    p.select_rtpExt().select_ed_137();
    return p;
  }
  // The line (from 1) of the newest RTP session.
  static int newest_line() {
    platform::sim::rtp().refresh();
    return static_cast<int>(platform::sim::rtp().sessions.size());
  }
  static std::string ops_of_last() {
    const std::string l = last_instance();
    return l.substr(l.find(",ops=") + 5);
  }
};

TEST_F(RtpExtSlotTest, RadioRequestsGoToTheControlOnly) {
  StandInSlot* s = make();
  // Never given a status: the control gets an empty one.
  s->IAfterCreate();
  EXPECT_EQ(s->control->seen, std::vector<std::string>{"status none"});
  for (bool answer : {false, true}) {
    s->control->answer = answer;
    EXPECT_EQ(s->Ioctl(rtp_ext()), answer);
  }
  // Other requests are the RTP slot's own.
  LGCP::IoctlParams mute;
  mute.select_mute_enable();
  EXPECT_FALSE(s->Ioctl(mute));
  EXPECT_EQ(s->control->seen, (std::vector<std::string>{"status none", "modifier", "modifier"}));
  EXPECT_EQ(rtp_ops(s->GetTimeslot()), "begin/add:-1");
  destroy(s);
  // The header-extension session ended with the slot.
  EXPECT_EQ(ops_of_last(), "init/attach:" + std::to_string(newest_line()) + "/detach");
}

// Around a codec change the header-extension session follows the RTP
// session in force: the new one after a restart, the kept one after a
// failed change.
TEST_F(RtpExtSlotTest, CodecChangesMoveTheHeaderExtensionSession) {
  StandInSlot* s = make();
  const int first = newest_line();
  const std::size_t n = instance_count();
  EXPECT_EQ(ops_of_last(), "init/attach:" + std::to_string(first));

  ASSERT_TRUE(s->Ioctl(codec(true, LGCP::CodecMode::ulaw)));  // 8 -> 0: restarted
  const int second = newest_line();
  ASSERT_EQ(second, first + 1);
  auto& inst = platform::sim::rtp_ext().instances;
  ASSERT_EQ(instance_count(), n + 1);
  EXPECT_EQ(inst[n - 1].ops, (std::vector<std::string>{"init", "attach:" + std::to_string(first), "detach"}));
  EXPECT_EQ(ops_of_last(), "init/attach:" + std::to_string(second));

  // The restart fails: the ioctl fails, the RTP session stays and the
  // header-extension session is attached to it again.
  words("rtp fail begin EIO");
  EXPECT_FALSE(s->Ioctl(codec(true, LGCP::CodecMode::alaw)));
  EXPECT_EQ(rtp_ops(s->GetTimeslot()), "begin/add:" + std::to_string(s->GetTimeslot()));
  ASSERT_EQ(instance_count(), n + 2);
  EXPECT_EQ(ops_of_last(), "init/attach:" + std::to_string(second));

  // Nothing to change: still stopped and started.
  EXPECT_TRUE(s->Ioctl(codec(false, LGCP::CodecMode::alaw)));
  EXPECT_EQ(instance_count(), n + 3);
  // The session does not come back: the ioctl fails though the codec changed.
  words("rtpext fail init EIO");
  {
    StreamCapture cap;
    EXPECT_FALSE(s->Ioctl(codec(true, LGCP::CodecMode::ulaw)));
    EXPECT_EQ(StreamCapture::count(cap.err(), ":init rtp_ext session fail !!!"), 1) << cap.all();
  }
  EXPECT_FALSE(s->control->HasSession());
  destroy(s);
}

TEST_F(RtpExtSlotTest, TransmissionFollowsSquelchAtEachIoctl) {
  const struct {
    bool gated;
    std::vector<bool> squ;  // the squelch at each ioctl
    const char* ops;
  } table[] = {
      {false, {true, true, false}, "begin/add:-1"},
      {true, {false}, "begin/add:-1"},
      {true, {true, true}, "begin/add:-1/start_tx"},
      {true, {true, true, false, false, true}, "begin/add:-1/start_tx/stop_tx/start_tx"},
  };
  for (const auto& t : table) {
    StandInSlot* s = make(t.gated);
    EXPECT_FALSE(s->IsTransmitting());
    for (bool open : t.squ) {
      s->control->squ = open;
      s->control->answer = true;
      EXPECT_TRUE(s->Ioctl(rtp_ext()));
      if (t.gated) {
        EXPECT_EQ(s->IsTransmitting(), open);
      }
    }
    EXPECT_EQ(rtp_ops(s->GetTimeslot()), t.ops);
    destroy(s);
  }
}

// The shared factory steps, seen through a factory of test slots.
class StepsFactory : public RtpRadioFactory {
 public:
  StepsFactory() : RtpRadioFactory("rtp ext TEST") {}
  const char* GetName() const override { return "TEST"; }
  Slot* INewSlot(LGCP::CreateParams const&) override { return nullptr; }
  int bss = -1;  // the BSS word of the last channel asked for
  bool open(const LGCP::CreateParams& p, int& tdm) {
    Session s;
    if (!OpenSession(p.get_rtp(), s)) return false;
    tdm = s.info.tdm;
    bss = s.info.reserved;
    return true;
  }
};

TEST_F(RtpExtSlotTest, FactoryStepsCapacitiesAndRefusals) {
  auto& counts = platform::sim::voice().counts;
  counts = {{4, 8}, {2, 6}, {1, 30}, {8, 2}, {65, 0}};
  StepsFactory f;
  LGCP::Resources r;
  r.set_rtp_g711(99);
  r.set_universal(99);
  f.Query(r);
  EXPECT_EQ(r.get_rtp_g729().getValue(), 8);
  EXPECT_EQ(r.get_rtp_g723().getValue(), 6);
  EXPECT_EQ(r.get_rtp_g711().getValue(), 30);
  EXPECT_EQ(r.get_rtp_g711mcc().getValue(), 2);
  EXPECT_EQ(r.get_universal().getValue(), 0);
  const std::string H = "rtp ext TEST[6,8,30,0]: ";

  rtptest::UdpPeer peer;
  const std::uint16_t P = rtptest::rtp_port_of(peer), Q = rtptest::free_rtp_port(2);
  rtptest::UdpPeer busy(static_cast<std::uint16_t>(Q + 1), true);  // even SO_REUSEADDR is no way in
  const auto params = [&](P::NamedNumber pay, const char* host, std::uint16_t local, bool bss = false) {
    return rtptest::rtp_params(pay, host, P, pay, pay, [&](TERM::RtpParams& x) {
      x.set_shost().set_iaddr("127.0.0.1");
      x.set_shost().set_port(local);
      x.set_radio();
      if (bss) x.ref_radio().set_bss_enable(true);
    });
  };
  const struct {
    const char* fail;  // "rtp fail ..." first
    LGCP::CreateParams p;
    bool error_stream;
    std::string line;
  } refusals[] = {
      {nullptr, params(P::ptT38_UDP_TL, "127.0.0.1", Q + 2), false, H + "rtp do not created: payload ptT38-UDP-TLnot found"},
      {nullptr, params(P::ptG711_Alaw, "127.0.0.1", Q), false,
       H + "rtp do not created: can not bind socket [errno=Address already in use, port=" + std::to_string(Q + 1) + "]"},
      {nullptr, params(P::ptG711_Alaw, "radio.example", Q + 2), false, H + "rtp do not created: address is not dotted text"},
      {"open ENODEV", params(P::ptG711_Alaw, "127.0.0.1", Q + 2), true, H + "device \"/dev/rtp\" open fail: No such device"},
      {"begin EIO", params(P::ptG711_Alaw, "127.0.0.1", Q + 2), true, H + "begin session fail !!! "},
      {"add EBUSY", params(P::ptG711_Alaw, "127.0.0.1", Q + 2), true, H + "add channel fail !!!"},
  };
  for (const auto& t : refusals) {
    if (t.fail) words(std::string("rtp fail ") + t.fail);
    StreamCapture cap;
    int tdm = -1;
    EXPECT_FALSE(f.open(t.p, tdm)) << t.line;
    EXPECT_TRUE(StreamCapture::has(t.error_stream ? cap.err() : cap.log(), t.line)) << cap.all();
    // Nothing is left open: the RTCP port is free again.
    rtptest::UdpPeer again(static_cast<std::uint16_t>(Q + 3), false);
    EXPECT_TRUE(again.ok()) << t.line;
  }
  platform::sim::rtp().refresh();
  for (const auto& s : platform::sim::rtp().sessions) EXPECT_FALSE(s.open);
  int tdm = -1;
  EXPECT_TRUE(f.open(params(P::ptG728, "127.0.0.1", Q + 2), tdm));
  EXPECT_GE(tdm, 0);
  EXPECT_EQ(f.bss, 0) << "a radio request without bss-enable asks no BSS of the channel";
  EXPECT_TRUE(f.open(params(P::ptG728, "127.0.0.1", Q + 2, true), tdm));
  EXPECT_EQ(f.bss, 1);
}

}  // namespace

// A creation naming an attach mode this side does not know (as the decoder
// leaves an unknown extension alternative) is logged, and the log goes on.
TEST_F(RtpExtSlotTest, UnknownAlternativesLeaveTheLogWorking) {
  RtpRadioFactory* const factories[] = {&RtpZARNFactory::instance(), &RtpED137Factory::instance()};
  for (RtpRadioFactory* f : factories) {
    const bool zarn = f == factories[0];
    const LGCP::CreateParams p =
        rtptest::rtp_params(P::ptT38_UDP_TL, "127.0.0.1", 5004, P::ptT38_UDP_TL, P::ptT38_UDP_TL, [&](TERM::RtpParams& x) {
          if (zarn)
            x.set_radio().set_status().select_zarn();
          else
            x.set_radio().set_status().select_ed_137();
          x.set_rtp_e2m().set_mode().setSelection(ASN1::CHOICE::UnknownSelection, nullptr);
        });
    StreamCapture cap;
    EXPECT_EQ(f->INewSlot(p), nullptr);
    EXPECT_EQ(StreamCapture::count(cap.log(), "rtp do not created: payload ptT38-UDP-TLnot found"), 1) << cap.all();
    EXPECT_TRUE(std::clog.good());
  }
}

// Creates that are not a factory's own go on to the next factory without a
// word and without a session: another slot kind, RTP without a radio, a
// radio of the other protocol. One of its own whose session is refused
// leaves that one line and goes no further.
TEST_F(RtpExtSlotTest, CreatesOfOtherKindsArePassedOnAndRefusedOnesStop) {
  LGCP::CreateParams voice;
  voice.select_voice();
  const auto rtp = [](int radio) {
    return rtptest::rtp_params(P::ptG711_Alaw, "127.0.0.1", 5004, P::ptG711_Alaw, P::ptG711_Alaw,
                               [radio](TERM::RtpParams& x) {
                                 if (radio == 1) x.set_radio().set_status().select_zarn();
                                 if (radio == 2) x.set_radio().set_status().select_ed_137();
                               });
  };
  const struct {
    RtpRadioFactory* factory;
    int other;  // the radio status that is not the factory's
  } factories[] = {{&RtpZARNFactory::instance(), 2}, {&RtpED137Factory::instance(), 1}};
  for (const auto& f : factories) {
    for (const LGCP::CreateParams& p : {voice, rtp(0), rtp(f.other)}) {
      StreamCapture cap;
      EXPECT_EQ(f.factory->INewSlot(p), nullptr) << f.factory->GetName();
      EXPECT_EQ(cap.all(), "") << f.factory->GetName();
    }
    LGCP::CreateParams refused = rtp(f.other == 2 ? 1 : 2);
    refused.ref_rtp().ref_codecRTP().set_payload(P::ptT38_UDP_TL);
    StreamCapture cap;
    EXPECT_EQ(f.factory->INewSlot(refused), nullptr);
    EXPECT_EQ(StreamCapture::count(cap.log(), "rtp do not created: payload ptT38-UDP-TLnot found"), 1) << cap.all();
    EXPECT_TRUE(cap.err().empty()) << cap.all();
  }
  platform::sim::rtp().refresh();
  for (const auto& s : platform::sim::rtp().sessions) EXPECT_FALSE(s.open);
}
