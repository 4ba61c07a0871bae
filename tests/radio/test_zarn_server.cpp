// Black-box: Zarn radio slots of the running server. One controller creates
// Zarn radio slots on RTP sessions, sends radio requests and reads the radio
// reports (rtpExt signals, compared as whole PER images); the simulator's
// control socket reads the header-extension device's sessions and writes,
// and injects received payloads (several in one batch where runs matter).
#include "tests/media/rtp_fixture.h"
#include "tests/radio/zarn_values.h"
#include "tests/slots/slots_server.h"
#include "tests/support/per_image.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

using namespace slotstest;
using namespace testsupport;
using namespace rtptest;
using P = TERM::Payload;

namespace {

TERM::RadioFlags zflags(int prio, bool ptt, unsigned li = 0) {
  TERM::RadioFlags f = radio_test::zarn_flags(prio, ptt);
  f.set_li(li);
  return f;
}

// The creation status S: priority 5, channel 3 at 118.5, remote {1, 2},
// squelch on, RTE a1b, standby active / group 7 / receiver standby.
TERM::ZarnRadioStatus status_s(bool ptt = false) { return radio_test::zarn_status_s(zflags(5, ptt)); }

using Params = TERM::ZarnRadioModifierParams;

TERM::ZarnRadioModifier zmod(const std::string& from, unsigned ssrc, const std::function<void(Params&)>& fill) {
  return radio_test::zarn_modifier(from, ssrc, fill);
}

std::function<void(Params&)> wm_trans(int prio, bool ptt, const std::string& ip, unsigned ssrc) {
  return [=](Params& p) {
    TERM::RadioCommandWMTrans& c = p.select_wm_trans();
    c.set_flags(zflags(prio, ptt));
    c.set_ip(ip);
    c.set_ssrc(ssrc);
  };
}

std::function<void(Params&)> flags_of(int which, int prio, bool ptt, unsigned li = 0) {
  return [=](Params& p) {
    if (which == 1) p.select_gw_set_flags().set_flags(zflags(prio, ptt, li));
    if (which == 3) p.select_gw_set_ptt().set_flags(zflags(prio, ptt, li));
    if (which == 129) p.select_wm_flags().set_flags(zflags(prio, ptt, li));
  };
}

// The rtpExt signal of a slot: the radio state as status, the packet as
// request.
std::string report(int slot, const TERM::ZarnRadioStatus& st, const TERM::ZarnRadioModifier& m) {
  TERM::RtpRadioRequest r;
  r.set_status(TERM::RadioStatus(TERM::RadioStatus::zarn::index, st));
  r.set_request(TERM::RadioModifier(TERM::RadioModifier::zarn::index, m));
  LGCP::Message msg;
  msg.set_slot(static_cast<unsigned>(slot));
  msg.set_pdu().select_signal().select_rtpExt(r);
  return per(msg);
}

class ZarnSlots : public ServerSuite {
 protected:
  static std::string sim(const std::string& request) { return srv().sim.ask(request); }
  static Strings lines(const std::string& text) {
    Strings out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }
  static std::string create(int seq, int slot, std::uint16_t port, const TERM::ZarnRadioStatus& st,
                            const std::function<void(TERM::RtpParams&)>& more = nullptr,
                            std::uint16_t local = 0) {
    if (!local) local = free_rtp_port();
    const LGCP::CreateParams p =
        rtp_params(P::ptG711_Alaw, "127.0.0.1", port, P::ptG711_Alaw, P::ptG711_Alaw, [&](TERM::RtpParams& r) {
          // The radio factories bind the RTCP socket without sharing it:
          // a local port of its own, not the peer's.
          r.set_shost().set_iaddr("127.0.0.1");
          r.set_shost().set_port(local);
          r.set_radio().set_status().select_zarn(st);
          if (more) more(r);
        });
    return create_image(seq, slot, [&](LGCP::CreateParams& c) { c = p; });
  }
  static std::string rtp_ext(int seq, int slot, const TERM::ZarnRadioModifier& m) {
    return command_image(seq, slot, [&](LGCP::Command& c) {
      c.select_ioctl().select_rtpExt(TERM::RadioModifier(TERM::RadioModifier::zarn::index, m));
    });
  }
  static int channel_of(const std::string& line) {
    const auto at = line.rfind(' ');
    return at == std::string::npos ? -1 : std::atoi(line.c_str() + at + 1);
  }
};

}  // namespace

namespace {

// One payload written to the header-extension device: "MS HEX".
struct Sent {
  long long ms;
  std::string hex;
};

class ZarnRadio : public ZarnSlots {
 protected:
  // The payloads written for the channel since the last ask.
  static std::vector<Sent> sent(int tdm) {
    std::vector<Sent> out;
    for (const std::string& l : lines(sim("rtpext sent " + std::to_string(tdm)))) {
      const auto at = l.find(' ');
      // Pairs of digits apart, as the images are written here.
      std::string spaced;
      for (std::size_t i = at + 1; i + 1 < l.size(); i += 2) spaced += (spaced.empty() ? "" : " ") + l.substr(i, 2);
      out.push_back({std::atoll(l.c_str()), spaced});
    }
    return out;
  }
  // Collects written payloads until `n` have come (real time, bounded).
  static std::vector<Sent> sent_until(int tdm, std::size_t n) {
    std::vector<Sent> all;
    eventually([&] {
      for (const Sent& s : sent(tdm)) all.push_back(s);
      return all.size() >= n;
    });
    return all;
  }
  static std::string inject(int tdm, const std::string& batch) {
    return sim("rtpext inject " + std::to_string(tdm) + " " + batch);
  }
  // The "rtpext sessions" line of instance n (from 1), without its number.
  static std::string instance(std::size_t n) {
    const Strings l = lines(sim("rtpext sessions"));
    return n >= 1 && n <= l.size() ? l[n - 1].substr(l[n - 1].find(',') + 1) : "";
  }
  static std::size_t instances() { return lines(sim("rtpext sessions")).size(); }
  static int rtp_lines() { return static_cast<int>(lines(sim("rtp sessions")).size()); }
  static std::string next_frame() { return srv().ctl.next(patience_ms); }
  // A link the server closed ends the wait at once: it shows.
  static Strings more_frames(int ms = 200) {
    Strings out = srv().ctl.frames(ms);
    if (srv().ctl.closed()) out.push_back("link closed");
    return out;
  }
};

const char* const kWmFlag = "81 50 00 00";
const char* const kWmChan = "84 50 00 00 00 00 00 03 42 ED 00 00 02 02 00 00";
const char* const kWmRemote = "86 50 00 00 01 02 00 00";
const char* const kWmStandby = "87 50 00 00 00 07 01 00";
const char* const kWmTrans = "82 54 00 00 09 00 00 0A 00 00 00 99";

// One slot through its life: creation, periodic status, controller
// requests, received packets under push-to-talk arbitration, a codec
// change, and its end; a second slot attached to another process's RTP
// session; a third created with a squelch setting the enumeration lacks.
TEST_F(ZarnRadio, SlotLifeFromCreationToDestroy) {
  UdpPeer peer;
  ASSERT_TRUE(peer.ok());
  const std::uint16_t port = rtp_port_of(peer);

  for (const char* w : {"voice 4 8", "voice 2 6", "voice 1 30", "voice 65 4"}) EXPECT_EQ(sim(w), "");
  EXPECT_EQ(ask(null_command_image(1, -1, "query"), 2), (Strings{"seq 1 success", "query"}));

  // Creation: the slot's own header-extension session on its RTP session.
  const std::int64_t created = real_ms();
  const Strings made = ask(create(2, 30, port, status_s()), 3);
  ASSERT_EQ(made.size(), 3u) << ::testing::PrintToString(made) << srv().log();
  EXPECT_EQ(made[0], "seq 2 slot 30 success");
  const int T = channel_of(made[1]);
  const int K = rtp_lines();
  const std::string k = std::to_string(K);
  const std::size_t N = instances();
  EXPECT_EQ(instance(N), "open,etype=0x1337,init=0.0.0.0,rtp=" + k + ",pid=" +
                                std::to_string(srv().process->pid()) + ",filter=-,dropped=0,ops=init/attach:" + k);
  EXPECT_TRUE(srv().wait_log("rtp ext ZARN[6,8,30,4]: do create rtp ext ZARN: ")) << srv().log();

  // The periodic status about a second after creation, then every second;
  // nothing before.
  std::vector<Sent> first = sent_until(T, 4);
  EXPECT_GE(real_ms() - created, 900);
  ASSERT_GE(first.size(), 4u);
  // A late look finds the next periods' reports too: they are kept for the
  // steps that wait for them.
  std::vector<Sent> second(first.begin() + 4, first.end());
  first.resize(4);
  EXPECT_EQ(first[0].hex, kWmFlag);
  EXPECT_EQ(first[1].hex, kWmChan);
  EXPECT_EQ(first[2].hex, kWmRemote);
  EXPECT_EQ(first[3].hex, kWmStandby);
  if (second.size() < 4)
    for (const Sent& s : sent_until(T, 4 - second.size())) second.push_back(s);
  ASSERT_GE(second.size(), 4u);
  std::vector<Sent> req(second.begin() + 4, second.end());
  second.resize(4);
  EXPECT_EQ(second[0].hex, kWmFlag);
  EXPECT_EQ(second[3].hex, kWmStandby);
  EXPECT_GE(second[0].ms - first[0].ms, 990);
  EXPECT_LE(second[0].ms - first[0].ms, 1300);

  // wm-trans: written at once, the filter names the holder; the flag
  // group's next report (WM_TRANS now) comes a whole period after the
  // request while the channel group keeps its beat.
  EXPECT_EQ(ask(rtp_ext(3, 30, zmod("10.0.0.1", 0, wm_trans(5, true, "10.0.0.9", 153)))),
            Strings{"seq 3 slot 30 success"});
  for (const Sent& s : sent_until(T, 1)) req.push_back(s);
  ASSERT_GE(req.size(), 1u);
  std::size_t at = 0;
  while (at < req.size() && req[at].hex != kWmTrans) ++at;
  ASSERT_LT(at, req.size());
  const long long asked = req[at].ms;
  EXPECT_EQ(instance(N), "open,etype=0x1337,init=0.0.0.0,rtp=" + k + ",pid=" +
                                std::to_string(srv().process->pid()) +
                                ",filter=10.0.0.9,dropped=0,ops=init/attach:" + k + "/filter:10.0.0.9");
  // (Push-to-talk is in every header now: types are told by the first byte.)
  const auto type_of = [](const Sent& s) { return s.hex.substr(0, 2); };
  long long chan_before = second[1].ms, chan_after = -1, trans_after = -1;
  // (A late test may find a channel report before the request too.)
  for (std::size_t i = 0; i < req.size(); ++i)
    if (type_of(req[i]) == "84") chan_before = req[i].ms;
  const std::vector<Sent> after = sent_until(T, 5);
  for (const Sent& s : after) {
    if (type_of(s) == "84" && chan_after < 0) chan_after = s.ms;
    if (s.hex == kWmTrans && trans_after < 0) trans_after = s.ms;
    EXPECT_NE(type_of(s), "81");
  }
  ASSERT_GE(trans_after, 0);
  ASSERT_GE(chan_after, 0);
  EXPECT_GE(trans_after - asked, 1000);
  EXPECT_LE(trans_after - asked, 1300);
  EXPECT_GE(chan_after - chan_before, 990);
  EXPECT_LE(chan_after - chan_before, 1300);

  // wm-flags without push-to-talk: written at once, the filter reset.
  EXPECT_EQ(ask(rtp_ext(4, 30, zmod("10.0.0.1", 0, flags_of(129, 5, false)))), Strings{"seq 4 slot 30 success"});
  const std::string inst = instance(N);
  EXPECT_EQ(inst.substr(inst.find(",filter=")), ",filter=-,dropped=0,ops=init/attach:" + k + "/filter:10.0.0.9/reset");

  // Arbitration in the control alone: the driver's filter fails and lets
  // every source through. Each report carries the radio state.
  EXPECT_EQ(sim("rtpext fail filter EIO"), "");
  EXPECT_EQ(ask(rtp_ext(5, 30, zmod("10.0.0.1", 0, wm_trans(5, true, "10.0.0.9", 153)))),
            Strings{"seq 5 slot 30 success"});
  EXPECT_TRUE(srv().wait_log("set filer rtp_ext session fail !!!\n")) << srv().log();
  const TERM::ZarnRadioStatus held = status_s(true);
  // Pre-emption: a higher priority claims push-to-talk from 10.0.0.7.
  // (A malformed batch queues nothing, not even its good first payload.)
  EXPECT_EQ(inject(T, "10.0.0.9 153 01000000 10.0.0.7 4660"),
            "error usage: rtpext inject TDM ADDR SSRC HEX [ADDR SSRC HEX ...]");
  EXPECT_EQ(inject(T, "10.0.0.7 4660 823400000900000A00000099"), "");
  EXPECT_EQ(next_frame(), report(30, held, zmod("10.0.0.7", 4660, wm_trans(3, true, "10.0.0.9", 153))));
  // Equal or lower priority, or no push-to-talk command, from elsewhere:
  // nothing; the holder's own packets: reported.
  const std::string marker = "10.0.0.9 153 01000000";
  const std::string marked = report(30, held, zmod("10.0.0.9", 153, flags_of(1, 0, false)));
  for (const char* refused : {"10.0.0.7 4660 825400000900000A00000099", "10.0.0.7 4660 827400000900000A00000099",
                              "10.0.0.7 4660 020000000000000542ED0000"}) {
    SCOPED_TRACE(refused);
    EXPECT_EQ(inject(T, refused), "");
    EXPECT_EQ(inject(T, marker), "");
    EXPECT_EQ(next_frame(), marked);
    EXPECT_EQ(more_frames(100), Strings{});
  }
  // Runs of one type from one source reach the controller once, as their
  // last packet; a change of type releases the run before it.
  EXPECT_EQ(inject(T, "10.0.0.9 153 01000008 10.0.0.9 153 01000010 10.0.0.9 153 01000018"), "");
  EXPECT_EQ(next_frame(), report(30, held, zmod("10.0.0.9", 153, flags_of(1, 0, false, 3))));
  EXPECT_EQ(more_frames(), Strings{});
  EXPECT_EQ(inject(T, "10.0.0.9 153 01000000 10.0.0.9 153 03000000 10.0.0.9 153 01000000"), "");
  EXPECT_EQ(next_frame(), marked);
  EXPECT_EQ(next_frame(), report(30, held, zmod("10.0.0.9", 153, flags_of(3, 0, false))));
  EXPECT_EQ(next_frame(), marked);
  EXPECT_EQ(more_frames(), Strings{});
  // A payload that does not decode at the end of a batch does not take its
  // good predecessor with it; a squelch setting beyond the enumeration
  // counts as one that does not decode.
  EXPECT_EQ(inject(T, "10.0.0.9 153 01000020 10.0.0.9 153 02900000"), "");
  EXPECT_EQ(next_frame(), report(30, held, zmod("10.0.0.9", 153, flags_of(1, 0, false, 4))));
  EXPECT_EQ(inject(T, "10.0.0.9 153 0B00000002000000 10.0.0.9 153 0B00000005000000"), "");
  EXPECT_EQ(next_frame(), report(30, held, zmod("10.0.0.9", 153, [](Params& p) {
                                   p.select_gw_set_squelshe().set_squelshe(TERM::RadioSquelshe::on);
                                 })));
  EXPECT_EQ(more_frames(), Strings{});

  // A codec change: the header-extension session follows to the new RTP
  // session, filters for the push-to-talk holder again, and payloads still
  // arrive.
  EXPECT_EQ(ask(command_image(6, 30, [](LGCP::Command& c) { c.select_ioctl().select_decoder_mode(LGCP::CodecMode::ulaw); })),
            Strings{"seq 6 slot 30 success"});
  const int K2 = rtp_lines();
  ASSERT_GT(K2, K);
  const std::string old = instance(N);
  EXPECT_EQ(old.substr(0, 7), "closed,") << old;
  EXPECT_EQ(old.substr(old.size() - 7), "/detach") << old;
  const std::string k2 = std::to_string(K2);
  EXPECT_EQ(instances(), N + 1);
  const std::string now = instance(N + 1);
  EXPECT_EQ(now.substr(0, now.find(",filter=")), "open,etype=0x1337,init=0.0.0.0,rtp=" + k2 + ",pid=" +
                                                     std::to_string(srv().process->pid()));
  EXPECT_EQ(now.substr(now.find(",ops=")), ",ops=init/attach:" + k2 + "/filter:10.0.0.9");
  EXPECT_EQ(inject(T, marker), "");
  EXPECT_EQ(next_frame(), marked);

  // A slot on another process's RTP session: attached through the RTP
  // device, no header-extension session of its own, no status.
  const std::size_t before31 = instances();
  const Strings made31 =
      ask(create(7, 31, port, status_s(), [](TERM::RtpParams& r) { radio_test::attach_only_rtp(r, 7, 1200); }), 3);
  ASSERT_EQ(made31.size(), 3u);
  EXPECT_EQ(made31[0], "seq 7 slot 31 success");
  const int T31 = channel_of(made31[1]);
  const Strings rtp = lines(sim("rtp sessions"));
  EXPECT_EQ(rtp.back().substr(rtp.back().find(",ops=")), ",ops=begin/add:-1/attach:7.1200");
  EXPECT_EQ(instances(), before31);

  // A creation status whose squelch field holds 3 (two bits, three names):
  // the reports say no-config.
  TERM::ZarnRadioStatus off = status_s(), on = status_s();
  off.set_squelshe(TERM::RadioSquelshe::off);
  const std::uint16_t local = free_rtp_port();
  const std::vector<char> a = bytes(create(8, 32, port, off, nullptr, local)),
                          b = bytes(create(8, 32, port, on, nullptr, local));
  ASSERT_EQ(a.size(), b.size());
  std::vector<char> three(a.size());
  for (std::size_t i = 0; i < a.size(); ++i) three[i] = static_cast<char>(a[i] | b[i]);
  const Strings made32 = ask(hex(three), 3);
  ASSERT_EQ(made32.size(), 3u);
  EXPECT_EQ(made32[0], "seq 8 slot 32 success");
  const int T32 = channel_of(made32[1]);
  EXPECT_EQ(inject(T32, marker), "");
  TERM::ZarnRadioStatus unset = status_s();
  unset.set_squelshe(TERM::RadioSquelshe::no_config);
  EXPECT_EQ(next_frame(), report(32, unset, zmod("10.0.0.9", 153, flags_of(1, 0, false))));
  // The slot on the other process's session has sent nothing meanwhile.
  EXPECT_EQ(sent(T31).size(), 0u);

  // Destroy: detached and closed; nothing more comes.
  EXPECT_EQ(ask(null_command_image(9, 30, "destroy")), Strings{"seq 9 slot 30 success"});
  const std::string gone = instance(N + 1);
  EXPECT_EQ(gone.substr(0, 7), "closed,") << gone;
  EXPECT_EQ(gone.substr(gone.find(",ops=")), ",ops=init/attach:" + k2 + "/filter:10.0.0.9/detach");
  EXPECT_EQ(ask({null_command_image(10, 31, "destroy"), null_command_image(11, 32, "destroy")}, 2),
            (Strings{"seq 10 slot 31 success", "seq 11 slot 32 success"}));
  sent(T);
  EXPECT_EQ(inject(T, marker), "error no rtp_ext instance on channel " + std::to_string(T));
  EXPECT_EQ(more_frames(), Strings{});
  // The slots' controls run without their per-packet trace.
  EXPECT_EQ(srv().log().find(" extension "), std::string::npos) << srv().log();
}

// A radio channel made with BSS asks it of the RTP driver when its channel
// is added, and again when a codec change begins the session anew: the
// restarted channel is the same radio channel.
TEST_F(ZarnRadio, CodecRestartAsksTheChannelsBssAgain) {
  UdpPeer peer;
  ASSERT_TRUE(peer.ok());
  const Strings made = ask(create(1, 40, rtp_port_of(peer), status_s(),
                                  [](TERM::RtpParams& r) { r.ref_radio().set_bss_enable(true); }),
                           3);
  ASSERT_EQ(made.size(), 3u) << ::testing::PrintToString(made) << srv().log();
  EXPECT_EQ(made[0], "seq 1 slot 40 success");
  const std::string t = std::to_string(channel_of(made[1]));
  const auto last_ops = [] {
    const Strings l = lines(sim("rtp sessions"));
    return l.empty() ? "" : l.back().substr(0, l.back().find(',')) + l.back().substr(l.back().find(",ops="));
  };
  EXPECT_EQ(last_ops(), "open,ops=begin/add:-1.1");
  EXPECT_EQ(ask(command_image(2, 40, [](LGCP::Command& c) { c.select_ioctl().select_decoder_mode(LGCP::CodecMode::ulaw); })),
            Strings{"seq 2 slot 40 success"});
  EXPECT_EQ(last_ops(), "open,ops=begin/add:" + t + ".1");
  EXPECT_EQ(ask(null_command_image(3, 40, "destroy")), Strings{"seq 3 slot 40 success"});
  EXPECT_EQ(more_frames(), Strings{});
}

// A priority beyond the packet header's four bits: no slot for such a
// creation status and an error for such a request, never priority 0 on
// the wire.
TEST_F(ZarnRadio, PriorityBeyondThePacketHeaderIsRefused) {
  UdpPeer peer;
  ASSERT_TRUE(peer.ok());
  const std::size_t before = instances();
  EXPECT_EQ(ask(create(1, 41, rtp_port_of(peer), radio_test::zarn_status_s(zflags(16, false)))),
            Strings{"seq 1 slot 41 error insufficientResources"});
  EXPECT_TRUE(srv().wait_log("priority beyond the packet header's field")) << srv().log();
  EXPECT_EQ(instances(), before);

  const Strings made = ask(create(2, 41, rtp_port_of(peer), status_s()), 3);
  ASSERT_EQ(made.size(), 3u) << ::testing::PrintToString(made) << srv().log();
  EXPECT_EQ(made[0], "seq 2 slot 41 success");
  EXPECT_EQ(ask({rtp_ext(3, 41, zmod("10.0.0.1", 0, wm_trans(16, true, "10.0.0.9", 153))),
                 rtp_ext(4, 41, zmod("10.0.0.1", 0, flags_of(129, 16, false)))},
                2),
            (Strings{"seq 3 slot 41 error unsupported", "seq 4 slot 41 error unsupported"}));
  EXPECT_EQ(ask(null_command_image(5, 41, "destroy")), Strings{"seq 5 slot 41 success"});
}

// A slot on another process's RTP session that the driver refuses (a
// descriptor or process naming no session): the controller's pair is
// passed unchanged, the refusal is logged, and the slot is still made,
// without radio signalling of its own, until its destroy.
TEST_F(ZarnRadio, OnlyRtpSessionTheDriverRefuses) {
  UdpPeer peer;
  ASSERT_TRUE(peer.ok());
  const struct {
    int fd, pid;
    const char* err;
  } cases[] = {{-1, -1, "EBADF"}, {7, 2147483647, "EINVAL"}};
  const auto refusals = [] {
    const std::string log = srv().log(), line = ":attach rtp session fail !!!\n";
    std::size_t n = 0;
    for (auto at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++n;
    return n;
  };
  int slot = 42;
  for (const auto& c : cases) {
    SCOPED_TRACE(slot);
    const std::size_t before = instances(), refused = refusals();
    ASSERT_EQ(sim(std::string("rtp fail attach ") + c.err), "");
    const Strings made = ask(create(1, slot, rtp_port_of(peer), status_s(), [&](TERM::RtpParams& r) {
      TERM::RtpExtDescription& d = r.set_rtp_e2m().set_mode().select_only_rtp();
      d.set_fd(c.fd);
      d.set_pid(c.pid);
    }), 3);
    ASSERT_EQ(made.size(), 3u) << ::testing::PrintToString(made) << srv().log();
    EXPECT_EQ(made[0], "seq 1 slot " + std::to_string(slot) + " success");
    const int T = channel_of(made[1]);
    EXPECT_TRUE(eventually([&] { return refusals() == refused + 1; })) << srv().log();
    const Strings rtp = lines(sim("rtp sessions"));
    EXPECT_EQ(rtp.back().substr(rtp.back().find(",ops=")),
              ",ops=begin/add:-1/attach-refused:" + std::to_string(c.fd) + "." + std::to_string(c.pid));
    EXPECT_EQ(instances(), before) << "no header-extension session of its own";
    EXPECT_EQ(ask(rtp_ext(2, slot, zmod("10.0.0.1", 0, flags_of(1, 3, true)))),
              Strings{"seq 2 slot " + std::to_string(slot) + " success"});
    EXPECT_EQ(sent(T).size(), 0u);
    EXPECT_EQ(ask(null_command_image(3, slot, "destroy")), Strings{"seq 3 slot " + std::to_string(slot) + " success"});
    EXPECT_EQ(more_frames(), Strings{});
    ++slot;
  }
}

}  // namespace
