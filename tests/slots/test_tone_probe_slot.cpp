// The tone and voice-processing receivers behind a slot, on the virtual
// clock: the Slots service bound to the program's control server, a
// controller over loopback TCP, and the test-only tone probe kind
// (tone_probe_slot.h) on the simulated "/dev/dtmf" and "/dev/dsp".
#include "platform/sim/control_words.h"
#include "platform/sim/dsp.h"
#include "platform/sim/dtmf.h"
#include "slots/slots.h"
#include "tests/control/controller_fixture.h"
#include "tests/slots/tone_probe_slot.h"
#include "tests/support/lgcp_text.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace slotstest;
using platform::sim::dsp;
using platform::sim::dtmf;
using testsupport::describe;
using Strings = std::vector<std::string>;

namespace {

constexpr std::uint32_t ts = 37;

std::string ioctl(int seq, const std::function<void(LGCP::IoctlParams&)>& fill) {
  return testsupport::command_image(seq, 5, [&](LGCP::Command& c) { fill(c.select_ioctl()); });
}

class ToneProbeTest : public controltest::ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    if (Slots::instance().server() != &ctrlServer) ctrlServer.Bind(&Slots::instance());
    ToneProbeFactory::instance().armed = true;
    dtmf().clear();
    dsp().clear();
    Hardware::TonecReceiverService::instance().set_request_counter(0);
    Hardware::DSProcReceiverService::instance().set_request_counter(0);
    connect(ctrlServer);
    EXPECT_EQ(say(testsupport::create_image(9, 5, [](LGCP::CreateParams& p) { p.select_spi_tdm().set_channel(ts); })),
              Strings{"seq 9 slot 5 success"});
    start = now_ms();
  }
  void TearDown() override {
    ctrlServer.Deactivate();
    ToneProbeFactory::instance().armed = false;
    dtmf().clear();
    dsp().clear();
    ControllerTest::TearDown();
  }
  Strings say(const std::string& image) {
    ctl.send(image);
    return sent();
  }
  Strings sent() {
    run_for(10);
    Strings out;
    for (const auto& f : ctl.frames()) out.push_back(describe(f));
    return out;
  }
  static Strings log(platform::sim::DspUnitModel& m) {
    Strings out;
    for (const auto& r : m.take_new()) out.push_back(r.text());
    return out;
  }
  // The tone generator requests with their time since the slot was made.
  Strings dials() {
    Strings out;
    for (const auto& r : dtmf().take_new())
      if (r.name == "DTMF_DIAL") out.push_back(std::to_string(r.ms - start) + ": " + r.text());
    return out;
  }
  std::uint32_t start = 0;
};

TEST_F(ToneProbeTest, DetectionsBecomeSignalsOfTheSlot) {
  // ioctl dtmf-enable true, seq 1, slot 5.
  ctl.send("C0 01 01 00 05 12 2E");
  run_for(10);
  EXPECT_EQ(ctl.frames(), Strings{"C0 01 01 00 05 40"});
  EXPECT_EQ(log(dtmf()), Strings{"DTMF_ENABLE_DETECTOR 37 1"});

  // Digit 11 at time stamp 123456: a tonec signal of slot 5.
  ASSERT_TRUE(dtmf().event(11, ts, 123456, 1));
  run_for(10);
  EXPECT_EQ(ctl.frames(), Strings{"40 00 05 81 03 01 E2 40 01 60"});
  ASSERT_TRUE(dtmf().event(0x0500, ts, 1, 1));
  ASSERT_TRUE(dtmf().event(17, ts, 2, 1));
  ASSERT_TRUE(dtmf().event(0x1600, ts, 3, 1));  // no such code
  ASSERT_TRUE(dtmf().event(11, ts, 4, 2));      // not this enable's id
  run_for(10);
  const Strings frames = ctl.frames();
  ASSERT_EQ(frames.size(), 2u) << cap.all();
  LGCP::Message iva, ced;
  ASSERT_TRUE(testsupport::decode(frames[0], iva));
  ASSERT_TRUE(testsupport::decode(frames[1], ced));
  const LGCP::TonecCode& c0 = iva.get_pdu().get_signal().get_tonec().get_event();
  ASSERT_TRUE(c0.iva_isSelected());
  ASSERT_TRUE(c0.get_iva().code_isSelected());
  EXPECT_EQ(c0.get_iva().get_code().getValue(), 5);
  EXPECT_TRUE(ced.get_pdu().get_signal().get_tonec().get_event().ced_isSelected());
  EXPECT_TRUE(testsupport::StreamCapture::has(cap.err(), "bad DTMF code, ignored.")) << cap.all();
  EXPECT_TRUE(testsupport::StreamCapture::has(
      cap.err(), "ignore spurious dtmf event:  timestamp=4 timeslot=37 code=11 id=2 rid=1"))
      << cap.all();

  // Voice activity: only tx reported, and it is on.
  EXPECT_EQ(say(ioctl(2, [](LGCP::IoctlParams& p) { p.select_vad_enable(true); })), Strings{"seq 2 slot 5 success"});
  EXPECT_EQ(log(dsp()), Strings{"DSPROC_ENABLE 37 1 1"});
  ASSERT_TRUE(dsp().event(ts, 1, 1, 2, 0, 1));
  run_for(10);
  EXPECT_EQ(ctl.frames(), Strings{"40 00 05 90 60"});
  ASSERT_TRUE(dsp().event(ts, 0, 256, 2100, 1, 0));
  EXPECT_EQ(sent(), Strings{"slot 5 signal tonec"});

  // A refused request and requests the kind does not serve.
  EXPECT_EQ(platform::sim::control_request("dtmf fail DTMF_REJECTION_ENABLE 5 1"), "ok\n");
  EXPECT_EQ(say(ioctl(3, [](LGCP::IoctlParams& p) { p.select_dtmf_reject_enable(true); })),
            Strings{"seq 3 slot 5 error unsupported"});
  EXPECT_EQ(say(ioctl(4, [](LGCP::IoctlParams& p) { p.select_iva_enable(true); })),
            Strings{"seq 4 slot 5 error unsupported"});
  EXPECT_EQ(say(ioctl(5, [](LGCP::IoctlParams& p) { p.select_echoSuppressor(true); })),
            Strings{"seq 5 slot 5 success"});
  EXPECT_EQ(log(dtmf()), (Strings{"DTMF_REJECTION_ENABLE 37", "CHANNEL_LMS_ON 37"}));

  // Destroying the slot switches off what it switched on.
  EXPECT_EQ(say(testsupport::null_command_image(6, 5, "destroy")), Strings{"seq 6 slot 5 success"});
  EXPECT_EQ(log(dtmf()), Strings{"DTMF_DISABLE_DETECTOR 37"});
  EXPECT_EQ(log(dsp()), (Strings{"DSPROC_DISABLE 37 0 1", "DSPROC_DISABLE 37 0 256"}));
  ASSERT_TRUE(dtmf().event(11, ts, 5, 1));
  EXPECT_EQ(sent(), Strings{});
  EXPECT_TRUE(testsupport::StreamCapture::has(cap.err(), "receive tonec event from unknown timeslot 37"));
}

TEST_F(ToneProbeTest, GeneratorRequestsFromTheController) {
  EXPECT_EQ(say(ioctl(1,
                      [](LGCP::IoctlParams& p) {
                        LGCP::TranslateDtmfParams& t = p.select_translateDTMF();
                        LGCP::DualTone d;
                        d.set_freq1(1000);
                        d.set_freq2(0);
                        t.ref_digits().push_back(d);
                        t.set_amp1(5000);
                        t.set_amp2(0);
                      })),
            Strings{"seq 1 slot 5 success"});
  run_for(1000);
  // A wait tone, cancelled in its silence.
  EXPECT_EQ(say(ioctl(2, [](LGCP::IoctlParams& p) { p.select_activateWaitTone(); })), Strings{"seq 2 slot 5 success"});
  run_for(2000);
  EXPECT_EQ(say(ioctl(3, [](LGCP::IoctlParams& p) { p.select_deactivateWaitTone(); })),
            Strings{"seq 3 slot 5 success"});
  run_for(5000);
  const std::uint32_t wait = 1010;  // the sequence's run and the answer's turn
  const std::uint32_t cancel = wait + 10 + 2000;
  EXPECT_EQ(dials(), (Strings{"0: DTMF_DIAL 37 1000 0 5000 0", "70: DTMF_DIAL 37 1000 1000 0 0",
                              "140: DTMF_DIAL 37 0 0 0 0",
                              std::to_string(wait) + ": DTMF_DIAL 37 425 0 2048 2048",
                              std::to_string(wait + 1000) + ": DTMF_DIAL 37 1000 1000 0 0",
                              std::to_string(cancel) + ": DTMF_DIAL 37 0 0 0 0"}));

  // SELCAL: three signs are refused, five send the first four.
  EXPECT_EQ(say(ioctl(4, [](LGCP::IoctlParams& p) { p.select_selcal().set_signs("ABC"); })),
            Strings{"seq 4 slot 5 success"});
  EXPECT_EQ(say(ioctl(5, [](LGCP::IoctlParams& p) { p.select_selcal().set_signs("ABCDE"); })),
            Strings{"seq 5 slot 5 success"});
  EXPECT_EQ(log(dtmf()), Strings{"SELCAL_DIAL 37 12000 65 66 67 68"});

  // Voice-processing settings; the gain and the tone filter answer success
  // whatever the device says (here it refuses both).
  dsp().fail("DSPROC_CONFIGURE", EIO, 2);
  EXPECT_EQ(say(ioctl(6, [](LGCP::IoctlParams& p) { p.select_rx_gain().set_gainDB(-6); })),
            Strings{"seq 6 slot 5 success"});
  EXPECT_EQ(say(ioctl(7,
                      [](LGCP::IoctlParams& p) {
                        LGCP::ToneFilter& f = p.select_tone_filter();
                        f.set_freq(2100);
                        f.set_enable(true);
                        f.set_duration_th_msec(400);
                        f.set_det_level_dB(-35);
                      })),
            Strings{"seq 7 slot 5 success"});
  EXPECT_EQ(say(ioctl(8, [](LGCP::IoctlParams& p) { p.select_vad_params().select_v1(); })),
            Strings{"seq 8 slot 5 error unsupported"});
  EXPECT_EQ(log(dsp()), (Strings{"DSPROC_CONFIGURE 37 64 -6", "DSPROC_CONFIGURE 37 256 2100 1 400 -35",
                                 "DSPROC_GET_VERSION 0"}));
  // The controller going away destroys the slot and its settings go back.
  ctrlServer.Deactivate();
  EXPECT_EQ(log(dsp()), (Strings{"DSPROC_CONFIGURE 37 64 0", "DSPROC_DISABLE 37 0 256"}));
}

}  // namespace
