// Black-box: mixer inputs and outputs made, mixed, switched and destroyed by
// a controller of the running server, with the simulated mixer's units,
// mixes and request log read and steered through the control socket.
#include "tests/media/mixer_images.h"
#include "tests/slots/slots_server.h"

#include <sstream>

using namespace mixertest;
using namespace slotstest;
using namespace testsupport;

namespace {

using Inputs = std::vector<std::pair<Channel, int>>;

class MixerSlots : public ServerSuite {
 protected:
  void SetUp() override {
    ServerSuite::SetUp();
    // Whatever an earlier case of this run left on the board.
    for (int u = 0; u < 130; ++u) srv().sim.request("mixer remove " + std::to_string(u));
    mixer_log();
  }
  static std::string sim(const std::string& line) { return srv().sim.ask(line); }
  static Strings lines(const std::string& text) {
    Strings out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
  }
  static Strings mixer_log() { return lines(sim("mixer log")); }
  static Strings mix(int unit, int channel) {
    return lines(sim("mixer mix " + std::to_string(unit) + " " + std::to_string(channel)));
  }
  // A query: its answer, then every frame up to and with the query signal,
  // whose mixer list comes back in `units`.
  static Strings query(int seq, Strings& units) {
    srv().ctl.send(null_command_image(seq, -1, "query"));
    Strings got;
    for (;;) {
      const std::string f = srv().ctl.next(patience_ms);
      if (f.empty()) {
        got.push_back("nothing more");
        break;
      }
      if (describe(f) == "query") {
        units = mixer_list(f);
        break;
      }
      // Abort signals as their bytes, the rest as text.
      got.push_back(describe(f).find("signal abort") != std::string::npos ? f : describe(f));
    }
    return got;
  }
  static int count_in_log(const std::string& text) {
    const std::string log = srv().log();
    int n = 0;
    for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }
};

// One digit of ten minutes: still sounding when the test acts.
void long_digit(LGCP::IoctlParams& p) {
  LGCP::TranslateDtmfParams& t = p.select_translateDTMF();
  LGCP::DualTone d;
  d.set_freq1(697);
  d.set_freq2(1209);
  t.ref_digits().push_back(d);
  t.set_toneDuration(600000);
}

Strings range_of(const std::string& prefix, int first, int end) {
  Strings out;
  for (int i = first; i < end; ++i) out.push_back(prefix + std::to_string(i));
  return out;
}

Strings operator+(Strings a, const Strings& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(MixerSlots, UnitsSlotsMixesAndReceivers) {
  // The board has no unit now (SetUp): a query makes the server forget the
  // units an earlier case of this run had it find.
  Strings units;
  query(90, units);
  EXPECT_EQ(units, Strings{});
  mixer_log();
  // No unit is known before the resources are queried.
  ASSERT_EQ(sim("mixer add 0 32 64"), "");
  EXPECT_EQ(ask(in_image(1, 4, 0, {4})), Strings{"seq 1 slot 4 error insufficientResources"});
  EXPECT_EQ(mixer_log(), Strings{});

  ASSERT_EQ(sim("mixer add 1 16 48"), "");
  EXPECT_EQ(query(2, units), Strings{"seq 2 success"});
  EXPECT_EQ(units, (Strings{"0:16/16/48/770/17/24", "1:16/16/48/770/17/24"}));
  // Each new unit has its mixes emptied, as far as the channel count known
  // when it is found.
  EXPECT_EQ(mixer_log(), Strings{"info:-1"} + range_of("clear:0/", 0, 32) + Strings{"info:0"} +
                             range_of("clear:1/", 0, 16) + Strings{"info:1"});

  // An output without inputs carries its own channel.
  EXPECT_EQ(ask(out_image(3, 3, 0, {3})), Strings{"seq 3 slot 3 success"});
  EXPECT_EQ(mixer_log(), (Strings{"tdm:0/3", "clear:0/3", "add:0/3<0/3:32767"}));
  EXPECT_EQ(mix(0, 3), Strings{"0/3:32767"});
  // An input summed into it.
  EXPECT_EQ(ask(in_image(4, 4, 0, {4}, {3})), Strings{"seq 4 slot 4 success"});
  EXPECT_EQ(mixer_log(), (Strings{"tdm:0/4", "add:0/3<0/4:32767"}));
  EXPECT_EQ(mix(0, 3), (Strings{"0/3:32767", "0/4:32767"}));
  // An output with weighted inputs.
  EXPECT_EQ(ask(out_image(5, 5, 0, {5}, Inputs{{{1}, -3}, {{2}, 100}})), Strings{"seq 5 slot 5 success"});
  EXPECT_EQ(mix(0, 5), (Strings{"0/1:-3", "0/2:100"}));
  mixer_log();

  // A unit channel held by a slot is given to no other slot of its kind:
  // the holder's mix and switch channel stay. An input and an output still
  // share a channel, and a create on the holder's own number replaces it.
  EXPECT_EQ(ask({out_image(80, 6, 0, {3}, Inputs{{{1}, 9}}), in_image(81, 6, 0, {4})}, 2),
            (Strings{"seq 80 slot 6 error insufficientResources", "seq 81 slot 6 error insufficientResources"}));
  EXPECT_EQ(mixer_log(), Strings{});
  EXPECT_EQ(mix(0, 3), (Strings{"0/3:32767", "0/4:32767"}));
  EXPECT_TRUE(srv().wait_log("mixer [0]: channel 3 already held by slot 03:mixer tdm output\n")) << srv().log();
  EXPECT_EQ(ask({in_image(82, 6, 0, {5}), destroy(83, 6), out_image(84, 5, 0, {5}, Inputs{{{2}, 100}})}, 3),
            (Strings{"seq 82 slot 6 success", "seq 83 slot 6 success", "seq 84 slot 5 success"}));
  EXPECT_EQ(mix(0, 5), Strings{"0/2:100"});
  mixer_log();

  // Refused: channels at or above the smallest count, RTP channels, a
  // negative channel, a unit the driver never reported. None reaches the
  // driver's mixes.
  EXPECT_EQ(ask({in_image(6, 6, 0, {16}), out_image(7, 6, 0, {16}), in_image(8, 6, 0, {2, true}),
                 out_image(9, 6, 0, {2, true}), out_image(10, 6, 0, {-1}), in_image(11, 6, 7, {1}),
                 out_image(12, 6, 7, {1})},
                7),
            (Strings{"seq 6 slot 6 error insufficientResources", "seq 7 slot 6 error insufficientResources",
                     "seq 8 slot 6 error insufficientResources", "seq 9 slot 6 error insufficientResources",
                     "seq 10 slot 6 error insufficientResources", "seq 11 slot 6 error insufficientResources",
                     "seq 12 slot 6 error insufficientResources"}));
  EXPECT_EQ(mixer_log(), Strings{});
  EXPECT_EQ(mix(0, 16), Strings{});

  // A failed addition refuses the output and leaves no mix behind.
  ASSERT_EQ(sim("mixer fail add 2"), "");
  EXPECT_EQ(ask(out_image(13, 6, 0, {6}, Inputs{{{1}, 7}, {{2}, 8}})),
            Strings{"seq 13 slot 6 error insufficientResources"});
  EXPECT_EQ(mixer_log(), (Strings{"tdm:0/6", "clear:0/6", "add:0/6<0/1:7", "add:0/6<0/2:8", "clear:0/6"}));
  EXPECT_EQ(mix(0, 6), Strings{});
  EXPECT_TRUE(srv().wait_log("mixer [0]: MIX_RX_ADD fail : Input/output error\n")) << srv().log();
  // An RTP input in an output's mix is refused the same way.
  EXPECT_EQ(ask(out_image(14, 6, 0, {6}, Inputs{{{1}, 7}, {{2, true}, 8}})),
            Strings{"seq 14 slot 6 error insufficientResources"});
  EXPECT_EQ(mixer_log(), (Strings{"tdm:0/6", "clear:0/6", "add:0/6<0/1:7", "clear:0/6"}));
  EXPECT_TRUE(srv().wait_log("mixer [0]: SetTX error: translation fail [2]\n"));
  EXPECT_EQ(mix(0, 6), Strings{});

  // An RTP summator: the input is made, summed nowhere, and its release
  // removes nothing.
  EXPECT_EQ(ask(in_image(15, 7, 0, {7}, {3, true})), Strings{"seq 15 slot 7 success"});
  EXPECT_TRUE(srv().wait_log("mixer [0]: wrong summator coding !\n"));
  EXPECT_EQ(ask(destroy(16, 7)), Strings{"seq 16 slot 7 success"});
  EXPECT_EQ(mixer_log(), Strings{"tdm:0/7"});
  EXPECT_EQ(mix(0, 3), (Strings{"0/3:32767", "0/4:32767"}));

  // Destroying undoes the mix state and disables the switch channel.
  EXPECT_EQ(ask(destroy(17, 4)), Strings{"seq 17 slot 4 success"});
  EXPECT_EQ(mixer_log(), Strings{"remove:0/3<0/4:0"});
  EXPECT_EQ(mix(0, 3), Strings{"0/3:32767"});
  EXPECT_EQ(hal("get 2052"), "disabled");
  EXPECT_EQ(ask(destroy(18, 3)), Strings{"seq 18 slot 3 success"});
  EXPECT_EQ(mixer_log(), Strings{"clear:0/3"});
  EXPECT_EQ(mix(0, 3), Strings{});
  EXPECT_EQ(hal("get 2051"), "disabled");
  EXPECT_TRUE(srv().wait_log("mixer [0]: clear tdm output 3\n"));

  // A trunk feeding an input, an output feeding the trunk.
  EXPECT_EQ(ask({trunk_image(19, 10, 2, 5), in_image(20, 11, 0, {8}), out_image(21, 12, 0, {9})}, 5),
            (Strings{"seq 19 slot 10 success", "slot 10 transmitter active 69", "slot 10 receiver active 69",
                     "seq 20 slot 11 success", "seq 21 slot 12 success"}));
  EXPECT_EQ(mixer_log(), (Strings{"tdm:0/8", "tdm:0/9", "clear:0/9", "add:0/9<0/9:32767"}));
  EXPECT_EQ(ask(connect_image(22, 10, 11), 2), (Strings{"slot 11 receiver active 2056", "seq 22 slot 10 success"}));
  EXPECT_EQ(ask(connect_image(23, 12, 10), 2), (Strings{"slot 12 transmitter active 2057", "seq 23 slot 12 success"}));
  EXPECT_EQ(hal("get 2056"), "connected 69");
  EXPECT_EQ(hal("get 69"), "connected 2057");
  // Neither kind is the other way round.
  EXPECT_EQ(ask({connect_image(24, 11, 10), connect_image(25, 10, 12)}, 2),
            (Strings{"seq 24 slot 11 error connectFail", "seq 25 slot 10 error connectFail"}));

  // The DSP receivers of the switch channels.
  sim("dtmf log");
  EXPECT_EQ(ask(ioctl(26, 11, [](LGCP::IoctlParams& p) { p.select_dtmf_enable(true); })),
            Strings{"seq 26 slot 11 success"});
  const Strings enable = lines(sim("dtmf log"));
  ASSERT_EQ(enable.size(), 1u);
  ASSERT_EQ(enable[0].rfind("DTMF_ENABLE_DETECTOR 2056 ", 0), 0u) << enable[0];
  const std::string id = enable[0].substr(std::string("DTMF_ENABLE_DETECTOR 2056 ").size());
  EXPECT_EQ(sim("dtmf event 5 2056 1234 " + id), "");
  EXPECT_EQ(frames(1), Strings{"slot 11 signal tonec"});
  EXPECT_EQ(ask(ioctl(27, 12,
                      [](LGCP::IoctlParams& p) {
                        LGCP::ToneGenerator& g = p.select_tone_gen_enable();
                        g.set_freq(1000);
                        g.set_amp(5000);
                      })),
            Strings{"seq 27 slot 12 success"});
  EXPECT_EQ(sim("dtmf log"), "DTMF_DIAL 2057 1000 0 5000 0");
  EXPECT_EQ(ask({ioctl(28, 12, [](LGCP::IoctlParams& p) { p.select_iva_params().set_det_lvl_dB(-30); }),
                 ioctl(29, 12, [](LGCP::IoctlParams& p) { p.select_pd_enable().set_timeout(100); }),
                 ioctl(30, 11, [](LGCP::IoctlParams& p) { p.select_pd_enable().set_timeout(100); }),
                 ioctl(31, 11, [](LGCP::IoctlParams& p) { p.select_tone_gen_enable().set_freq(1); })},
                4),
            (Strings{"seq 28 slot 12 error unsupported", "seq 29 slot 12 error unsupported",
                     "seq 30 slot 11 error unsupported", "seq 31 slot 11 error unsupported"}));

  // The input goes in the middle of a long digit.
  EXPECT_EQ(ask(ioctl(36, 11,
                      long_digit)),
            Strings{"seq 36 slot 11 success"});
  EXPECT_EQ(sim("dtmf log"), "DTMF_DIAL 2056 697 1209 16384 16384");
  EXPECT_EQ(ask({destroy(32, 11), destroy(33, 12), destroy(34, 10), destroy(35, 5)}, 4),
            (Strings{"seq 32 slot 11 success", "seq 33 slot 12 success", "seq 34 slot 10 success",
                     "seq 35 slot 5 success"}));
  EXPECT_EQ(hal("get 2056"), "disabled");
  EXPECT_EQ(hal("get 2057"), "disabled");
  EXPECT_EQ(mixer_log(), (Strings{"clear:0/9", "clear:0/5"}));
  // The input's digit (silenced, then off), its detector and the output's
  // tone go off with them.
  EXPECT_EQ(sim("dtmf log"),
            "DTMF_DIAL 2056 1000 1000 0 0\nDTMF_DIAL 2056 0 0 0 0\nDTMF_DISABLE_DETECTOR 2056\nDTMF_DIAL 2057 0 0 0 0");
  EXPECT_EQ(extra(), Strings{});
}

TEST_F(MixerSlots, DeviceRefusalsAnsweredAsErrors) {
  ASSERT_EQ(sim("mixer add 0 32 64"), "");
  Strings units;
  EXPECT_EQ(query(1, units), Strings{"seq 1 success"});
  // Unit channel 0 is a channel like any other, as output and as summator.
  EXPECT_EQ(ask(out_image(2, 40, 0, {0})), Strings{"seq 2 slot 40 success"});
  mixer_log();

  // An input its summator refused is no slot; the number stays free and the
  // same create succeeds once the unit takes it.
  ASSERT_EQ(sim("mixer fail add 1"), "");
  EXPECT_EQ(ask(in_image(3, 41, 0, {4}, {0})), Strings{"seq 3 slot 41 error insufficientResources"});
  EXPECT_EQ(mix(0, 0), Strings{"0/0:32767"});
  EXPECT_EQ(ask(in_image(4, 41, 0, {4}, {0})), Strings{"seq 4 slot 41 success"});
  EXPECT_EQ(mix(0, 0), (Strings{"0/0:32767", "0/4:32767"}));
  // An echo canceller the tone unit refused: no slot, and the summing it
  // was given is taken back.
  const auto echo_in = [](int seq) {
    LGCP::CreateParams p;
    LGCP::MixerInParams& m = p.select_mixerIn();
    m.set_unit(0);
    set_channel(m.set_channel(), {5});
    set_channel(m.set_summator(), {0});
    LGCP::EchoCancelMode& e = m.set_ecm();
    e.set_ec(true);
    e.set_es(false);
    return create(seq, 42, p);
  };
  ASSERT_EQ(sim("dtmf fail CHANNEL_LMS_ON 5 1"), "");
  EXPECT_EQ(ask(echo_in(5)), Strings{"seq 5 slot 42 error insufficientResources"});
  EXPECT_EQ(mix(0, 0), (Strings{"0/0:32767", "0/4:32767"}));
  EXPECT_EQ(ask(echo_in(6)), Strings{"seq 6 slot 42 success"});
  EXPECT_EQ(mix(0, 0), (Strings{"0/0:32767", "0/4:32767", "0/5:32767"}));

  // Driver requests the DSP refused are answered as refused; each one
  // succeeds again once the failure is cleared.
  using Fill = std::function<void(LGCP::IoctlParams&)>;
  const Fill gain = [](LGCP::IoctlParams& p) { p.select_rx_gain().set_gainDB(-6); };
  const Fill filter = [](LGCP::IoctlParams& p) {
    LGCP::ToneFilter& f = p.select_tone_filter();
    f.set_freq(2100);
    f.set_enable(true);
    f.set_duration_th_msec(40);
    f.set_det_level_dB(-30);
  };
  const Fill delay = [](LGCP::IoctlParams& p) { p.select_delays().set_rx(20); };
  const Fill tone_on = [](LGCP::IoctlParams& p) {
    LGCP::ToneGenerator& g = p.select_tone_gen_enable();
    g.set_freq(1000);
    g.set_amp(5000);
  };
  const Fill tone_off = [](LGCP::IoctlParams& p) { p.select_tone_gen_disable(); };
  ASSERT_EQ(sim("dsp fail DSPROC_CONFIGURE 5"), "");
  ASSERT_EQ(sim("dtmf fail DTMF_DIAL 5"), "");
  EXPECT_EQ(ask({ioctl(7, 41, gain), ioctl(8, 41, filter), ioctl(9, 41, delay), ioctl(10, 40, filter),
                 ioctl(11, 40, delay), ioctl(12, 40, tone_on), ioctl(13, 40, tone_off)},
                7),
            (Strings{"seq 7 slot 41 error unsupported", "seq 8 slot 41 error unsupported",
                     "seq 9 slot 41 error unsupported", "seq 10 slot 40 error unsupported",
                     "seq 11 slot 40 error unsupported", "seq 12 slot 40 error unsupported",
                     "seq 13 slot 40 error unsupported"}));
  ASSERT_EQ(sim("dsp fail DSPROC_CONFIGURE 0"), "");
  ASSERT_EQ(sim("dtmf fail DTMF_DIAL 0"), "");
  EXPECT_EQ(ask({ioctl(14, 41, gain), ioctl(15, 41, filter), ioctl(16, 41, delay), ioctl(17, 40, filter),
                 ioctl(18, 40, delay), ioctl(19, 40, tone_on), ioctl(20, 40, tone_off)},
                7),
            (Strings{"seq 14 slot 41 success", "seq 15 slot 41 success", "seq 16 slot 41 success",
                     "seq 17 slot 40 success", "seq 18 slot 40 success", "seq 19 slot 40 success",
                     "seq 20 slot 40 success"}));

  // A tone filter beyond its fields of the request is refused, not cut to
  // another filter: nothing reaches the units.
  sim("dsp log");
  sim("dtmf log");
  const auto filter_at = [](int freq) {
    return [freq](LGCP::IoctlParams& p) {
      LGCP::ToneFilter& f = p.select_tone_filter();
      f.set_freq(freq);
      f.set_enable(true);
      f.set_duration_th_msec(40);
      f.set_det_level_dB(-30);
    };
  };
  EXPECT_EQ(ask({ioctl(26, 40, filter_at(65536)), ioctl(27, 41, filter_at(-1))}, 2),
            (Strings{"seq 26 slot 40 error unsupported", "seq 27 slot 41 error unsupported"}));
  EXPECT_EQ(sim("dsp log"), "");
  EXPECT_EQ(sim("dtmf log"), "");
  // So is a negative delay, which the unit's unsigned field would take for
  // one of some 49 days.
  const auto delays = [](int rx, int tx) {
    return [rx, tx](LGCP::IoctlParams& p) {
      LGCP::Delays& d = p.select_delays();
      d.set_rx(rx);
      d.set_tx(tx);
    };
  };
  EXPECT_EQ(ask({ioctl(28, 40, delays(-1, 0)), ioctl(29, 41, delays(20, -20))}, 2),
            (Strings{"seq 28 slot 40 error unsupported", "seq 29 slot 41 error unsupported"}));
  EXPECT_EQ(sim("dsp log"), "");
  // No delay at all is one.
  EXPECT_EQ(ask(ioctl(30, 41, delays(0, 0))), Strings{"seq 30 slot 41 success"});
  // So is a tone whose frequency or amplitude is beyond its 16-bit field:
  // 66536 Hz would sound as 1000 Hz, an amplitude of 65536 as silence.
  const auto tone_at = [](int freq, int amp) {
    return [freq, amp](LGCP::IoctlParams& p) {
      LGCP::ToneGenerator& g = p.select_tone_gen_enable();
      g.set_freq(freq);
      g.set_amp(amp);
    };
  };
  sim("dtmf log");
  EXPECT_EQ(ask({ioctl(31, 40, tone_at(66536, 5000)), ioctl(32, 40, tone_at(1000, 65536)),
                 ioctl(33, 40, tone_at(-1, 5000)), ioctl(34, 40, tone_at(1000, -5000))},
                4),
            (Strings{"seq 31 slot 40 error unsupported", "seq 32 slot 40 error unsupported",
                     "seq 33 slot 40 error unsupported", "seq 34 slot 40 error unsupported"}));
  EXPECT_EQ(sim("dtmf log"), "");
  EXPECT_EQ(ask(ioctl(35, 40, tone_at(65535, 65535))), Strings{"seq 35 slot 40 success"});
  const std::string dial = sim("dtmf log");
  EXPECT_EQ(dial.substr(dial.find(' ', sizeof "DTMF_DIAL")), " 65535 0 65535 0") << dial;
  // The field's lowest values are values too.
  EXPECT_EQ(ask(ioctl(38, 40, tone_at(0, 0))), Strings{"seq 38 slot 40 success"});
  EXPECT_NE(sim("dtmf log"), "");
  // And a digit sequence whose amplitude is: its digits would be silent.
  const auto digits_at = [](int amp1, int amp2) {
    return [amp1, amp2](LGCP::IoctlParams& p) {
      LGCP::TranslateDtmfParams& t = p.select_translateDTMF();
      LGCP::DualTone d;
      d.set_freq1(697);
      d.set_freq2(1209);
      t.ref_digits().push_back(d);
      t.set_amp1(amp1);
      t.set_amp2(amp2);
    };
  };
  EXPECT_EQ(ask({ioctl(36, 40, digits_at(65536, 100)), ioctl(37, 41, digits_at(100, 65536))}, 2),
            (Strings{"seq 36 slot 40 error unsupported", "seq 37 slot 41 error unsupported"}));
  EXPECT_EQ(sim("dtmf log"), "");

  // Each request a kind handles reaches its own unit request and is
  // answered by it; what the other kind alone handles is refused.
  const auto requests = [&] {
    std::string names;
    for (const std::string& l : lines(sim("dsp log") + sim("dtmf log"))) names += " " + l.substr(0, l.find(' '));
    return names;
  };
  requests();
  const Fill dtmf_params = [](LGCP::IoctlParams& p) {
    LGCP::DTMFParams& d = p.select_dtmf_params();
    d.set_threshold().set_twist(8);
    d.set_threshold().set_ratio(6);
    d.set_threshold().set_noise(5);
    d.set_level().set_silence(30);
  };
  const Fill vad_params = [](LGCP::IoctlParams& p) {
    TERM::VADParamsV2& v = p.select_vad_params().select_v2();
    v.set_voice_th_msec(40);
    v.set_silence_th_msec(200);
    v.set_e_th_dB(-40);
  };
  const Fill digit = long_digit;
  const struct {
    int slot;
    Fill fill;
    const char* got;
  } dispatch[] = {
      {41, [](LGCP::IoctlParams& p) { p.select_echoSuppressor(true); }, " slot 41 success | CHANNEL_LMS_ON"},
      {41, [](LGCP::IoctlParams& p) { p.select_dtmf_reject_enable(true); }, " slot 41 success | DTMF_REJECTION_ENABLE"},
      {41, dtmf_params, " slot 41 success | DTMF_CONFIGURE_DETECTOR"},
      {41, [](LGCP::IoctlParams& p) { p.select_vad_enable(true); }, " slot 41 success | DSPROC_ENABLE"},
      {41, vad_params, " slot 41 success | DSPROC_GET_VERSION DSPROC_CONFIGURE"},
      {41, [](LGCP::IoctlParams& p) { p.select_vad_disable(); }, " slot 41 success | DSPROC_DISABLE"},
      {41, [](LGCP::IoctlParams& p) { p.select_sd_enable(true); }, " slot 41 success | DSPROC_ENABLE"},
      {41, [](LGCP::IoctlParams& p) { p.select_sd_params(); }, " slot 41 success | DSPROC_CONFIGURE"},
      {41, [](LGCP::IoctlParams& p) { p.select_sd_disable(); }, " slot 41 success | DSPROC_DISABLE"},
      {41, [](LGCP::IoctlParams& p) { p.select_iva_enable(true); }, " slot 41 success | IVA_DETECTOR_ENABLE"},
      {41, [](LGCP::IoctlParams& p) { p.select_iva_params().set_det_lvl_dB(-30); },
       " slot 41 success | IVA_CONFIGURE_DETECTOR"},
      {41, [](LGCP::IoctlParams& p) { p.select_dtmf_disable(); }, " slot 41 error unsupported |"},
      {41, tone_off, " slot 41 error unsupported |"},
      {40, digit, " slot 40 success | DTMF_DIAL"},
      {40, [](LGCP::IoctlParams& p) { p.select_dtmf_disable(); }, " slot 40 success | DTMF_DIAL"},
      {40, dtmf_params, " slot 40 success | DTMF_CONFIGURE_DETECTOR"},
      {40, [](LGCP::IoctlParams& p) { p.select_vad_enable(true); }, " slot 40 success | DSPROC_ENABLE"},
      {40, vad_params, " slot 40 success | DSPROC_GET_VERSION DSPROC_CONFIGURE"},
      {40, [](LGCP::IoctlParams& p) { p.select_vad_disable(); }, " slot 40 success | DSPROC_DISABLE"},
      {40, [](LGCP::IoctlParams& p) { p.select_sd_enable(true); }, " slot 40 success | DSPROC_ENABLE"},
      {40, [](LGCP::IoctlParams& p) { p.select_sd_params(); }, " slot 40 success | DSPROC_CONFIGURE"},
      {40, [](LGCP::IoctlParams& p) { p.select_sd_disable(); }, " slot 40 success | DSPROC_DISABLE"},
      {40, [](LGCP::IoctlParams& p) { p.select_dtmf_reject_disable(); }, " slot 40 success | DTMF_REJECTION_DISABLE"},
      {40, [](LGCP::IoctlParams& p) { p.select_iva_enable(true); }, " slot 40 success | IVA_DETECTOR_ENABLE"},
      {40, [](LGCP::IoctlParams& p) { p.select_echoSuppressor(true); }, " slot 40 error unsupported |"},
      {40, [](LGCP::IoctlParams& p) { p.select_dtmf_enable(true); }, " slot 40 error unsupported |"},
      {40, gain, " slot 40 error unsupported |"},
  };
  int seq = 40;
  for (const auto& d : dispatch) {
    const Strings answer = ask(ioctl(seq, d.slot, d.fill));
    EXPECT_EQ((answer.empty() ? std::string("nothing") : answer[0].substr(answer[0].find(" slot "))) + " |" + requests(),
              d.got)
        << "seq " << seq;
    ++seq;
  }

  EXPECT_EQ(ask({destroy(21, 42), destroy(22, 41)}, 2),
            (Strings{"seq 21 slot 42 success", "seq 22 slot 41 success"}));
  EXPECT_EQ(mix(0, 0), Strings{"0/0:32767"}) << "the inputs' summing is taken back";
  EXPECT_EQ(ask(destroy(23, 40)), Strings{"seq 23 slot 40 success"});
  EXPECT_EQ(mix(0, 0), Strings{});
  EXPECT_EQ(extra(), Strings{});
}

TEST_F(MixerSlots, VanishedUnitAbortsItsSlots) {
  ASSERT_EQ(sim("mixer add 0 32 64"), "");
  ASSERT_EQ(sim("mixer add 1 16 48"), "");
  Strings units;
  EXPECT_EQ(query(1, units), Strings{"seq 1 success"});
  EXPECT_EQ(units.size(), 2u);
  EXPECT_EQ(ask({out_image(2, 20, 1, {2}), in_image(3, 21, 1, {3}, {2}), out_image(4, 22, 0, {2})}, 3),
            (Strings{"seq 2 slot 20 success", "seq 3 slot 21 success", "seq 4 slot 22 success"}));
  EXPECT_EQ(ask(connect_image(5, 20, 21), 3),
            (Strings{"slot 20 transmitter active 2082", "slot 21 receiver active 2083", "seq 5 slot 20 success"}));
  mixer_log();
  // (The voice-processing unit is opened by a configure request.)
  EXPECT_EQ(ask({ioctl(42, 21, [](LGCP::IoctlParams& p) { p.select_iva_enable(true); }),
                 ioctl(44, 21, [](LGCP::IoctlParams& p) { p.select_sd_params(); }),
                 ioctl(45, 21, [](LGCP::IoctlParams& p) { p.select_vad_enable(true); })},
                3),
            (Strings{"seq 42 slot 21 success", "seq 44 slot 21 success", "seq 45 slot 21 success"}));
  // A digit of ten minutes is sounding on the output's channel as the unit
  // goes.
  sim("dtmf log");
  EXPECT_EQ(ask(ioctl(40, 20,
                      long_digit)),
            Strings{"seq 40 slot 20 success"});
  EXPECT_EQ(sim("dtmf log"), "DTMF_DIAL 2082 697 1209 16384 16384");

  ASSERT_EQ(sim("mixer remove 1"), "");
  EXPECT_EQ(query(6, units), (Strings{"seq 6 success", "40 00 14 87 01 00", "40 00 15 87 01 00"}));
  EXPECT_EQ(units, Strings{"0:32/32/64/770/17/24"});
  EXPECT_EQ(mixer_log(), (Strings{"info:-1", "info:0"}));
  // It stops with the unit: it would sound into whatever slot gets the
  // channel when the unit comes back. Every channel of the unit is
  // silenced.
  EXPECT_EQ(sim("dtmf log"), "DTMF_DIAL 2082 0 0 0 0\nDTMF_DIAL 2083 0 0 0 0");
  // So does the line from the output into the input: the returning unit's
  // output on that channel must not reach the input slot made next.
  EXPECT_EQ(hal("get 2083"), "byte 213");
  EXPECT_EQ(ask({in_image(7, 23, 1, {4}), out_image(8, 23, 1, {4})}, 2),
            (Strings{"seq 7 slot 23 error insufficientResources", "seq 8 slot 23 error insufficientResources"}));
  // While no slot of a live unit holds its switch channel (the other
  // unit's slots hold theirs), an aborted slot still sets its DSP there.
  EXPECT_EQ(ask(ioctl(47, 21, [](LGCP::IoctlParams& p) { p.select_rx_gain().set_gainDB(-6); })),
            Strings{"seq 47 slot 21 success"});

  // The unit comes back under the same number before the aborted slots are
  // gone: their release must not touch the new unit's mixes.
  ASSERT_EQ(sim("mixer add 1 16 48"), "");
  EXPECT_EQ(query(9, units), Strings{"seq 9 success"});
  EXPECT_EQ(units, (Strings{"0:16/16/48/770/17/24", "1:16/16/48/770/17/24"}));
  EXPECT_EQ(ask({out_image(10, 24, 1, {2}), in_image(11, 25, 1, {3}, {2})}, 2),
            (Strings{"seq 10 slot 24 success", "seq 11 slot 25 success"}));
  EXPECT_EQ(mix(1, 2), (Strings{"1/2:32767", "1/3:32767"}));
  // The new unit's inputs on the aborted slots' switch channels are fed.
  EXPECT_EQ(ask({trunk_image(30, 26, 2, 5), in_image(31, 27, 1, {2}), connect_image(32, 26, 25),
                 connect_image(33, 26, 27)},
                8),
            (Strings{"seq 30 slot 26 success", "slot 26 transmitter active 69", "slot 26 receiver active 69",
                     "seq 31 slot 27 success", "slot 25 receiver active 2083", "seq 32 slot 26 success",
                     "slot 27 receiver active 2082", "seq 33 slot 26 success"}));
  // An aborted input cannot take its old switch channel back while the new
  // unit's input is fed on it.
  EXPECT_EQ(ask(connect_image(34, 22, 21), 2),
            (Strings{"slot 22 transmitter active 2050", "seq 34 slot 22 error connectFail"}));
  EXPECT_EQ(hal("get 2083"), "connected 69");
  // The DSP unit's flag events on those switch channels are the new
  // unit's slots', not the aborted ones' met first.
  EXPECT_EQ(ask(ioctl(37, 25, [](LGCP::IoctlParams& p) { p.select_rx_gain().set_gainDB(3); })),
            Strings{"seq 37 slot 25 success"});
  const std::string selcal = " 0 512 2147483648 2147483648 0";
  EXPECT_EQ(sim("dsp event 2083" + selcal), "");
  EXPECT_EQ(frames(1), Strings{"slot 25 signal selcal"});
  EXPECT_EQ(sim("dsp event 2082" + selcal), "");
  EXPECT_EQ(frames(1), Strings{"slot 24 signal selcal"});
  // So are the tone unit's detections when both inputs have IVA on.
  EXPECT_EQ(ask(ioctl(43, 25, [](LGCP::IoctlParams& p) { p.select_iva_enable(true); })),
            Strings{"seq 43 slot 25 success"});
  EXPECT_EQ(sim("dtmf event 1280 2083 1 0"), "");
  EXPECT_EQ(frames(1), Strings{"slot 25 signal tonec"});
  // What the aborted input had the voice-processing unit do on that channel
  // is not taken for the new input's: its VAD is asked for anew.
  sim("dsp log");
  EXPECT_EQ(ask(ioctl(46, 25, [](LGCP::IoctlParams& p) { p.select_vad_enable(true); })),
            Strings{"seq 46 slot 25 success"});
  EXPECT_EQ(sim("dsp log").rfind("DSPROC_ENABLE 2083 ", 0), 0u);
  // Nor do the aborted slots set those channels' gain or play tones on them,
  // nor silence the new output's tone when they go.
  EXPECT_EQ(ask(ioctl(41, 24,
                      [](LGCP::IoctlParams& p) {
                        LGCP::ToneGenerator& g = p.select_tone_gen_enable();
                        g.set_freq(425);
                        g.set_amp(2000);
                      })),
            Strings{"seq 41 slot 24 success"});
  sim("dsp log");
  sim("dtmf log");
  EXPECT_EQ(ask({ioctl(38, 21, [](LGCP::IoctlParams& p) { p.select_rx_gain().set_gainDB(-9); }),
                 ioctl(39, 20,
                       [](LGCP::IoctlParams& p) {
                         LGCP::ToneGenerator& g = p.select_tone_gen_enable();
                         g.set_freq(1000);
                         g.set_amp(5000);
                       }),
                 ioctl(48, 20, [](LGCP::IoctlParams& p) { p.select_vad_enable(true); })},
                3),
            (Strings{"seq 38 slot 21 error unsupported", "seq 39 slot 20 error unsupported",
                     "seq 48 slot 20 error unsupported"}));
  EXPECT_EQ(sim("dsp log") + sim("dtmf log"), "");
  mixer_log();
  // The aborted slots destroy cleanly, sending nothing to the driver and
  // leaving the switch channels to the slots that hold them now.
  EXPECT_EQ(ask({destroy(12, 20), destroy(13, 21)}, 2),
            (Strings{"seq 12 slot 20 success", "seq 13 slot 21 success"}));
  EXPECT_EQ(mixer_log(), Strings{});
  EXPECT_EQ(sim("dtmf log"), "") << "the new output's tone was cut";
  EXPECT_EQ(mix(1, 2), (Strings{"1/2:32767", "1/3:32767"}));
  EXPECT_EQ(count_in_log("MIX_RX_REMOVE"), 0) << srv().log();
  EXPECT_EQ(hal("get 2083"), "connected 69") << "the aborted input cut the new input's line";
  EXPECT_EQ(hal("get 2082"), "connected 69") << "the aborted output cut the new input's line";
  EXPECT_EQ(ask({destroy(35, 27), destroy(36, 26)}, 2),
            (Strings{"seq 35 slot 27 success", "seq 36 slot 26 success"}));
  EXPECT_EQ(hal("get 2082"), "disabled");

  EXPECT_EQ(ask({destroy(14, 25), destroy(15, 24), destroy(16, 22)}, 3),
            (Strings{"seq 14 slot 25 success", "seq 15 slot 24 success", "seq 16 slot 22 success"}));
  EXPECT_EQ(mixer_log(), (Strings{"remove:1/2<1/3:0", "clear:1/2", "clear:0/2"}));
  EXPECT_EQ(extra(), Strings{});

  // A unit reporting no inputs is the smallest one, also when it is
  // reported first: every unit is then reported with none.
  for (const char* w : {"mixer remove 0", "mixer remove 1", "mixer add 2 1 0", "mixer add 3 16 48"})
    ASSERT_EQ(sim(w), "");
  EXPECT_EQ(query(17, units), Strings{"seq 17 success"});
  EXPECT_EQ(units, (Strings{"2:1/1/0/770/17/24", "3:1/1/0/770/17/24"}));
  // One reporting no TDM channels likewise.
  for (const char* w : {"mixer remove 2", "mixer add 2 0 8"}) ASSERT_EQ(sim(w), "");
  EXPECT_EQ(query(18, units), Strings{"seq 18 success"});
  EXPECT_EQ(units, (Strings{"2:0/0/8/770/17/24", "3:0/0/8/770/17/24"}));
  // Gone again, and forgotten before the next case.
  for (const char* w : {"mixer remove 2", "mixer remove 3"}) ASSERT_EQ(sim(w), "");
  EXPECT_EQ(query(19, units), Strings{"seq 19 success"});
  EXPECT_EQ(units, Strings{});
}

TEST_F(MixerSlots, TonesOfLiveAndVanishedUnits) {
  ASSERT_EQ(sim("mixer add 0 32 64"), "");
  Strings units;
  EXPECT_EQ(query(1, units), Strings{"seq 1 success"});
  EXPECT_EQ(ask({out_image(2, 50, 0, {6}), in_image(3, 51, 0, {7})}, 2),
            (Strings{"seq 2 slot 50 success", "seq 3 slot 51 success"}));
  // Two short digits: each tone, then its pause; an output tells the
  // controller when the sequence is done, an input does not.
  const auto two_digits = [](LGCP::IoctlParams& p) {
    LGCP::TranslateDtmfParams& t = p.select_translateDTMF();
    for (int f : {1209, 1336}) {
      LGCP::DualTone d;
      d.set_freq1(697);
      d.set_freq2(f);
      t.ref_digits().push_back(d);
    }
    t.set_toneDuration(20);
    t.set_pauseDuration(20);
  };
  sim("dtmf log");
  EXPECT_EQ(ask(ioctl(4, 50, two_digits), 2), (Strings{"seq 4 slot 50 success", "slot 50 signal tonec"}));
  EXPECT_EQ(sim("dtmf log"),
            "DTMF_DIAL 2054 697 1209 16384 16384\nDTMF_DIAL 2054 1000 1000 0 0\n"
            "DTMF_DIAL 2054 697 1336 16384 16384\nDTMF_DIAL 2054 1000 1000 0 0\nDTMF_DIAL 2054 0 0 0 0");
  EXPECT_EQ(ask(ioctl(5, 51, two_digits)), Strings{"seq 5 slot 51 success"});
  EXPECT_EQ(extra(300), Strings{});
  EXPECT_EQ(lines(sim("dtmf log")).size(), 5u);

  // The unit vanishes: its slots are aborted, and a tone asked of them
  // would sound on a switch channel that the returning unit hands to a new
  // slot, whose own tone their destroy would then cut.
  ASSERT_EQ(sim("mixer remove 0"), "");
  EXPECT_EQ(query(6, units).size(), 3u);
  sim("dtmf log");
  const auto tone = [](LGCP::IoctlParams& p) {
    LGCP::ToneGenerator& g = p.select_tone_gen_enable();
    g.set_freq(1000);
    g.set_amp(5000);
  };
  EXPECT_EQ(ask({ioctl(7, 50, tone), ioctl(8, 50, long_digit), ioctl(9, 51, long_digit)}, 3),
            (Strings{"seq 7 slot 50 error unsupported", "seq 8 slot 50 error unsupported",
                     "seq 9 slot 51 error unsupported"}));
  EXPECT_EQ(sim("dtmf log"), "");
  ASSERT_EQ(sim("mixer add 0 32 64"), "");
  EXPECT_EQ(query(10, units), Strings{"seq 10 success"});
  EXPECT_EQ(ask(out_image(11, 52, 0, {6})), Strings{"seq 11 slot 52 success"});
  EXPECT_EQ(ask(ioctl(12, 52, tone)), Strings{"seq 12 slot 52 success"});
  EXPECT_EQ(sim("dtmf log"), "DTMF_DIAL 2054 1000 0 5000 0");
  EXPECT_EQ(ask({destroy(13, 50), destroy(14, 51)}, 2), (Strings{"seq 13 slot 50 success", "seq 14 slot 51 success"}));
  EXPECT_EQ(sim("dtmf log"), "") << "the new output's tone was cut";
  // The aborted output disabled its switch channel as it went: the input
  // still there on another channel does not hold it.
  EXPECT_EQ(hal("get 2054"), "disabled");
  EXPECT_EQ(ask(destroy(15, 52)), Strings{"seq 15 slot 52 success"});
  EXPECT_EQ(sim("dtmf log"), "DTMF_DIAL 2054 0 0 0 0");
  EXPECT_EQ(extra(), Strings{});
}

// A unit channel's switch channel serves an output, then an input, or one
// input after another: the detectors the slot that went had on (DTMF, VAD,
// SD) tell nothing of theirs to the slot made next on the channel, nor to
// the controller under its number, while that slot's own detections reach
// it.
TEST_F(MixerSlots, DetectionsOfAGoneSlotNeverReachTheNextOnItsChannel) {
  ASSERT_EQ(sim("mixer add 0 32 64"), "");
  Strings units;
  EXPECT_EQ(query(1, units), Strings{"seq 1 success"});
  const std::function<void(LGCP::IoctlParams&)> detectors[] = {
      [](LGCP::IoctlParams& p) { p.select_dtmf_enable(true); },
      [](LGCP::IoctlParams& p) { p.select_vad_enable(true); },
      [](LGCP::IoctlParams& p) { p.select_sd_enable(true); },
  };
  // The ids of the enables since the last ask: "dtmf vad sd" (those sent).
  const auto ids = [&] {
    std::string out;
    for (const std::string& l : lines(sim("dtmf log") + "\n" + sim("dsp log"))) {
      std::istringstream w(l);
      std::string name, ts, id, code;
      w >> name >> ts >> id >> code;
      if (name == "DTMF_ENABLE_DETECTOR" || (name == "DSPROC_ENABLE" && (code == "1" || code == "2")))
        out += (out.empty() ? "" : " ") + id;
    }
    return out;
  };
  const auto detections = [&](const std::string& dtmf, const std::string& vad, const std::string& sd) {
    EXPECT_EQ(sim("dtmf event 5 2053 7 " + dtmf), "");
    EXPECT_EQ(sim("dsp event 2053 " + vad + " 1 1 1 0"), "");
    EXPECT_EQ(sim("dsp event 2053 " + sd + " 2 1 0 0"), "");
  };
  const struct {
    bool old_output;
    int first_detector;  // an output has no DTMF detector to enable
  } rows[] = {{true, 1}, {false, 0}};
  int seq = 2;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.old_output ? "output, then input" : "input, then input");
    EXPECT_EQ(ask(r.old_output ? out_image(seq, 60, 0, {5}) : in_image(seq, 60, 0, {5})),
              Strings{"seq " + std::to_string(seq) + " slot 60 success"});
    ++seq;
    ids();
    for (int d = r.first_detector; d < 3; ++d, ++seq)
      EXPECT_EQ(ask(ioctl(seq, 60, detectors[d])), Strings{"seq " + std::to_string(seq) + " slot 60 success"});
    std::istringstream old_ids(ids());
    std::string old_dtmf = "0", old_vad, old_sd;
    if (r.first_detector == 0) old_ids >> old_dtmf;
    old_ids >> old_vad >> old_sd;
    EXPECT_EQ(ask({destroy(seq, 60), in_image(seq + 1, 61, 0, {5})}, 2),
              (Strings{"seq " + std::to_string(seq) + " slot 60 success",
                       "seq " + std::to_string(seq + 1) + " slot 61 success"}));
    seq += 2;
    for (int d = 0; d < 3; ++d, ++seq)
      EXPECT_EQ(ask(ioctl(seq, 61, detectors[d])), Strings{"seq " + std::to_string(seq) + " slot 61 success"});
    std::istringstream new_ids(ids());
    std::string dtmf, vad, sd;
    new_ids >> dtmf >> vad >> sd;
    detections(old_dtmf, old_vad, old_sd);
    EXPECT_EQ(extra(300), Strings{});
    detections(dtmf, vad, sd);
    EXPECT_EQ(frames(3), (Strings{"slot 61 signal tonec", "slot 61 signal vad", "slot 61 signal sd"}));
    EXPECT_EQ(ask(destroy(seq, 61)), Strings{"seq " + std::to_string(seq) + " slot 61 success"});
    ++seq;
  }
  EXPECT_EQ(extra(), Strings{});
}

// The switch channels of a vanished unit are free for the drivers to hand
// out again, here to ATS-QSIG B channels, while the unit's aborted slots
// wait for their destroy: those lines are then the B slots', and the
// aborted slots' destroy leaves them as they are.
TEST_F(MixerSlots, AVanishedUnitsChannelsTakenByBChannels) {
  // Stream signals come with these; the last answer ends them.
  const auto answered = [](const Strings& images, const std::string& last) {
    srv().ctl.send_all(images);
    for (Strings f = frames(1); !f.empty(); f = frames(1))
      if (f[0] == last) return true;
    return false;
  };
  ASSERT_EQ(sim("mixer add 0 4 8"), "");
  Strings units;
  EXPECT_EQ(query(1, units), Strings{"seq 1 success"});
  EXPECT_EQ(ask({out_image(2, 60, 0, {1}), in_image(3, 61, 0, {2}), trunk_image(4, 62, 1, 5)}, 3),
            (Strings{"seq 2 slot 60 success", "seq 3 slot 61 success", "seq 4 slot 62 success"}));
  EXPECT_TRUE(answered({connect_image(5, 62, 61), connect_image(6, 60, 62)}, "seq 6 slot 60 success"));
  EXPECT_EQ(hal("get 2050"), "connected 37");
  EXPECT_EQ(hal("get 37"), "connected 2049");
  ASSERT_EQ(sim("mixer remove 0"), "");
  EXPECT_EQ(query(7, units).size(), 3u);
  EXPECT_EQ(hal("get 2050"), "byte 213");

  // An ATS-QSIG slot's B channels get the unit's old switch channels, and
  // an external slot feeds two of them. The one on the output's old channel
  // is slot 0, a slot like any other.
  const int b_slot[] = {63, 64, 0, 66};
  EXPECT_EQ(sim("dspdata timeslot 90"), "");
  EXPECT_EQ(ask({create(8, 63, [] {
                   LGCP::CreateParams p;
                   p.select_ats_qsig().set_side().select_network();
                   return p;
                 }())},
                1),
            Strings{"seq 8 slot 63 success"});
  for (int sub = 1; sub <= 3; ++sub)
    EXPECT_EQ(ask(create(8 + sub, b_slot[sub],
                         [&] {
                           LGCP::CreateParams p;
                           LGCP::AtsQsigBParams& b = p.select_ats_qsig_b();
                           b.set_slot(63);
                           b.set_subslot(static_cast<unsigned>(sub));
                           return p;
                         }())),
              Strings{"seq " + std::to_string(8 + sub) + " slot " + std::to_string(b_slot[sub]) + " success"});
  EXPECT_EQ(sim("dspdata channels"), "90 2048 2049 2050");
  EXPECT_TRUE(answered({ext_image(12, 67, 100, 101), activate_image(13, 67), connect_image(14, 67, 0),
                        connect_image(15, 62, 66)},
                       "seq 15 slot 62 success"));
  EXPECT_EQ(hal("get 2049"), "connected 8292");
  EXPECT_EQ(hal("get 2050"), "connected 37");

  // The aborted slots neither take those lines over nor set their DSP.
  sim("dsp log");
  EXPECT_EQ(ask({connect_image(18, 67, 61), ioctl(19, 61, [](LGCP::IoctlParams& p) {
                   p.select_rx_gain().set_gainDB(-9);
                 })},
                2),
            (Strings{"seq 18 slot 67 error connectFail", "seq 19 slot 61 error unsupported"}));
  EXPECT_EQ(hal("get 2050"), "connected 37");
  EXPECT_EQ(sim("dsp log"), "");
  EXPECT_EQ(ask({destroy(16, 60), destroy(17, 61)}, 2), (Strings{"seq 16 slot 60 success", "seq 17 slot 61 success"}));
  EXPECT_EQ(hal("get 2049"), "connected 8292") << "the aborted output's destroy cut a B channel's line";
  EXPECT_EQ(hal("get 2050"), "connected 37") << "the aborted input's destroy cut a B channel's line";
  for (int n = 0; n < 6; ++n) {
    const int slot = n == 3 ? b_slot[2] : 62 + n;
    EXPECT_EQ(ask(destroy(20 + n, slot)),
              Strings{"seq " + std::to_string(20 + n) + " slot " + std::to_string(slot) + " success"});
  }
  EXPECT_EQ(extra(), Strings{});
}

TEST_F(MixerSlots, AHundredUnitsAtMost) {
  for (int u = 0; u < 130; ++u) ASSERT_EQ(sim("mixer add " + std::to_string(u) + " 16 32"), "");
  Strings units;
  EXPECT_EQ(query(1, units), Strings{"seq 1 success"});
  Strings hundred;
  for (int u = 0; u < 100; ++u) hundred.push_back(std::to_string(u) + ":16/16/32/770/17/24");
  EXPECT_EQ(units, hundred);
  EXPECT_EQ(ask({out_image(2, 30, 99, {1}), out_image(3, 31, 100, {1})}, 2),
            (Strings{"seq 2 slot 30 success", "seq 3 slot 31 error insufficientResources"}));
  mixer_log();

  // Known units are confirmed, not dropped: no abort, the slot lives on.
  EXPECT_EQ(query(4, units), Strings{"seq 4 success"});
  EXPECT_EQ(units, hundred);
  EXPECT_EQ(mixer_log(), Strings{"info:-1"} + range_of("info:", 0, 99));
  EXPECT_EQ(ask(destroy(5, 30)), Strings{"seq 5 slot 30 success"});
  EXPECT_EQ(mixer_log(), Strings{"clear:99/1"});
  EXPECT_EQ(extra(), Strings{});
}

}  // namespace

namespace {

// A unit's channel count as its driver reports it, whatever the unit has:
// the count bounds the reset and the channels a slot may name.
TEST_F(MixerSlots, ChannelCountsAUnitReports) {
  const struct {
    const char* claim;
    const char* reported;  // the unit's entry in the resources
    int clears;            // requests of its reset
    const char* out_on_1;  // an output on channel 1
  } rows[] = {
      {"2147483647", "0:10240/10240/64/770/17/24", 10240, "success"},
      {"10241", "0:10240/10240/64/770/17/24", 10240, "success"},
      {"10240", "0:10240/10240/64/770/17/24", 10240, "success"},
      {"2", "0:2/2/64/770/17/24", 2, "success"},
      {"1", "0:1/1/64/770/17/24", 1, "error insufficientResources"},
      {"0", "0:0/0/64/770/17/24", 0, "error insufficientResources"},
      {"-1", "0:0/0/64/770/17/24", 0, "error insufficientResources"},
      {"-2147483648", "0:0/0/64/770/17/24", 0, "error insufficientResources"},
  };
  // Units an earlier case left known are forgotten first: a known unit is
  // not reset again.
  Strings units;
  EXPECT_EQ(query(1, units), Strings{"seq 1 success"});
  mixer_log();
  int seq = 2;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.claim);
    ASSERT_EQ(sim("mixer add 0 32 64"), "");
    ASSERT_EQ(sim(std::string("mixer claim 0 ") + row.claim), "");
    EXPECT_EQ(query(seq, units), Strings{"seq " + std::to_string(seq) + " success"});
    ++seq;
    EXPECT_EQ(units, Strings{row.reported});
    int clears = 0;
    for (const std::string& l : mixer_log()) clears += l.rfind("clear:0/", 0) == 0;
    EXPECT_EQ(clears, row.clears);
    EXPECT_EQ(ask(out_image(seq, 40, 0, {1})), Strings{"seq " + std::to_string(seq) + " slot 40 " + row.out_on_1});
    ++seq;
    if (std::string(row.out_on_1) == "success") {
      EXPECT_EQ(ask(destroy(seq, 40)), Strings{"seq " + std::to_string(seq) + " slot 40 success"});
      ++seq;
    }
    ASSERT_EQ(sim("mixer remove 0"), "");
    EXPECT_EQ(query(seq, units), Strings{"seq " + std::to_string(seq) + " success"});
    ++seq;
    mixer_log();
  }
  // A hundred units all claiming the most: together they get no more
  // clears than the switch has channels, and the query is answered.
  for (int u = 0; u < 100; ++u) {
    ASSERT_EQ(sim("mixer add " + std::to_string(u) + " 16 32"), "");
    ASSERT_EQ(sim("mixer claim " + std::to_string(u) + " 2147483647"), "");
  }
  EXPECT_EQ(query(seq, units), Strings{"seq " + std::to_string(seq) + " success"});
  EXPECT_EQ(units.size(), 100u);
  int clears = 0;
  for (const std::string& l : mixer_log()) clears += l.rfind("clear:", 0) == 0;
  EXPECT_EQ(clears, 10240);
  EXPECT_EQ(count_in_log("10240 channels not cleared, the units report more than the switch has"), 99);
  EXPECT_EQ(extra(), Strings{});
}

}  // namespace
