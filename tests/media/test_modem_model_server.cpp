// Black-box: seeded random walks over a few slot numbers of DSP modem,
// digital-data modem, T.38 and RTP slots beside two trunk time slots, each
// answer and signal compared with what an independent model predicts, and
// after every step the programs running (pppd, t38), what they inherited,
// what the authentication program was sent, the cross-connect's outputs and
// the RTP sessions' payload types and sending. Two DSP modems and two
// interfaces, so allocations clash; now and then a modem allocation or a
// codec restart fails, a program exits at once or is killed, and twice a
// walk the controller leaves. Real time.
//
// GW_MODEL_SEEDS=FIRST-LAST and GW_MODEL_STEPS=N run longer walks.
#include "tests/media/rtp_fixture.h"
#include "tests/media/t38_images.h"
#include "tests/slots/slots_server.h"
#include "tests/support/model_walk.h"

#include <arpa/inet.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

using namespace rtptest;
using namespace slotstest;
using namespace testsupport;

namespace {

enum Kind { kTrunk, kDsp, kHdlc, kT38, kRtp };

struct MSlot {
  Kind kind;
  int ch = -1, source = -1, modem = -1;
  std::set<int> receivers;
  bool in = false, out = false, child = false, ended = false, sending = false;
  std::string dev;  // the pppd's device, or the t38 program's tag argument
  int rx_pt = 8, tx_pt = 8, lbrc = 8;
  int line() const { return kind == kT38 && ended ? -1 : ch; }
};

class Model {
 public:
  std::map<int, MSlot> slots;
  std::vector<int> order;          // creation order
  std::map<int, std::string> hal;  // output channel -> state
  std::deque<std::string> free_ifs = {"hdlc0", "hdlc1"};
  bool fail_alloc = false, exits = false, fail_restart = false;
  int auth_session = -2;  // the session of the last request sent
  std::size_t auth_bytes = 0;
  std::vector<int> exiting;
  Strings frames, later;  // later: what a program's end sends after the answer

  void add(int n, const std::string& what) { frames.push_back("slot " + std::to_string(n) + " " + what); }
  void signal(int n, const char* dir, int ch) { add(n, std::string(dir) + " active " + std::to_string(ch)); }
  void answer(int seq, int n, const std::string& what) {
    frames.push_back("seq " + std::to_string(seq) + " slot " + std::to_string(n) + " " + what);
  }
  void launch(int n) {
    MSlot& s = slots.at(n);
    // One that exits at once still runs for the rest of the command: a
    // second stream start of the same command starts none.
    s.child = true;
    if (exits) exiting.push_back(n), later.push_back("slot " + std::to_string(n) + " abort " + std::to_string(3 << 8));
  }
  void settle() {
    for (int n : exiting)
      if (slots.count(n)) slots.at(n).child = false;
    exiting.clear();
  }
  // The first stream start sets a modem up and runs its pppd; a digital
  // call runs one again once the last has ended.
  void start(int n) {
    MSlot& s = slots.at(n);
    if (s.kind == kDsp && s.modem < 0) {
      int m = 0;  // the lowest of the two modems no slot holds
      while (m < 2 && std::any_of(slots.begin(), slots.end(),
                                  [&](const std::pair<const int, MSlot>& e) { return e.second.modem == m; }))
        ++m;
      if (fail_alloc || m > 1) return fail_alloc = false, add(n, "abort 16");
      s.modem = m, s.ch = 1792 + m, s.dev = "/dev/mdm" + std::to_string(m);
      if (!s.out) s.out = true, signal(n, "transmitter", s.ch);
      if (!s.in) s.in = true, signal(n, "receiver", s.ch);
      launch(n);
    } else if (s.kind == kHdlc && !s.child) {
      s.ch = 1824 + (s.dev.back() - '0');
      launch(n);
    }
  }
  void quiet(int rx) {
    if (rx >= 0) hal[rx] = "byte 213";
  }
  void drop_link(int b) {
    MSlot& r = slots.at(b);
    slots.at(r.source).receivers.erase(b);
    r.source = -1, r.sending = false;
  }
  bool connect(int a, int b) {
    MSlot& src = slots.at(a);
    MSlot& rcv = slots.at(b);
    if (rcv.source == a) return true;
    if (src.receivers.empty()) {
      if (src.kind == kT38 && src.ended) return false;
      start(a);
      if (!src.out) src.out = true, signal(a, "transmitter", src.line());
    }
    const int old = rcv.source;
    if (old < 0) {
      if (rcv.kind == kT38 && rcv.ended) return false;
      start(b);
      rcv.sending = rcv.kind == kRtp;
      if (!rcv.in) rcv.in = true, signal(b, "receiver", rcv.line());
    } else {
      quiet(rcv.line());
    }
    if (src.line() >= 0 && rcv.line() >= 0) {
      hal[rcv.line()] = "connected " + std::to_string(src.line());
      if (old >= 0) slots.at(old).receivers.erase(b);
      rcv.source = a;
      src.receivers.insert(b);
      return true;
    }
    if (old < 0)
      rcv.sending = false;
    else if (slots.at(old).line() < 0 || rcv.line() < 0)
      drop_link(b);  // the old path cannot be put back either
    else
      hal[rcv.line()] = "connected " + std::to_string(slots.at(old).line());
    return false;
  }
  void disconnect(int b) {
    if (slots.at(b).source < 0) return;
    quiet(slots.at(b).line());
    drop_link(b);
  }
  void destroy(int n) {
    disconnect(n);
    const std::set<int> rs = slots.at(n).receivers;
    for (int r : rs) disconnect(r);
    const MSlot& s = slots.at(n);
    if (s.kind == kRtp) hal[s.ch] = "disabled";
    if (s.kind == kHdlc) free_ifs.push_back(s.dev);
    slots.erase(n);
    order.erase(std::find(order.begin(), order.end(), n));
  }
  // A program's end: the abort, and a t38 channel's lines go quiet.
  void ended(int n, int status, bool late = false) {
    MSlot& s = slots.at(n);
    s.child = false;
    if (s.kind == kT38) {
      s.ended = true;
      if (s.source >= 0) quiet(s.ch);
      for (int r : s.receivers) quiet(slots.at(r).line());
    }
    (late ? later : frames).push_back("slot " + std::to_string(n) + " abort " + std::to_string(status));
  }
  void create(int seq, int n, Kind k, int a) {
    if (slots.count(n) && slots.at(n).child && slots.at(n).kind != kT38)
      return destroy(n), answer(seq, n, "error slotIdBusy");  // its pppd is hung up first
    if (slots.count(n)) destroy(n);
    MSlot s;
    s.kind = k;
    if (k == kTrunk) {
      s.ch = 32 + a;
      for (const auto& e : slots)
        if (e.second.kind == kTrunk && e.second.ch == s.ch) return destroy(e.first), create(seq, n, k, a);
    }
    if (k == kHdlc) {
      if (free_ifs.empty())
        s.kind = kDsp;
      else
        s.dev = free_ifs.front(), free_ifs.pop_front();
    }
    if (k == kT38) s.ch = a, s.dev = "s" + std::to_string(a), s.child = true;
    if (k == kRtp) {
      s.ch = 4096;  // the lowest channel no session holds
      while (std::any_of(slots.begin(), slots.end(), [&](const std::pair<const int, MSlot>& e) {
        return e.second.kind == kRtp && e.second.ch == s.ch;
      }))
        ++s.ch;
      s.rx_pt = s.lbrc = a ? 0 : 8;
    }
    slots[n] = s;
    order.push_back(n);
    answer(seq, n, "success");
    MSlot& m = slots[n];
    if (k == kTrunk || k == kT38 || k == kRtp) {
      m.out = m.in = true;
      signal(n, "transmitter", m.ch);
      signal(n, "receiver", m.ch);
    }
    if (k == kT38 && exits) ended(n, 3 << 8, true);
  }
  void command(int seq, int n, const std::string& what, int target) {
    if (!slots.count(n) || (what == "connect" && !slots.count(target))) return answer(seq, n, "error slotNotExists");
    MSlot& s = slots.at(n);
    if (what == "connect") return answer(seq, n, connect(n, target) ? "success" : "error connectFail");
    if (what == "disconnect") return disconnect(n), answer(seq, n, "success");
    if (what == "destroy") return destroy(n), answer(seq, n, "success");
    if (what == "activate" && (s.kind == kDsp || s.kind == kHdlc)) {
      const int id = s.kind == kHdlc ? -1 : s.modem;
      if ((s.kind == kHdlc || s.modem >= 0) && auth_session == id) auth_bytes += 16 + 36;
      return answer(seq, n, "success");
    }
    if (what != "activate" && s.kind == kRtp) {
      int& pt = what == "encoder" ? s.tx_pt : s.rx_pt;
      const int want = target == 0 ? 8 : target == 1 ? 0 : s.lbrc;
      if (want != pt && fail_restart) return answer(seq, n, "error unsupported");
      pt = want;
      return answer(seq, n, "success");
    }
    answer(seq, n, "error unsupported");
  }
  // An authentication request for a session: the first modem slot made
  // whose session it is.
  void auth(int session, const std::string& user) {
    auth_session = session;
    for (int n : order) {
      const MSlot& s = slots.at(n);
      if ((s.kind == kHdlc && session == -1) || (s.kind == kDsp && s.modem >= 0 && s.modem == session))
        return add(n, "auth " + user + " pw");
    }
  }
  // Slots that can go go at once; those whose pppd is hung up go a second
  // later, and hand their interfaces back after the others.
  void controller_left() {
    const std::vector<int> all = order;
    std::vector<int> pending;
    for (int n : all) {
      const MSlot& s = slots.at(n);
      if (s.child && s.kind != kT38)
        pending.push_back(n);
      else
        destroy(n);
    }
    for (int n : pending) destroy(n);
  }
  std::string dump() const {
    std::string d;
    for (const auto& s : slots)
      d += "  slot " + std::to_string(s.first) + " kind " + std::to_string(s.second.kind) + " ch " +
           std::to_string(s.second.ch) + " source " + std::to_string(s.second.source) + " dev " + s.second.dev +
           (s.second.child ? " running" : "") + (s.second.ended ? " ended" : "") + "\n";
    return d;
  }
};

const int kNumbers[] = {0, 1, 2, 3, 5, 1023};

// Frames as text, with the abort codes and the admission requests.
std::string tell(const std::string& frame) {
  LGCP::Message m;
  if (!decode(frame, m) || !m.get_pdu().signal_isSelected()) return describe(frame);
  const LGCP::Signal& s = m.get_pdu().get_signal();
  const std::string slot = "slot " + std::to_string(m.get_slot().getValue()) + " ";
  if (s.abort_isSelected()) return slot + "abort " + std::to_string(s.get_abort().getValue());
  if (s.modemProceeding_isSelected() && s.get_modemProceeding().auth_isSelected())
    return slot + "auth " + std::string(s.get_modemProceeding().get_auth().get_username()) + " " +
           std::string(s.get_modemProceeding().get_auth().get_password());
  return describe(frame);
}

class ModemModel : public ServerSuite {
 protected:
  static std::string sim(const std::string& line) { return srv().sim.ask(line); }
  static Strings next(std::size_t n, int ms) {
    Strings out;
    while (out.size() < n) {
      const std::string f = srv().ctl.next(ms);
      if (f.empty()) break;
      out.push_back(tell(f));
    }
    return out;
  }
  static void put(const std::string& path, const std::string& text) { std::ofstream(srv().board(path)) << text; }
  // The programs that ran: pid -> device or tag, and what each inherited.
  // The programs still running (not yet reaped): pid -> the pppd's device
  // or the t38 program's tag; and any descriptor a program inherited.
  static std::map<int, std::string> programs(std::string& fds) {
    std::set<int> pids;
    std::ifstream p(srv().board("/var/standin/pppd.log"));
    for (std::string l; std::getline(p, l);) {
      if (l.rfind("pid ", 0) == 0) pids.insert(std::stoi(l.substr(4)));
      if (l.rfind("fds ", 0) == 0 && l != "fds none") fds += "pppd " + l + "\n";
    }
    std::ifstream t(srv().board("/usr/local/sbin/t38.log"));
    for (std::string l; std::getline(t, l);)
      if (l.rfind("pid=", 0) == 0) pids.insert(std::stoi(l.substr(4)));
    std::ifstream st(srv().board("/usr/local/sbin/t38.start"));
    for (std::string l; std::getline(st, l);)
      if (l.find("fds none") == std::string::npos) fds += "t38 " + l + "\n";
    std::map<int, std::string> out;
    for (int pid : pids) {
      Strings argv;
      std::ifstream c("/proc/" + std::to_string(pid) + "/cmdline");
      for (std::string a; std::getline(c, a, '\0');) argv.push_back(a);
      // Gone once the server has reaped it; a pid without a command line has
      // ended and waits for the server to see it.
      if (::kill(pid, 0) != 0) continue;
      // A pid of an earlier seed's program may have been given to another
      // process since: only the server's own children count.
      if (testsupport::parent_pid(pid) != srv().process->pid()) continue;
      out[pid] = argv.empty()                                                  ? "unreaped"
                 : argv[0].find("t38") != std::string::npos && argv.size() > 4 ? argv[4]
                                                                               : argv.back();
    }
    return out;
  }
  static std::string state(Model& m, const std::set<int>& chans, bool actual, int peer) {
    std::ostringstream s;
    for (int c : chans)
      s << "hal " << c << ": "
        << (actual           ? sim("hal get " + std::to_string(c))
            : m.hal.count(c) ? m.hal[c]
                             : "none")
        << "\n";
    std::map<int, std::string> rtp;
    if (actual) {
      std::istringstream in(sim("rtp sessions"));
      for (std::string l; std::getline(in, l);) {
        if (l.compare(0, 5, "open,") != 0) continue;
        const auto start = l.rfind("start_tx"), stop = l.rfind("stop_tx");
        const bool on = start != std::string::npos && (stop == std::string::npos || start > stop);
        const auto pt = l.find(",rx_pt=");
        rtp[std::atoi(l.c_str() + l.find("tdm=") + 4)] =
            l.substr(pt, l.find(',', l.find("tx_pt=")) - pt) + (on ? " sending" : "");
      }
      char buf[512];
      ssize_t r;
      while ((r = ::recv(peer, buf, sizeof buf, MSG_DONTWAIT)) > 0) m.auth_bytes -= static_cast<std::size_t>(r);
    } else {
      for (const auto& e : m.slots)
        if (e.second.kind == kRtp)
          rtp[e.second.ch] = ",rx_pt=" + std::to_string(e.second.rx_pt) + ",tx_pt=" + std::to_string(e.second.tx_pt) +
                             (e.second.sending ? " sending" : "");
    }
    for (const auto& e : rtp) s << "rtp " << e.first << e.second << "\n";
    std::string fds;
    std::set<std::string> running;
    if (actual) {
      for (const auto& p : programs(fds)) running.insert(p.second);
    } else {
      for (const auto& e : m.slots)
        if (e.second.child) running.insert(e.second.dev);
    }
    for (const auto& r : running) s << "running " << r << "\n";
    s << fds << "auth bytes owed " << (actual ? m.auth_bytes : 0) << "\n";
    return s.str();
  }
};

TEST_F(ModemModel, EveryAnswerSignalProgramAndDeviceStateIsThePredictedOne) {
  int first = 1, last = 2, steps = 110;
  testsupport::walk_range(first, last, steps);
  ASSERT_EQ(sim("mctl pool 2"), "");
  ::mkdir(srv().board("/var/standin").c_str(), 0755);
  ASSERT_EQ(std::system(("mkdir -p '" + srv().board("/usr/local/sbin") + "' && cp '" GW_T38_STANDIN "' '" +
                         srv().board("/usr/local/sbin/t38") + "'")
                            .c_str()),
            0);
  const std::uint16_t ports = free_rtp_port(6);
  ASSERT_NE(ports, 0);
  const int peer = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(std::atoi(std::getenv(auth_port_variable))));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_TRUE(eventually([&] { return ::connect(peer, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0; }));
  std::set<int> chans = {33, 34, 1792, 1793, 1824, 1825};
  int seq = 10, tag = 4600;
  Model m;
  for (int seed = first; seed <= last; ++seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    Strings trail;
    for (int i = 0; i < steps; ++i) {
      const int ni = pick(6), n = kNumbers[ni], t = kNumbers[pick(6)], op = pick(18);
      std::string what, image;
      const std::string before = m.dump();
      const int q = ++seq;
      m.exits = pick(8) == 0;
      put("/var/standin/pppd.mode", m.exits ? "exit 3\n" : "hup 0\n");
      if (m.exits)
        put("/usr/local/sbin/t38.exit", "3\n");
      else
        ::unlink(srv().board("/usr/local/sbin/t38.exit").c_str());
      if (i == 0 || i == steps / 2) {
        what = "controller leaves";
        ASSERT_TRUE(testsupport::controller_rejoins(srv(), seq, [](std::size_t k) { return next(k, patience_ms); }));
        m.controller_left();
      } else if (op < 6) {
        const Kind k = static_cast<Kind>(pick(5));
        const int a = k == kTrunk ? 1 + pick(2) : k == kT38 ? tag++ : pick(2);
        what = "create kind " + std::to_string(k) + " " + std::to_string(a);
        if (k == kT38) {
          ASSERT_EQ(sim("mcc next " + std::to_string(a)), "");
          chans.insert(a);
        }
        const auto A = TERM::Payload::ptG711_Alaw;
        image = k == kTrunk ? trunk_image(q, n, 1, a)
                : k == kT38 ? t38test::create(q, n, "127.0.0.1", 0, {"s" + std::to_string(a)})
                : k == kRtp ? create_image(q, n,
                                           [&](LGCP::CreateParams& c) {
                                             c = rtp_params(A, "127.0.0.1", static_cast<std::uint16_t>(ports + 2 * ni),
                                                            A, a ? TERM::Payload::ptG711_Ulaw : A);
                                           })
                            : create_image(q, n, [&](LGCP::CreateParams& c) {
                                TERM::ModemParams& p = c.select_modem();
                                p.set_cid("");
                                p.set_cdid("");
                                // A digital call asks for a data mode; an empty list is a DSP modem's.
                                TERM::DigitalDataModeEnum v110;
                                v110.setFromInt(0);
                                if (k == kHdlc || a) p.set_ddm();
                                if (k == kHdlc) p.set_ddm().push_back(v110);
                              });
        m.create(q, n, k, a);
      } else if (op < 8) {
        // A request for a session: a modem's, the digital calls', or none.
        const int session = pick(4) - 1;
        const std::string user = "u" + std::to_string(q);
        what = "auth request " + std::to_string(session);
        unsigned char rec[140] = {};
        const std::uint32_t head[3] = {140, 1, static_cast<std::uint32_t>(session)};
        std::memcpy(rec, head, sizeof head);
        std::memcpy(rec + 12, user.data(), user.size());
        std::memcpy(rec + 76, "pw", 2);
        ASSERT_EQ(::send(peer, rec, sizeof rec, MSG_NOSIGNAL), 140);
        m.auth(session, user);
      } else if (op < 9) {
        what = "kill the program of " + std::to_string(n);
        if (m.slots.count(n) && m.slots.at(n).child) {
          std::string fds;
          for (const auto& p : programs(fds))
            if (p.second == m.slots.at(n).dev) ::kill(p.first, SIGKILL);
          m.ended(n, 9);
        }
      } else {
        static const char* const ops[] = {"connect",  "connect", "connect", "disconnect", "destroy",
                                          "activate", "encoder", "decoder", "connect"};
        what = ops[op - 9];
        const bool codec = what == "encoder" || what == "decoder";
        m.fail_alloc = what == "connect" && pick(5) == 0;
        m.fail_restart = codec && pick(4) == 0;
        ASSERT_EQ(sim(m.fail_alloc ? "mctl fail 0xBB0B 16 1" : "mctl fail 0xBB0B 0"), "");
        ASSERT_EQ(sim(m.fail_restart ? "rtp fail begin EIO" : "rtp fail begin 0"), "");
        const int mode = pick(3);
        image = what == "connect" ? connect_image(q, n, t)
                : what == "activate"
                    ? command_image(q, n,
                                    [](LGCP::Command& c) {
                                      TERM::ModemUserParameters& u = c.select_activate().select_modem();
                                      u.set_remoteAddr("10.1.1.2"), u.set_netmask("255.255.255.0"),
                                          u.set_gateway("10.1.1.1");
                                      u.set_dns("10.1.1.3"), u.set_mtu(1500);
                                    })
                : codec ? command_image(q, n,
                                        [&](LGCP::Command& c) {
                                          const auto cm = static_cast<LGCP::CodecMode::NamedNumber>(
                                              mode == 0   ? LGCP::CodecMode::alaw
                                              : mode == 1 ? LGCP::CodecMode::ulaw
                                                          : LGCP::CodecMode::lbrc);
                                          if (what == "encoder")
                                            c.select_ioctl().select_encoder_mode(cm);
                                          else
                                            c.select_ioctl().select_decoder_mode(cm);
                                        })
                        : null_command_image(q, n, what.c_str());
        m.command(q, n, what, codec ? mode : t);
        what += " " + std::to_string(codec ? mode : t);
      }
      trail.push_back("seq " + std::to_string(q) + " slot " + std::to_string(n) + " " + what);
      m.settle();
      if (!image.empty()) srv().ctl.send(image);
      for (const auto& l : m.later) m.frames.push_back(l);
      Strings got = next(m.frames.size(), 3000);
      const int p = ++seq;
      srv().ctl.send(null_command_image(p, -1, "ping"));
      m.frames.push_back("seq " + std::to_string(p) + " success");
      for (const auto& f : next(1, patience_ms)) got.push_back(f);
      ASSERT_EQ(sim("mctl fail 0xBB0B 0"), "");
      ASSERT_EQ(sim("rtp fail begin 0"), "");
      m.fail_alloc = m.fail_restart = false;
      for (const auto& s : m.slots)
        if (s.second.kind == kRtp) chans.insert(s.second.ch);
      std::string walked;
      for (std::size_t j = trail.size() > 25 ? trail.size() - 25 : 0; j < trail.size(); ++j) walked += trail[j] + "\n";
      // Programs that end together are reaped in no set order.
      const std::size_t tail = m.frames.size() - 1 - m.later.size();
      if (got.size() == m.frames.size()) std::sort(got.begin() + tail, got.end() - 1);
      std::sort(m.frames.begin() + tail, m.frames.end() - 1);
      ASSERT_EQ(got, m.frames) << "seed " << seed << " step " << i << ", last commands:\n" << walked << before;
      std::string expected = state(m, chans, false, peer), actual;
      // Programs end (and are reaped) a little after the answer.
      eventually([&] { return (actual = state(m, chans, true, peer)) == expected; }, 3000);
      ASSERT_EQ(actual, expected) << "seed " << seed << " step " << i << ", last commands:\n" << walked << before;
      m.frames.clear();
      m.later.clear();
    }
  }
  ::close(peer);
  EXPECT_EQ(extra(), Strings{});
}

}  // namespace
