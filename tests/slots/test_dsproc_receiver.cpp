// The voice-processing receivers on the simulated "/dev/dsp", on the
// virtual clock: the function states and ids, the configure records, event
// dispatch and the clean-up.
#include "control/trace_ctl.h"
#include "platform/sim/control_words.h"
#include "platform/sim/dsp.h"
#include "slots/dsproc_receiver.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using platform::sim::control_request;
using platform::sim::dsp;
using testsupport::StreamCapture;
using Strings = std::vector<std::string>;

class VoiceRx : public Hardware::DSProcReceiver {
 public:
  explicit VoiceRx(std::uint32_t ts) : ts_(ts) {}
  void dsproc_vad_event(Hardware::DSProcVADEvent const& ev) override {
    events.push_back("vad " + std::to_string(ev.rx) + " " + std::to_string(ev.tx));
  }
  void dsproc_bss_event(::dsproc_bss_event const* ev) override {
    events.push_back("bss " + std::to_string(ev->score));
  }
  void dsproc_sd_event(Hardware::DSProcSDEvent const& ev) override { events.push_back("sd " + std::to_string(ev.rx)); }
  void dsproc_tone_flt_event(::dsproc_tone_event const* ev) override {
    events.push_back("tone " + std::to_string(ev->freq) + " " + std::to_string(ev->presence));
  }
  void dsproc_flags_event(::dsproc_flags_event const* ev) override {
    events.push_back("flags " + std::to_string(ev->flags) + " " + std::to_string(ev->mask));
  }
  std::uint32_t dsproc_timeslot() const override { return ts_; }
  bool dsproc_retired() const override { return retired; }
  Strings events;
  bool retired = false;

 private:
  std::uint32_t ts_;
};

class DsprocTest : public testsupport::VirtualClockTest {
 protected:
  void SetUp() override {
    VirtualClockTest::SetUp();
    dsp().clear();
    ASSERT_TRUE(Hardware::DSProcReceiverService::instance().is_open());
    Hardware::DSProcReceiverService::instance().set_request_counter(0);
  }
  void TearDown() override {
    run_for(1);
    traces.signalling.events = false;
    dsp().clear();
    VirtualClockTest::TearDown();
  }
  static Strings requests() {
    Strings out;
    for (const auto& r : dsp().take_new()) out.push_back(r.text());
    return out;
  }
  static void event(std::uint32_t ts, std::uint32_t id, std::uint32_t type, std::uint32_t p1, std::uint32_t p2 = 0,
                    std::uint32_t p3 = 0) {
    ASSERT_TRUE(dsp().event(ts, id, type, p1, p2, p3));
  }
  StreamCapture cap;
};

TEST_F(DsprocTest, FunctionStatesAndIds) {
  VoiceRx a(9);
  EXPECT_TRUE(a.enableVAD(true));
  EXPECT_TRUE(a.enableVAD(true));  // on already
  EXPECT_TRUE(a.disableBSS());     // BSS starts off: nothing to do
  EXPECT_TRUE(a.disableSD());      // SD starts undetermined: asked
  EXPECT_TRUE(a.enableBSS(true));
  EXPECT_TRUE(a.enableNG(true));
  EXPECT_TRUE(a.enableMute(true, false));
  EXPECT_TRUE(a.enableMute(true, false));
  EXPECT_TRUE(a.disableMute());
  EXPECT_TRUE(a.disableMute());  // off already, both ways
  EXPECT_EQ(requests(), (Strings{"DSPROC_ENABLE 9 1 1", "DSPROC_DISABLE 9 0 2", "DSPROC_ENABLE 9 2 16",
                                 "DSPROC_ENABLE 9 3 128", "DSPROC_ENABLE 9 4 4", "DSPROC_DISABLE 9 0 12"}));
  EXPECT_TRUE(StreamCapture::has(cap.err(), "DSPROC_ENABLE VAD done: timeslot=9 id=1")) << cap.all();
  EXPECT_TRUE(StreamCapture::has(cap.err(), "DSPROC_DISABLE SD done: timeslot=9")) << cap.all();
  EXPECT_TRUE(StreamCapture::has(cap.err(), "DSPROC_ENABLE MUTE done: timeslot=9 id=4")) << cap.all();

  // A failed enable keeps the state and advances the counter.
  EXPECT_EQ(control_request("dsp fail DSPROC_ENABLE 16 1"), "ok\n");
  EXPECT_FALSE(a.enableSD(true));
  EXPECT_TRUE(StreamCapture::has(cap.err(),
                                 "DSPROC_ENABLE SD fail: timeslot=9 id=5 errno=\"Device or resource busy\""))
      << cap.all();
  EXPECT_TRUE(a.enableSD(true));
  EXPECT_EQ(control_request("dsp fail DSPROC_DISABLE 16 1"), "ok\n");
  EXPECT_FALSE(a.disableNG());
  EXPECT_TRUE(
      StreamCapture::has(cap.err(), "DSPROC_DISABLE NG fail: timeslot=9 errno=\"Device or resource busy\""));
  EXPECT_EQ(requests(), (Strings{"DSPROC_ENABLE 9 5 2", "DSPROC_ENABLE 9 6 2", "DSPROC_DISABLE 9 0 128"}));
  // Mute alike: a refused enable uses up its id and leaves the states, so
  // the same request is asked again; a refused disable leaves them on.
  EXPECT_EQ(control_request("dsp fail DSPROC_ENABLE 16 1"), "ok\n");
  EXPECT_FALSE(a.enableMute(false, true));
  EXPECT_TRUE(a.enableMute(false, true));
  EXPECT_EQ(control_request("dsp fail DSPROC_DISABLE 5 1"), "ok\n");
  EXPECT_FALSE(a.disableMute());
  EXPECT_TRUE(a.disableMute());
  EXPECT_EQ(requests(), (Strings{"DSPROC_ENABLE 9 7 8", "DSPROC_ENABLE 9 8 8", "DSPROC_DISABLE 9 0 12",
                                 "DSPROC_DISABLE 9 0 12"}));
  EXPECT_TRUE(StreamCapture::has(cap.err(),
                                 "DSPROC_ENABLE MUTE fail: timeslot=9 id=7 errno=\"Device or resource busy\""))
      << cap.all();
  EXPECT_TRUE(StreamCapture::has(cap.err(), "DSPROC_ENABLE MUTE done: timeslot=9 id=8")) << cap.all();
  EXPECT_TRUE(StreamCapture::has(cap.err(), "DSPROC_DISABLE MUTE fail: timeslot=9 errno=\"Input/output error\""))
      << cap.all();

  // The clean-up: VAD, BSS and NG off, delays and gain back to 0, every
  // tone filter off; SD and mute stay.
  EXPECT_TRUE(a.configureDelays(40, 0));
  EXPECT_TRUE(a.configureRxGain(-3));
  requests();
  a.CleanBeforeDestroy();
  EXPECT_EQ(requests(), (Strings{"DSPROC_DISABLE 9 0 1", "DSPROC_DISABLE 9 0 16", "DSPROC_DISABLE 9 0 128",
                                 "DSPROC_CONFIGURE 9 32 0 0", "DSPROC_CONFIGURE 9 64 0", "DSPROC_DISABLE 9 0 256"}));
  EXPECT_TRUE(StreamCapture::has(cap.log(), "DISABLE ALL TONE done:  ts=9")) << cap.all();
  // A receiver that switched nothing on (zero delays are none) only clears
  // the tone filters.
  VoiceRx b(10);
  EXPECT_TRUE(b.configureDelays(0, 0));
  b.CleanBeforeDestroy();
  EXPECT_EQ(requests(), (Strings{"DSPROC_CONFIGURE 10 32 0 0", "DSPROC_DISABLE 10 0 256"}));
  // A refused clearing of the tone filters is told, and the clean-up ends.
  VoiceRx c(11);
  EXPECT_EQ(control_request("dsp fail DSPROC_DISABLE 5 1"), "ok\n");
  c.CleanBeforeDestroy();
  EXPECT_EQ(requests(), (Strings{"DSPROC_DISABLE 11 0 256"}));
  EXPECT_TRUE(StreamCapture::has(cap.err(), "Disable All Tone fail: timeslot=11 errno=\"Input/output error\""))
      << cap.all();
  EXPECT_FALSE(StreamCapture::has(cap.log(), "DISABLE ALL TONE done:  ts=11")) << cap.all();
}

TEST_F(DsprocTest, ConfigureRecordsAndVersions) {
  VoiceRx a(9);
  LGCP::VADParams v;
  v.select_v1();
  // A version-2 driver needs the v2 parameters: nothing is sent.
  EXPECT_FALSE(a.configureVAD(v));
  EXPECT_TRUE(StreamCapture::has(cap.err(), "DSPROC_CONFIGURE VAD: params not specified for v2:  timeslot=9"))
      << cap.all();
  TERM::VADParamsV2& p2 = v.select_v2();
  p2.set_voice_th_msec(300);
  p2.set_silence_th_msec(65535);
  p2.set_e_th_dB(-40);
  EXPECT_TRUE(a.configureVAD(v));
  EXPECT_EQ(requests(), (Strings{"DSPROC_GET_VERSION 0", "DSPROC_GET_VERSION 0",
                                 "DSPROC_CONFIGURE 9 1 300 65535 -40"}));
  // A threshold beyond its field is refused, not cut to another one (70000
  // ms would reach the unit as 4464 ms): only the version is asked.
  const struct {
    int voice, silence, energy;
  } bad[] = {{300, 70000, -40}, {65536, 700, -40}, {-1, 700, -40}, {300, 700, 128}, {300, 700, -129}};
  for (const auto& b : bad) {
    LGCP::VADParams w;
    TERM::VADParamsV2& q = w.select_v2();
    q.set_voice_th_msec(b.voice);
    q.set_silence_th_msec(b.silence);
    q.set_e_th_dB(b.energy);
    EXPECT_FALSE(a.configureVAD(w)) << b.voice << " " << b.silence << " " << b.energy;
    EXPECT_EQ(requests(), Strings{"DSPROC_GET_VERSION 0"}) << b.voice << " " << b.silence << " " << b.energy;
  }
  EXPECT_TRUE(StreamCapture::has(
      cap.err(), "DSPROC_CONFIGURE VAD: thresholds out of range: voice=300 silence=70000 energy=-40 timeslot=9"))
      << cap.all();
  // At the edges of their fields they go as they are.
  const struct {
    int voice, silence, energy;
    const char* sent;
  } edges[] = {{65535, 0, -128, "DSPROC_CONFIGURE 9 1 65535 0 -128"}, {0, 65535, 127, "DSPROC_CONFIGURE 9 1 0 65535 127"}};
  for (const auto& e : edges) {
    LGCP::VADParams w;
    TERM::VADParamsV2& q = w.select_v2();
    q.set_voice_th_msec(e.voice);
    q.set_silence_th_msec(e.silence);
    q.set_e_th_dB(e.energy);
    EXPECT_TRUE(a.configureVAD(w)) << e.sent;
    EXPECT_EQ(requests(), (Strings{"DSPROC_GET_VERSION 0", e.sent}));
  }
  // Version 0 is a version like 1: an older driver's fixed values.
  EXPECT_EQ(control_request("dsp version 0"), "ok\n");
  EXPECT_TRUE(a.configureVAD(v));
  EXPECT_EQ(requests(), (Strings{"DSPROC_GET_VERSION 0", "DSPROC_CONFIGURE 9 1 3 127 0"}));
  EXPECT_EQ(control_request("dsp version 1"), "ok\n");
  EXPECT_TRUE(a.configureVAD(v));  // older drivers get fixed values
  EXPECT_TRUE(a.configureSD());
  EXPECT_TRUE(a.configureDelays(20, 30));
  EXPECT_TRUE(a.configureRxGain(-6));
  EXPECT_TRUE(a.configureToneFilter(2100, 1, 400, -35));
  EXPECT_EQ(requests(), (Strings{"DSPROC_GET_VERSION 0", "DSPROC_CONFIGURE 9 1 3 127 0", "DSPROC_CONFIGURE 9 2",
                                 "DSPROC_CONFIGURE 9 32 20 30", "DSPROC_CONFIGURE 9 64 -6",
                                 "DSPROC_CONFIGURE 9 256 2100 1 400 -35"}));
  for (const char* line :
       {"DSPROC_CONFIGURE VAD ts=9", "DSPROC_CONFIGURE SD ts=9", "DSPROC_CONFIGURE DELAYS ts=9 rx=20 tx=30",
        "DSPROC_CONFIGURE RX GAIN ts=9 gain_dB=-6",
        "DSPROC_CONFIGURE TONE FILTER ts=9 freq=2100, en=1, dur_th_msec=400, det_lvl_dB=-35"})
    EXPECT_TRUE(StreamCapture::has(cap.log(), line)) << line << "\n" << cap.all();
  // The controller's filter: at the edges of its fields it goes as it is,
  // beyond them it is refused, not cut to another filter.
  const struct {
    int freq, dur, level;
    const char* sent;
  } filters[] = {{65535, 0, -128, "DSPROC_CONFIGURE 9 256 65535 1 0 -128"},
                 {0, 65535, 127, "DSPROC_CONFIGURE 9 256 0 1 65535 127"},
                 {65536, 0, 0, nullptr},
                 {-1, 0, 0, nullptr},
                 {0, -1, 0, nullptr},
                 {0, 65536, 0, nullptr},
                 {0, 0, 128, nullptr},
                 {0, 0, -129, nullptr}};
  for (const auto& t : filters) {
    LGCP::ToneFilter f;
    f.set_freq(t.freq);
    f.set_enable(true);
    f.set_duration_th_msec(t.dur);
    f.set_det_level_dB(t.level);
    EXPECT_EQ(a.configureToneFilter(f), t.sent != nullptr) << t.freq << " " << t.dur << " " << t.level;
    EXPECT_EQ(requests(), t.sent ? Strings{t.sent} : Strings{}) << t.freq << " " << t.dur << " " << t.level;
  }
  // So is the controller's receive gain: 128 dB would go as -128 dB, 256 dB
  // as no gain at all.
  const struct {
    int dB;
    const char* sent;
  } gains[] = {{127, "DSPROC_CONFIGURE 9 64 127"}, {-128, "DSPROC_CONFIGURE 9 64 -128"}, {128, nullptr},
               {256, nullptr}, {-129, nullptr}, {-250, nullptr}};
  for (const auto& t : gains) {
    LGCP::Gain g;
    g.set_gainDB(t.dB);
    EXPECT_EQ(a.configureRxGain(g), t.sent != nullptr) << t.dB;
    EXPECT_EQ(requests(), t.sent ? Strings{t.sent} : Strings{}) << t.dB;
  }

  // Without the version the layout is unknown: nothing is configured.
  EXPECT_EQ(control_request("dsp fail DSPROC_GET_VERSION 5 1"), "ok\n");
  EXPECT_FALSE(a.configureVAD(v));
  EXPECT_EQ(requests(), Strings{"DSPROC_GET_VERSION 0"});
  EXPECT_TRUE(StreamCapture::has(cap.err(), "DSPROC_GET_VERSION fail: timeslot=9 errno=\"Input/output error\""));
  // Failed configure requests; delays and gain are still remembered for
  // the clean-up.
  EXPECT_EQ(control_request("dsp fail DSPROC_CONFIGURE 5 2"), "ok\n");
  EXPECT_FALSE(a.configureDelays(0, 8));
  EXPECT_FALSE(a.configureRxGain(0));
  EXPECT_TRUE(StreamCapture::has(cap.err(), "DSPROC_CONFIGURE DELAYS fail: timeslot=9 errno=\"Input/output error\""));
  EXPECT_TRUE(StreamCapture::has(cap.err(), "DSPROC_CONFIGURE Rx Gain fail: timeslot=9 errno=\"Input/output error\""));
  requests();
  a.CleanBeforeDestroy();
  EXPECT_EQ(requests(), (Strings{"DSPROC_CONFIGURE 9 32 0 0", "DSPROC_DISABLE 9 0 256"}));
}

TEST_F(DsprocTest, EventsReachTheirReceiverOrAreDropped) {
  traces.signalling.events = true;
  VoiceRx a(9), b(10);
  ASSERT_TRUE(a.enableVAD(true));   // id 1
  ASSERT_TRUE(a.enableSD(true));    // id 2
  event(9, 1, 1, 2, 0, 1);          // only tx reported
  event(9, 1, 1, 3, 1, 0);
  event(9, 7, 1, 3, 1, 1);          // stale id
  event(9, 2, 2, 1);
  event(9, 9, 2, 1);                // stale id
  event(9, 0, 16, 0x3F800000);      // BSS off
  run_for(5);
  ASSERT_TRUE(a.enableBSS(true));
  float half = 0.5f;
  std::uint32_t bits;
  std::memcpy(&bits, &half, 4);
  event(9, 12345, 16, bits);        // BSS has no id test
  event(10, 0, 512, 0xA0000000u, 0xE0000000u);  // flags and tone filter go to anyone
  event(10, 0, 256, 2100, 1);
  event(10, 0, 1, 1, 1, 0);         // b's VAD is undetermined: stale
  event(10, 0, 64, 1);              // no such event type
  event(11, 0, 512, 1, 1);          // nobody's
  run_for(5);
  EXPECT_EQ(a.events, (Strings{"vad -1 1", "vad 1 0", "sd 1", "bss 0.500000"}));
  EXPECT_EQ(b.events, (Strings{"flags 2684354560 3758096384", "tone 2100 1"}));
  for (const char* line : {"dsproc event:  timeslot=9 id=1 type=1", "dsproc vad event:  dir_mask=2 vad_rx=0 vad_tx=1",
                           "dsproc sd event:  sd_rx=1", "dsproc bss event:  score=0.5",
                           "dsproc flags event:  flags=a0000000, mask=e0000000"})
    EXPECT_TRUE(StreamCapture::has(cap.log(), line)) << line << "\n" << cap.all();
  for (const char* line : {"ignore spurious dsproc vad event:  timeslot=9 id=7 type=1 rid=1",
                           "ignore spurious dsproc sd event:  timeslot=9 id=9 type=2 rid=2",
                           "ignore spurious dsproc bss event (dsproc disabled):  timeslot=9 id=0 type=16",
                           "ignore spurious dsproc vad event (dsproc disabled):  timeslot=10 id=0 type=1",
                           "receive dsproc event from unknown timeslot 11"})
    EXPECT_TRUE(StreamCapture::has(cap.err(), line)) << line << "\n" << cap.all();

  // Without the trace switch the drops are silent; a short record ends
  // the pass and is logged.
  traces.signalling.events = false;
  cap.clear();
  event(9, 7, 1, 3, 1, 1);
  EXPECT_EQ(control_request("dsp raw 0900000001000000"), "ok\n");
  event(9, 1, 1, 1, 0, 0);
  run_for(20);
  EXPECT_EQ(a.events.back(), "vad 0 -1");
  EXPECT_EQ(cap.err().size(), 1u) << cap.all();
  EXPECT_TRUE(StreamCapture::has(cap.err(), "short read from dsproc: 8 bytes")) << cap.all();

  // A function switched off takes no late record of its last enable: it
  // is dropped as one of a disabled function.
  traces.signalling.events = true;
  ASSERT_TRUE(a.disableVAD());
  ASSERT_TRUE(a.disableSD());
  const Strings seen = a.events;
  event(9, 1, 1, 1, 1, 0);
  event(9, 2, 2, 1);
  run_for(5);
  EXPECT_EQ(a.events, seen);
  for (const char* line : {"ignore spurious dsproc vad event (dsproc disabled):  timeslot=9 id=1 type=1",
                           "ignore spurious dsproc sd event (dsproc disabled):  timeslot=9 id=2 type=2"})
    EXPECT_TRUE(StreamCapture::has(cap.err(), line)) << line << "\n" << cap.all();
}

TEST_F(DsprocTest, TwoReceiversOnOneTimeSlot) {
  // A mixer channel's output and input hold one time slot; the output was
  // made first, so it is first in the list.
  auto out = std::make_unique<VoiceRx>(9);
  VoiceRx in(9);
  ASSERT_TRUE(out->enableNG(true));  // id 1
  ASSERT_TRUE(out->configureRxGain(-3));
  ASSERT_TRUE(out->configureDelays(0, 20));
  ASSERT_TRUE(in.enableVAD(true));  // id 2
  ASSERT_TRUE(in.enableSD(true));   // id 3
  ASSERT_TRUE(in.enableBSS(true));
  ASSERT_TRUE(in.configureDelays(40, 20));  // the unit's delays are the time slot's
  // A filter the unit refused, or one configured off, is none: the output
  // must not take the input's tones.
  ASSERT_EQ(control_request("dsp fail DSPROC_CONFIGURE 5 1"), "ok\n");
  ASSERT_FALSE(out->configureToneFilter(1000, 1, 50, -20));
  ASSERT_TRUE(out->configureToneFilter(1000, 0, 50, -20));
  ASSERT_TRUE(in.configureToneFilter(2100, 1, 50, -20));
  event(9, 2, 1, 1, 1, 0);
  event(9, 3, 2, 1);
  event(9, 0, 16, 0);
  run_for(5);
  event(9, 0, 256, 2100, 1);  // the input's filter: the tone is its
  event(9, 0, 512, 1, 1);     // flags: the first receiver's
  run_for(5);
  EXPECT_EQ(in.events, (Strings{"vad 1 -1", "sd 1", "bss 0.000000", "tone 2100 1"}));
  EXPECT_EQ(out->events, Strings{"flags 1 1"});

  // The output goes: its noise gate and gain are undone, the input's VAD,
  // BSS, delays and tone filters stay.
  requests();
  out->CleanBeforeDestroy();
  out.reset();
  EXPECT_EQ(requests(), (Strings{"DSPROC_DISABLE 9 0 128", "DSPROC_CONFIGURE 9 64 0"}));
  in.CleanBeforeDestroy();
  EXPECT_EQ(requests(), (Strings{"DSPROC_DISABLE 9 0 1", "DSPROC_DISABLE 9 0 16", "DSPROC_CONFIGURE 9 32 0 0",
                                 "DSPROC_DISABLE 9 0 256"}));
  // Its filters are off now: a later receiver's clean-up does not spare them.
  VoiceRx late(9);
  late.CleanBeforeDestroy();
  EXPECT_EQ(requests(), Strings{"DSPROC_DISABLE 9 0 256"});
}

TEST_F(DsprocTest, OneFunctionSharedByTwoReceivers) {
  // The unit's VAD is the time slot's: the second receiver to switch it on
  // shares it, and a disable leaves it on while the other still uses it.
  VoiceRx out(9), in(9);
  ASSERT_TRUE(in.enableVAD(true));  // id 1
  ASSERT_TRUE(out.enableVAD(true));
  EXPECT_EQ(requests(), Strings{"DSPROC_ENABLE 9 1 1"});
  event(9, 1, 1, 1, 1, 0);
  run_for(5);
  EXPECT_EQ(out.events, Strings{"vad 1 -1"});
  EXPECT_EQ(in.events, Strings{"vad 1 -1"});

  ASSERT_TRUE(out.disableVAD());
  EXPECT_EQ(requests(), Strings{});
  event(9, 1, 1, 1, 0, 0);
  run_for(5);
  EXPECT_EQ(out.events, Strings{"vad 1 -1"});
  EXPECT_EQ(in.events, (Strings{"vad 1 -1", "vad 0 -1"}));
  ASSERT_TRUE(in.disableVAD());
  ASSERT_TRUE(out.enableVAD(true));
  EXPECT_EQ(requests(), (Strings{"DSPROC_DISABLE 9 0 1", "DSPROC_ENABLE 9 2 1"}));
  // SD alike, the first receiver in the list being the one that let it go.
  ASSERT_TRUE(out.enableSD(true));  // id 3
  ASSERT_TRUE(in.enableSD(true));
  ASSERT_TRUE(out.disableSD());
  event(9, 3, 2, 1);
  run_for(5);
  EXPECT_EQ(in.events.back(), "sd 1");
  EXPECT_EQ(out.events.back(), "vad 1 -1");

  // One that shared a function and let it go keeps it on for nobody: the
  // last user's clean-up switches it off.
  const std::pair<bool (VoiceRx::*)(bool), const char*> functions[] = {
      {&VoiceRx::enableVAD, "DSPROC_DISABLE 10 0 1"},
      {&VoiceRx::enableBSS, "DSPROC_DISABLE 10 0 16"},
      {&VoiceRx::enableNG, "DSPROC_DISABLE 10 0 128"}};
  for (const auto& f : functions) {
    VoiceRx last(10), left(10);
    ASSERT_TRUE((last.*f.first)(true) && (left.*f.first)(true) && (left.*f.first)(false));
    requests();
    last.CleanBeforeDestroy();
    EXPECT_EQ(requests(), (Strings{f.second, "DSPROC_DISABLE 10 0 256"}));
  }
  // One that goes while the other still has it on leaves it on.
  for (const auto& f : functions) {
    auto first = std::make_unique<VoiceRx>(10);
    VoiceRx second(10);
    ASSERT_TRUE(((*first).*f.first)(true) && (second.*f.first)(true));
    requests();
    first->CleanBeforeDestroy();
    first.reset();
    EXPECT_EQ(requests(), Strings{"DSPROC_DISABLE 10 0 256"}) << f.second;
    second.CleanBeforeDestroy();
    EXPECT_EQ(requests(), (Strings{f.second, "DSPROC_DISABLE 10 0 256"}));
  }
}

TEST_F(DsprocTest, ALiveReceiverTakesNothingFromOneOfAVanishedUnit) {
  // A mixer unit vanished and came back: its aborted slot's receiver waits
  // for its destroy on the time slot that a new slot's receiver holds now.
  VoiceRx old(9);
  ASSERT_TRUE(old.enableVAD(true));  // id 1
  ASSERT_TRUE(old.enableBSS(true));  // id 2
  ASSERT_TRUE(old.configureToneFilter(2100, 1, 50, -20));
  old.retired = true;
  VoiceRx now(9);
  requests();
  // The new receiver asks the unit itself, and gets the events of its own
  // enable only.
  ASSERT_TRUE(now.enableVAD(true));  // id 3
  ASSERT_TRUE(now.enableBSS(true));  // id 4
  EXPECT_EQ(requests(), (Strings{"DSPROC_ENABLE 9 3 1", "DSPROC_ENABLE 9 4 16"}));
  event(9, 1, 1, 1, 1, 0);
  event(9, 3, 1, 1, 0, 0);
  run_for(5);
  EXPECT_EQ(now.events, Strings{"vad 0 -1"});
  EXPECT_EQ(old.events, Strings{});
  // What it switches off goes off, the old receiver's functions and filter
  // notwithstanding.
  ASSERT_TRUE(now.disableVAD());
  EXPECT_EQ(requests(), Strings{"DSPROC_DISABLE 9 0 1"});
  now.CleanBeforeDestroy();
  EXPECT_EQ(requests(), (Strings{"DSPROC_DISABLE 9 0 16", "DSPROC_DISABLE 9 0 256"}));
}

}  // namespace
