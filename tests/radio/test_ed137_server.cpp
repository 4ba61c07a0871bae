// Black-box: ED-137 radio channels of the running server. A TCP controller
// creates, steers and destroys them; a UDP peer on 127.0.0.1 stands for the
// radio's ground side and receives the header extensions the channel
// sends; the simulator's control socket injects the ground's payloads and
// reads the RTP and header-extension sessions. Timings are real: the
// keep-alive cases wait a few seconds.
#include "tests/media/rtp_fixture.h"
#include "tests/radio/radio_bytes.h"
#include "tests/radio/zarn_values.h"
#include "tests/slots/slots_server.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

using namespace slotstest;
using namespace testsupport;
using namespace rtptest;
using P = TERM::Payload;

namespace {

const std::string kAbort30 = "40 00 1E 87 02 00 97";

class Ed137Server : public ServerSuite {
 protected:
  // An ED-137 create for slot `slot`: G.711 A-law to 127.0.0.1:dport from
  // the local port `local`, status squ-on and the rest 0; `more` adds to the
  // status and the RTP parameters.
  static std::string create(int seq, int slot, std::uint16_t dport, std::uint16_t local,
                            const std::function<void(TERM::ED137RadioStatus&, TERM::RtpParams&)>& more = nullptr,
                            bool zarn = false) {
    const LGCP::CreateParams p =
        rtp_params(P::ptG711_Alaw, "127.0.0.1", dport, P::ptG711_Alaw, P::ptG711_Alaw, [&](TERM::RtpParams& r) {
          r.set_shost().set_iaddr("127.0.0.1");
          r.set_shost().set_port(local);
          TERM::RtpRadioRequest& radio = r.set_radio();
          if (zarn) {
            radio.set_status().select_zarn();
            return;
          }
          TERM::ED137RadioStatus& st = radio.set_status().select_ed_137();
          radio_test::ed137_header(st.set_header(), TERM::ED137RadioPTT::ptt_off, TERM::ED137RadioSQU::squ_on);
          if (more) more(st, r);
        });
    return create_image(seq, slot, [&](LGCP::CreateParams& c) { c = p; });
  }
  static std::string ioctl(int seq, int slot, const std::function<void(LGCP::IoctlParams&)>& fill) {
    return command_image(seq, slot, [&](LGCP::Command& c) { fill(c.select_ioctl()); });
  }
  // ioctl rtpExt rx {ptt, squ, ptt-id 5, summation; sqi c-n 31 when asked}.
  static std::string rx(int seq, int slot, int ptt, int squ, const char* addr, bool sqi = true) {
    return ioctl(seq, slot, [&](LGCP::IoctlParams& i) {
      TERM::ED137RadioModifier& m = i.select_rtpExt().select_ed_137();
      m.set_addr().set_session_addr(addr);
      m.set_addr().set_session_ssrc(4660u);
      TERM::ED137RadioRxCommand& c = m.set_params().select_rx();
      TERM::ED137RadioHeader& h = c.set_header();
      h.set_ptt(static_cast<TERM::ED137RadioPTT::NamedNumber>(ptt));
      h.set_squ(static_cast<TERM::ED137RadioSQU::NamedNumber>(squ));
      h.set_ptt_id(5u);
      h.set_ptt_mute(false);
      h.set_ptt_summation(true);
      h.set_sct(false);
      if (sqi) {
        c.set_sqi().set_bss_method(TERM::ED137RadioBSSMethod::c_n);
        c.ref_sqi().set_bss_quality(31u);
      }
    });
  }
  static std::string destroy(int seq, int slot) { return null_command_image(seq, slot, "destroy"); }
  static std::string sim(const std::string& request) { return srv().sim.ask(request); }
  static Strings lines(const std::string& request) {
    Strings out;
    std::istringstream in(sim(request));
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
  }
  // The channel of a "slot N transmitter active T" line.
  static int channel_of(const std::string& line) {
    const auto at = line.rfind(' ');
    return at == std::string::npos ? -1 : std::atoi(line.c_str() + at + 1);
  }
  // The line (from 1) of the newest RTP session on a channel.
  static int rtp_line(int tdm) {
    const Strings s = lines("rtp sessions");
    int found = 0;
    for (std::size_t i = 0; i < s.size(); ++i)
      if (s[i].find(",tdm=" + std::to_string(tdm) + ",") != std::string::npos) found = static_cast<int>(i) + 1;
    return found;
  }
  static std::string rtp_ops(int tdm) {
    const Strings s = lines("rtp sessions");
    const int k = rtp_line(tdm);
    return k ? s[k - 1].substr(s[k - 1].find(",ops=") + 5) : "";
  }
  // Instance lines without their number; the newest last.
  static Strings instances() {
    Strings out;
    for (const auto& l : lines("rtpext sessions")) out.push_back(l.substr(l.find(',') + 1));
    return out;
  }
  static std::string newest_instance() {
    const Strings s = instances();
    return s.empty() ? "" : s.back();
  }
  // The header-extension payloads written on a channel since the last ask.
  static Strings written(int tdm) {
    Strings out;
    for (const auto& l : lines("rtpext sent " + std::to_string(tdm))) out.push_back(l.substr(l.find(' ') + 1));
    return out;
  }
  static std::vector<long long> written_times(int tdm) {
    std::vector<long long> out;
    for (const auto& l : lines("rtpext sent " + std::to_string(tdm))) out.push_back(std::atoll(l.c_str()));
    return out;
  }
  static std::string inject(int tdm, const char* addr, const char* hex) {
    return sim("rtpext inject " + std::to_string(tdm) + " " + addr + " 4660 " + hex);
  }
  // The header-extension payload of an RTP packet from the peer (its whole
  // padded words); "" for no packet.
  static std::string extension(const std::string& packet) {
    const radio_test::Bytes b = radio_test::hex(packet);
    if (b.size() < 16 || !(b[0] & 0x10)) return "";
    const std::size_t words = (std::size_t(b[14]) << 8) | b[15];
    if (b.size() < 16 + 4 * words) return "bad length";
    return radio_test::hex(b.data() + 16, 4 * words);
  }
  // Creates and reads the three answers; the slot's channel, -1 on failure.
  static int made(const std::string& image, int seq, int slot) {
    const Strings a = ask(image, 3);
    if (a.size() != 3 || a[0] != "seq " + std::to_string(seq) + " slot " + std::to_string(slot) + " success") {
      ADD_FAILURE() << ::testing::PrintToString(a) << srv().log();
      return -1;
    }
    return channel_of(a[1]);
  }
  // Passes slot 30's keep-alive aborts (and those of `other`) by while it
  // lives.
  struct IgnoreAborts {
    explicit IgnoreAborts(const std::string& other = kAbort30) : saved(srv().ctl.drop) {
      srv().ctl.drop = [this, other](const std::string& f) {
        return f == kAbort30 || f == other || (saved && saved(f));
      };
    }
    ~IgnoreAborts() { srv().ctl.drop = saved; }
    std::function<bool(const std::string&)> saved;
  };
};

// A pcap of the peer's packets, as UDP from 127.0.0.1 to the peer's port.
void write_capture(const std::string& path, const std::vector<radio_test::Bytes>& packets, std::uint16_t port) {
  radio_test::Bytes out;
  const auto le32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  le32(0xA1B2C3D4);
  out.insert(out.end(), {2, 0, 4, 0});
  le32(0);
  le32(0);
  le32(65535);
  le32(101);  // raw IPv4
  std::uint32_t n = 0;
  for (const auto& rtp : packets) {
    radio_test::Bytes ip = {0x45, 0, 0, 0, 0, 0, 0x40, 0, 64, 17, 0, 0, 127, 0, 0, 1, 127, 0, 0, 1};
    const std::size_t total = 20 + 8 + rtp.size();
    ip[2] = static_cast<std::uint8_t>(total >> 8);
    ip[3] = static_cast<std::uint8_t>(total);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < 20; i += 2) sum += (ip[i] << 8) | ip[i + 1];
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    ip[10] = static_cast<std::uint8_t>(~sum >> 8);
    ip[11] = static_cast<std::uint8_t>(~sum);
    const std::size_t ulen = 8 + rtp.size();
    ip.insert(ip.end(), {0x9C, 0x40, static_cast<std::uint8_t>(port >> 8), static_cast<std::uint8_t>(port),
                         static_cast<std::uint8_t>(ulen >> 8), static_cast<std::uint8_t>(ulen), 0, 0});
    ip.insert(ip.end(), rtp.begin(), rtp.end());
    le32(++n);
    le32(0);
    le32(static_cast<std::uint32_t>(ip.size()));
    le32(static_cast<std::uint32_t>(ip.size()));
    out.insert(out.end(), ip.begin(), ip.end());
  }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(out.data()),
                                              static_cast<std::streamsize>(out.size()));
}

std::string tshark_line(const std::string& path, std::uint16_t port, int frame) {
  const std::string a = "rtp.ext.ed137a.";
  std::string cmd = "tshark -r " + path + " -d udp.port==" + std::to_string(port) +
                    ",rtp -T fields -E separator=, -E occurrence=a -E aggregator=, -Y frame.number==" +
                    std::to_string(frame);
  for (const char* f : {"ptt_type", "squ", "ptt_id", "pm", "ptts", "sct", "x", "ft.type", "ft.len", "ft.sqi.qidx",
                        "ft.sqi.qidx-ml"})
    cmd += " -e " + a + f;
  cmd += " 2>/dev/null";
  std::string text;
  if (FILE* in = popen(cmd.c_str(), "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, in)) text += buf;
    pclose(in);
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  // Numbers as integers, whatever base tshark prints them in.
  std::string out, cell;
  std::istringstream cells(text);
  while (std::getline(cells, cell, ',')) out += (out.empty() ? "" : ", ") + std::to_string(std::strtol(cell.c_str(), nullptr, 0));
  return out;
}

TEST_F(Ed137Server, CreateAndPushToTalkBothWays) {
  IgnoreAborts quiet;
  UdpPeer ground;
  ASSERT_TRUE(ground.ok());
  const std::uint16_t Q = free_rtp_port();
  const int T = made(create(1, 30, ground.port(), Q), 1, 30);
  ASSERT_GE(T, 0);
  const std::string K = std::to_string(rtp_line(T));
  EXPECT_EQ(newest_instance(), "open,etype=0x0167,init=1.123.10.1,rtp=" + K + ",pid=-1,filter=-,dropped=0,ops=init/attach:" + K);
  EXPECT_TRUE(srv().wait_log("rtp ext ED137[0,0,0,0]: do create rtp ext ED137: ")) << srv().log();
  std::vector<radio_test::Bytes> packets;
  const std::string first = ground.receive(patience_ms);
  EXPECT_EQ(extension(first), "10 00 00 00");
  EXPECT_EQ(first.substr(0, 6), "90 08 ");  // header extension, A-law

  // The controller keys the radio for the ground at 10.0.0.7.
  EXPECT_EQ(ask(rx(2, 30, 1, 1, "10.0.0.7")), Strings{"seq 2 slot 30 success"});
  std::string p;
  do {  // keep-alives of the creation status may come first
    p = ground.receive(patience_ms);
  } while (!p.empty() && extension(p) == "10 00 00 00");
  EXPECT_EQ(extension(p), "31 51 11 FA");
  packets.push_back(radio_test::hex(p));
  EXPECT_NE(newest_instance().find(",filter=10.0.0.7,dropped=0,ops=init/attach:" + K + "/filter:10.0.0.7"), std::string::npos)
      << newest_instance();

  // The ground's push-to-talk reaches the controller once per change.
  EXPECT_EQ(inject(T, "10.0.0.7", "21500000"), "");
  EXPECT_EQ(srv().ctl.next(patience_ms), "40 00 1E 8F 41 21 45 45 F4 08 31 30 2E 30 2E 30 2E 37 40 12 34 41 05 40");
  EXPECT_EQ(inject(T, "10.0.0.7", "21500000"), "");
  EXPECT_EQ(inject(T, "10.0.0.8", "21500000"), "");  // another source while 10.0.0.7 holds it
  EXPECT_EQ(extra(300), Strings{});
  EXPECT_NE(newest_instance().find(",dropped=1,"), std::string::npos) << newest_instance();

  // Released: the filter goes, the other source is heard.
  EXPECT_EQ(ask(rx(3, 30, 0, 1, "10.0.0.7", false)), Strings{"seq 3 slot 30 success"});
  EXPECT_NE(newest_instance().find(",filter=-,dropped=1,ops=init/attach:" + K + "/filter:10.0.0.7/reset"), std::string::npos)
      << newest_instance();
  EXPECT_EQ(inject(T, "10.0.0.8", "21500000"), "");
  EXPECT_EQ(frames(1), Strings{"slot 30 signal rtpExt"});

  // Requests this side cannot serve: Zarn, an unknown ED-137 params
  // alternative (an extension of the choice), an address that is no dotted
  // quad. Nothing is sent for them.
  written(T);
  const std::string image = rx(4, 30, 1, 1, "10.0.0.7", false);
  const std::string ssrc = " 12 34 ";
  const std::string params = image.substr(0, image.find(ssrc) + ssrc.size()) + "80 01 00";
  const std::string zarn = ioctl(5, 30, [](LGCP::IoctlParams& i) {
    TERM::ZarnRadioModifier& z = i.select_rtpExt().select_zarn();
    z.set_addr().set_session_addr("10.0.0.7");
    z.set_addr().set_session_ssrc(4660u);
    z.set_params().select_gw_set_standby().set_state(TERM::RadioStandby::active);
  });
  EXPECT_EQ(ask({zarn, params,
                 rx(6, 30, 1, 1, "10.0.0.256")},
                3),
            (Strings{"seq 5 slot 30 error unsupported", "seq 4 slot 30 error unsupported",
                     "seq 6 slot 30 error unsupported"}));
  for (const auto& w : written(T)) EXPECT_EQ(w, "11500000") << "only keep-alives";

  // A pcap of the peer's packet reads as the radio's fields in tshark.
  if (std::system("command -v tshark >/dev/null 2>&1") == 0) {
    write_capture("ed137_server.pcap", packets, ground.port());
    EXPECT_EQ(tshark_line("ed137_server.pcap", ground.port(), 1), "1, 1, 5, 0, 1, 0, 1, 1, 1, 31, 2");
  }

  // Destroyed: detached and closed; nothing more is signalled.
  EXPECT_EQ(ask(destroy(7, 30)), Strings{"seq 7 slot 30 success"});
  EXPECT_EQ(newest_instance().substr(0, 7), "closed,");
  EXPECT_NE(newest_instance().find("/reset/detach"), std::string::npos) << newest_instance();
  EXPECT_EQ(rtp_ops(T), "begin/add:-1/r10/r3/r11/pd_reset:1");
  // The slot's control runs without its per-packet trace.
  EXPECT_EQ(srv().log().find(" extension "), std::string::npos) << srv().log();
}

TEST_F(Ed137Server, KeepAliveSupervision) {
  UdpPeer ground;
  const std::uint16_t Q = free_rtp_port();
  const std::int64_t t0 = real_ms();
  const int T = made(create(1, 30, ground.port(), Q), 1, 30);
  ASSERT_GE(T, 0);
  // The channel's record may still hold what slots of earlier cases wrote
  // on it (their keep-alives went on while they lived): only this slot's
  // writes are timed below.
  written(T);
  // No ground payload: abort 151 about 2 s after the create, then each second.
  EXPECT_EQ(srv().ctl.next(patience_ms), kAbort30) << srv().log();
  const std::int64_t t1 = real_ms();
  EXPECT_EQ(srv().ctl.next(patience_ms), kAbort30);
  const std::int64_t t2 = real_ms();
  EXPECT_GE(t1 - t0, 1800);
  // A loaded machine (the emulator) makes a tick late, never early; half
  // or twice the period is still told apart.
  EXPECT_GE(t2 - t1, 700);
  EXPECT_LE(t2 - t1, 1700);
  // Ground payloads every 400 ms hold it off.
  const std::int64_t start = real_ms();
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(inject(T, "10.0.0.7", "21500000"), "");
    const std::int64_t until = start + 400 * (i + 1);
    for (std::int64_t left; (left = until - real_ms()) > 0;)
      for (const auto& f : srv().ctl.frames(static_cast<int>(left))) EXPECT_NE(f, kAbort30) << i;
  }
  // Then silence: the next abort comes about 2 s after the last payload.
  std::string f;
  do {
    f = srv().ctl.next(patience_ms);
  } while (!f.empty() && f != kAbort30);
  EXPECT_EQ(f, kAbort30);
  EXPECT_GE(real_ms() - start, 2400 + 1700);
  {
    // The next abort may come before the answer; none after it.
    IgnoreAborts quiet;
    EXPECT_EQ(ask(destroy(2, 30)), Strings{"seq 2 slot 30 success"});
  }
  // The keep-alive went out each second with the creation status.
  const auto times = written_times(T);
  ASSERT_GE(times.size(), 4u);
  for (std::size_t i = 2; i < times.size(); ++i) {
    EXPECT_GE(times[i] - times[i - 1], 700) << i;
    EXPECT_LE(times[i] - times[i - 1], 1700) << i;
  }
  EXPECT_EQ(extra(1300), Strings{});

  // Period 1000, multiplier 3, sigtime 4, pfactor 4: keep-alives 1500 ms apart.
  IgnoreAborts quiet;
  const int U = made(create(3, 30, ground.port(), Q,
                            [](TERM::ED137RadioStatus& st, TERM::RtpParams& r) {
                              TERM::ED137RadioResponse& resp = st.set_radio_response();
                              resp.set_type(TERM::ED137RadioType::radio_txrx);
                              resp.set_txrxmode(TERM::ED137RadioTxRxMode::txrx);
                              resp.set_r2s_keepalive_period(1000u);
                              resp.set_r2s_keepalive_multiplier(3u);
                              resp.set_sigtime(4u);
                              r.set_pfactor(4);
                            }),
                     3, 30);
  ASSERT_GE(U, 0);
  EXPECT_NE(newest_instance().find(",init=1.123.100.4,"), std::string::npos) << newest_instance();
  std::vector<long long> ka;
  EXPECT_TRUE(eventually([&] {
    for (long long t : written_times(U)) ka.push_back(t);
    return ka.size() >= 3;
  }));
  ASSERT_GE(ka.size(), 3u);
  EXPECT_GE(ka[2] - ka[1], 1250);  // late under load, never early
  EXPECT_LE(ka[2] - ka[1], 2300);
  // The gateway's request in RX form, sent mid-period, starts the period
  // again: the next keep-alive comes a whole period after it.
  srv().ctl.frames(600);
  written_times(U);
  EXPECT_EQ(ask(rx(4, 30, 1, 1, "10.0.0.7")), Strings{"seq 4 slot 30 success"});
  std::vector<long long> w;
  EXPECT_TRUE(eventually([&] {
    for (long long t : written_times(U)) w.push_back(t);
    return w.size() >= 2;
  }));
  ASSERT_GE(w.size(), 2u);
  EXPECT_GE(w[1] - w[0], 1400);
  EXPECT_EQ(ask(destroy(5, 30)), Strings{"seq 5 slot 30 success"});
}

// A newer controller's push-to-talk type beyond the three bits of the
// header extension: no slot for such a creation status, an error for such
// a request, and never the type its low bits make on the wire.
TEST_F(Ed137Server, ValuesBeyondTheHeaderExtensionFieldsAreRefused) {
  IgnoreAborts quiet("40 00 20 87 02 00 97");
  UdpPeer ground;
  ASSERT_TRUE(ground.ok());
  const std::uint16_t Q = free_rtp_port();
  const auto ptt12 = [](TERM::ED137RadioStatus& st, TERM::RtpParams&) {
    st.ref_header().set_ptt(static_cast<TERM::ED137RadioPTT::NamedNumber>(12));
  };
  const Strings before = instances();
  EXPECT_EQ(ask(create(1, 32, ground.port(), Q, ptt12)), Strings{"seq 1 slot 32 error insufficientResources"});
  EXPECT_TRUE(srv().wait_log("status beyond the header extension's fields")) << srv().log();
  EXPECT_EQ(instances(), before);

  const int T = made(create(2, 32, ground.port(), Q), 2, 32);
  ASSERT_GE(T, 0);
  EXPECT_EQ(ask({rx(3, 32, 12, 1, "10.0.0.7"), rx(4, 32, 7, 1, "10.0.0.7")}, 2),
            (Strings{"seq 3 slot 32 error unsupported", "seq 4 slot 32 success"}));
  EXPECT_EQ(ask(destroy(5, 32)), Strings{"seq 5 slot 32 success"});
  // The creation status's keep-alives, then the request taken (with its
  // own keep-alives); nothing of the refused one.
  bool keyed = false;
  for (const auto& w : written(T)) {
    if (w == "F15111FA")
      keyed = true;
    else
      EXPECT_EQ(w, keyed ? "F15111FA" : "10000000");
  }
  EXPECT_TRUE(keyed);
}

TEST_F(Ed137Server, RadioKindsAndSquelchGatedTransmission) {
  IgnoreAborts quiet;
  UdpPeer ground;
  const std::uint16_t Q = free_rtp_port();
  // A receive-only radio never hears the ground's push-to-talk.
  const int T = made(create(1, 30, ground.port(), Q,
                            [](TERM::ED137RadioStatus& st, TERM::RtpParams&) {
                              TERM::ED137RadioResponse& resp = st.set_radio_response();
                              resp.set_type(TERM::ED137RadioType::radio_rxonly);
                              resp.set_txrxmode(TERM::ED137RadioTxRxMode::txrx);
                            }),
                     1, 30);
  ASSERT_GE(T, 0);
  EXPECT_EQ(inject(T, "10.0.0.7", "21500000"), "");
  EXPECT_EQ(extra(500), Strings{});
  EXPECT_EQ(ask(destroy(2, 30)), Strings{"seq 2 slot 30 success"});

  // Transmission follows the radio's squelch, found at each ioctl.
  const int U = made(create(3, 30, ground.port(), Q,
                            [](TERM::ED137RadioStatus& st, TERM::RtpParams&) {
                              st.ref_header().set_squ(TERM::ED137RadioSQU::squ_off);
                              TERM::ED137RadioResponse& resp = st.set_radio_response();
                              resp.set_type(TERM::ED137RadioType::radio_txrx);
                              resp.set_txrxmode(TERM::ED137RadioTxRxMode::txrx);
                              resp.set_transmission_depend_on_squ(true);
                            }),
                     3, 30);
  ASSERT_GE(U, 0);
  EXPECT_EQ(rtp_ops(U), "begin/add:-1");
  EXPECT_EQ(ask({rx(4, 30, 0, 1, "10.0.0.7"), rx(5, 30, 1, 1, "10.0.0.7")}, 2),
            (Strings{"seq 4 slot 30 success", "seq 5 slot 30 success"}));
  EXPECT_EQ(rtp_ops(U), "begin/add:-1/start_tx");
  EXPECT_EQ(ask(rx(6, 30, 0, 0, "10.0.0.7")), Strings{"seq 6 slot 30 success"});
  EXPECT_EQ(rtp_ops(U), "begin/add:-1/start_tx/stop_tx");
  EXPECT_EQ(ask(destroy(7, 30)), Strings{"seq 7 slot 30 success"});

  // A Zarn status is not an ED-137 radio: no ED-137 session is opened.
  const std::size_t n = instances().size();
  srv().ctl.send(create(8, 30, ground.port(), Q, nullptr, true));
  const Strings answer = frames(1);
  ASSERT_EQ(answer.size(), 1u);
  if (answer[0] == "seq 8 slot 30 success") {
    frames(2);
    EXPECT_EQ(ask(destroy(9, 30)), Strings{"seq 9 slot 30 success"});
  }
  const Strings after = instances();
  for (std::size_t i = n; i < after.size(); ++i) EXPECT_EQ(after[i].find("etype=0x0167"), std::string::npos) << after[i];
}

TEST_F(Ed137Server, CodecRestartAndHeaderExtensionFailures) {
  UdpPeer ground;
  const std::uint16_t Q = free_rtp_port();
  IgnoreAborts quiet;
  const int T = made(create(1, 30, ground.port(), Q), 1, 30);
  ASSERT_GE(T, 0);
  const std::string K = std::to_string(rtp_line(T));
  EXPECT_EQ(ask(ioctl(2, 30, [](LGCP::IoctlParams& i) { i.select_decoder_mode(LGCP::CodecMode::ulaw); })),
            Strings{"seq 2 slot 30 success"});
  const std::string K2 = std::to_string(rtp_line(T));
  EXPECT_NE(K, K2);
  const Strings s = instances();
  ASSERT_GE(s.size(), 2u);
  EXPECT_EQ(s[s.size() - 2], "closed,etype=0x0167,init=1.123.10.1,rtp=-,pid=-1,filter=-,dropped=0,ops=init/attach:" + K + "/detach");
  EXPECT_EQ(s.back(), "open,etype=0x0167,init=1.123.10.1,rtp=" + K2 + ",pid=-1,filter=-,dropped=0,ops=init/attach:" + K2);
  // The ground is heard on the new session.
  EXPECT_EQ(inject(T, "10.0.0.7", "21500000"), "");
  EXPECT_EQ(frames(1), Strings{"slot 30 signal rtpExt"});

  // The header-extension device refuses the set-up: the slot is made all
  // the same and only the keep-alive supervision speaks for it.
  EXPECT_EQ(sim("rtpext fail init EIO"), "");
  UdpPeer ground2;
  const std::uint16_t Q2 = free_rtp_port();
  const int U = made(create(3, 31, ground2.port(), Q2), 3, 31);
  ASSERT_GE(U, 0);
  const std::regex line("rtp_ext\\[" + std::to_string(U) +
                        "\\] \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{6}:init rtp_ext session fail !!!\n");
  EXPECT_TRUE(eventually([&] { return std::regex_search(srv().log(), line); })) << srv().log();
  const std::string abort31 = "40 00 1F 87 02 00 97";
  EXPECT_TRUE(eventually([&] {
    for (const auto& f : srv().ctl.frames(200))
      if (f == abort31) return true;
    return false;
  }));
  {
    // Slot 31's next abort may come before the answers.
    IgnoreAborts quiet31(abort31);
    EXPECT_EQ(ask({destroy(4, 30), destroy(5, 31)}, 2), (Strings{"seq 4 slot 30 success", "seq 5 slot 31 success"}));
  }
  EXPECT_EQ(newest_instance().substr(0, 7), "closed,");

  // Voice processing the DSP refused at creation: no slot, its sessions
  // closed, nothing sent to the ground; made once the DSP takes it.
  while (!ground2.receive(100).empty()) {
  }
  const auto bss = [&](int seq) {
    return create(seq, 32, ground2.port(), Q2,
                  [](TERM::ED137RadioStatus&, TERM::RtpParams& r) { r.ref_radio().set_bss_enable(true); });
  };
  ASSERT_EQ(sim("dsp fail DSPROC_ENABLE 5 1"), "");
  EXPECT_EQ(ask(bss(6)), Strings{"seq 6 slot 32 error insufficientResources"});
  EXPECT_TRUE(srv().wait_log("rtp do not created: voice processing refused\n")) << srv().log();
  EXPECT_EQ(newest_instance().substr(0, 7), "closed,");
  EXPECT_EQ(lines("rtp sessions").back().substr(0, 7), "closed,");
  EXPECT_EQ(ground2.receive(100), "");
  EXPECT_GE(made(bss(7), 7, 32), 0);
  EXPECT_EQ(ask(destroy(8, 32)), Strings{"seq 8 slot 32 success"});

  // A negative delay is refused like a refused one, not sent as a delay of
  // some 49 days (the unit's field is unsigned).
  const auto delayed = [&](int seq, int rx, int tx) {
    return create(seq, 33, ground2.port(), Q2, [rx, tx](TERM::ED137RadioStatus&, TERM::RtpParams& r) {
      r.ref_radio().set_rx_delay(rx);
      r.ref_radio().set_tx_delay(tx);
    });
  };
  sim("dsp log");
  EXPECT_EQ(ask(delayed(9, -20, 0)), Strings{"seq 9 slot 33 error insufficientResources"});
  EXPECT_TRUE(srv().wait_log("negative delay refused: rx=-20 tx=0\n")) << srv().log();
  EXPECT_EQ(sim("dsp log").find("DSPROC_CONFIGURE"), std::string::npos);
  // A refused echo canceller is not made good by the delays that follow it.
  ASSERT_EQ(sim("dtmf fail CHANNEL_LMS_ON 5 1"), "");
  EXPECT_EQ(ask(create(16, 33, ground2.port(), Q2, [](TERM::ED137RadioStatus&, TERM::RtpParams& r) {
              r.set_echo().set_suppressor(true);
              r.set_echo().set_canceller(true);
              r.ref_radio().set_rx_delay(20);
            })),
            Strings{"seq 16 slot 33 error insufficientResources"});
  // Voice processing refused after the echo canceller was switched on: the
  // refused slot leaves nothing on, neither the canceller nor what the
  // voice-processing unit took before the refusal. The units' requests,
  // the channel written T and an enable's id left out.
  const auto unit_requests = [&] {
    std::string out, t;
    std::istringstream in(sim("dtmf log") + "\n" + sim("dsp log"));
    for (std::string l; std::getline(in, l);) {
      std::istringstream words(l);
      std::vector<std::string> w;
      for (std::string x; words >> x;) w.push_back(x);
      if (w.size() < 2) continue;
      if (t.empty() && w[0] != "DSPROC_GET_VERSION") t = w[1];
      if (w[1] == t) w[1] = "T";
      if (w.size() == 4 && w[0] == "DSPROC_ENABLE") w.erase(w.begin() + 2);
      out += out.empty() ? "" : " | ";
      for (std::size_t i = 0; i < w.size(); ++i) out += (i ? " " : "") + w[i];
    }
    return out;
  };
  const struct {
    const char* fail;  // a unit failure set up first
    std::function<void(TERM::RtpRadioRequest&)> radio;
    const char* requests;
  } half_way[] = {
      {"", [](TERM::RtpRadioRequest& r) { r.set_rx_delay(-20); }, "CHANNEL_LMS_ON T | CHANNEL_LMS_OFF T | "
                                                                  "DSPROC_DISABLE T 0 256"},
      {"dsp fail DSPROC_CONFIGURE 5 1", [](TERM::RtpRadioRequest& r) { r.set_rx_delay(20); },
       "CHANNEL_LMS_ON T | CHANNEL_LMS_OFF T | DSPROC_CONFIGURE T 32 20 0 | DSPROC_CONFIGURE T 32 0 0 | "
       "DSPROC_DISABLE T 0 256"},
      {"dsp fail DSPROC_ENABLE 5 1",
       [](TERM::RtpRadioRequest& r) {
         r.set_tx_delay(30);
         r.set_ng_enable(true);
       },
       "CHANNEL_LMS_ON T | CHANNEL_LMS_OFF T | DSPROC_CONFIGURE T 32 0 30 | DSPROC_ENABLE T 128 | "
       "DSPROC_CONFIGURE T 32 0 0 | DSPROC_DISABLE T 0 256"},
  };
  int hw_seq = 40;
  for (const auto& h : half_way) {
    unit_requests();
    if (*h.fail) { ASSERT_EQ(sim(h.fail), ""); }
    EXPECT_EQ(ask(create(hw_seq, 33, ground2.port(), Q2,
                         [&](TERM::ED137RadioStatus&, TERM::RtpParams& r) {
                           r.set_echo().set_suppressor(true);
                           r.set_echo().set_canceller(true);
                           h.radio(r.ref_radio());
                         })),
              Strings{"seq " + std::to_string(hw_seq) + " slot 33 error insufficientResources"});
    EXPECT_EQ(unit_requests(), h.requests) << h.fail;
    ++hw_seq;
  }
  EXPECT_EQ(newest_instance().substr(0, 7), "closed,");
  EXPECT_GE(made(delayed(10, 20, 40), 10, 33), 0);
  EXPECT_NE(sim("dsp log").find(" 32 20 40"), std::string::npos);
  EXPECT_EQ(ask(destroy(11, 33)), Strings{"seq 11 slot 33 success"});
  // One delay alone: the absent one goes to the unit as 0, which is no
  // negative delay.
  const struct {
    int seq;
    bool rx;
    int value;
    const char* sent;
  } single[] = {{12, false, 30, " 32 0 30"}, {14, true, 20, " 32 20 0"}};
  for (const auto& t : single) {
    const std::string image = create(t.seq, 33, ground2.port(), Q2, [&t](TERM::ED137RadioStatus&, TERM::RtpParams& r) {
      if (t.rx)
        r.ref_radio().set_rx_delay(t.value);
      else
        r.ref_radio().set_tx_delay(t.value);
    });
    sim("dsp log");
    EXPECT_GE(made(image, t.seq, 33), 0);
    EXPECT_NE(sim("dsp log").find(t.sent), std::string::npos) << t.sent;
    EXPECT_EQ(ask(destroy(t.seq + 1, 33)), Strings{"seq " + std::to_string(t.seq + 1) + " slot 33 success"});
  }
  // Nothing more from either slot.
  for (const auto& f : srv().ctl.frames(2500)) ADD_FAILURE() << describe(f);
}

}  // namespace
