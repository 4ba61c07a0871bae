// Black-box: long seeded random walks of controller commands, peer frames,
// device failures and signals against the running server, with signalling
// links and radio channels caught mid-transition. Throughout: every command
// is answered once with its sequence number and the server lives; at the
// end, with every slot destroyed, no HDLC channel, RTP or header-extension
// session, timer-driven output or extra descriptor is left, and a fresh
// create of each kind works. Real time.
//
// GW_SOAK_SEEDS=FIRST-LAST and GW_SOAK_STEPS=N run longer walks.
#include "tests/board/board_lgcp.h"
#include "tests/board/snmp_test_agent.h"
#include "tests/media/rtp_fixture.h"
#include "tests/radio/zarn_values.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/lgcp_text.h"
#include "tests/support/server_process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>

using namespace testsupport;

namespace {

using Lines = std::vector<std::string>;

Lines split(const std::string& text) {
  Lines out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);)
    if (!l.empty()) out.push_back(l);
  return out;
}

const char* const kFrames[] = {
    "00017F", "02017F", "000173", "020173", "000153", "00010F", "00010101", "02010101", "0201000208018507",
    "0001000008010505", "FCFF030F123401FF", "FEFF030F000004FF", "FFFF0100", "FFFF0101", "FFFF0102", "FFFF00",
    "8080008301AA", "00", "-", "02"};
const char* const kFailures[] = {
    "mcc fail open EIO", "mcc fail allocate EBUSY", "mcc fail timeslot EIO", "hal fail connect 5",
    "rtp fail open EIO", "rtp fail begin EIO", "rtp fail add EIO", "rtpext fail open EIO", "rtpext fail init EIO",
    "rtpext fail attach EIO", "rtpext fail read EIO", "rtpext fail write EIO", "dspdata fail open EIO",
    "dspdata fail timeslot EIO", "dspdata fail add EIO", "dspdata fail remove EIO"};
const char* const kClears[] = {"mcc fail open 0",       "mcc fail allocate 0",    "mcc fail timeslot 0",
                               "hal fail connect 0",    "rtp fail open 0",        "rtp fail begin 0",
                               "rtp fail add 0",        "rtpext fail open 0",     "rtpext fail init 0",
                               "rtpext fail attach 0",  "rtpext fail read 0",     "rtpext fail write 0",
                               "dspdata fail open 0",   "dspdata fail timeslot 0", "dspdata fail add 0",
                               "dspdata fail remove 0"};

class Walk {
 public:
  Walk(unsigned seed, RunningServer& srv, SnmpTestAgent& agent) : rng_(seed), srv_(srv), agent_(agent) {}

  int pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }
  int slot() { return 1 + pick(6); }
  std::string hex(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += "0123456789ABCDEF"[pick(16)], s += "0123456789ABCDEF"[pick(16)];
    return s;
  }
  std::string sim(const std::string& line) {
    trail(line);
    return srv_.sim.ask(line);
  }
  void trail(const std::string& what) {
    trail_.push_back(what);
    if (trail_.size() > 30) trail_.erase(trail_.begin());
  }
  std::string trail() const {
    std::string s;
    for (const auto& t : trail_) s += "  " + t + "\n";
    return s;
  }

  // Sends a command built for the next sequence number.
  void command(const std::string& what, const std::function<std::string(int seq)>& image) {
    ++seq_;
    trail("seq " + std::to_string(seq_) + " " + what);
    const std::string octets = image(seq_);
    if (octets == "encode failed") {
      bad_.push_back(what + ": " + octets);
      answers_[seq_] = 1;
      return;
    }
    srv_.ctl.send(octets);
  }
  // Reads what came: answers counted by sequence number, the slots' other
  // frames noted.
  void pump(int ms = 0) {
    agent_.pump(0);
    for (const std::string& f : srv_.ctl.frames(ms)) {
      const std::string d = describe(f);
      if (d.compare(0, 4, "seq ") == 0) {
        const int n = std::atoi(d.c_str() + 4);
        if (n < 1 || n > seq_ || ++answers_[n] > 1) bad_.push_back(d + " (answer unasked or twice)");
        said_[n] = d;
      } else {
        others_.push_back(d);
      }
    }
  }
  bool all_answered() {
    pump(20);
    return static_cast<int>(answers_.size()) == seq_;
  }
  Lines mcc_channels() {
    Lines ts;
    for (const auto& l : split(srv_.sim.ask("mcc channels"))) ts.push_back(l.substr(0, l.find(':')));
    return ts;
  }
  Lines open_tdms() {
    Lines tdm;
    for (const auto& l : split(srv_.sim.ask("rtp sessions")))
      if (l.compare(0, 5, "open,") == 0) tdm.push_back(l.substr(9, l.find(',', 9) - 9));
    return tdm;
  }

  void step(const std::vector<std::uint16_t>& peers);

  std::mt19937 rng_;
  RunningServer& srv_;
  SnmpTestAgent& agent_;
  int seq_ = 0;
  std::map<int, int> answers_;
  std::map<int, std::string> said_;
  std::set<int> cas_;
  int qsig_ = 1;
  std::map<int, int> kind_;  // slot -> the kind last created there
  Lines bad_, others_, trail_;
};

std::string rtp_create(int seq, int slot, std::uint16_t dport, bool zarn) {
  using P = TERM::Payload;
  const LGCP::CreateParams p = rtptest::rtp_params(
      P::ptG711_Alaw, "127.0.0.1", dport, P::ptG711_Alaw, P::ptG711_Alaw, [&](TERM::RtpParams& r) {
        r.set_shost().set_iaddr("127.0.0.1");
        r.set_shost().set_port(rtptest::free_rtp_port());
        if (zarn) {
          r.set_radio().set_status().select_zarn(radio_test::zarn_status_s(radio_test::zarn_flags(5, false)));
          return;
        }
        TERM::ED137RadioStatus& st = r.set_radio().set_status().select_ed_137();
        radio_test::ed137_header(st.set_header(), TERM::ED137RadioPTT::ptt_off, TERM::ED137RadioSQU::squ_on);
      });
  return create_image(seq, slot, [&](LGCP::CreateParams& c) { c = p; });
}

// A create of each kind the walk makes; `k` picks the kind, `v` the variant.
std::string create_of(int k, int v, int seq, int slot, int other) {
  return create_image(seq, slot, [&](LGCP::CreateParams& p) {
    switch (k) {
      case 0: {
        LGCP::TrunkParams& t = (v & 1) ? p.select_trunk_bri() : p.select_trunk();
        t.set_trunk(1);
        t.set_timeslot(static_cast<unsigned>(1 + v % 4));
        break;
      }
      case 1:
      case 2: {
        LGCP::IsdnParams& i = k == 1 ? p.select_isdn() : p.select_pstn().select_isdn();
        i.set_type((v & 1) ? LGCP::IsdnType::bri : LGCP::IsdnType::pri);
        i.set_trunk(1);
        i.set_log(0);
        if (v & 2)
          i.set_side().select_network();
        else
          i.set_side().select_user();
        break;
      }
      case 3: {
        LGCP::SS7Params& s = p.select_pstn().select_ss7();
        s.set_trunk(1);
        s.set_slc(v % 16);
        s.set_dpc(3);
        s.set_opc(4);
        s.set_emergency(v & 1);
        break;
      }
      case 4:
        if (v & 1)
          p.select_ats_qsig().set_side().select_network();
        else
          p.select_ats_qsig().set_side().select_user();
        break;
      case 5: {
        // One selection: selecting the alternative again would start it afresh.
        LGCP::AtsQsigBParams& b = p.select_ats_qsig_b();
        b.set_slot(static_cast<unsigned>(other));
        b.set_subslot(static_cast<unsigned>(1 + v % 3));
        break;
      }
    }
  });
}

std::string ioctl_of(int seq, int slot, int v) {
  return command_image(seq, slot, [&](LGCP::Command& c) {
    LGCP::IoctlParams& i = c.select_ioctl();
    switch (v % 5) {
      case 0: i.select_ss7RqBSN(); break;
      case 1: i.select_ss7Log(); break;
      case 2: i.select_deactivateTonec(); break;
      case 3: {
        TERM::ED137RadioModifier& m = i.select_rtpExt().select_ed_137();
        m.set_addr().set_session_addr("10.0.0.7");
        m.set_addr().set_session_ssrc(4660u);
        radio_test::ed137_header(m.set_params().select_rx().set_header(),
                                 (v & 8) ? TERM::ED137RadioPTT::ptt_off : TERM::ED137RadioPTT::normal_ptt_on,
                                 TERM::ED137RadioSQU::squ_on);
        break;
      }
      default:
        i.select_rtpExt(TERM::RadioModifier(
            TERM::RadioModifier::zarn::index,
            radio_test::zarn_modifier("10.0.0.8", 77u, [&](TERM::ZarnRadioModifierParams& p) {
              p.select_gw_set_ptt().set_flags(radio_test::zarn_flags(v % 8, v & 8));
            })));
    }
  });
}

void Walk::step(const std::vector<std::uint16_t>& peers) {
  const int s = slot(), t = slot(), v = pick(64);
  switch (pick(24)) {
    case 0: case 1: case 2:
      kind_.erase(s);
      if (v % 6 == 0 || v % 6 == 2 || v % 6 == 3) kind_[s] = v % 6;
      if (v % 6 == 4) qsig_ = s;
      // B channels mostly on the last D channel made.
      command("create kind " + std::to_string(v % 6),
              [&](int q) { return create_of(v % 6, v / 6, q, s, (v & 32) ? t : qsig_); });
      break;
    case 20: case 21: {  // a trunk time slot fed to a link, both ways
      std::vector<int> trunks, links;
      for (const auto& k : kind_) (k.second == 0 ? trunks : links).push_back(k.first);
      if (trunks.empty() || links.empty()) break;
      const int trunk = trunks[pick(static_cast<int>(trunks.size()))];
      const int link = links[pick(static_cast<int>(links.size()))];
      command("feed " + std::to_string(trunk) + "->" + std::to_string(link),
              [&](int q) { return connect_image(q, trunk, link); });
      command("feed back", [&](int q) { return connect_image(q, link, trunk); });
      break;
    }
    case 22: {  // the far end of a D channel answers what the link sent
      const bool mcc = v & 1;
      const Lines ch = mcc ? mcc_channels() : split(srv_.sim.ask("dspdata channels"));
      if (ch.empty()) break;
      std::string ts = ch[pick(static_cast<int>(ch.size()))];
      ts = ts.substr(0, ts.find(' '));
      const std::string family = mcc ? "mcc " : "dspdata ";
      for (const std::string& f : split(srv_.sim.ask(family + "read " + ts))) {
        const std::string ctl = f.size() == 6 ? f.substr(4) : "";
        if (ctl == "7F" || ctl == "53") sim(family + "inject " + ts + " " + f.substr(0, 4) + "73");
        if (f.size() > 8 && f.compare(0, 4, "FFFF") != 0 && !(std::strtol(f.substr(4, 2).c_str(), nullptr, 16) & 1))
          sim(family + "inject " + ts + " " + f.substr(0, 4) + "01" + hex(1));
        if (f.compare(0, 6, "FFFF01") == 0) sim(family + "inject " + ts + " " + f);
      }
      break;
    }
    case 23:  // time for the link and keep-alive timers
      trail("wait");
      pump(500 + pick(2000));
      break;
    case 3:
      command(std::string("create ") + ((v & 1) ? "zarn" : "ed-137"),
              [&](int q) { return rtp_create(q, s, peers[v / 2 % peers.size()], v & 1); });
      break;
    case 4: case 5:
      kind_.erase(s);
      command("destroy", [&](int q) { return null_command_image(q, s, "destroy"); });
      break;
    case 6: case 7:
      command("connect " + std::to_string(s) + "->" + std::to_string(t),
              [&](int q) { return connect_image(q, s, t); });
      break;
    case 8:
      command("disconnect", [&](int q) { return null_command_image(q, s, "disconnect"); });
      break;
    case 9:
      command((v & 1) ? "activate" : "deactivate", [&](int q) {
        return (v & 1) ? activate_image(q, s) : null_command_image(q, s, "deactivate");
      });
      break;
    case 10:
      command("userData", [&](int q) {
        const std::vector<char> b = bytes((v & 1) ? "08 01 05 05" : hex(pick(40)));
        return user_data_image(q, s, std::string(b.begin(), b.end()));
      });
      break;
    case 11:
      command("ioctl " + std::to_string(v), [&](int q) { return ioctl_of(q, s, v); });
      break;
    case 12: case 13: {  // a peer's frame on an HDLC or ATS-QSIG channel
      const Lines ch = (v & 1) ? mcc_channels() : split(srv_.sim.ask("dspdata channels"));
      if (ch.empty()) break;
      std::string ts = ch[pick(static_cast<int>(ch.size()))];
      ts = ts.substr(0, ts.find(' '));
      const std::string frame = (v & 6) ? kFrames[pick(sizeof kFrames / sizeof *kFrames)] : hex(1 + pick(30));
      const std::string family = (v & 1) ? "mcc " : "dspdata ";
      sim(family + "inject " + ts + " " + frame);
      if (v & 8) sim(family + "read " + ts);
      break;
    }
    case 14: {  // channel events: wire, refused writes, hang-up
      const Lines ch = mcc_channels();
      if (ch.empty()) break;
      const std::string a = ch[pick(static_cast<int>(ch.size()))], b = ch[pick(static_cast<int>(ch.size()))];
      if (v % 3 == 0 && a != b) sim("mcc wire " + a + " " + b);
      if (v % 3 == 1) sim("mcc eagain " + a + " " + std::to_string(1 + pick(3)));
      if (v % 3 == 2 && (v & 4)) sim("mcc hangup " + a);
      break;
    }
    case 15: {  // a radio peer's payloads, or a record of the RTP driver
      const Lines tdm = open_tdms();
      if (tdm.empty()) break;
      const std::string at = tdm[pick(static_cast<int>(tdm.size()))];
      if (v & 16) {
        sim("rtp raw " + at + " " + hex(pick(40)));
        break;
      }
      std::string batch;
      for (int n = 1 + pick(3); n > 0; --n)
        batch += std::string((v & 1) ? " 10.0.0.7 4660 " : " 10.0.0.8 77 ") + ((v & 2) ? "21500000" : hex(1 + pick(24)));
      sim("rtpext inject " + at + batch);
      break;
    }
    case 16:
      if (v % 4 == 0) {
        command("display framer", [&](int q) {
          LGCP::DisplayParams d;
          d.select_framer().set_e1(pick(4));
          d.ref_framer().set_info().select_line(v & 8);
          LGCP::Message m;
          m.set_seq(q);
          m.set_pdu().select_command().select_display(d);
          return per(m);
        });
      } else if (v % 4 == 1) {
        command("trunkCfg", [&](int q) { return boardtest::trunk_image(q, 1 + pick(4), v & 8); });
      } else if (v % 4 == 2) {
        command("clockCfg", [&](int q) { return boardtest::clock_image(q, v & 8, v & 16, pick(4)); });
      } else {
        const int ts = 1 + pick(30);
        if (v & 8) cas_.insert(ts);
        command("cas", [&](int q) { return boardtest::cas_image(q, 1, ts, (v & 8) ? "open" : "close", 1); });
      }
      break;
    case 17:
      if (v & 1) {
        trail("snmp agent leaves");
        agent_.close_peer();
      } else {
        trail("SIGHUP");
        srv_.process->signal(SIGHUP);
      }
      break;
    case 18: {
      // Drawn one by one: the order of operands is the compiler's, and the
      // same seed must draw alike on the board's processor and here.
      const char* failure = kFailures[pick(sizeof kFailures / sizeof *kFailures)];
      const int count = 1 + pick(3);
      sim(std::string(failure) + " " + std::to_string(count));
      break;
    }
    default:
      pump(pick(200));
      return;
  }
  pump();
}

// What is open on the board and what the controller and peers receive
// once every slot is gone; "" when nothing.
std::string leftovers(Walk& w, std::vector<rtptest::UdpPeer>& peers) {
  std::string out;
  for (const auto& c : w.mcc_channels()) out += "hdlc channel " + c + "\n";
  for (const auto& l : split(w.srv_.sim.ask("dspdata channels"))) out += "ats-qsig channel " + l + "\n";
  for (const auto& t : w.open_tdms()) out += "rtp session on " + t + "\n";
  for (const auto& l : split(w.srv_.sim.ask("rtpext sessions")))
    if (l.find(",open,") != std::string::npos) out += "header-extension session " + l + "\n";
  // The periodic link reports (3 s) and the radio keep-alives would show
  // within this wait.
  for (auto& p : peers)
    while (!p.receive(0).empty()) {
    }
  w.others_.clear();
  const std::int64_t end = real_ms() + 3500;
  while (real_ms() < end) w.pump(100);
  for (const auto& f : w.others_)
    if (f.compare(0, 5, "slot ") == 0) out += "controller got " + f + "\n";
  for (auto& p : peers)
    if (!p.receive(0).empty()) out += "radio peer got a packet\n";
  return out;
}

// A create of each kind, connected where it needs a feed, all answered
// success; then every slot destroyed. The board's devices that the first
// use opens stay open: the descriptors are counted after such a cycle.
void cycle(Walk& w, const std::vector<std::uint16_t>& ports) {
  const int first = w.seq_ + 1;
  w.command("trunk", [](int q) { return trunk_image(q, 1, 1, 1); });
  w.command("pstn", [](int q) { return create_of(2, 0, q, 2, 0); });
  w.command("connect", [](int q) { return connect_image(q, 1, 2); });
  w.command("isdn", [](int q) { return create_of(1, 0, q, 3, 0); });
  w.command("ats-qsig", [](int q) { return create_of(4, 0, q, 4, 0); });
  w.command("ed-137", [&](int q) { return rtp_create(q, 5, ports[0], false); });
  w.command("zarn", [&](int q) { return rtp_create(q, 6, ports[1], true); });
  EXPECT_TRUE(eventually([&] { return w.all_answered(); })) << w.srv_.log();
  EXPECT_EQ(w.mcc_channels().size(), 2u);
  for (int n = first; n <= w.seq_; ++n) EXPECT_EQ(w.said_[n].substr(w.said_[n].size() - 7), "success") << w.said_[n];
  for (int s = 1; s <= 6; ++s) w.command("destroy", [&](int q) { return null_command_image(q, s, "destroy"); });
  EXPECT_TRUE(eventually([&] { return w.all_answered(); }));
  w.pump(300);
}

void walk(unsigned seed, int steps) {
  SCOPED_TRACE("seed " + std::to_string(seed));
  SnmpTestAgent agent(true);
  RunningServer srv({}, [&](const std::string& root) {
    std::system(("mkdir -p '" + root + "/usr/local/etc'").c_str());
    std::ofstream(root + "/usr/local/etc/server.conf")
        << "[snmpagent]\nhost = 127.0.0.1:" << agent.port() << "\nname = zarngw\n";
  });
  ASSERT_TRUE(srv.ready()) << srv.log();
  ASSERT_TRUE(agent.wait([&] { return agent.connected(); }));
  std::vector<rtptest::UdpPeer> peers(2);
  const std::vector<std::uint16_t> ports = {peers[0].port(), peers[1].port()};
  Walk w(seed, srv, agent);
  w.command("cas", [](int q) { return boardtest::cas_image(q, 1, 5, "open", 1); });
  w.command("cas", [](int q) { return boardtest::cas_image(q, 1, 5, "close"); });
  w.command("trunkCfg", [](int q) { return boardtest::trunk_image(q, 1, true); });
  w.command("clockCfg", [](int q) { return boardtest::clock_image(q, false, true, 1); });
  cycle(w, ports);
  const int fds = open_descriptors(srv.process->pid());

  for (int i = 0; i < steps && srv.process->running(); ++i) w.step(ports);
  for (const char* c : kClears) w.srv_.sim.ask(c);
  for (int s = 1; s <= 6; ++s) w.command("destroy", [&](int q) { return null_command_image(q, s, "destroy"); });
  for (int ts : w.cas_)
    w.command("cas close", [&](int q) { return boardtest::cas_image(q, 1, ts, "close"); });
  EXPECT_TRUE(eventually([&] { return w.all_answered(); }))
      << w.answers_.size() << " of " << w.seq_ << " answered; last steps:\n" << w.trail() << srv.log();
  EXPECT_EQ(w.bad_, Lines{}) << w.trail();
  ASSERT_TRUE(srv.process->running()) << w.trail() << srv.log();
  EXPECT_EQ(leftovers(w, peers), "") << w.trail();
  cycle(w, ports);
  EXPECT_TRUE(eventually([&] {
    agent.pump(20);
    return agent.connected() && open_descriptors(srv.process->pid()) == fds;
  })) << open_descriptors(srv.process->pid()) << " descriptors, " << fds << " at start; last steps:\n" << w.trail();

  const std::string log = srv.log();
  EXPECT_EQ(log.find("runtime error"), std::string::npos) << log;
  EXPECT_EQ(log.find("Sanitizer"), std::string::npos) << log;
  EXPECT_EQ(srv.stop(), 0) << srv.log();
}

TEST(SoakWalk, RandomCommandsAndPeerEventsLeaveNothingBehind) {
#ifdef GW_EMULATED
  // Under the board's emulator the server runs many times slower and the
  // cross run takes its server programs one at a time: one short walk
  // checks the board's byte order, the native run does the longer ones.
  unsigned first = 1, last = 1;
  int steps = 60;
#else
  unsigned first = 1, last = 2;
  int steps = 80;
#endif
  if (const char* s = std::getenv("GW_SOAK_SEEDS")) {
    first = static_cast<unsigned>(std::strtoul(s, nullptr, 10));
    const char* dash = std::strchr(s, '-');
    last = dash ? static_cast<unsigned>(std::strtoul(dash + 1, nullptr, 10)) : first;
  }
  if (const char* n = std::getenv("GW_SOAK_STEPS")) steps = std::atoi(n);
  for (unsigned seed = first; seed <= last && !HasFailure(); ++seed) walk(seed, steps);
}

}  // namespace

