// Black-box: seeded random walks over HDLC package slots, prompt players,
// recorders and E1 trunk time slots on a few slot numbers, each answer and
// signal compared with an independent model, and after every step the HDLC
// controller's open channels and the frames they wrote, and the
// cross-connect's outputs, compared with the model. Packages go out through
// the channels and come back from the device; a deactivate reads the link
// counters. Now and then a channel allocation, a device open or a frame
// write fails, and twice a walk the controller leaves. Real time: a step
// that starts a prompt or a recording waits for its predicted end.
//
// GW_MODEL_SEEDS=FIRST-LAST and GW_MODEL_STEPS=N run longer walks.
#include "tests/support/model_walk.h"
#include "tests/slots/slots_server.h"
#include "tests/support/free_port.h"

#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

using namespace slotstest;
using namespace testsupport;

namespace {

enum Kind { kTrunk, kHdlc, kPlayer, kRecorder };

struct MSlot {
  Kind kind;
  int ch = -1;  // trunk line, or the voice slot's controller channel
  int source = -1;
  std::set<int> receivers;
  bool in = false, out = false;
  bool file = false, started = false;  // player: a prompt that opens; it began
  // Package slot: its channel (open when chan >= 0), the line it was given
  // and the one it drives, frames waiting, sequence numbers and counters.
  int chan = -1, line = -1, line_out = -1;
  Strings queue;
  int tx_seq = 0, rx_seq = 0, sent = 0, errors = 0, received = 0;
};

std::string hex2(int v) {
  char b[4];
  std::snprintf(b, sizeof b, "%02X", v & 0xFF);
  return b;
}

class Model {
 public:
  std::map<int, MSlot> slots;
  std::vector<int> order;
  std::map<int, std::string> hal;      // output channel -> state
  std::map<int, std::string> mcc;      // open controller channel -> its allocation
  std::map<int, Strings> written;      // frames a channel wrote since the last look
  int next_ts = 4096;                  // the driver numbers channels afresh
  bool fail_alloc = false, fail_write = false;
  Strings frames, later;  // answers and signals; those that follow from the loop

  void signal(int n, const std::string& what) { frames.push_back("slot " + std::to_string(n) + " " + what); }
  void answer(int seq, int n, const std::string& what) {
    frames.push_back("seq " + std::to_string(seq) + " slot " + std::to_string(n) + " " + what);
  }
  int prio(int n) { return slots.at(n).kind == kHdlc ? 1 : 0; }
  int tx(int n) { const MSlot& s = slots.at(n); return s.kind == kTrunk || s.kind == kPlayer ? s.ch : -1; }
  int rx(int n) { const MSlot& s = slots.at(n); return s.kind == kTrunk || s.kind == kRecorder ? s.ch : -1; }
  int allocate(const std::string& params) {
    if (fail_alloc) return fail_alloc = false, -1;
    // 1024 numbers from 4096 on, round and round, skipping those held.
    const auto after = [](int t) { return 4096 + (t - 4096 + 1) % 1024; };
    int ts = next_ts;
    for (int i = 0; i < 1024 && mcc.count(ts); ++i) ts = after(ts);
    next_ts = after(ts);
    mcc[ts] = params;
    return ts;
  }
  void close_channel(MSlot& h) {
    if (h.chan < 0) return;
    if (h.line_out >= 0 && hal[h.line_out] == "connected " + std::to_string(h.chan)) hal[h.line_out] = "byte 213";
    hal[h.chan] = "disabled";
    mcc.erase(h.chan), written.erase(h.chan);
    h.chan = h.line_out = -1;
  }
  void send_frame(MSlot& h, const std::string& f) {
    if (fail_write) fail_write = false, ++h.errors;
    else written[h.chan].push_back(f), ++h.sent;
  }
  void activate(int n) {
    MSlot& h = slots.at(n);
    close_channel(h);
    h.sent = h.errors = h.received = 0;
    const int ts = allocate("0,512,0,1,4");
    if (ts < 0) return signal(n, "signal deactivated");
    h.chan = ts;
    if (h.line >= 0) hal[h.line] = "connected " + std::to_string(ts), hal[ts] = "connected " + std::to_string(h.line);
    h.line_out = h.line;
    for (const auto& f : h.queue) send_frame(h, f);
    h.queue.clear();
  }
  void connect_line(int n, int line) {
    slots.at(n).line = line;
    if (line != -1) activate(n);
  }
  void quieten(int r) {
    if (rx(r) >= 0) hal[rx(r)] = "byte 213";
  }
  // The line of a connection that stays, once one goes.
  void keep_line(int n, int leaving_source, int leaving_receiver) {
    MSlot& h = slots.at(n);
    std::vector<int> kept;
    if (h.source >= 0 && h.source != leaving_source) kept.push_back(tx(h.source));
    for (int r : h.receivers)
      if (r != leaving_receiver) kept.push_back(rx(r));
    if (std::find(kept.begin(), kept.end(), h.line) != kept.end()) return;
    h.line = kept.empty() ? -1 : kept.front();
  }
  void ll_disconnect(int b) {
    const int a = slots.at(b).source;
    if (prio(b) <= prio(a)) {
      quieten(b);
      if (slots.at(a).kind == kHdlc) close_channel(slots.at(a)), keep_line(a, -1, b);
    } else {
      close_channel(slots.at(b)), keep_line(b, a, -1);
    }
  }
  void ll_connect(int a, int b) {
    if (prio(a) <= prio(b)) {
      if (slots.at(b).kind == kHdlc) connect_line(b, tx(a));
      else hal[rx(b)] = "connected " + std::to_string(tx(a));
    } else {
      connect_line(a, rx(b));
    }
  }
  void disconnect(int b) {
    MSlot& r = slots.at(b);
    if (r.source < 0) return;
    ll_disconnect(b);
    slots.at(r.source).receivers.erase(b);
    r.source = -1;
  }
  // A prompt that ends: its receivers go, and the controller hears of it.
  void release(int p) {
    later.push_back("slot " + std::to_string(p) + " transmitter inactive");
    const std::set<int> rs = slots.at(p).receivers;
    for (int r : rs) disconnect(r);
    slots.at(p).out = false;
    later.push_back("slot " + std::to_string(p) + " signal abort 0");
  }
  bool connect(int a, int b) {
    MSlot& src = slots.at(a);
    MSlot& rcv = slots.at(b);
    if (rcv.source == a) return true;
    bool plays = false;
    if (src.receivers.empty()) {
      if (src.kind == kRecorder) return false;
      if (src.kind == kPlayer && !src.started) {
        if (!src.file) return later.push_back("slot " + std::to_string(a) + " signal abort 0"), false;
        src.started = plays = true;
        written[src.ch].push_back("11223344");
      }
      if (!src.out) src.out = true, signal(a, "transmitter active " + std::to_string(tx(a)));
    }
    const int old = rcv.source;
    if (old < 0) {
      if (rcv.kind == kPlayer) {
        if (plays) release(a);  // the prompt began all the same
        return false;
      }
      if (rcv.kind == kRecorder) later.push_back("slot " + std::to_string(b) + " stopRecording connectionFail");
      if (!rcv.in) rcv.in = true, signal(b, "receiver active " + std::to_string(rx(b)));
    } else {
      ll_disconnect(b);
    }
    ll_connect(a, b);
    if (old >= 0) slots.at(old).receivers.erase(b);
    rcv.source = a;
    src.receivers.insert(b);
    if (plays) release(a);
    return true;
  }
  void destroy(int n) {
    disconnect(n);
    const std::set<int> rs = slots.at(n).receivers;
    for (int r : rs) disconnect(r);
    MSlot& s = slots.at(n);
    // A channel that drives no line is simply given back.
    if (s.kind == kHdlc && s.line_out < 0) mcc.erase(s.chan), written.erase(s.chan), s.chan = -1;
    if (s.kind == kHdlc) close_channel(s);
    if (s.kind == kPlayer || s.kind == kRecorder) mcc.erase(s.ch), written.erase(s.ch);
    slots.erase(n);
    order.erase(std::find(order.begin(), order.end(), n));
  }
  // `a`: trunk time slot; player: 0 a prompt that opens, 1 one that opens
  // after a missing one, 2 only a missing one.
  void create(int seq, int n, Kind k, int a, bool fail) {
    if (slots.count(n)) destroy(n);
    MSlot s;
    s.kind = k;
    if (k == kTrunk) {
      s.ch = 32 + a;
      for (const auto& e : slots)
        if (e.second.kind == kTrunk && e.second.ch == s.ch) {
          destroy(e.first);
          break;
        }
    }
    if (k == kPlayer || k == kRecorder) {
      fail_alloc = fail_alloc || fail;
      s.ch = allocate(k == kPlayer ? "2,1024,0,0,5" : "2,1024,0,5,0");
      if (s.ch < 0) return answer(seq, n, "error insufficientResources");
      s.file = a < 2;
    }
    slots[n] = s;
    order.push_back(n);
    answer(seq, n, "success");
    MSlot& m = slots[n];
    if (k == kTrunk) m.in = m.out = true, signal(n, "transmitter active " + std::to_string(m.ch)),
                     signal(n, "receiver active " + std::to_string(m.ch));
    if (k == kRecorder) m.in = true, signal(n, "receiver active " + std::to_string(m.ch));
  }
  void packages(int seq, int n, const Strings& bodies) {
    MSlot& h = slots.at(n);
    for (const auto& b : bodies) {
      const std::string f = "0003" + hex2(h.tx_seq * 32 | h.rx_seq) + b;
      h.tx_seq = (h.tx_seq + 1) & 0xFF;
      if (h.chan >= 0) send_frame(h, f);
      else h.queue.push_back(f);
    }
    answer(seq, n, "error unsupported");
  }
  void command(int seq, int n, const std::string& what, int target) {
    if (!slots.count(n)) return answer(seq, n, "error slotNotExists");
    const bool hdlc = slots.at(n).kind == kHdlc;
    if (what == "connect") {
      if (!slots.count(target)) return answer(seq, n, "error slotNotExists");
      return answer(seq, n, connect(n, target) ? "success" : "error connectFail");
    }
    if (what == "disconnect") return disconnect(n), answer(seq, n, "success");
    if (what == "destroy") return destroy(n), answer(seq, n, "success");
    if (what == "activate" && hdlc) return activate(n), answer(seq, n, "success");
    if (what == "deactivate" && hdlc) {
      const MSlot& h = slots.at(n);
      signal(n, "linkinfo " + std::to_string(h.sent) + " 0 " + std::to_string(h.errors) + " 0 " +
                    std::to_string(h.received));
      return answer(seq, n, "success");
    }
    answer(seq, n, "error unsupported");
  }
  void controller_left() {
    while (!order.empty()) destroy(order.front());
  }
  std::string dump() const {
    std::string d;
    for (const auto& s : slots)
      d += "  slot " + std::to_string(s.first) + " kind " + std::to_string(s.second.kind) + " ch " +
           std::to_string(s.second.ch) + " source " + std::to_string(s.second.source) + " chan " +
           std::to_string(s.second.chan) + " line " + std::to_string(s.second.line) + "\n";
    return d;
  }
};

// Signals the other helpers show by name only, with their content.
std::string show(const std::string& image) {
  LGCP::Message m;
  if (!decode(image, m) || !m.get_pdu().signal_isSelected()) return describe(image);
  const LGCP::Signal& sig = m.get_pdu().get_signal();
  const std::string s = "slot " + std::to_string(m.get_slot().getValue()) + " ";
  if (sig.abort_isSelected()) return s + "signal abort " + std::to_string(sig.get_abort().getValue());
  if (!sig.ioctl_isSelected()) return describe(image);
  const LGCP::IoctlResponse& r = sig.get_ioctl();
  if (r.stopRecording_isSelected()) return s + "stopRecording " + r.get_stopRecording().getName();
  if (r.hdlcLinkInfo_isSelected()) {
    const LGCP::HdlcLinkInfo& l = r.get_hdlcLinkInfo();
    return s + "linkinfo " + std::to_string(l.get_txSU().getValue()) + " " +
           std::to_string(l.get_txDiscard().getValue()) + " " + std::to_string(l.get_txError().getValue()) + " " +
           std::to_string(l.get_txOverflow().getValue()) + " " + std::to_string(l.get_rxSU().getValue());
  }
  if (!r.hdlcPackages_isSelected()) return describe(image);
  std::string p = s + "packages";
  for (const auto& b : r.get_hdlcPackages()) p += " " + hex(b.get_body());
  return p;
}

const int kNumbers[] = {0, 1, 2, 3, 5, 1023};

class PackageModel : public ServerSuite {
 protected:
  static std::string sim(const std::string& line) { return srv().sim.ask(line); }
  static std::string predicted(Model& m, const std::set<int>& chans) {
    std::string s;
    for (const auto& c : m.mcc) s += "mcc " + std::to_string(c.first) + ":" + c.second + "\n";
    for (const auto& w : m.written)
      for (const auto& f : w.second) s += "wrote " + std::to_string(w.first) + " " + f + "\n";
    for (int c : chans) s += "hal " + std::to_string(c) + ": " + (m.hal.count(c) ? m.hal[c] : "none") + "\n";
    m.written.clear();
    return s;
  }
  static std::string actual(const std::set<int>& chans) {
    std::string s;
    // By channel number, as the model keeps them: the driver lists its
    // channels in its own order, which differs once its numbers wrap.
    std::map<int, std::string> listed;
    std::istringstream in(sim("mcc channels"));
    for (std::string l; std::getline(in, l);) listed[std::atoi(l.c_str())] = l;
    std::vector<int> open;
    for (const auto& l : listed) s += "mcc " + l.second + "\n", open.push_back(l.first);
    for (int c : open) {
      std::istringstream w(sim("mcc read " + std::to_string(c)));
      for (std::string l; std::getline(w, l);) s += "wrote " + std::to_string(c) + " " + l + "\n";
    }
    for (int c : chans) s += "hal " + std::to_string(c) + ": " + sim("hal get " + std::to_string(c)) + "\n";
    return s;
  }
  static bool periodic(const std::string& f) { return f.find(" linkinfo ") != std::string::npos; }
};

TEST_F(PackageModel, EveryAnswerSignalFrameAndLineIsThePredictedOne) {
  int first = 1, last = 2, steps = 110;
  testsupport::walk_range(first, last, steps);
  std::system(("mkdir -p '" + srv().board("/usr/local/voice") + "'").c_str());
  std::ofstream(srv().board("/usr/local/voice/a")) << "\x11\x22\x33\x44";
  const std::uint16_t refused = free_port();  // nobody listens there
  ASSERT_NE(refused, 0);
  int seq = 10;
  std::set<int> chans = {33, 34};
  Model m;
  for (int seed = first; seed <= last; ++seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    Strings trail;
    // Switch lines are checked for the channels of this seed and those still
    // held: every channel ever seen would cost a query each per step, and a
    // long walk would slow down step by step.
    chans = {33, 34};
    for (const auto& c : m.mcc) chans.insert(c.first);
    for (int i = 0; i < steps; ++i) {
      const int n = kNumbers[pick(6)], t = kNumbers[pick(6)], op = pick(18);
      std::string what, image;
      const std::string before = m.dump();
      const int q = ++seq;
      const bool hdlc = m.slots.count(n) && m.slots.at(n).kind == kHdlc;
      if (i == 0 || i == steps / 2) {
        what = "controller leaves";
        ASSERT_TRUE(testsupport::controller_rejoins(srv(), seq, frames));
        m.controller_left();
      } else if (op < 5) {
        const Kind k = static_cast<Kind>(pick(4));
        const int a = pick(k == kTrunk ? 2 : 3) + (k == kTrunk ? 1 : 0);
        const bool fail = (k == kPlayer || k == kRecorder) && pick(6) == 0;
        if (fail) {
          ASSERT_EQ(sim(pick(2) ? "mcc fail open ENOENT 1" : "mcc fail allocate EBUSY 1"), "");
        }
        what = "create kind " + std::to_string(k) + " " + std::to_string(a) + (fail ? " failing" : "");
        image = k == kTrunk ? trunk_image(q, n, 1, a) : command_image(q, n, [&](LGCP::Command& c) {
          if (k == kHdlc) {
            LGCP::HdlcParams& h = c.select_create().select_hdlcParams();
            h.set_trunk(1), h.set_log(0), h.set_address(3);
          } else if (k == kPlayer) {
            auto& f = c.select_create().select_voice().select_player().select_file();
            if (a > 0) f.set_name().push_back(std::string("x"));
            if (a < 2) f.set_name().push_back(std::string("a"));
            f.set_repeat(1);
          } else {
            auto& h = c.select_create().select_voice().select_record();
            h.set_iaddr(std::string("127.0.0.1")), h.set_port(refused);
          }
        });
        m.create(q, n, k, a, fail);
      } else if (op == 5 && hdlc && m.slots.at(n).chan >= 0) {
        // The device answers: a package for the slot, or one for another
        // address that only counts.
        MSlot& h = m.slots.at(n);
        const int ctrl = pick(256), body = pick(0x8000);
        const bool mine = pick(4) != 0;
        const std::string b = hex2(body >> 8) + hex2(body & 0x7F);
        what = "device sends " + b + (mine ? "" : " elsewhere");
        ASSERT_EQ(sim("mcc inject " + std::to_string(h.chan) + (mine ? " 0003" : " 0004") + hex2(ctrl) + b), "");
        ++h.received;
        if (mine) h.rx_seq = ctrl >> 5, m.later.push_back("slot " + std::to_string(n) + " packages " + b.substr(0, 2) + " " + b.substr(2));
      } else if (op < 8) {
        Strings bodies;
        for (int j = pick(2); j >= 0; --j) bodies.push_back(hex2(pick(256)) + (pick(2) ? hex2(pick(256)) : ""));
        if (hdlc && m.slots.at(n).chan >= 0 && pick(5) == 0) {
          ASSERT_EQ(sim("mcc fail write EIO 1"), "");
          m.fail_write = true;
          trail.push_back("next write fails");
        }
        what = "packages";
        image = command_image(q, n, [&](LGCP::Command& c) {
          auto& list = c.select_ioctl().select_hdlcPackages();
          for (const auto& b : bodies) {
            LGCP::HdlcPackage p;
            p.set_body(bytes(b));
            list.push_back(p);
          }
        });
        if (hdlc) m.packages(q, n, bodies);
        else m.command(q, n, "ioctl", t);
      } else {
        static const char* const ops[] = {"connect", "connect", "connect", "connect", "disconnect",
                                          "destroy", "activate", "deactivate", "userData", "connect"};
        what = ops[op - 8];
        if ((what == "connect" || what == "activate") && pick(6) == 0) {
          ASSERT_EQ(sim("mcc fail allocate EIO 1"), "");
          m.fail_alloc = true;
          trail.push_back("next allocation fails");
        }
        image = what == "connect"    ? connect_image(q, n, t)
                : what == "activate" ? activate_image(q, n)
                : what == "userData" ? user_data_image(q, n, "ab")
                                     : null_command_image(q, n, what.c_str());
        m.command(q, n, what, t);
        what += " " + std::to_string(t);
      }
      trail.push_back("seq " + std::to_string(q) + " slot " + std::to_string(n) + " " + what);
      if (!image.empty()) srv().ctl.send(image);
      // What follows from the loop comes before the ping is sent.
      Strings got;
      const Strings want = [&] { Strings w = m.frames; w.insert(w.end(), m.later.begin(), m.later.end()); return w; }();
      std::size_t awaited = 0;
      for (const auto& f : want) awaited += periodic(f) ? 0 : 1;
      for (std::size_t seen = 0; seen < awaited;) {
        const std::string f = srv().ctl.next(patience_ms);
        if (f.empty()) break;
        got.push_back(show(f));
        seen += periodic(got.back()) ? 0 : 1;
      }
      const int p = ++seq;
      srv().ctl.send(null_command_image(p, -1, "ping"));
      const std::string pong = "seq " + std::to_string(p) + " success";
      for (std::string f = "x"; !f.empty() && (got.empty() || got.back() != pong);) {
        f = srv().ctl.next(patience_ms);
        if (!f.empty()) got.push_back(show(f));
      }
      if (!got.empty() && got.back() == pong) got.pop_back();
      // Link reports of the 3 s timer come at any time; only the one that
      // answers a deactivate is predicted.
      Strings kept;
      for (std::size_t j = 0; j < got.size(); ++j)
        if (!periodic(got[j]) || (j + 1 < got.size() && got[j + 1] == "seq " + std::to_string(q) + " slot " +
                                                                             std::to_string(n) + " success" &&
                                  what.compare(0, 10, "deactivate") == 0))
          kept.push_back(got[j]);
      ASSERT_EQ(sim("mcc fail allocate 0"), "");
      ASSERT_EQ(sim("mcc fail write 0"), "");
      ASSERT_EQ(sim("mcc fail open 0"), "");
      m.fail_alloc = m.fail_write = false;
      for (const auto& c : m.mcc) chans.insert(c.first);
      std::string walked;
      for (std::size_t j = trail.size() > 25 ? trail.size() - 25 : 0; j < trail.size(); ++j) walked += trail[j] + "\n";
      // Two slots' ends that follow from the loop come in either order.
      const auto by_slot = [&](Strings v) {
        auto from = std::find_if(v.begin(), v.end(), [&](const std::string& f) { return f.compare(0, 4, "seq ") == 0; });
        std::stable_sort(from == v.end() ? from : from + 1, v.end(), [](const std::string& x, const std::string& y) {
          return std::atoi(x.c_str() + 5) < std::atoi(y.c_str() + 5);
        });
        return v;
      };
      ASSERT_EQ(by_slot(kept), by_slot(want)) << "seed " << seed << " step " << i << ", last commands:\n" << walked << before;
      ASSERT_EQ(actual(chans), predicted(m, chans)) << "seed " << seed << " step " << i << ", last commands:\n"
                                                    << walked << before;
      m.frames.clear();
      m.later.clear();
    }
  }
  EXPECT_EQ(extra(), Strings{});
}

}  // namespace
