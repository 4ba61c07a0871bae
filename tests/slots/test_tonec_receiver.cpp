// The tone receivers on the simulated "/dev/dtmf", on the virtual clock:
// request ids, stale and stray events, the digit and wait-tone cadences,
// SELCAL and the clean-up.
#include "platform/sim/control_words.h"
#include "platform/sim/dtmf.h"
#include "slots/tonec_receiver.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using platform::sim::control_request;
using platform::sim::dtmf;
using testsupport::StreamCapture;
using Strings = std::vector<std::string>;

class ToneRx : public Hardware::TonecReceiver {
 public:
  explicit ToneRx(std::uint32_t ts) : ts_(ts) {}
  void tonec_event(Params const& p) override {
    events.push_back(std::to_string(p.code) + "@" + std::to_string(p.timestamp));
  }
  std::uint32_t tonec_timeslot() override { return ts_; }
  bool tonec_retired() const override { return retired; }
  void tone_gen_complete() override { ++completes; }
  Strings events;
  bool retired = false;
  int completes = 0;

 private:
  std::uint32_t ts_;
};

class TonecTest : public testsupport::VirtualClockTest {
 protected:
  void SetUp() override {
    VirtualClockTest::SetUp();
    dtmf().clear();
    ASSERT_TRUE(Hardware::TonecReceiverService::instance().is_open());
    Hardware::TonecReceiverService::instance().set_request_counter(0);
    start = now_ms();
  }
  void TearDown() override {
    run_for(1);  // nothing left queued for the next test
    dtmf().clear();
    VirtualClockTest::TearDown();
  }
  // The requests since the last call, as text.
  static Strings requests() {
    Strings out;
    for (const auto& r : dtmf().take_new()) out.push_back(r.text());
    return out;
  }
  // The tone generator requests with their time since the test began.
  Strings dials() {
    Strings out;
    for (const auto& r : dtmf().take_new())
      if (r.name == "DTMF_DIAL")
        out.push_back(std::to_string(r.ms - start) + ": " + r.text().substr(sizeof "DTMF_DIAL 5"));
    return out;
  }
  static void event(std::uint32_t code, std::uint32_t ts, std::uint32_t stamp, std::uint32_t id) {
    ASSERT_TRUE(dtmf().event(code, ts, stamp, id));
  }
  LGCP::TranslateDtmfParams digits(std::vector<std::pair<int, int>> tones) {
    LGCP::TranslateDtmfParams p;
    for (auto t : tones) {
      LGCP::DualTone d;
      d.set_freq1(t.first);
      d.set_freq2(t.second);
      p.ref_digits().push_back(d);
    }
    return p;
  }
  StreamCapture cap;
  std::uint32_t start = 0;
};

TEST_F(TonecTest, DetectorIdsAndStaleEvents) {
  ToneRx a(5), b(6);
  Hardware::TonecReceiverService::instance().set_request_counter(0xFFFFFFFEu);
  EXPECT_TRUE(a.enableDTMF(true));
  EXPECT_TRUE(a.enableDTMF(true));  // already on: no request, same id
  EXPECT_TRUE(a.disableDTMF());
  EXPECT_TRUE(a.enableDTMF(true));  // the counter wraps past 0
  EXPECT_EQ(requests(), (Strings{"DTMF_ENABLE_DETECTOR 5 4294967295", "DTMF_DISABLE_DETECTOR 5",
                                 "DTMF_ENABLE_DETECTOR 5 1"}));
  EXPECT_TRUE(StreamCapture::has(cap.err(), "DTMF_ENABLE_DETECTOR done: timeslot=5 id=4294967295")) << cap.all();
  EXPECT_TRUE(StreamCapture::has(cap.err(), "DTMF_DISABLE_DETECTOR done: timeslot=5")) << cap.all();

  // A failed enable advances the counter and changes nothing.
  EXPECT_EQ(control_request("dtmf fail DTMF_ENABLE_DETECTOR 16 1"), "ok\n");
  EXPECT_FALSE(b.enableDTMF(true));
  EXPECT_TRUE(StreamCapture::has(
      cap.err(), "DTMF_ENABLE_DETECTOR fail: timeslot=6 id=2 errno=\"Device or resource busy\""))
      << cap.all();

  event(11, 5, 100, 4294967295u);  // from before the re-enable
  event(11, 5, 101, 1);
  event(11, 6, 102, 2);  // b is off
  event(11, 7, 103, 1);  // nobody's
  run_for(5);
  EXPECT_EQ(a.events, Strings{"11@101"});
  EXPECT_EQ(b.events, Strings{});
  EXPECT_TRUE(StreamCapture::has(cap.log(), "dtmf event:  timestamp=100 timeslot=5 code=11 id=4294967295"));
  EXPECT_TRUE(StreamCapture::has(
      cap.err(), "ignore spurious dtmf event:  timestamp=100 timeslot=5 code=11 id=4294967295 rid=1"))
      << cap.all();
  EXPECT_TRUE(StreamCapture::has(
      cap.err(), "ignore spurious dtmf event (DTMF disabled):  timestamp=102 timeslot=6 code=11 id=2"))
      << cap.all();
  EXPECT_TRUE(StreamCapture::has(cap.err(), "receive tonec event from unknown timeslot 7")) << cap.all();

  // A receiver that goes leaves the list: its time slot is unknown again.
  {
    ToneRx c(8);
    EXPECT_TRUE(c.enableDTMF(true));
    EXPECT_EQ(requests().back(), "DTMF_ENABLE_DETECTOR 8 3");
  }
  event(11, 8, 104, 3);
  run_for(5);
  EXPECT_TRUE(StreamCapture::has(cap.err(), "receive tonec event from unknown timeslot 8")) << cap.all();
}

TEST_F(TonecTest, ShortReadsEndThePassAndAreLogged) {
  ToneRx a(5);
  ASSERT_TRUE(a.enableDTMF(true));
  EXPECT_EQ(control_request("dtmf raw 0B000000"), "ok\n");
  EXPECT_EQ(control_request("dtmf raw"), "ok\n");
  event(3, 5, 7, 1);
  run_for(20);
  // The whole record after them still arrives, in a later pass.
  EXPECT_EQ(a.events, Strings{"3@7"});
  EXPECT_EQ(StreamCapture::count(cap.err(), "short read from tonec: 4 bytes"), 1) << cap.all();
  EXPECT_EQ(StreamCapture::count(cap.err(), "short read from tonec: 0 bytes"), 1) << cap.all();
}

TEST_F(TonecTest, IvaAndDtmfKeepTheirOwnState) {
  ToneRx a(5);
  EXPECT_TRUE(a.enableIVA(true));
  // The IVA detector being on does not stand in for the DTMF detector.
  EXPECT_TRUE(a.enableDTMF(true));
  EXPECT_EQ(requests(), (Strings{"IVA_DETECTOR_ENABLE 5", "DTMF_ENABLE_DETECTOR 5 1"}));
  EXPECT_TRUE(StreamCapture::has(cap.log(), "IVA_DETECTOR_ENABLE[5] ok")) << cap.all();
  event(0x0500, 5, 1, 0);   // IVA detections carry no id
  event(0x1500, 5, 2, 77);
  event(7, 5, 3, 0);  // a DTMF digit still needs the id
  run_for(5);
  EXPECT_EQ(a.events, (Strings{"1280@1", "5376@2"}));
  // The IVA codes are 1 to 21 above the low 8 bits; any other record needs
  // the DTMF detector's id.
  event(0x0100, 5, 6, 0);
  event(0x15FF, 5, 7, 0);
  event(0x1600, 5, 8, 0);
  event(0x00FF, 5, 9, 0);
  run_for(5);
  EXPECT_EQ(a.events, (Strings{"1280@1", "5376@2", "256@6", "5631@7"}));
  a.events.resize(2);

  // Switching IVA off leaves DTMF on.
  EXPECT_TRUE(a.enableIVA(false));
  event(7, 5, 4, 1);
  event(0x0500, 5, 5, 0);  // no IVA now: a stale id
  run_for(5);
  EXPECT_EQ(a.events, (Strings{"1280@1", "5376@2", "7@4"}));

  // The clean-up switches off what the receiver switched on, in order.
  EXPECT_TRUE(a.enableIVA(true));
  EXPECT_TRUE(a.enableDTMFReject(true));
  EXPECT_TRUE(a.echoCancel(true));
  requests();
  a.CleanBeforeDestroy();
  EXPECT_EQ(requests(), (Strings{"DTMF_DISABLE_DETECTOR 5", "IVA_DETECTOR_DISABLE 5", "DTMF_REJECTION_DISABLE 5"}));
  a.CleanBeforeDestroy();
  EXPECT_EQ(requests(), Strings{});

  // Failures name the request and carry the error text.
  EXPECT_EQ(control_request("dtmf fail IVA_DETECTOR_ENABLE 5 1"), "ok\n");
  EXPECT_FALSE(a.enableIVA(true));
  EXPECT_TRUE(StreamCapture::has(cap.err(), "IVA_DETECTOR_ENABLE fail: timeslot=5 errno=\"Input/output error\""))
      << cap.all();
  EXPECT_EQ(control_request("dtmf fail CHANNEL_LMS_OFF 5 1"), "ok\n");
  EXPECT_FALSE(a.echoCancel(false));
  EXPECT_TRUE(StreamCapture::has(cap.err(), "CHANNEL_LMS_OFF fail: timeslot=5 errno=\"Input/output error\""))
      << cap.all();
}

TEST_F(TonecTest, TwoReceiversOnOneTimeSlot) {
  // A mixer channel's output and input hold one time slot; the output was
  // made first, so it is first in the list.
  auto out = std::make_unique<ToneRx>(5);
  ToneRx in(5);
  EXPECT_TRUE(in.enableDTMF(true));  // id 1
  EXPECT_TRUE(in.enableDTMFReject(true));
  EXPECT_TRUE(out->enableDTMFReject(true));
  EXPECT_TRUE(out->enableIVA(true));
  event(7, 5, 1, 1);       // the input's digit
  event(0x0500, 5, 2, 0);  // the output's IVA detection
  event(7, 5, 3, 9);       // nobody's id
  run_for(5);
  EXPECT_EQ(in.events, Strings{"7@1"});
  EXPECT_EQ(out->events, Strings{"1280@2"});
  EXPECT_TRUE(
      StreamCapture::has(cap.err(), "ignore spurious dtmf event (DTMF disabled):  timestamp=3 timeslot=5 code=7 id=9"))
      << cap.all();

  // The output goes: what the input still uses stays on.
  requests();
  out->CleanBeforeDestroy();
  out.reset();
  EXPECT_EQ(requests(), Strings{"IVA_DETECTOR_DISABLE 5"});
  event(7, 5, 4, 1);
  run_for(5);
  EXPECT_EQ(in.events, (Strings{"7@1", "7@4"}));
  in.CleanBeforeDestroy();
  EXPECT_EQ(requests(), (Strings{"DTMF_DISABLE_DETECTOR 5", "DTMF_REJECTION_DISABLE 5"}));
}

TEST_F(TonecTest, DetectorsSharedByTwoReceivers) {
  // IVA and DTMF rejection are the time slot's: a disable leaves them on
  // while the other receiver of the time slot still has them on.
  ToneRx out(5), in(5);
  for (ToneRx* r : {&in, &out}) {
    EXPECT_TRUE(r->enableIVA(true));
    EXPECT_TRUE(r->enableDTMFReject(true));
  }
  // Both have the IVA detector on: its detection is both receivers', as a
  // voice-processing event is, not only the first one's in the list.
  event(0x0500, 5, 0, 0);
  run_for(5);
  EXPECT_EQ(out.events, Strings{"1280@0"});
  EXPECT_EQ(in.events, Strings{"1280@0"});
  requests();
  EXPECT_TRUE(out.enableIVA(false));
  EXPECT_TRUE(out.enableDTMFReject(false));
  EXPECT_EQ(requests(), Strings{});
  event(0x0500, 5, 1, 0);
  run_for(5);
  EXPECT_EQ(out.events, Strings{"1280@0"});
  EXPECT_EQ(in.events, (Strings{"1280@0", "1280@1"}));
  EXPECT_TRUE(in.enableIVA(false));
  EXPECT_TRUE(in.enableDTMFReject(false));
  EXPECT_EQ(requests(), (Strings{"IVA_DETECTOR_DISABLE 5", "DTMF_REJECTION_DISABLE 5"}));

  // So is the DTMF detector at the clean-up of one of two receivers that
  // have it on.
  auto first = std::make_unique<ToneRx>(6);
  ToneRx second(6);
  EXPECT_TRUE(first->enableDTMF(true));
  EXPECT_TRUE(second.enableDTMF(true));
  requests();
  first->CleanBeforeDestroy();
  first.reset();
  EXPECT_EQ(requests(), Strings{});
  second.CleanBeforeDestroy();
  EXPECT_EQ(requests(), Strings{"DTMF_DISABLE_DETECTOR 6"});
}

TEST_F(TonecTest, ALiveReceiverKeepsNothingOnForOneOfAVanishedUnit) {
  // A mixer unit vanished and came back: its aborted slot's receiver waits
  // for its destroy on the time slot that a new slot's receiver holds now.
  ToneRx old(5);
  EXPECT_TRUE(old.enableDTMF(true));  // id 1
  EXPECT_TRUE(old.enableIVA(true));
  EXPECT_TRUE(old.enableDTMFReject(true));
  old.retired = true;
  ToneRx now(5);
  EXPECT_TRUE(now.enableDTMF(true));  // id 2
  EXPECT_TRUE(now.enableIVA(true));
  EXPECT_TRUE(now.enableDTMFReject(true));
  event(7, 5, 1, 1);  // a digit of the old enable
  event(7, 5, 2, 2);
  run_for(5);
  EXPECT_EQ(now.events, Strings{"7@2"});
  EXPECT_EQ(old.events, Strings{});
  // What the new receiver switches off goes off.
  requests();
  EXPECT_TRUE(now.enableIVA(false));
  EXPECT_TRUE(now.enableDTMFReject(false));
  now.CleanBeforeDestroy();
  EXPECT_EQ(requests(), (Strings{"IVA_DETECTOR_DISABLE 5", "DTMF_REJECTION_DISABLE 5", "DTMF_DISABLE_DETECTOR 5"}));
}

TEST_F(TonecTest, ConfigurationRecords) {
  ToneRx a(5);
  LGCP::DTMFParams d;
  d.set_threshold().set_twist(8);
  d.set_threshold().set_ratio(9);
  d.set_threshold().set_noise(10);
  d.set_level().set_silence(300);
  EXPECT_TRUE(a.configureDTMF(d));
  LGCP::IVAParams iva;
  iva.set_det_lvl_dB(-32);
  EXPECT_TRUE(a.configureIVA(iva));
  EXPECT_EQ(requests(), (Strings{"DTMF_CONFIGURE_DETECTOR 5 8 9 300 10", "IVA_CONFIGURE_DETECTOR 5 -32"}));
  EXPECT_TRUE(StreamCapture::has(cap.log(), "DTMF_CONFIGURE_DETECTOR ts=5 twist=8 ratio=9 noise=10 silence=300"));
  EXPECT_TRUE(StreamCapture::has(cap.log(), "IVA_CONFIGURE_DETECTOR ts=5 det_lvl_dB=-32"));
  EXPECT_EQ(control_request("dtmf fail DTMF_CONFIGURE_DETECTOR 22 1"), "ok\n");
  EXPECT_FALSE(a.configureDTMF(d));
  EXPECT_TRUE(
      StreamCapture::has(cap.err(), "DTMF_CONFIGURE_DETECTOR fail: timeslot=5 errno=\"Invalid argument\""));
}

TEST_F(TonecTest, DigitsWithoutDurationsTake70MsEach) {
  ToneRx a(5);
  a.translateDTMF(digits({{697, 1209}, {770, 1336}}));
  EXPECT_TRUE(a.is_inDTMFTransmit());
  run_for(1000);
  EXPECT_EQ(dials(), (Strings{"0: 697 1209 16384 16384", "70: 1000 1000 0 0", "140: 770 1336 16384 16384",
                              "210: 1000 1000 0 0", "280: 0 0 0 0"}));
  EXPECT_EQ(a.completes, 1);
  EXPECT_FALSE(a.is_inDTMFTransmit());

  // An empty list completes at once.
  start = now_ms();
  a.translateDTMF(digits({}));
  EXPECT_EQ(dials(), Strings{"0: 0 0 0 0"});
  EXPECT_EQ(a.completes, 2);
}

TEST_F(TonecTest, DurationsAmplitudesAndReplacedDigits) {
  ToneRx a(5);
  auto p = digits({{1, 2}, {3, 4}, {5, 6}});
  p.set_amp1(9029);
  p.set_amp2(100);
  p.set_toneDuration(40);
  p.set_pauseDuration(10);
  a.translateDTMF(p);
  run_for(20);
  // During the tone of the first digit: the rest is replaced, the running
  // step is not restarted.
  auto q = digits({{7, 8}});
  q.set_toneDuration(7200001);  // out of range: the default
  q.set_pauseDuration(-1);
  a.translateDTMF(q);
  run_for(1000);
  // The new durations count from the next step on (the pause after the
  // first digit is already the new default).
  EXPECT_EQ(dials(), (Strings{"0: 1 2 9029 100", "40: 1000 1000 0 0", "110: 7 8 16384 16384", "180: 1000 1000 0 0",
                              "250: 0 0 0 0"}));
  EXPECT_EQ(a.completes, 1);

  // The ends of the range are durations like any other.
  start = now_ms();
  auto r = digits({{9, 10}});
  r.set_toneDuration(0);
  r.set_pauseDuration(7200000);
  a.translateDTMF(r);
  run_for(7200001);
  EXPECT_EQ(dials(), (Strings{"0: 9 10 16384 16384", "0: 1000 1000 0 0", "7200000: 0 0 0 0"}));
  EXPECT_EQ(a.completes, 2);

  // Any word of the generator other than 0 leaves it on: a receiver that
  // goes during such a digit switches it off.
  const int words[][4] = {{697, 0, 0, 0}, {0, 1209, 0, 0}, {0, 0, 5, 0}, {0, 0, 0, 5}};
  for (const auto& w : words) {
    SCOPED_TRACE(testing::Message() << w[0] << " " << w[1] << " " << w[2] << " " << w[3]);
    ToneRx b(6);
    auto one = digits({{w[0], w[1]}});
    one.set_amp1(w[2]);
    one.set_amp2(w[3]);
    b.translateDTMF(one);
    run_for(10);
    requests();
    b.CleanBeforeDestroy();
    EXPECT_EQ(requests(), Strings{"DTMF_DIAL 6 0 0 0 0"});
  }
}

// Cut to its 16-bit field an amplitude would sound as another one: the
// sequence is refused whole and one already running goes on as it was.
TEST_F(TonecTest, AmplitudeBeyondItsFieldIsRefused) {
  ToneRx a(5);
  for (int amp : {65536, 0x12345, -1}) {
    auto p = digits({{697, 1209}});
    p.set_amp1(amp);
    EXPECT_FALSE(a.translateDTMF(p)) << amp;
    auto q = digits({{697, 1209}});
    q.set_amp2(amp);
    EXPECT_FALSE(a.translateDTMF(q)) << amp;
  }
  EXPECT_FALSE(a.is_inDTMFTransmit());
  run_for(1000);
  EXPECT_EQ(dials(), Strings{});
  EXPECT_TRUE(StreamCapture::has(cap.err(), "DTMF_DIAL fail: timeslot=5 amplitude out of range:65536 0"));

  start = now_ms();
  auto p = digits({{1, 2}, {3, 4}});
  p.set_amp1(0);
  p.set_amp2(0xFFFF);  // the field's edges
  EXPECT_TRUE(a.translateDTMF(p));
  run_for(20);
  auto q = digits({{7, 8}});
  q.set_amp2(65536);
  EXPECT_FALSE(a.translateDTMF(q));
  run_for(1000);
  EXPECT_EQ(dials(),
            (Strings{"0: 1 2 0 65535", "70: 1000 1000 0 0", "140: 3 4 0 65535", "210: 1000 1000 0 0", "280: 0 0 0 0"}));
  EXPECT_EQ(a.completes, 1);
}

// So would a digit's frequency: 66233 Hz would sound as 697 Hz.
TEST_F(TonecTest, DigitFrequencyBeyondItsFieldIsRefused) {
  ToneRx a(5);
  const std::pair<int, int> beyond[] = {{66233, 1209}, {697, 66745}, {-1, 1209}, {697, -1209}};
  for (auto f : beyond) {
    EXPECT_FALSE(a.translateDTMF(digits({{770, 1336}, f}))) << f.first << " " << f.second;
  }
  EXPECT_FALSE(a.is_inDTMFTransmit());
  run_for(1000);
  EXPECT_EQ(dials(), Strings{});
  EXPECT_TRUE(StreamCapture::has(cap.err(), "DTMF_DIAL fail: timeslot=5 frequency out of range:66233 1209"));

  start = now_ms();
  EXPECT_TRUE(a.translateDTMF(digits({{0, 65535}})));  // the field's edges
  run_for(20);
  EXPECT_FALSE(a.translateDTMF(digits({{65536, 0}})));  // the running digit goes on
  run_for(1000);
  EXPECT_EQ(dials(), (Strings{"0: 0 65535 16384 16384", "70: 1000 1000 0 0", "140: 0 0 0 0"}));
  EXPECT_EQ(a.completes, 1);
}

TEST_F(TonecTest, WaitToneCadenceAndCancel) {
  ToneRx a(5);
  a.activateAudibleCall();
  run_for(4500);
  a.cancelAudibleCall();
  run_for(20000);
  EXPECT_EQ(dials(), (Strings{"0: 425 0 2048 2048", "1000: 1000 1000 0 0", "4000: 425 0 2048 2048", "4500: 0 0 0 0"}));

  // A wait tone during a digit sequence ends the sequence: the cancel and
  // later digits work again.
  start = now_ms();
  a.translateDTMF(digits({{1, 2}, {3, 4}}));
  run_for(30);
  a.activateAudibleCall();
  EXPECT_FALSE(a.is_inDTMFTransmit());
  run_for(500);
  a.cancelAudibleCall();
  run_for(100);
  a.translateDTMF(digits({{5, 6}}));
  run_for(10);
  a.cancelAudibleCall();  // no wait tone to cancel: the digit goes on
  run_for(990);
  EXPECT_EQ(dials(), (Strings{"0: 1 2 16384 16384", "30: 425 0 2048 2048", "530: 0 0 0 0", "630: 5 6 16384 16384",
                              "700: 1000 1000 0 0", "770: 0 0 0 0"}));
  EXPECT_EQ(a.completes, 1);
  // No sequence: a plain disable does nothing.
  EXPECT_FALSE(a.disableToneGenerator(false));
  EXPECT_EQ(dials(), Strings{});
  // The clean-up silences a wait tone, cadence and all.
  start = now_ms();
  a.activateAudibleCall();
  run_for(100);
  a.CleanBeforeDestroy();
  run_for(5000);
  EXPECT_EQ(dials(), (Strings{"0: 425 0 2048 2048", "100: 0 0 0 0"}));
}

TEST_F(TonecTest, Selcal) {
  ToneRx a(5);
  TERM::SelcalCommand c;
  c.set_signs("ABC");
  a.translateSelcal(c);
  EXPECT_EQ(requests(), Strings{});
  EXPECT_TRUE(StreamCapture::has(cap.err(), "SELCAL_DIAL fail: timeslot=5 incorect signs:ABC")) << cap.all();
  c.set_signs("PQRSX");
  a.translateSelcal(c);
  c.set_amp(9000);
  c.set_signs("ABCD");
  a.translateSelcal(c);
  EXPECT_EQ(requests(), (Strings{"SELCAL_DIAL 5 12000 80 81 82 83", "SELCAL_DIAL 5 9000 65 66 67 68"}));
  EXPECT_EQ(control_request("dtmf fail SELCAL_DIAL 5 1"), "ok\n");
  a.translateSelcal(c);
  EXPECT_TRUE(StreamCapture::has(cap.err(), "SELCAL_DIAL fail: timeslot=5 errno=\"Input/output error\""));
  requests();
  // An amplitude beyond its 16 bits is refused, not sent as another one
  // (65536 would dial in silence).
  for (int amp : {65536, 77536, -1}) {
    c.set_amp(amp);
    EXPECT_FALSE(a.translateSelcal(c)) << amp;
  }
  EXPECT_EQ(requests(), Strings{});
  EXPECT_TRUE(StreamCapture::has(cap.err(), "SELCAL_DIAL fail: timeslot=5 amplitude out of range:65536")) << cap.all();
  for (int amp : {0, 65535}) {
    c.set_amp(amp);
    EXPECT_TRUE(a.translateSelcal(c)) << amp;
  }
  EXPECT_EQ(requests(), (Strings{"SELCAL_DIAL 5 0 65 66 67 68", "SELCAL_DIAL 5 65535 65 66 67 68"}));
}

}  // namespace
