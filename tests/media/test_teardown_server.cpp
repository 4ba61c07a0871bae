// Black-box: what the running server leaves on the simulated board when its
// controller goes and when it is stopped. Slots of every kind, connected to
// one another, hold cross-connect paths, HDLC-controller channels, RTP and
// header-extension sessions, DSP detectors, a mixer entry, an ATS-QSIG
// channel, DSP and digital modems with pppd (the stand-in), a t38 program
// (the stand-in) and TCP streams. After the controller has gone nothing of
// it is held and a new controller makes the same slots under the same
// numbers; SIGTERM with slots alive ends the process promptly with status 0,
// no child program left, and a new server on the same board root starts and
// works. Real time, every wait bounded.
#include "tests/media/mixer_images.h"
#include "tests/media/rtp_fixture.h"
#include "tests/media/t38_images.h"
#include "tests/radio/zarn_values.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/lgcp_text.h"
#include "tests/support/loopback.h"
#include "tests/support/server_process.h"
#include "tests/support/shared_server.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

using Strings = std::vector<std::string>;
using P = TERM::Payload;

Strings lines(const std::string& text) {
  Strings out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

void write_file(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// Whether the process is gone (absent, or a zombie nobody waits for).
bool process_gone(int pid) {
  if (pid <= 0) return true;
  if (::kill(pid, 0) != 0) return true;
  const std::string stat = file_text("/proc/" + std::to_string(pid) + "/stat");
  const auto close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
}

// The number after "pid=" or "pid " on the last line that has it.
int last_pid(const std::string& log, const std::string& key) {
  const auto at = log.rfind(key);
  return at == std::string::npos ? -1 : std::atoi(log.c_str() + at + key.size());
}

// The channel (the word after the prefix) of every line that starts so.
std::set<std::string> channels_of(const Strings& log, const std::string& prefix) {
  std::set<std::string> out;
  for (const std::string& l : log)
    if (l.compare(0, prefix.size(), prefix) == 0)
      out.insert(l.substr(prefix.size(), l.find(' ', prefix.size()) - prefix.size()));
  return out;
}

// Every number after the key at the start of a line.
std::vector<int> pids(const std::string& log, const std::string& key) {
  std::vector<int> out;
  for (const std::string& l : lines(log))
    if (l.compare(0, key.size(), key) == 0) out.push_back(std::atoi(l.c_str() + key.size()));
  return out;
}

std::string rtp_create(int seq, int slot, std::uint16_t dport) {
  const LGCP::CreateParams p = rtptest::rtp_params(P::ptG711_Alaw, "127.0.0.1", dport, P::ptG711_Alaw, P::ptG711_Alaw);
  return create_image(seq, slot, [&](LGCP::CreateParams& c) { c = p; });
}

std::string ed137_create(int seq, int slot, std::uint16_t dport, std::uint16_t local) {
  const LGCP::CreateParams p =
      rtptest::rtp_params(P::ptG711_Alaw, "127.0.0.1", dport, P::ptG711_Alaw, P::ptG711_Alaw, [&](TERM::RtpParams& r) {
        r.set_shost().set_iaddr("127.0.0.1");
        r.set_shost().set_port(local);
        radio_test::ed137_header(r.set_radio().set_status().select_ed_137().set_header(),
                                 TERM::ED137RadioPTT::ptt_off, TERM::ED137RadioSQU::squ_on);
      });
  return create_image(seq, slot, [&](LGCP::CreateParams& c) { c = p; });
}

std::string zarn_create(int seq, int slot, std::uint16_t dport, std::uint16_t local) {
  const LGCP::CreateParams p =
      rtptest::rtp_params(P::ptG711_Alaw, "127.0.0.1", dport, P::ptG711_Alaw, P::ptG711_Alaw, [&](TERM::RtpParams& r) {
        r.set_shost().set_iaddr("127.0.0.1");
        r.set_shost().set_port(local);
        r.set_radio().set_status().select_zarn(radio_test::zarn_status_s(radio_test::zarn_flags(5, false)));
      });
  return create_image(seq, slot, [&](LGCP::CreateParams& c) { c = p; });
}

class Teardown : public SharedServerTest<Teardown> {
 protected:
  static void SetUpTestSuite() { start(); }
  // A server on a fresh board root with the t38 stand-in, a prompt file
  // and pppd stand-ins that end on the hangup.
  static void start() {
    server().reset();
    server() = std::make_unique<RunningServer>(Strings{}, [](const std::string& root) {
      std::system(
          ("mkdir -p '" + root + "/usr/local/voice' '" + root + "/usr/local/sbin' '" + root + "/var/standin'").c_str());
      std::system(("cp '" GW_T38_STANDIN "' '" + root + "/usr/local/sbin/t38'").c_str());
      ::chmod((root + "/usr/local/sbin/t38").c_str(), 0755);
      write_file(root + "/usr/local/voice/tone", std::string(8000, '\x55'));
      write_file(root + "/var/standin/pppd.mode", "hup 0\n");
    });
  }
  void SetUp() override {
    // After the case that stops its server (a shuffled run), a server anew.
    if (!srv().process->running()) start();
    ASSERT_TRUE(srv().ready()) << srv().log();
  }

  static std::string sim(const std::string& request) { return srv().sim.ask(request); }

  // Makes a slot of every kind and connects them; the answers, in order.
  static Strings make_all() {
    const std::uint16_t rtp_port = peer().port();
    Strings got;
    const std::size_t pppds = pids(pppd_log(), "pid ").size();
    expected().clear();
    auto run = [&](const std::string& image) {
      LGCP::Message m;
      decode(image, m);
      expected().push_back("seq " + std::to_string(m.get_seq().getValue()) + " slot " +
                           std::to_string(m.get_slot().getValue()) + " success");
      got.push_back(answer(image));
    };
    int seq = 1;
    run(trunk_image(seq++, 1, 0, 1));
    run(trunk_image(seq++, 2, 0, 2));
    run(trunk_image(seq++, 3, 0, 1, true));
    run(map_image(seq++, 4, 8192 + 1, 8192 + 2));
    run(ext_image(seq++, 5, 5, 6));
    run(activate_image(seq++, 5));
    run(rtp_create(seq++, 10, rtp_port));
    run(mixertest::in_image(seq++, 11, 0, {0}));
    run(mixertest::create(seq++, 12, mixertest::mixer_out(0, {1}, {{{0}, 100}})));
    run(command_image(seq++, 13, [](LGCP::Command& c) {
      LGCP::MccParams& p = c.select_create().select_mcc();
      p.set_type(LGCP::MccType::data);
      p.set_mode(LGCP::MccMode::standard);
    }));
    run(command_image(seq++, 14, [](LGCP::Command& c) {
      LGCP::HdlcParams& h = c.select_create().select_hdlcParams();
      h.set_trunk(1);
      h.set_log(0);
      h.set_address(3);
    }));
    run(command_image(seq++, 15, [](LGCP::Command& c) {
      auto& f = c.select_create().select_voice().select_player().select_file();
      f.set_name().push_back(std::string("tone"));
      f.set_repeat(0);
    }));
    run(t38test::create(seq++, 16));
    run(create_image(seq++, 17, [](LGCP::CreateParams& p) {
      TERM::ModemParams& m = p.select_modem();
      m.set_cid("");
      m.set_cdid("");
    }));
    run(create_image(seq++, 18, [](LGCP::CreateParams& p) {
      LGCP::IsdnParams& i = p.select_pstn().select_isdn();
      i.set_type(LGCP::IsdnType::pri);
      i.set_trunk(2);
      i.set_log(0);
      i.set_side().select_user();
    }));
    run(create_image(seq++, 28, [](LGCP::CreateParams& p) {
      LGCP::SS7Params& s = p.select_pstn().select_ss7();
      s.set_trunk(3);
      s.set_slc(1);
      s.set_dpc(2);
      s.set_opc(3);
      s.set_emergency(true);
    }));
    run(create_image(seq++, 29, [](LGCP::CreateParams& p) {
      LGCP::IsdnParams& i = p.select_pstn().select_isdn();
      i.set_type(LGCP::IsdnType::bri);
      i.set_trunk(2);
      i.set_log(0);
      i.set_side().select_network();
    }));
    run(create_image(seq++, 19, [](LGCP::CreateParams& p) {
      LGCP::IsdnParams& i = p.select_isdn();
      i.set_type(LGCP::IsdnType::pri);
      i.set_trunk(1);
      i.set_log(0);
      i.set_side().select_user();
    }));
    run(create_image(seq++, 20, [](LGCP::CreateParams& p) { p.select_ats_qsig().set_side().select_network(); }));
    run(create_image(seq++, 21, [](LGCP::CreateParams& p) {
      LGCP::AtsQsigBParams& b = p.select_ats_qsig_b();
      b.set_slot(20u);
      b.set_subslot(1u);
    }));
    run(ed137_create(seq++, 22, ground().port(), radio_local()));
    run(zarn_create(seq++, 26, zarn_peer().port(), zarn_local()));
    // A second modem whose pppd ignores the hangup, and a recorder and a
    // network player towards TCP peers.
    run(create_image(seq++, 23, [](LGCP::CreateParams& p) {
      TERM::ModemParams& m = p.select_modem();
      m.set_cid("");
      m.set_cdid("");
    }));
    run(create_image(seq++, 27, [](LGCP::CreateParams& p) {
      TERM::ModemParams& m = p.select_modem();
      m.set_cid("");
      m.set_cdid("");
      TERM::DigitalDataModeEnum v110;
      v110.setFromInt(0);
      m.set_ddm().push_back(v110);
    }));
    run(trunk_image(seq++, 6, 0, 3));
    run(trunk_image(seq++, 7, 0, 4));
    run(command_image(seq++, 24, [](LGCP::Command& c) {
      auto& h = c.select_create().select_voice().select_record();
      h.set_iaddr(std::string("127.0.0.1"));
      h.set_port(recorder_peer().port());
    }));
    run(command_image(seq++, 25, [](LGCP::Command& c) {
      auto& n = c.select_create().select_voice().select_player().select_network();
      n.set_host().set_iaddr(std::string("127.0.0.1"));
      n.set_host().set_port(player_peer().port());
      n.set_id(1);
    }));
    // Both ways between trunks and media, one source feeding several.
    for (auto c : std::vector<std::pair<int, int>>{{1, 10},
                                                   {10, 1},
                                                   {2, 17},
                                                   {17, 2},
                                                   {1, 11},
                                                   {12, 2},
                                                   {15, 3},
                                                   {4, 5},
                                                   {5, 4},
                                                   {1, 16},
                                                   {16, 13},
                                                   {21, 22},
                                                   {22, 21},
                                                   {1, 24},
                                                   {25, 7},
                                                   {26, 6},
                                                   {6, 26},
                                                   {7, 27}})
      run(connect_image(seq++, c.first, c.second));
    // The mode file is read when pppd starts.
    EXPECT_TRUE(eventually([&] { return pids(pppd_log(), "pid ").size() == pppds + 2; })) << pppd_log();
    write_file(srv().board("/var/standin/pppd.mode"), "never\n");
    run(connect_image(seq++, 6, 23));
    EXPECT_TRUE(eventually([&] { return pids(pppd_log(), "pid ").size() == pppds + 3; })) << pppd_log();
    write_file(srv().board("/var/standin/pppd.mode"), "hup 0\n");
    // Tone and voice-activity detection on the RTP and mixer channels.
    for (int slot : {10, 11}) {
      run(command_image(seq++, slot, [](LGCP::Command& c) { c.select_ioctl().select_dtmf_enable(true); }));
      run(command_image(seq++, slot, [](LGCP::Command& c) { c.select_ioctl().select_vad_enable(true); }));
    }
    // The package slot's channel opens on activation (a connection would
    // wire it, and its wiring outlives the channel by design).
    run(activate_image(seq++, 14));
    run(activate_image(seq++, 18));
    run(activate_image(seq++, 28));
    run(activate_image(seq++, 29));
    run(activate_image(seq++, 19));
    return got;
  }

  // Each command's success, as make_all sends them.
  static std::string expected_answers() { return joined(expected()); }
  static std::string joined(const Strings& s) {
    std::string out;
    for (const std::string& l : s) out += l + "\n";
    return out;
  }
  static Strings& expected() {
    static Strings e;
    return e;
  }

  // What the board holds for the server, one word each.
  static Strings held() {
    Strings out;
    out.push_back("hal list: " + sim("hal list"));
    out.push_back("mcc channels: " + sim("mcc channels"));
    out.push_back("dspdata channels: " + sim("dspdata channels"));
    for (const std::string& l : lines(sim("rtp sessions")))
      if (l.rfind("open", 0) == 0) out.push_back("rtp session: " + l);
    for (const std::string& l : lines(sim("rtpext sessions")))
      if (l.find(",open,") != std::string::npos) out.push_back("rtpext session: " + l);
    out.push_back("mixer mix 0 1: " + sim("mixer mix 0 1"));
    return out;
  }
  static Strings nothing_held() { return {"hal list: ", "mcc channels: ", "dspdata channels: ", "mixer mix 0 1: "}; }

  static std::string pppd_log() { return file_text(srv().board("/var/standin/pppd.log")); }
  static std::string t38_log() { return file_text(srv().board("/usr/local/sbin/t38.log")); }

  // The mixer unit is known after a query; the ATS-QSIG D channel gets a
  // time slot of its own.
  static void prepare_board() {
    sim("mixer add 0 16 48");  // "exists" the second time
    srv().ctl.send("80 01 02 00");
    ASSERT_TRUE(eventually([&] {
      const std::string f = srv().ctl.next(200);
      return f.empty() ? false : describe(f) == "query";
    }));
    ASSERT_EQ(sim("dspdata timeslot 77"), "");
  }

  // Peers of the RTP slot and of the radio, and the radio's local port. The
  // RTP slot, made with dhost only, binds its RTCP socket on its peer's
  // port + 1: taken with the peer's, so no test beside this one holds it.
  static rtptest::UdpPeer& peer() {
    static rtptest::UdpPeer p(free_port());
    return p;
  }
  static rtptest::UdpPeer& ground() {
    static rtptest::UdpPeer g(0);
    return g;
  }
  static LoopbackListener& recorder_peer() {
    static LoopbackListener l;
    return l;
  }
  static LoopbackListener& player_peer() {
    static LoopbackListener l;
    return l;
  }
  // The connections of the recorder and of the network player.
  struct Peers {
    std::unique_ptr<LoopbackPeer> recorder, player;
    bool ok() const { return recorder->connected() && player->connected(); }
  };
  static Peers accept_peers() {
    Peers p;
    p.recorder = std::make_unique<LoopbackPeer>(recorder_peer().accept(patience_ms));
    p.player = std::make_unique<LoopbackPeer>(player_peer().accept(patience_ms));
    return p;
  }
  static rtptest::UdpPeer& zarn_peer() {
    static rtptest::UdpPeer z(0);
    return z;
  }
  static std::uint16_t zarn_local() {
    static const std::uint16_t port = free_port();
    return port;
  }
  static std::uint16_t radio_local() {
    static const std::uint16_t port = free_port();
    return port;
  }
};

TEST_F(Teardown, LostControllerLeavesNothingHeldAndTheSameSlotsCanBeMadeAgain) {
  prepare_board();
  const Strings before = held();
  ASSERT_EQ(before, nothing_held()) << "a fresh board";

  const std::string made = joined(make_all());
  ASSERT_EQ(made, expected_answers()) << srv().log();
  Peers peers = accept_peers();
  ASSERT_TRUE(peers.ok()) << srv().log();
  ASSERT_TRUE(eventually([&] { return last_pid(t38_log(), "pid=") > 0; })) << srv().log();
  const std::vector<int> pppds = pids(pppd_log(), "pid ");
  const int t38 = last_pid(t38_log(), "pid=");
  ASSERT_EQ(pppds.size(), 3u);
  const Strings busy = held();
  EXPECT_NE(busy, before) << "the slots hold the board";

  // The second modem's release is pending on its pppd, which ignores the
  // hangup (the destroy is answered only when it has ended).
  srv().ctl.send(null_command_image(99, 23, "destroy"));
  ASSERT_TRUE(eventually([&] { return pppd_log().find("signal 1") != std::string::npos; })) << pppd_log();

  // The controller goes: every slot is destroyed, the one whose release
  // is pending a second later.
  srv().ctl.close();
  EXPECT_TRUE(eventually([&] { return held() == nothing_held(); })) << ::testing::PrintToString(held()) << srv().log();
  EXPECT_TRUE(eventually([&] {
    return process_gone(pppds[0]) && process_gone(pppds[1]) && process_gone(pppds[2]) && process_gone(t38);
  })) << srv().log();
  EXPECT_EQ(pids(pppd_log(), "signal "), (std::vector<int>{1, 1, 1})) << "every pppd was hung up";
  EXPECT_NE(t38_log().find("signal 15"), std::string::npos) << "t38 was told to end";
  EXPECT_TRUE(peers.recorder->peer_closed(patience_ms)) << "the recorder's stream ends";
  EXPECT_TRUE(peers.player->peer_closed(patience_ms)) << "the player's stream ends";

  // The digital modem's interface is down and back to raw HDLC.
  EXPECT_EQ(sim("net get hdlc0"), "flags 0x10 protocol 0x2000");
  // The outputs the slots used carry the idle pattern or nothing at all.
  // (The drivers hand out channels of their own: the RTP sessions and the
  // HDLC-controller channels from 4096 on, the B channel past the mixer's.)
  for (int c : {1,    2,    3,    4,    8193, 8194, 8197, 8198, 4096, 4097, 4098, 4099, 4100, 4101, 4102,
                4103, 4104, 4105, 4106, 4107, 4108, 4109, 4110, 4111, 4112, 1792, 1793, 2048, 2049, 2064}) {
    const std::string got = sim("hal get " + std::to_string(c));
    EXPECT_TRUE(got == "byte 213" || got == "disabled" || got == "none") << c << ": " << got;
  }
  // Every detector and voice-processing function switched on is switched
  // off again, and the voice-processing channels of the RTP, mixer and two
  // radio slots with it; the output's mix is cleared.
  const Strings dtmf = lines(sim("dtmf log")), dsp = lines(sim("dsp log"));
  EXPECT_EQ(channels_of(dtmf, "DTMF_ENABLE_DETECTOR "), (std::set<std::string>{"4096", "2048"}));
  EXPECT_EQ(channels_of(dtmf, "DTMF_DISABLE_DETECTOR "), channels_of(dtmf, "DTMF_ENABLE_DETECTOR "));
  EXPECT_EQ(channels_of(dsp, "DSPROC_ENABLE "), (std::set<std::string>{"4096", "2048"}));
  EXPECT_EQ(channels_of(dsp, "DSPROC_DISABLE "), (std::set<std::string>{"4096", "2048", "2049", "4101", "4102"}))
      << ::testing::PrintToString(dsp);
  EXPECT_EQ(lines(sim("mixer log")).back(), "clear:0/1");

  // A new controller hears nothing of the old slots and makes the same
  // slots under the same numbers.
  ASSERT_TRUE(srv().reconnect());
  Strings stray;
  for (const std::string& f : srv().ctl.frames(1500)) stray.push_back(describe(f));
  EXPECT_EQ(stray, Strings{}) << "the radio's keep-alive abort came each second, the destroy's answer later";
  prepare_board();
  const std::string made_again = joined(make_all());
  EXPECT_EQ(made_again, expected_answers()) << srv().log();
  EXPECT_TRUE(accept_peers().ok()) << srv().log();
  EXPECT_NE(held(), nothing_held());
}

// The controller goes while slots are half way through their work: a
// network player and a recorder whose TCP peers never take the connection,
// a modem whose admission request on the authentication link waits for the
// controller's answer, and a t38 program just forked. Nothing of it stays:
// no descriptor, no child, no session of the authentication link, no
// signal to the next controller, which makes the same slots again.
TEST_F(Teardown, ControllerLeavingMidWayLeavesNothingHalfDone) {
  start();
  ASSERT_TRUE(srv().ready()) << srv().log();
  prepare_board();
  const char* auth = std::getenv(auth_port_variable);
  ASSERT_NE(auth, nullptr) << "the authentication port is moved for this program";
  // A listener that takes one connection and has no room for more: the
  // server's connects to it stay pending (no answer to their SYN).
  LoopbackListener stuck(0, 0);
  LoopbackPeer filler;
  ASSERT_TRUE(filler.connect(stuck.port()));
  // The authentication program's link, made once: it outlives the slots.
  LoopbackPeer portslave;
  ASSERT_TRUE(eventually([&] { return portslave.connect(static_cast<std::uint16_t>(std::atoi(auth))); }));
  ASSERT_TRUE(srv().wait_log("incoming auth connection from ")) << srv().log();
  // An admission request of the first modem's session, as the
  // authentication program sends it (words in host order).
  std::string request(140, '\0');
  const std::int32_t words[3] = {140, 1, 0};
  std::memcpy(&request[0], words, sizeof words);
  std::memcpy(&request[12], "alice", 5);
  std::memcpy(&request[76], "secret", 6);

  const pid_t pid = srv().process->pid();
  // The server's child processes, zombies too.
  auto children = [&] {
    std::vector<int> out;
    DIR* d = ::opendir("/proc");
    for (dirent* e; d && (e = ::readdir(d));) {
      const std::string stat = file_text(std::string("/proc/") + e->d_name + "/stat");
      const auto close = stat.rfind(')');
      int ppid = 0;
      char state = 0;
      if (close != std::string::npos && std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 &&
          ppid == pid)
        out.push_back(std::atoi(e->d_name));
    }
    if (d) ::closedir(d);
    return out;
  };
  // What each descriptor of the server is, for the message of a leak.
  auto descriptors = [&] {
    std::string out;
    DIR* d = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    for (dirent* e; d && (e = ::readdir(d));) {
      char target[256];
      const ssize_t n =
          ::readlink(("/proc/" + std::to_string(pid) + "/fd/" + e->d_name).c_str(), target, sizeof target - 1);
      if (n > 0) out += std::string(e->d_name) + " " + std::string(target, static_cast<std::size_t>(n)) + "\n";
    }
    if (d) ::closedir(d);
    return out;
  };
  // The simulator keeps the driver end of a closed channel until it is
  // asked for its devices: asked first, the count holds the server's own.
  auto count = [&] {
    sim("devices");
    return open_descriptors(pid);
  };
  const int fds = count();
  const std::string fds_before = descriptors();
  auto make = [&](int seq) {
    Strings got;
    auto run = [&](const std::string& image) { got.push_back(answer(image)); };
    run(trunk_image(seq++, 1, 0, 1));
    run(trunk_image(seq++, 2, 0, 2));
    run(trunk_image(seq++, 3, 0, 3));
    run(command_image(seq++, 30, [&](LGCP::Command& c) {
      auto& n = c.select_create().select_voice().select_player().select_network();
      n.set_host().set_iaddr(std::string("127.0.0.1"));
      n.set_host().set_port(stuck.port());
      n.set_id(1);
    }));
    run(command_image(seq++, 31, [&](LGCP::Command& c) {
      auto& h = c.select_create().select_voice().select_record();
      h.set_iaddr(std::string("127.0.0.1"));
      h.set_port(stuck.port());
    }));
    run(create_image(seq++, 33, [](LGCP::CreateParams& p) {
      TERM::ModemParams& m = p.select_modem();
      m.set_cid("");
      m.set_cdid("");
    }));
    run(connect_image(seq++, 30, 2));
    run(connect_image(seq++, 1, 31));
    run(connect_image(seq++, 3, 33));
    return got;
  };
  auto all_success = [](const Strings& got) {
    for (const std::string& a : got)
      if (a.size() < 7 || a.compare(a.size() - 7, 7, "success") != 0) return false;
    return got.size() == 9;
  };
  const Strings first = make(1);
  ASSERT_TRUE(all_success(first)) << ::testing::PrintToString(first) << srv().log();
  ASSERT_TRUE(eventually([&] { return children().size() == 1; })) << "pppd runs\n" << srv().log();
  portslave.send(request);
  bool asked = false;
  for (std::string f; !asked && !(f = srv().ctl.next(patience_ms)).empty();)
    asked = describe(f) == "slot 33 signal modemProceeding";
  ASSERT_TRUE(asked) << srv().log();
  EXPECT_GT(count(), fds + 2) << "two connects pending, a modem held";
  // The t38 program is forked and the controller gone at once.
  srv().ctl.send(t38test::create(20, 16));
  srv().ctl.close();

  EXPECT_TRUE(srv().wait_log("t38 daemon[")) << srv().log();
  EXPECT_TRUE(eventually([&] { return children().empty(); })) << ::testing::PrintToString(children()) << srv().log();
  EXPECT_TRUE(eventually([&] { return held() == nothing_held(); })) << ::testing::PrintToString(held());
  ASSERT_TRUE(srv().reconnect());
  EXPECT_TRUE(eventually([&] { return count() == fds; })) << "now:\n" << descriptors() << "before:\n" << fds_before;
  // The old modem's session is closed: its next request is nobody's.
  portslave.send(request);
  EXPECT_TRUE(srv().wait_log("receive auth request for unknown session 0")) << srv().log();
  Strings stray;
  for (const std::string& f : srv().ctl.frames(1500)) stray.push_back(describe(f));
  EXPECT_EQ(stray, Strings{});

  // The same slots anew, the modem on the same session.
  prepare_board();
  const Strings again = make(41);
  EXPECT_TRUE(all_success(again)) << ::testing::PrintToString(again) << srv().log();
  ASSERT_TRUE(eventually([&] { return children().size() == 1; })) << "pppd runs\n" << srv().log();
  portslave.send(request);
  asked = false;
  for (std::string f; !asked && !(f = srv().ctl.next(patience_ms)).empty();)
    asked = describe(f) == "slot 33 signal modemProceeding";
  EXPECT_TRUE(asked) << srv().log();
  EXPECT_EQ(srv().stop(), 0) << srv().log();
}

TEST_F(Teardown, StopWithSlotsAliveEndsCleanlyAndTheBoardRootServesAgain) {
  // A server of its own (the case before leaves a pending release behind):
  // every slot alive, one pppd that ends on the hangup and one that does not.
  start();
  ASSERT_TRUE(srv().ready()) << srv().log();
  prepare_board();
  const std::string made = joined(make_all());
  ASSERT_EQ(made, expected_answers()) << srv().log();
  ASSERT_TRUE(eventually([&] { return last_pid(t38_log(), "pid=") > 0; })) << srv().log();
  const std::vector<int> all = pids(pppd_log(), "pid ");
  ASSERT_EQ(all.size(), 3u);
  const int t38 = last_pid(t38_log(), "pid=");
  for (int pid : {all[0], all[1], all[2], t38}) ASSERT_FALSE(process_gone(pid)) << pid;
  const std::string root = srv().root.path();
  EXPECT_EQ(srv().stop(), 0) << srv().log();
  // Promptly: the loop ends after its pass; the pppd that ignores its
  // hangup is not given the five seconds a destroy gives it. (Not a bound
  // on the time: an emulator on a loaded machine may take longer than that
  // over the rest of the stop.)
  EXPECT_EQ(srv().log().find("pppd terminate timeout!"), std::string::npos) << srv().log();
  EXPECT_TRUE(eventually([&] {
    return process_gone(all[0]) && process_gone(all[1]) && process_gone(all[2]) && process_gone(t38);
  })) << srv().log();
  EXPECT_EQ(file_text(root + "/var/run/server.pid"), "") << "the pid file is removed";
  struct stat st;
  EXPECT_NE(::stat((root + "/var/run/server.pid").c_str(), &st), 0);

  // A new server on the same board root: it listens, answers, takes the
  // authentication port again and makes slots.
  const std::uint16_t port = free_port();
  ServerProcess again(root, {"--port", std::to_string(port)});
  ControllerClient ctl;
  ctl.drop = nullptr;
  ASSERT_TRUE(ctl.connect(port, patience_ms)) << again.out() << again.err();
  ctl.send("C0 01 01 00 05 18");
  std::string f;
  for (int i = 0; i < 20 && f != "C0 01 01 00 05 40"; ++i) f = ctl.next(patience_ms);
  EXPECT_EQ(f, "C0 01 01 00 05 40") << again.out() << again.err();
  ctl.send(trunk_image(2, 1, 0, 1));
  for (int i = 0; i < 20 && describe(f) != "seq 2 slot 1 success"; ++i) f = ctl.next(patience_ms);
  EXPECT_EQ(describe(f), "seq 2 slot 1 success");
  EXPECT_EQ(again.err().find("fail to bind auth socket"), std::string::npos) << again.err();
  // SIGINT stops it as SIGTERM does, the controller still connected.
  again.signal(SIGINT);
  EXPECT_EQ(again.wait(), 0) << again.err();
  EXPECT_TRUE(ctl.closed(patience_ms));
}

}  // namespace
