// Black-box: long seeded random walks of slot commands against the running
// server. Each step picks from a table of actions: creates of every media
// and channel kind on a few slot numbers (so creates over live slots and
// commands to missing ones are frequent), connects and disconnects of
// random pairs, driver requests and activations, destroys, device failures
// armed for the next request or two, hostile device records, HDLC frames
// and hang-ups, SIGHUP, and pppd stand-ins that end, hang on or ignore
// their hangup. Commands go out in bursts, so they meet slots
// mid-transition. Every few dozen steps every slot goes, by destroys or by
// the controller leaving.
// Throughout: every command gets exactly one answer with its sequence
// number and the server neither dies nor reports a sanitizer fault. After
// every slot is gone: the board holds nothing, no child program is left,
// the descriptors are back at their count; at the end each kind can be made
// anew. Real time, every wait bounded.
//
// SOAK_SEED=S runs that seed alone, SOAK_STEPS=N sets the steps per seed.
#include "tests/media/mixer_images.h"
#include "tests/media/rtp_fixture.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/lgcp_text.h"
#include "tests/support/loopback.h"
#include "tests/support/server_process.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

using Strings = std::vector<std::string>;
using P = TERM::Payload;
using Rng = std::mt19937;

constexpr int slot_range = 10;

int pick(Rng& r, int n) { return static_cast<int>(r() % static_cast<unsigned>(n)); }

std::string random_hex(Rng& r, int max_len) {
  std::string s;
  const int n = 1 + pick(r, max_len);
  for (int i = 0; i < n; ++i) s += "0123456789ABCDEF"[pick(r, 16)], s += "0123456789ABCDEF"[pick(r, 16)];
  return s;
}

int pick_from(Rng& r, const std::set<int>& s) {
  auto it = s.begin();
  std::advance(it, pick(r, static_cast<int>(s.size())));
  return *it;
}

// A slot made with dhost only binds its RTCP socket on the peer's port + 1:
// taken with the peer's, so no test beside this one holds it.
rtptest::UdpPeer& rtp_peer() {
  static rtptest::UdpPeer p(testsupport::free_port());
  return p;
}
LoopbackListener& recorder_peer() {
  static LoopbackListener l;
  return l;
}

std::string modem_image(int seq, int slot, int variant) {
  return create_image(seq, slot, [&](LGCP::CreateParams& p) {
    TERM::ModemParams& m = p.select_modem();
    m.set_cid("");
    m.set_cdid("");
    if (variant & 1) m.set_originate();
    if (variant & 2) m.set_fax();
    if (variant & 4) {
      TERM::DigitalDataModeEnum e;
      e.setFromInt(variant & 8 ? 3 : 0);
      m.set_ddm().push_back(e);
    }
  });
}

// The kinds of slot the walk makes; `v` varies channels and options.
struct Kind {
  const char* name;
  std::function<std::string(int seq, int slot, int v)> make;
};

const std::vector<Kind>& kinds() {
  static const std::vector<Kind> k = {
      {"trunk", [](int s, int n, int v) { return trunk_image(s, n, v % 3, 1 + v % 4); }},
      {"bri", [](int s, int n, int v) { return trunk_image(s, n, 2, v % 3, true); }},
      {"map", [](int s, int n, int v) { return map_image(s, n, 8192 + 10 + v % 6, 8192 + 20 + v % 6); }},
      {"ext", [](int s, int n, int v) { return ext_image(s, n, 40 + v % 5, 50 + v % 5); }},
      {"echo",
       [](int s, int n, int v) {
         return create_image(s, n, [&](LGCP::CreateParams& p) {
           p.select_echo().set_bus(0);
           p.select_echo().set_channel(v % 4);
         });
       }},
      {"hdlc-package",
       [](int s, int n, int v) {
         return command_image(s, n, [&](LGCP::Command& c) {
           LGCP::HdlcParams& h = c.select_create().select_hdlcParams();
           h.set_trunk(1 + v % 2);
           h.set_log(0);
           h.set_address(3);
         });
       }},
      {"data",
       [](int s, int n, int v) {
         return command_image(s, n, [&](LGCP::Command& c) {
           LGCP::MccParams& p = c.select_create().select_mcc();
           p.set_type(LGCP::MccType::data);
           p.set_mode(v % 2 ? LGCP::MccMode::ss7 : LGCP::MccMode::standard);
         });
       }},
      {"rtp",
       [](int s, int n, int) {
         const LGCP::CreateParams p =
             rtptest::rtp_params(P::ptG711_Alaw, "127.0.0.1", rtp_peer().port(), P::ptG711_Alaw, P::ptG711_Alaw);
         return create_image(s, n, [&](LGCP::CreateParams& c) { c = p; });
       }},
      {"mixer-in", [](int s, int n, int v) { return mixertest::in_image(s, n, 0, {v % 8}); }},
      {"mixer-out",
       [](int s, int n, int v) {
         return mixertest::out_image(s, n, 0, {8 + v % 8}, {{{v % 8}, 100}});
       }},
      {"player",
       [](int s, int n, int v) {
         return command_image(s, n, [&](LGCP::Command& c) {
           auto& f = c.select_create().select_voice().select_player().select_file();
           f.set_name().push_back(std::string(v % 5 ? "tone" : "missing"));
           f.set_repeat(v % 3);
         });
       }},
      {"recorder",
       [](int s, int n, int) {
         return command_image(s, n, [](LGCP::Command& c) {
           auto& h = c.select_create().select_voice().select_record();
           h.set_iaddr(std::string("127.0.0.1"));
           h.set_port(recorder_peer().port());
         });
       }},
      {"modem", [](int s, int n, int) { return modem_image(s, n, 0); }},
      {"modem-originate", [](int s, int n, int) { return modem_image(s, n, 1); }},
      {"fax", [](int s, int n, int v) { return modem_image(s, n, 2 | (v & 1)); }},
      {"digital", [](int s, int n, int v) { return modem_image(s, n, 4 | (v & 8) | (v & 1)); }},
      {"t38",
       [](int s, int n, int v) {
         return command_image(s, n, [&](LGCP::Command& c) {
           auto& t = c.select_create().select_t38soft();
           t.set_dhost().set_iaddr(std::string("127.0.0.1"));
           t.set_dhost().set_port(5000 + v % 4);
           t.set_shost().set_iaddr(std::string("0.0.0.0"));
           t.set_shost().set_port(6000 + v % 4);
           t.set_rx_packet_size(256);
           t.set_rx_threshold(3);
           t.set_tx_threshold(4);
         });
       }},
  };
  return k;
}

// Driver requests and activations a slot may or may not take.
std::string params_image(int seq, int slot, Rng& r) {
  switch (pick(r, 9)) {
    case 0:
      return command_image(seq, slot, [&](LGCP::Command& c) { c.select_ioctl().select_dtmf_enable(r() % 2); });
    case 1:
      return command_image(seq, slot, [&](LGCP::Command& c) { c.select_ioctl().select_vad_enable(r() % 2); });
    case 2:
      return command_image(seq, slot, [](LGCP::Command& c) { c.select_ioctl().select_activateTonec(); });
    case 3:
      return ioctl_image(seq, slot);
    case 4:
      return command_image(seq, slot, [&](LGCP::Command& c) { c.select_ioctl().select_echoSuppressor(r() % 2); });
    case 5:
      return activate_image(seq, slot);
    case 6:
      return null_command_image(seq, slot, "deactivate");
    case 7: {
      const std::vector<char> b = bytes(random_hex(r, 40));
      return user_data_image(seq, slot, std::string(b.begin(), b.end()));
    }
    default:
      return command_image(seq, slot, [&](LGCP::Command& c) {
        auto& a = c.select_ioctl().select_activateRecord();
        a.set_iaddr(std::string("127.0.0.1"));
        a.set_port(recorder_peer().port());
      });
  }
}

// Failures armed for the next request or two of one device step, and the
// words that clear them again.
const Strings& failure_words() {
  static const Strings w = {"hal fail connect 5", "hal fail disable 5",       "hal fail open 24",
                            "mcc fail open 12",   "mcc fail allocate 16",     "mcc fail timeslot 5",
                            "rtp fail open",      "rtp fail begin",           "rtp fail add",
                            "rtp fail pd_set",    "mctl fail 0xBB0B 16",      "mctl fail 0xBB15 5",
                            "mctl fail 0xBB16 5", "mctl fail open 24",        "dtmf fail DTMF_ENABLE_DETECTOR 5",
                            "dtmf fail open 24",  "dsp fail DSPROC_ENABLE 5", "dsp fail DSPROC_CONFIGURE 5",
                            "net fail ppp 19"};
  return w;
}

class Soak : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<RunningServer>(Strings{}, [](const std::string& root) {
      std::system(
          ("mkdir -p '" + root + "/usr/local/voice' '" + root + "/usr/local/sbin' '" + root + "/var/standin'").c_str());
      std::system(("cp '" GW_T38_STANDIN "' '" + root + "/usr/local/sbin/t38'").c_str());
      ::chmod((root + "/usr/local/sbin/t38").c_str(), 0755);
      std::ofstream(root + "/usr/local/voice/tone") << std::string(16000, '\x55');
      std::ofstream(root + "/var/standin/pppd.mode") << "hup 0\n";
      std::ofstream(root + "/var/standin/fax.mode") << "hup 0\n";
    });
    ASSERT_TRUE(srv().ready()) << srv().log();
    for (const char* w : {"mixer add 0 16 48", "net add hdlc0 0x11", "net add hdlc1 0x11", "mctl pool 4"})
      ASSERT_EQ(srv().sim.ask(w), "") << w;
    send({null_command_image(++seq_, -1, "query")});
    settle();
  }

  RunningServer& srv() { return *server_; }

  // Sends the images in one write and notes their sequence numbers.
  void send(const Strings& images) {
    for (const std::string& i : images) {
      LGCP::Message m;
      ASSERT_TRUE(decode(i, m));
      pending_[m.get_seq().getValue()] = describe(i);
    }
    srv().ctl.send_all(images);
  }

  // A ping after what was sent; reads every frame up to its answer. Each
  // answer must be for a command still waiting for one.
  void settle() {
    const int ping = ++seq_;
    send({null_command_image(ping, -1, "ping")});
    while (pending_.count(ping)) {
      const std::string f = srv().ctl.next(patience_ms);
      if (f.empty()) {
        ADD_FAILURE() << "no answer to the ping\n" << trail();
        pending_.erase(ping);
        break;
      }
      const std::string t = describe(f);
      LGCP::Message m;
      if (!decode(f, m)) {
        ADD_FAILURE() << t << "\n" << trail();
        continue;
      }
      int channel = 0;
      if (std::sscanf(t.c_str(), "slot %*d %*s active %d", &channel) == 1 && channel >= 0) channels_.insert(channel);
      if (!m.seq_isPresent()) {
        note("  <- " + t);
        continue;
      }
      const unsigned s = m.get_seq().getValue();
      pending_answered_ = pending_.count(s) ? pending_[s] : "";
      if (!pending_.erase(s)) ADD_FAILURE() << "an answer to no waiting command: " << t << "\n" << trail();
      answers_[s] = t.substr(t.find(' ', 4) + 1);
      const std::string& a = answers_[s];
      // The numbers that hold a slot, as far as the answers tell.
      int slot = -1;
      if (std::sscanf(a.c_str(), "slot %d", &slot) == 1) {
        const std::string& c = pending_answered_;
        if (a.find("success") != std::string::npos && c.find("create") != std::string::npos) alive_.insert(slot);
        if (a.find("slotNotExists") != std::string::npos ||
            (a.find("success") != std::string::npos && c.find("destroy") != std::string::npos))
          alive_.erase(slot);
      }
      ++tally_[a.rfind("slot ", 0) == 0 ? a.substr(a.find(' ', 5) + 1) : a];
      note("  <- " + t);
    }
  }

  void note(const std::string& s) {
    steps_.push_back(s);
    if (steps_.size() > 2000) steps_.pop_front();
  }
  std::string trail() const {
    std::string s;
    for (const std::string& l : steps_) s += l + "\n";
    return s;
  }

  bool healthy() { return srv().process->running() && srv().sim.request("hal list").ok(); }
  bool sanitizer_report() {
    const std::string log = srv().log();
    return log.find("runtime error") != std::string::npos || log.find("Sanitizer") != std::string::npos;
  }

  // The server's child processes, and its open descriptors.
  std::vector<int> children() {
    std::vector<int> out;
    DIR* d = ::opendir("/proc");
    for (dirent* e; d && (e = ::readdir(d));) {
      const int pid = std::atoi(e->d_name);
      if (pid > 0 && testsupport::parent_pid(pid) == srv().process->pid()) out.push_back(pid);
    }
    if (d) ::closedir(d);
    return out;
  }
  static std::string programs(const std::vector<int>& pids) {
    std::string s;
    for (int p : pids) s += "left: " + file_text("/proc/" + std::to_string(p) + "/cmdline") + "\n";
    return s;
  }
  std::set<std::string> hal_paths() {
    std::set<std::string> out;
    std::istringstream in(srv().sim.ask("hal list"));
    for (std::string l; std::getline(in, l);) out.insert(l);
    return out;
  }
  std::string held() {
    std::string s = "mcc channels: " + srv().sim.ask("mcc channels") +
                    "\ndspdata channels: " + srv().sim.ask("dspdata channels") + "\n";
    std::istringstream in(srv().sim.ask("rtp sessions"));
    for (std::string l; std::getline(in, l);)
      if (l.rfind("open", 0) == 0) s += "rtp session: " + l + "\n";
    return s + "mixer: " + srv().sim.ask("mixer mix 0 8") + "\ndevices:\n" + srv().sim.ask("devices") + "\n";
  }

  // Destroys every number, waits for the deferred answers (killing a
  // program that ignores its hangup), clears the armed failures.
  // Destroys every number, or lets the controller go (which destroys every
  // slot, the pending ones a second later), waits for the deferred answers
  // (killing a program that ignores its hangup) and clears the armed
  // failures.
  void destroy_all(bool leave = false) {
    mode("hup 0");
    if (leave) {
      note("controller leaves");
      srv().ctl.close();
      ASSERT_TRUE(rejoin()) << trail();
      pending_.clear();
      alive_.clear();
    } else {
      Strings images;
      for (int n = 0; n < slot_range; ++n) images.push_back(null_command_image(++seq_, n, "destroy"));
      note("destroy all");
      send(images);
    }
    const std::int64_t start = real_ms();
    EXPECT_TRUE(eventually([&] {
      if (real_ms() > start + 3000)
        for (int pid : children()) ::kill(pid, SIGKILL);
      settle();
      return pending_.empty();
    })) << "deferred destroys never answered\n"
        << trail();
    kill_fax_receivers();
    pending_.clear();
    for (const std::string& w : failure_words())
      srv().sim.ask(w.rfind("rtp", 0) == 0 ? w + " 0" : w.substr(0, w.rfind(' ')) + " 0");
  }

  // A controller anew. One that knocks while the old connection is still
  // being taken down is dropped by design: it knocks again.
  bool rejoin() {
    const std::int64_t end = real_ms() + patience_ms;
    while (real_ms() < end) {
      if (!srv().reconnect()) return false;
      const int ping = ++seq_;
      srv().ctl.send(null_command_image(ping, -1, "ping"));
      for (std::string f; !(f = srv().ctl.next(5000)).empty();)
        if (describe(f) == "seq " + std::to_string(ping) + " success") return true;
      srv().ctl.close();
      ::usleep(100000);
    }
    return false;
  }

  // Nobody watches a fax receiver: it outlives its slot by design.
  void kill_fax_receivers() {
    for (int pid : children())
      if (file_text("/proc/" + std::to_string(pid) + "/cmdline").find("receive") != std::string::npos)
        ::kill(pid, SIGKILL);
  }

  void mode(const std::string& m) {
    for (const char* p : {"pppd", "fax"})
      std::ofstream(srv().board(std::string("/var/standin/") + p + ".mode")) << m << "\n";
  }

  // Each kind made once on a clean board; the answers by kind.
  std::string make_each() {
    std::string out;
    for (const Kind& k : kinds()) {
      const int s = ++seq_;
      send({k.make(s, 1, 0)});
      // The tone and voice units open on their first detector and stay.
      if (std::string(k.name) == "rtp")
        send({command_image(++seq_, 1, [](LGCP::Command& c) { c.select_ioctl().select_dtmf_enable(true); }),
              command_image(++seq_, 1, [](LGCP::Command& c) { c.select_ioctl().select_vad_enable(true); })});
      settle();
      out += std::string(k.name) + ": " + answers_[s] + "\n";
      destroy_all();
    }
    return out;
  }

  // One step of the walk.
  void step(Rng& r) {
    // Mostly numbers that hold a slot, now and then any.
    auto number = [&] { return alive_.empty() || pick(r, 5) == 0 ? pick(r, slot_range) : pick_from(r, alive_); };
    const int a = number(), b = number();
    Strings burst;
    const int n = 1 + pick(r, 3);
    for (int i = 0; i < n; ++i) {
      const int s = ++seq_, slot = number();
      switch (pick(r, 10)) {
        case 0:
        case 1:
        case 2: {
          const Kind& k = kinds()[pick(r, static_cast<int>(kinds().size()))];
          burst.push_back(k.make(s, slot, pick(r, 16)));
          made_.push_back(std::string(" ") + k.name);
          // A package slot's wiring outlives its channel by design.
          package_ |= std::string(k.name) == "hdlc-package";
          break;
        }
        case 3:
        case 4:
          burst.push_back(connect_image(s, i ? slot : a, i ? a : b));
          break;
        case 5:
          burst.push_back(null_command_image(s, slot, "disconnect"));
          break;
        case 6:
        case 7:
          burst.push_back(params_image(s, slot, r));
          break;
        default:
          burst.push_back(null_command_image(s, slot, "destroy"));
      }
    }
    for (const std::string& i : burst) {
      const std::string d = describe(i);
      note("-> " + d + (d.find("create") != std::string::npos ? made_.back() : ""));
    }
    made_.clear();
    send(burst);
    // Something from outside the command stream meanwhile.
    switch (pick(r, 12)) {
      case 0: {
        const std::string w = failure_words()[pick(r, static_cast<int>(failure_words().size()))];
        const std::string word = w + (w.rfind("rtp", 0) == 0 ? "" : " " + std::to_string(1 + pick(r, 2)));
        note("sim " + word);
        srv().sim.ask(word);
        break;
      }
      case 1: {
        std::istringstream in(srv().sim.ask("mcc channels"));
        // Frames in, writes that meet a full driver, a channel the driver drops.
        for (std::string l; std::getline(in, l);) {
          const std::string ts = std::to_string(std::atoi(l.c_str()));
          const Strings words = {"mcc inject " + ts + " " + random_hex(r, 30), "mcc inject " + ts + " -",
                                 "mcc eagain " + ts + " " + std::to_string(1 + pick(r, 5)), "mcc hangup " + ts};
          const std::string& word = words[pick(r, 10) < 7 ? 0 : 1 + pick(r, 3)];
          note("sim " + word);
          srv().sim.ask(word);
        }
        break;
      }
      case 2: {
        // Device records, cut short or whole, mostly for channels in use.
        const std::string ts = std::to_string(channels_.empty() ? pick(r, 300) : pick_from(r, channels_));
        // Drawn one per statement, in the order listed: the order of
        // operands is the compiler's, and the same seed must draw alike on
        // the board's processor and here.
        auto draw = [&](int n, int scale = 1) { return std::to_string(pick(r, n) * scale); };
        const std::string raw_rtp = random_hex(r, 24), e1 = draw(8), e2 = draw(16), e3 = draw(3, 100);
        const std::string raw_dtmf = random_hex(r, 24), raw_dsp = random_hex(r, 24), d1 = draw(16), d2 = draw(4);
        const std::string p1 = draw(4), p2 = draw(4);
        const Strings words = {"rtp raw " + ts + " " + raw_rtp,
                               "rtp event " + ts + " " + e1 + " " + e2 + " " + e3,
                               "dtmf raw " + raw_dtmf,
                               "dsp raw " + raw_dsp,
                               "dtmf event " + d1 + " " + ts + " 0 " + d2,
                               "dsp event " + ts + " " + p1 + " " + p2 + " 1 2 3"};
        const std::string word = words[pick(r, static_cast<int>(words.size()))];
        note("sim " + word);
        srv().sim.ask(word);
        break;
      }
      case 3: {
        const char* m[] = {"hup 0", "never", "exit 1"};
        const std::string word = m[pick(r, 3)];
        note("programs " + word);
        mode(word);
        break;
      }
      case 4: {
        // The recorder's peer takes a connection and keeps or drops it.
        const int fd = recorder_peer().accept(0);
        if (fd >= 0) {
          note("recorder peer accepts");
          if (r() % 2)
            peers_.push_back(std::make_unique<LoopbackPeer>(fd));
          else
            ::close(fd);
        }
        if (peers_.size() > 4) peers_.erase(peers_.begin());
        break;
      }
      case 5:
        if (pick(r, 4) == 0) {
          note("SIGHUP");
          srv().process->signal(SIGHUP);
        }
        break;
      default:
        break;
    }
    settle();
  }

  // What every destroy of all slots must come back to.
  void clean(const std::string& board0, std::set<std::string>& paths0, int fds0) {
    ASSERT_FALSE(sanitizer_report()) << srv().log();
    peers_.clear();
    std::string board;
    EXPECT_TRUE(eventually([&] { return (board = held()) == board0; })) << board << trail();
    // No switch path is new. A package slot's wiring outlives its channel by
    // design: after one, the paths left are taken as they are.
    std::set<std::string> paths, extra;
    EXPECT_TRUE(eventually([&] {
      paths = hal_paths();
      extra.clear();
      for (const std::string& p : paths)
        if (!package_ && !paths0.count(p)) extra.insert(p);
      return extra.empty();
    })) << ::testing::PrintToString(extra)
        << trail();
    paths0 = paths;
    package_ = false;
    std::vector<int> left;
    EXPECT_TRUE(eventually([&] {
      kill_fax_receivers();
      return (left = children()).empty();
    })) << programs(left)
        << trail();
    // Counted after "devices": the simulator has let go of closed channels.
    int fds = 0;
    EXPECT_TRUE(eventually([&] {
      srv().sim.ask("devices");
      return (fds = open_descriptors(srv().process->pid())) == fds0;
    })) << fds
        << " descriptors, " << fds0 << " before\n"
        << trail();
  }

  void walk(unsigned seed, int steps) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Rng r(seed);
    tally_.clear();
    // The first of each kind opens devices the server then keeps.
    const std::string fresh = make_each();
    // Each kind is made (but echo: the simulated board has no echo-canceller
    // bus): a walk among creates that all fail would hold nothing and so
    // leave nothing behind.
    {
      std::istringstream made(fresh);
      for (std::string line; std::getline(made, line);)
        if (line.rfind("echo: ", 0) != 0) { EXPECT_EQ(line.substr(line.find(": ")), ": slot 1 success") << line; }
    }
    ASSERT_TRUE(eventually([&] {
      kill_fax_receivers();
      return children().empty();
    }));
    const std::string board0 = held();
    std::set<std::string> paths0 = hal_paths();
    const int fds0 = open_descriptors(srv().process->pid());
    for (int i = 0; i < steps && !HasFailure(); ++i) {
      step(r);
      ASSERT_TRUE(healthy()) << "step " << i << "\n" << trail() << srv().log();
      if (pick(r, 30) == 0 || i + 1 == steps) {
        destroy_all(pick(r, 4) == 0);
        clean(board0, paths0, fds0);
        steps_.clear();
      }
    }
    EXPECT_EQ(make_each(), fresh) << trail();
    std::cout << "seed " << seed << ", " << steps << " steps, answers: " << ::testing::PrintToString(tally_) << "\n";
  }

  std::unique_ptr<RunningServer> server_;
  std::map<unsigned, std::string> pending_, answers_;
  std::deque<std::string> steps_;
  std::vector<std::unique_ptr<LoopbackPeer>> peers_;
  std::map<std::string, int> tally_;
  std::set<int> alive_, channels_;
  std::string pending_answered_;
  Strings made_;
  bool package_ = false;
  int seq_ = 0;
};

TEST_F(Soak, RandomCommandWalksLeaveTheBoardAsTheyFoundIt) {
  const char* steps = std::getenv("SOAK_STEPS");
  const char* seed = std::getenv("SOAK_SEED");
#ifdef GW_EMULATED
  // Under the board's emulator the server runs many times slower and the
  // cross run takes its server programs one at a time: one short walk
  // checks the board's byte order, the native run does the longer ones.
  const int n = steps ? std::atoi(steps) : 100;
  const std::initializer_list<unsigned> seeds = {1u};
#else
  const int n = steps ? std::atoi(steps) : 150;
  const std::initializer_list<unsigned> seeds = {1u, 2u};
#endif
  if (seed) return walk(static_cast<unsigned>(std::strtoul(seed, nullptr, 10)), n);
  for (unsigned s : seeds) walk(s, n);
}

}  // namespace
