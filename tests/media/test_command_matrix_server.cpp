// Black-box: every controller command against every slot kind. One slot of
// each kind gets every ioctl alternative (those of other kinds too) and the
// other commands a slot number can carry; the answers, one letter each,
// must be the ones of the kind's table, and what it refuses must leave the
// board as it was. Then the slot must still carry a connection both ways
// and go on one destroy, and its number, now empty, must answer every
// command with slotNotExists. Slots of every kind are connected to each
// other and replaced in place; slot numbers at both ends of the range and
// numbers whose slot's release is pending take part as well. Throughout,
// every answer echoes its command's sequence and slot number and the
// server lives with no sanitizer report. Real time, every wait bounded.
#include "tests/media/mixer_images.h"
#include "tests/media/rtp_fixture.h"
#include "tests/media/t38_images.h"
#include "tests/radio/zarn_values.h"
#include "tests/support/lgcp_text.h"
#include "tests/support/loopback.h"
#include "tests/support/server_process.h"
#include "tests/support/shared_server.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

using Strings = std::vector<std::string>;
using P = TERM::Payload;
using Image = std::function<std::string(int seq, int slot)>;

// Each ioctl alternative in its index order, with parameters that its
// readers accept.
void fill_ioctl(LGCP::IoctlParams& i, int index) {
  switch (index) {
    case 0:
      i.select_activateRecord().set_iaddr(std::string("127.0.0.1"));
      i.select_activateRecord().set_port(9);
      break;
    case 1: i.select_deactivateRecord(); break;
    case 2: i.select_activateTonec(); break;
    case 3: i.select_deactivateTonec(); break;
    case 4: i.select_ss7RqBSN(); break;
    case 5: i.select_ss7Log(); break;
    case 6: i.select_echoSuppressor(true); break;
    case 7: i.select_activateWaitTone(); break;
    case 8: i.select_deactivateWaitTone(); break;
    case 9: {
      LGCP::TranslateDtmfParams& t = i.select_translateDTMF();
      LGCP::DualTone tone;
      tone.set_freq1(697);
      tone.set_freq2(1209);
      t.set_digits().push_back(tone);
      break;
    }
    case 10: {
      LGCP::DTMFParams& d = i.select_dtmf_params();
      d.set_threshold().set_twist(8);
      d.set_threshold().set_ratio(4);
      d.set_threshold().set_noise(2);
      d.set_level().set_silence(100);
      break;
    }
    case 11: i.select_dtmf_enable(true); break;
    case 12: i.select_encoder_mode(LGCP::CodecMode::alaw); break;
    case 13: i.select_decoder_mode(LGCP::CodecMode::alaw); break;
    case 14: i.select_dtmf_disable(); break;
    case 15: {
      LGCP::CasCommand& cas = i.select_cas();
      cas.set_channel().set_path(0);
      cas.set_channel().set_timeslot(1);
      cas.set_cmd().select_get();
      break;
    }
    case 16:
      i.select_rtpExt(TERM::RadioModifier(
          TERM::RadioModifier::zarn::index, radio_test::zarn_modifier("10.0.0.8", 77u, [](TERM::ZarnRadioModifierParams& p) {
            p.select_gw_set_ptt().set_flags(radio_test::zarn_flags(3, false));
          })));
      break;
    case 17: i.select_vad_params().select_v1(); break;
    case 18: i.select_vad_enable(true); break;
    case 19: i.select_vad_disable(); break;
    case 20: {
      LGCP::HdlcPackage p;
      p.set_body(std::vector<char>{1, 2});
      i.select_hdlcPackages().push_back(p);
      break;
    }
    case 21: i.select_dtmf_reject_enable(true); break;
    case 22: i.select_dtmf_reject_disable(); break;
    case 23: i.select_sd_params(); break;
    case 24: i.select_sd_enable(true); break;
    case 25: i.select_sd_disable(); break;
    case 26: i.select_mute_enable(); break;
    case 27: i.select_mute_disable(); break;
    case 28: i.select_iva_enable(true); break;
    case 29: i.select_iva_params().set_det_lvl_dB(-30); break;
    case 30: i.select_pd_enable().set_timeout(500); break;
    case 31: i.select_pd_disable(); break;
    case 32: i.select_rx_gain().set_gainDB(3); break;
    case 33: i.select_delays().set_rx(20); break;
    case 34: {
      LGCP::ToneFilter& f = i.select_tone_filter();
      f.set_freq(2100);
      f.set_enable(true);
      f.set_duration_th_msec(100);
      f.set_det_level_dB(-20);
      break;
    }
    case 35: {
      LGCP::ToneGenerator& g = i.select_tone_gen_enable();
      g.set_freq(1000);
      g.set_amp(100);
      break;
    }
    case 36: i.select_tone_gen_disable(); break;
    case 37: i.select_selcal().set_signs("ABCD"); break;
  }
}
constexpr int ioctl_count = 38;

// The parameters of the ioctls that carry numbers, at the ends of what the
// controller can send.
void fill_extreme(LGCP::IoctlParams& i, int index) {
  const int big = 0x7FFFFFFF, small = -0x7FFFFFFF - 1;
  switch (index) {
    case 0: {
      LGCP::TranslateDtmfParams& t = i.select_translateDTMF();
      LGCP::DualTone tone;
      tone.set_freq1(big);
      tone.set_freq2(small);
      t.set_digits().push_back(tone);
      t.set_toneDuration(big);
      t.set_pauseDuration(small);
      break;
    }
    case 1: i.select_translateDTMF().set_digits(); break;
    case 2: i.select_pd_enable().set_timeout(small); break;
    case 3: i.select_rx_gain().set_gainDB(big); break;
    case 4:
      i.select_delays().set_rx(small);
      i.select_delays().set_tx(big);
      break;
    case 5: {
      LGCP::ToneFilter& f = i.select_tone_filter();
      f.set_freq(big);
      f.set_enable(true);
      f.set_duration_th_msec(small);
      f.set_det_level_dB(big);
      break;
    }
    case 6: i.select_iva_params().set_det_lvl_dB(small); break;
    case 7:
      i.select_selcal().set_amp(big);
      i.select_selcal().set_signs(std::string(300, 'A'));
      break;
    case 8: {
      TERM::VADParamsV2& v = i.select_vad_params().select_v2();
      v.set_voice_th_msec(small);
      v.set_silence_th_msec(big);
      v.set_e_th_dB(small);
      break;
    }
  }
}
constexpr int extreme_count = 9;

// The other commands a slot number can carry, in the order of the
// second column of the table.
const std::vector<std::pair<char, std::function<void(LGCP::Command&, int)>>>& others() {
  static const std::vector<std::pair<char, std::function<void(LGCP::Command&, int)>>> list = {
      {'q', [](LGCP::Command& c, int) { c.select_query(); }},
      {'p', [](LGCP::Command& c, int) { c.select_ping(); }},
      {'b',
       [](LGCP::Command& c, int) {
         LGCP::BpcTestParams& p = c.select_testBpc();
         p.set_bus(1u);
         p.set_seed(1);
         p.set_mode().select_read();
         p.set_timeslot_start(0u);
         p.set_timeslot_length(1u);
       }},
      {'k',
       [](LGCP::Command& c, int) {
         LGCP::ClockCfg& cfg = c.select_clockCfg();
         cfg.set_clkSel0(LGCP::ClkSel0::internal);
         cfg.set_bextEn(LGCP::BExtEn::disabled);
         cfg.set_source(0);
       }},
      {'t',
       [](LGCP::Command& c, int) {
         LGCP::TrunkCfg& cfg = c.select_trunkCfg();
         cfg.set_trunk(1);
         cfg.set_mode(LGCP::TrunkMode::master);
       }},
      {'y',
       [](LGCP::Command& c, int) {
         LGCP::FramerInfo& f = c.select_display().select_framer();
         f.set_e1(0u);
         f.set_info().select_line(true);
       }},
      {'z', [](LGCP::Command& c, int) { c.select_protoZarn(); }},
      {'a', [](LGCP::Command& c, int) { c.select_activate().select_empty(); }},
      {'u', [](LGCP::Command& c, int) { c.select_userData(std::vector<char>{8, 1, 5, 5}); }},
      {'w', [](LGCP::Command& c, int) { c.select_deactivate(); }},
      {'c', [](LGCP::Command& c, int slot) { c.select_connect(static_cast<unsigned>(slot < 0 ? 0 : slot)); }},
      {'d', [](LGCP::Command& c, int) { c.select_disconnect(); }},
  };
  return list;
}

// One letter per answer.
char letter(const std::string& answer) {
  static const std::map<std::string, char> letters = {
      {"success", 'S'},           {"error unsupported", 'U'},       {"error invalidParams", 'P'},
      {"error slotNotExists", 'N'}, {"error internal", 'I'},          {"error connectFail", 'C'},
      {"error unexpectedMsgType", 'T'}, {"error insufficientResources", 'R'}, {"error disconnectFail", 'D'},
      {"error destroyInProgress", 'G'}, {"error slotIdBusy", 'B'},    {"error invalidSlot", 'V'},
      {"error busError", 'X'}};
  const auto it = letters.find(answer);
  return it == letters.end() ? 'E' : it->second;
}

struct Kind {
  const char* name;
  int slot;
  Image create;
  // One letter per ioctl alternative (index order), then one per command
  // of others().
  const char* ioctls;
  const char* commands;
  // Answers to connecting the feeding trunk time slot to the slot, and the
  // slot to it: 'S' (and then the path is on the cross-connect) or 'C'.
  char fed = 'S', feeds = 'S';
  // The slot's connection to the time slot is on the cross-connect (the
  // signalling slots wire only what they receive).
  bool transmits = true;
};

const char* const none = "UUUUUUUUUUUUUUUUUUUUUUUUUUUUUUUUUUUUUU";
const char* const rtp = "UUUUUUSSSSSSSSUUUUSSUSUSSSUUUUSSSUSUUS";

class CommandMatrix : public SharedServerTest<CommandMatrix> {
 protected:
  static void SetUpTestSuite() {
    server() = std::make_unique<RunningServer>(Strings{}, [](const std::string& root) {
      std::system(
          ("mkdir -p '" + root + "/usr/local/voice' '" + root + "/usr/local/sbin' '" + root + "/var/standin'").c_str());
      std::system(("cp '" GW_T38_STANDIN "' '" + root + "/usr/local/sbin/t38'").c_str());
      ::chmod((root + "/usr/local/sbin/t38").c_str(), 0755);
      std::ofstream(root + "/usr/local/voice/tone") << std::string(8000, '\x55');
      std::ofstream(root + "/var/standin/pppd.mode") << "hup 0\n";
    });
  }
  static void TearDownTestSuite() {
    server().reset();
    board_known() = false;
  }
  static bool& board_known() {
    static bool known = false;
    return known;
  }
  // Each case may run alone (ctest runs them one by one), so the first one
  // run gives the server its mixer unit and a DSP data channel.
  void SetUp() override {
    ASSERT_TRUE(srv().ready()) << srv().log();
    if (board_known()) return;
    // The mixer unit is known after a query.
    sim("mixer add 0 16 48");
    ASSERT_EQ(answers({"80 01 02 00"}).size(), 1u);
    ASSERT_EQ(sim("dspdata timeslot 77"), "");
    board_known() = true;
  }

  static std::string sim(const std::string& request) { return srv().sim.ask(request); }
  // What the board holds and has been asked to do.
  static Strings board() {
    Strings out;
    for (const char* r : {"hal list", "mcc channels", "dspdata channels", "rtp sessions", "rtpext sessions",
                          "dtmf log", "dsp log", "mixer log"})
      out.push_back(std::string(r) + ": " + sim(r));
    // Asking the DSP for its version changes nothing.
    std::string& dsp = out[6];
    for (std::size_t at; (at = dsp.find("DSPROC_GET_VERSION 0")) != std::string::npos;)
      dsp.erase(at, dsp.find('\n', at) == std::string::npos ? std::string::npos : dsp.find('\n', at) - at + 1);
    return out;
  }
  // Whether the cross-connect feeds channel `out` from channel `in`; -1
  // stands for any channel.
  static bool path(int out, int in) {
    std::istringstream list(sim("hal list"));
    for (int o, i; list >> o >> i;)
      if ((out < 0 || o == out) && (in < 0 || i == in)) return true;
    return false;
  }

  // Sends the images in one write and returns the answers in command order
  // as "seq N slot M answer" (signals passed by); "no answer" for each one
  // missing.
  static Strings answers(const Strings& images) {
    std::vector<std::string> prefixes;
    for (const std::string& image : images) {
      LGCP::Message m;
      decode(image, m);
      prefixes.push_back("seq " + std::to_string(m.get_seq().getValue()) + " ");
    }
    srv().ctl.send_all(images);
    Strings got(images.size(), "no answer");
    std::size_t left = images.size();
    while (left > 0) {
      const std::string f = srv().ctl.next(patience_ms);
      if (f.empty()) break;
      const std::string t = describe(f);
      bool mine = false;
      for (std::size_t i = 0; i < prefixes.size(); ++i)
        if (t.compare(0, prefixes[i].size(), prefixes[i]) == 0) {
          mine = true;
          if (got[i] == "no answer") --left;
          got[i] = got[i] == "no answer" ? t : "twice";
        }
      if (!mine) stray().push_back(t);
    }
    return got;
  }
  static std::string answer(const std::string& image) { return answers({image}).front(); }
  // The answer to one command made with a fresh sequence number: what
  // follows "seq N slot M " when both are echoed, else the whole text.
  static std::string run(int slot, const std::function<std::string(int seq)>& image) {
    const int q = ++seq_;
    const std::string a = answer(image(q));
    const std::string head = "seq " + std::to_string(q) + " slot " + std::to_string(slot) + " ";
    return a.compare(0, head.size(), head) == 0 ? a.substr(head.size()) : a;
  }
  // Frames that answered none of the commands being asked (signals, late
  // answers).
  static Strings& stray() {
    static Strings s;
    return s;
  }

  static inline int seq_ = 1000;

  // The whole row for one slot number (-1: none): the ioctl letters and the command
  // letters; an answer with the wrong slot number or a missing one shows as
  // '?' or '-'.
  std::pair<std::string, std::string> row(int slot) {
    Strings images;
    std::vector<int> seqs;
    for (int i = 0; i < ioctl_count; ++i) {
      seqs.push_back(++seq_);
      images.push_back(command_image(seq_, slot, [&](LGCP::Command& c) { fill_ioctl(c.select_ioctl(), i); }));
    }
    for (const auto& o : others()) {
      seqs.push_back(++seq_);
      images.push_back(command_image(seq_, slot, [&](LGCP::Command& c) { o.second(c, slot); }));
    }
    const Strings got = answers(images);
    std::string ioctls, commands;
    for (std::size_t i = 0; i < got.size(); ++i) {
      const std::string head =
          "seq " + std::to_string(seqs[i]) + " " + (slot < 0 ? std::string() : "slot " + std::to_string(slot) + " ");
      char l = '-';
      if (got[i] != "no answer") l = got[i].compare(0, head.size(), head) == 0 ? letter(got[i].substr(head.size())) : '?';
      (i < ioctl_count ? ioctls : commands) += l;
    }
    return {ioctls, commands};
  }

  static std::string rtp_create(int seq, int slot, std::uint16_t dport,
                                const std::function<void(TERM::RtpParams&)>& more = nullptr) {
    const LGCP::CreateParams p = rtptest::rtp_params(P::ptG711_Alaw, "127.0.0.1", dport, P::ptG711_Alaw, P::ptG711_Alaw, more);
    return create_image(seq, slot, [&](LGCP::CreateParams& c) { c = p; });
  }
  static rtptest::UdpPeer& peer(int i) {
    // The RTP slot binds its RTCP socket on its peer's port + 1.
    static rtptest::UdpPeer p[3] = {rtptest::UdpPeer(rtptest::free_rtp_port()), rtptest::UdpPeer(0), rtptest::UdpPeer(0)};
    return p[i];
  }
  static std::uint16_t local(int i) {
    // Each with the port after it, for RTCP.
    static const std::uint16_t ports[2] = {rtptest::free_rtp_port(), rtptest::free_rtp_port()};
    return ports[i];
  }
  static LoopbackListener& listener() {
    static LoopbackListener l;
    return l;
  }
  // One slot of every kind, with the answers that it gives.
  static const std::vector<Kind>& kinds() {
    static const std::vector<Kind> list = {
        {"trunk", 0, [](int q, int s) { return trunk_image(q, s, 0, 1); }, none, "TSXSSSTUUUSS"},
        {"trunk_bri", 1023, [](int q, int s) { return trunk_image(q, s, 1, 2, true); }, none, "TSXSSSTUUUSS"},
        {"map", 2, [](int q, int s) { return map_image(q, s, 8192 + 1, 8192 + 2); }, none, "TSXSSSTUUUSS"},
        {"ext", 3, [](int q, int s) { return ext_image(q, s, 5, 6); }, none, "TSXSSSTSUSCS", 'C'},
        {"rtp", 4, [](int q, int s) { return rtp_create(q, s, peer(0).port()); }, rtp, "TSXSSSTUUUSS"},
        {"mixer in", 5, [](int q, int s) { return mixertest::in_image(q, s, 0, {0}); }, "UUUUUUSUUSSSUUUUUUSSUSUSSSUUSSUUSSSUUU", "TSXSSSTUUUCS", 'S', 'C'},
        {"mixer out", 6,
         [](int q, int s) { return mixertest::create(q, s, mixertest::mixer_out(0, {1}, {{{0}, 100}})); }, "UUUUUUUUUSSUUUSUUUSSUUSSSSUUSUUUUSSSSU", "TSXSSSTUUUCS", 'C'},
        {"mcc data", 7,
         [](int q, int s) {
           return command_image(q, s, [](LGCP::Command& c) {
             LGCP::MccParams& p = c.select_create().select_mcc();
             p.set_type(LGCP::MccType::data);
             p.set_mode(LGCP::MccMode::standard);
           });
         },
         none, "TSXSSSTUSUSS"},
        {"hdlc package", 8,
         [](int q, int s) {
           return command_image(q, s, [](LGCP::Command& c) {
             LGCP::HdlcParams& h = c.select_create().select_hdlcParams();
             h.set_trunk(1);
             h.set_log(0);
             h.set_address(3);
           });
         },
         none, "TSXSSSTSUSSS", 'S', 'S', false},
        {"player", 9,
         [](int q, int s) {
           return command_image(q, s, [](LGCP::Command& c) {
             auto& f = c.select_create().select_voice().select_player().select_file();
             f.set_name().push_back(std::string("tone"));
             f.set_repeat(0);
           });
         },
         none, "TSXSSSTUUUCS", 'C'},
        {"recorder", 10,
         [](int q, int s) {
           return command_image(q, s, [](LGCP::Command& c) {
             auto& h = c.select_create().select_voice().select_record();
             h.set_iaddr(std::string("127.0.0.1"));
             h.set_port(listener().port());
           });
         },
         none, "TSXSSSTUUUCS", 'S', 'C'},
        {"t38", 11, [](int q, int s) { return t38test::create(q, s); }, none, "TSXSSSTUUUSS"},
        {"modem", 12,
         [](int q, int s) {
           return create_image(q, s, [](LGCP::CreateParams& p) {
             TERM::ModemParams& m = p.select_modem();
             m.set_cid("");
             m.set_cdid("");
           });
         },
         none, "TSXSSSTUUUSS"},
        {"pstn isdn", 13,
         [](int q, int s) {
           return create_image(q, s, [](LGCP::CreateParams& p) {
             LGCP::IsdnParams& i = p.select_pstn().select_isdn();
             i.set_type(LGCP::IsdnType::pri);
             i.set_trunk(2);
             i.set_log(0);
             i.set_side().select_user();
           });
         },
         none, "TSXSSSTSSSCS", 'S', 'S', false},
        {"pstn ss7", 14,
         [](int q, int s) {
           return create_image(q, s, [](LGCP::CreateParams& p) {
             LGCP::SS7Params& s7 = p.select_pstn().select_ss7();
             s7.set_trunk(3);
             s7.set_slc(1);
             s7.set_dpc(2);
             s7.set_opc(3);
             s7.set_emergency(true);
           });
         },
         "UUUUSSUUUUUUUUUUUUUUUUUUUUUUUUUUUUUUUU", "TSXSSSTSSSCS", 'S', 'S', false},
        {"pstn cas", 15, [](int q, int s) { return create_image(q, s, [](LGCP::CreateParams& p) { p.select_pstn().select_cas(); }); },
         none, "TSXSSSTSSSCS", 'S', 'S', false},
        {"isdn", 16,
         [](int q, int s) {
           return create_image(q, s, [](LGCP::CreateParams& p) {
             LGCP::IsdnParams& i = p.select_isdn();
             i.set_type(LGCP::IsdnType::pri);
             i.set_trunk(1);
             i.set_log(0);
             i.set_side().select_user();
           });
         },
         none, "TSXSSSTSSSSS"},
        {"ats-qsig", 17,
         [](int q, int s) { return create_image(q, s, [](LGCP::CreateParams& p) { p.select_ats_qsig().set_side().select_network(); }); },
         none, "TSXSSSTSSSSS"},
        {"ats-qsig-b", 18,
         [](int q, int s) {
           return create_image(q, s, [](LGCP::CreateParams& p) {
             LGCP::AtsQsigBParams& b = p.select_ats_qsig_b();
             b.set_slot(50u);
             b.set_subslot(1u);
           });
         },
         none, "TSXSSSTUUUSS"},
        {"ed137", 19,
         [](int q, int s) {
           return rtp_create(q, s, peer(1).port(), [](TERM::RtpParams& r) {
             r.set_shost().set_iaddr("127.0.0.1");
             r.set_shost().set_port(local(0));
             radio_test::ed137_header(r.set_radio().set_status().select_ed_137().set_header(), TERM::ED137RadioPTT::ptt_off,
                                      TERM::ED137RadioSQU::squ_on);
           });
         },
         rtp, "TSXSSSTUUUSS"},
        {"zarn", 20,
         [](int q, int s) {
           return rtp_create(q, s, peer(2).port(), [](TERM::RtpParams& r) {
             r.set_shost().set_iaddr("127.0.0.1");
             r.set_shost().set_port(local(1));
             r.set_radio().set_status().select_zarn(radio_test::zarn_status_s(radio_test::zarn_flags(5, false)));
           });
         },
         "UUUUUUSSSSSSSSUUSUSSUSUSSSUUUUSSSUSUUS", "TSXSSSTUUUSS"},
    };
    return list;
  }
};

// Ioctl letters by index (0 to 37):
//   0 activateRecord ... 3 deactivateTonec, 4 ss7RqBSN, 5 ss7Log,
//   6 echoSuppressor, 7/8 wait tone, 9 translateDTMF, 10 dtmf-params,
//   11 dtmf-enable, 12/13 codec modes, 14 dtmf-disable, 15 cas, 16 rtpExt,
//   17..19 vad, 20 hdlcPackages, 21/22 dtmf-reject, 23..25 sd, 26/27 mute,
//   28/29 iva, 30/31 pd, 32 rx-gain, 33 delays, 34 tone-filter,
//   35/36 tone generator, 37 selcal.
// Command letters: query, ping, testBpc, clockCfg, trunkCfg, display,
// protoZarn, activate, userData, deactivate, disconnect.

TEST_F(CommandMatrix, EveryCommandOnEveryKindOfSlot) {
  // Without a slot number only the board's CAS request is an ioctl
  // anybody serves.
  const auto board_row = row(-1);
  EXPECT_EQ(board_row.first, "UUUUUUUUUUUUUUUSUUUUUUUUUUUUUUUUUUUUUU");
  EXPECT_EQ(board_row.second, "SSXSSSTTTTTT");

  // A trunk time slot to feed each slot afterwards.
  ASSERT_EQ(run(30, [](int q) { return trunk_image(q, 30, 0, 9); }), "success");
  // The D channel of the B channel slot.
  ASSERT_EQ(run(50, [](int q) {
              return create_image(q, 50, [](LGCP::CreateParams& p) { p.select_ats_qsig().set_side().select_user(); });
            }),
            "success");
  for (const Kind& k : kinds()) {
    SCOPED_TRACE(k.name);
    ASSERT_EQ(run(k.slot, [&](int q) { return k.create(q, k.slot); }), "success") << srv().log();
    const auto r = row(k.slot);
    EXPECT_EQ(r.first, k.ioctls);
    EXPECT_EQ(r.second, k.commands);
    // Numbers at their ends are answered (refused or not), and the server
    // takes no harm from them.
    {
      Strings images;
      for (int i = 0; i < extreme_count; ++i)
        images.push_back(command_image(++seq_, k.slot, [&](LGCP::Command& c) { fill_extreme(c.select_ioctl(), i); }));
      for (const std::string& a : answers(images))
        EXPECT_EQ(a.find("seq "), 0u) << a;
    }
    // What the slot refuses changes nothing on the board.
    {
      Strings refused;
      for (int i = 0; i < ioctl_count; ++i)
        if (k.ioctls[i] == 'U')
          refused.push_back(command_image(++seq_, k.slot, [&](LGCP::Command& c) { fill_ioctl(c.select_ioctl(), i); }));
      // A digit sequence or wait tone may still be sounding from the row
      // before; the logs empty as they are read.
      Strings before;
      eventually([&] {
        srv().ctl.frames(100);
        before = board();
        return before[5] == "dtmf log: " && before[6] == "dsp log: " && before[7] == "mixer log: ";
      });
      const Strings got = answers(refused);
      for (const std::string& a : got) EXPECT_NE(a.find("error unsupported"), std::string::npos) << a;
      EXPECT_EQ(board(), before);
    }
    // Still there and still carrying what it is given, both ways: the
    // trunk's time slot 9 reaches the slot's receive channel, and the slot's
    // transmit channel reaches the time slot.
    const std::string fed = run(30, [&](int q) { return connect_image(q, 30, k.slot); });
    EXPECT_EQ(letter(fed), k.fed) << fed;
    if (k.fed == 'S') {
      EXPECT_TRUE(path(-1, 9)) << sim("hal list");
    }
    const std::string feeds = run(k.slot, [&](int q) { return connect_image(q, k.slot, 30); });
    EXPECT_EQ(letter(feeds), k.feeds) << feeds;
    if (k.feeds == 'S' && k.transmits) {
      EXPECT_TRUE(path(9, -1)) << sim("hal list");
    }
    const int d = ++seq_;
    EXPECT_EQ(answer(null_command_image(d, k.slot, "destroy")),
              "seq " + std::to_string(d) + " slot " + std::to_string(k.slot) + " success");
    // Gone: every command is told so.
    const auto gone = row(k.slot);
    EXPECT_EQ(gone.first, std::string(ioctl_count, 'N'));
    EXPECT_EQ(gone.second, "TSXSSSTNNNNN");
  }
  EXPECT_TRUE(srv().process->running());
  EXPECT_EQ(srv().log().find("Sanitizer"), std::string::npos) << srv().log();
  EXPECT_EQ(srv().log().find("runtime error"), std::string::npos) << srv().log();
}

TEST_F(CommandMatrix, EveryKindConnectedToEveryKindAndAllTornDown) {
  // Slots of every kind alive together, each connected to each (itself
  // too): every connect answers success or connectFail for the source's
  // number, and when they are all destroyed the board holds nothing.
  ASSERT_EQ(run(50, [](int q) {
              return create_image(q, 50, [](LGCP::CreateParams& p) { p.select_ats_qsig().set_side().select_user(); });
            }),
            "success");
  std::map<int, std::string> made;
  for (const Kind& k : kinds()) {
    const std::string a = run(k.slot, [&](int q) { return k.create(q, k.slot); });
    EXPECT_EQ(a, "success") << k.name;
    made[k.slot] = k.name;
  }
  // A create on a live number replaces the slot.
  for (const Kind& k : kinds())
    EXPECT_EQ(run(k.slot, [&](int q) { return k.create(q, k.slot); }), "success") << k.name;
  std::string table;
  for (const auto& source : made) {
    Strings images;
    std::vector<int> seqs;
    for (const auto& receiver : made) {
      seqs.push_back(++seq_);
      images.push_back(connect_image(seq_, source.first, receiver.first));
    }
    const Strings got = answers(images);
    table += source.second + ":";
    for (std::size_t i = 0; i < got.size(); ++i) {
      const std::string head = "seq " + std::to_string(seqs[i]) + " slot " + std::to_string(source.first) + " ";
      table += got[i].compare(0, head.size(), head) == 0 ? letter(got[i].substr(head.size())) : '?';
    }
    table += "\n";
  }
  std::istringstream rows(table);
  for (std::string r; std::getline(rows, r);)
    EXPECT_EQ(r.find_first_not_of("SC", r.find(':') + 1), std::string::npos) << r;
  Strings destroys;
  for (const auto& slot : made) destroys.push_back(null_command_image(++seq_, slot.first, "destroy"));
  destroys.push_back(null_command_image(++seq_, 50, "destroy"));
  for (const std::string& a : answers(destroys)) EXPECT_NE(a.find(" success"), std::string::npos) << a;
  EXPECT_TRUE(eventually([&] {
    return sim("hal list") == "" && sim("mcc channels") == "" && sim("dspdata channels") == "" &&
           sim("rtp sessions").find("open") == std::string::npos;
  })) << sim("hal list") << "\n" << sim("mcc channels") << "\n" << sim("dspdata channels") << "\n" << sim("rtp sessions");
  EXPECT_TRUE(srv().process->running());
  EXPECT_EQ(srv().log().find("Sanitizer"), std::string::npos) << srv().log();
}

TEST_F(CommandMatrix, ASlotWhoseReleaseIsPendingTakesCommandsButNoCreateOrDestroy) {
  // A modem whose pppd ignores the hangup: its release waits for it.
  std::ofstream(srv().board("/var/standin/pppd.mode")) << "never\n";
  const std::string pppd_log = srv().board("/var/standin/pppd.log");
  const std::size_t started = file_text(pppd_log).size();
  ASSERT_EQ(run(31, [](int q) { return trunk_image(q, 31, 0, 10); }), "success");
  ASSERT_EQ(run(40,
                [](int q) {
                  return create_image(q, 40, [](LGCP::CreateParams& p) {
                    TERM::ModemParams& m = p.select_modem();
                    m.set_cid("");
                    m.set_cdid("");
                  });
                }),
            "success");
  ASSERT_EQ(run(31, [](int q) { return connect_image(q, 31, 40); }), "success");
  ASSERT_TRUE(eventually([&] { return file_text(pppd_log).find("pid ", started) != std::string::npos; }))
      << file_text(pppd_log);
  const int destroy = ++seq_;
  stray().clear();
  srv().ctl.send(null_command_image(destroy, 40, "destroy"));
  ASSERT_TRUE(eventually([&] { return file_text(pppd_log).find("signal 1", started) != std::string::npos; }))
      << file_text(pppd_log);

  const auto r = row(40);
  EXPECT_EQ(r.first, none);
  const int again = ++seq_, create = ++seq_;
  EXPECT_EQ(answers({null_command_image(again, 40, "destroy"), trunk_image(create, 40, 0, 11)}),
            (Strings{"seq " + std::to_string(again) + " slot 40 error destroyInProgress",
                     "seq " + std::to_string(create) + " slot 40 error destroyInProgress"}));
  // The release ends (the hangup's time is up): one success for the first
  // destroy, and the number is free.
  const std::string done = "seq " + std::to_string(destroy) + " slot 40 success";
  EXPECT_TRUE(eventually([&] {
    for (const std::string& f : srv().ctl.frames(100)) stray().push_back(describe(f));
    return std::count(stray().begin(), stray().end(), done) == 1;
  })) << ::testing::PrintToString(stray());
  EXPECT_EQ(run(40, [](int q) { return null_command_image(q, 40, "disconnect"); }), "error slotNotExists");

  // A create whose number's old slot cannot go at once is refused, and so
  // is everything but connecting and the slot's own requests until it has
  // gone; its going answers nothing.
  const Image modem = [](int q, int s) {
    return create_image(q, s, [](LGCP::CreateParams& p) {
      TERM::ModemParams& m = p.select_modem();
      m.set_cid("");
      m.set_cdid("");
    });
  };
  // pppd programs started so far.
  const auto started_pppds = [&] {
    const std::string l = file_text(pppd_log);
    std::size_t n = 0;
    for (std::size_t at = 0; (at = l.find("pid ", at)) != std::string::npos; ++at) ++n;
    return n;
  };
  const std::size_t pids = started_pppds();
  ASSERT_EQ(run(41, [&](int q) { return modem(q, 41); }), "success");
  ASSERT_EQ(run(31, [](int q) { return connect_image(q, 31, 41); }), "success");
  ASSERT_TRUE(eventually([&] { return started_pppds() > pids; })) << file_text(pppd_log);
  stray().clear();
  EXPECT_EQ(run(41, [](int q) { return trunk_image(q, 41, 0, 12); }), "error slotIdBusy");
  EXPECT_EQ(run(41, [](int q) { return trunk_image(q, 41, 0, 12); }), "error destroyInProgress");
  EXPECT_EQ(run(41, [](int q) { return null_command_image(q, 41, "destroy"); }), "error destroyInProgress");
  EXPECT_EQ(run(41, [](int q) { return connect_image(q, 41, 31); }), "success");
  EXPECT_EQ(run(41, [&](int q) { return command_image(q, 41, [](LGCP::Command& c) { c.select_ioctl().select_vad_enable(true); }); }),
            "error unsupported");
  EXPECT_TRUE(eventually([&] { return run(41, [](int q) { return trunk_image(q, 41, 0, 12); }) == "success"; }));
  for (const std::string& f : stray()) EXPECT_EQ(f.find(" success"), std::string::npos) << f;

  EXPECT_EQ(run(41, [](int q) { return null_command_image(q, 41, "destroy"); }), "success");
  EXPECT_EQ(run(31, [](int q) { return null_command_image(q, 31, "destroy"); }), "success");
  // What the modems were connected to is given up with them.
  EXPECT_TRUE(eventually([] { return sim("hal list") == ""; })) << sim("hal list");
  std::ofstream(srv().board("/var/standin/pppd.mode")) << "hup 0\n";
  EXPECT_EQ(srv().log().find("Sanitizer"), std::string::npos) << srv().log();
}

}  // namespace
