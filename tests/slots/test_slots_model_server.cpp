// Black-box: seeded random walks of slot commands over a few slot numbers and
// channels (so numbers, time slots and shared-bus channels collide and are
// re-used often), each answer and signal compared with what an independent
// model of the slot framework predicts, and the cross-connect's outputs
// compared with the model's connections after every step. Kinds: E1 and BRI
// trunk time slots, map, external and data channels (echo only as a kind
// nothing makes); now and then a switch request fails, and twice a walk the
// controller leaves. Real time.
//
// GW_MODEL_SEEDS=FIRST-LAST and GW_MODEL_STEPS=N run longer walks.
#include "tests/support/model_walk.h"
#include "tests/slots/slots_server.h"

#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <sstream>

using namespace slotstest;
using namespace testsupport;

namespace {

enum Kind { kTrunk, kBri, kMap, kExt, kMcc };

struct MSlot {
  Kind kind;
  int tx = -1, rx = -1;
  int table = -1;  // the trunk factories' time-slot entry
  int source = -1;
  std::set<int> receivers;
  bool in = false, out = false;
};

// What the controller should see, and what the cross-connect should hold.
class Model {
 public:
  std::map<int, MSlot> slots;
  std::vector<int> order;  // creation order: the order a leaving controller destroys
  std::map<int, int> trunks, maps;  // time-slot entries, shared-bus channel entries -> slot
  std::map<int, std::string> hal;  // output channel -> "disabled" | "byte 213" | "connected I"
  std::set<int> unknown;  // outputs whose last request failed: the server no longer knows their feed
  int fail_connect = 0, fail_write = 0;  // requests of the kind that fail next
  Strings frames;

  static std::string at(int n) { return "slot " + std::to_string(n) + " "; }
  void signal(int n, const char* dir, int ch) {
    frames.push_back(at(n) + dir + (ch < 0 ? std::string(" inactive") : " active " + std::to_string(ch)));
  }
  void answer(int seq, int n, const std::string& what) {
    frames.push_back("seq " + std::to_string(seq) + " " + at(n) + what);
  }

  // A line that another connected slot names is that slot's: no teardown
  // of this one quietens or disables it, unless this one's source feeds it
  // and no other slot takes that same signal. `tx` < 0: any source.
  bool held_by_other(int self, int ch, int tx = -1) {
    for (const auto& s : slots)
      if (s.first != self && s.second.source >= 0 && s.second.rx == ch &&
          (tx < 0 || slots.at(s.second.source).tx == tx))
        return true;
    return false;
  }
  bool feeds(int in, int ch) {
    const std::string h = hal.count(ch) ? hal[ch] : "";
    return unknown.count(ch) || h.compare(0, 10, "connected ") != 0 || h == "connected " + std::to_string(in);
  }
  // A failed request leaves the output as it was.
  bool request(int& fail, int ch, const std::string& state) {
    if (fail > 0) return --fail, unknown.insert(ch), false;
    hal[ch] = state;
    unknown.erase(ch);
    return true;
  }
  bool hw_connect(int tx, int rx) { return tx >= 0 && rx >= 0 && request(fail_connect, rx, "connected " + std::to_string(tx)); }
  bool hw_idle(int ch) { return request(fail_write, ch, "byte 213"); }
  bool quieten(int b) {
    const MSlot& r = slots.at(b);
    if (r.rx < 0) return true;
    const int tx = slots.at(r.source).tx;
    if (held_by_other(b, r.rx, feeds(tx, r.rx) ? tx : -1)) return true;
    return hw_idle(r.rx);
  }
  void disable(int n) {
    if (!held_by_other(n, slots.at(n).rx)) hal[slots.at(n).rx] = "disabled", unknown.erase(slots.at(n).rx);
  }
  bool disconnect(int b) {
    MSlot& r = slots.at(b);
    if (r.source < 0) return true;
    const bool ok = quieten(b);
    slots.at(r.source).receivers.erase(b);
    r.source = -1;
    return ok;
  }
  void disconnect_link(int b) {
    slots.at(slots.at(b).source).receivers.erase(b);
    slots.at(b).source = -1;
  }
  void destroy(int n) {
    disconnect(n);
    const std::set<int> rs = slots.at(n).receivers;
    for (int r : rs) disconnect(r);
    const MSlot& s = slots.at(n);
    if (s.kind == kTrunk || s.kind == kBri) trunks.erase(s.table);
    if ((s.kind == kMap || s.kind == kExt) && s.rx >= 0) disable(n);
    if (s.kind == kMap) {
      if (s.rx >= 0) maps.erase(s.rx);
      if (s.tx >= 0) maps.erase(s.tx);
    }
    slots.erase(n);
    order.erase(std::find(order.begin(), order.end(), n));
  }
  // A map or trunk factory entry another slot holds: that slot goes.
  void claim(std::map<int, int>& table, int key, int n) {
    auto old = table.find(key);
    if (old != table.end() && old->second != n) destroy(old->second);
    table[key] = n;
  }
  // `trunk`: {interface, time slot} for kTrunk/kBri; tx/rx channels (or -1) else.
  void create(int seq, int n, Kind k, int a, int b) {
    if (slots.count(n)) destroy(n);
    MSlot s;
    s.kind = k;
    if (k == kTrunk || k == kBri) {
      const bool bri = k == kBri;
      if (a > (bri ? 7 : 3) || b >= (bri ? 4 : 32)) return answer(seq, n, "error insufficientResources");
      s.tx = s.rx = bri ? 4 * a + b : 32 * a + b;
      s.table = (bri ? 1000 : 0) + s.tx;
      claim(trunks, s.table, n);
    } else if (k == kMap) {
      s.tx = a, s.rx = b;
      if (s.rx >= 0) claim(maps, s.rx, n);
      if (s.tx >= 0) claim(maps, s.tx, n);
    } else if (k == kExt) {
      s.tx = 8192 + a, s.rx = 8192 + b;
    }  // a data channel's switch channel is the driver's choice: learnt after the step
    slots[n] = s;
    order.push_back(n);
    answer(seq, n, "success");
    MSlot& m = slots[n];
    if (k == kMap) {
      if (m.rx >= 0) m.in = true, signal(n, "receiver", m.rx);
      if (m.tx >= 0) m.out = true, signal(n, "transmitter", m.tx);
      return;
    }
    if (k == kMcc) return;  // its streams are announced by its first connection
    m.out = true, signal(n, "transmitter", m.tx);
    if (k != kExt) m.in = true, signal(n, "receiver", m.rx);
  }
  bool connect(int a, int b) {
    MSlot& src = slots.at(a);
    MSlot& rcv = slots.at(b);
    if (rcv.source == a) return true;
    if (src.receivers.empty()) {
      if (src.kind == kMap && src.tx < 0) return false;
      if (!src.out) src.out = true, signal(a, "transmitter", src.tx);
    }
    const bool taken = rcv.source >= 0 && !feeds(slots.at(rcv.source).tx, rcv.rx) && held_by_other(b, rcv.rx);
    if (rcv.source < 0) {
      const bool ok = rcv.kind == kExt ? rcv.in : rcv.kind != kMap || rcv.rx >= 0;
      if (!ok) return false;
      if (!rcv.in) rcv.in = true, signal(b, "receiver", rcv.rx);
    } else {
      quieten(b);
    }
    if (!hw_connect(src.tx, rcv.rx)) {
      // A move that failed puts the old path back, unless another slot has
      // taken the line over since; failing that, no source.
      if (rcv.source >= 0 && !taken && !hw_connect(slots.at(rcv.source).tx, rcv.rx)) disconnect_link(b);
      return false;
    }
    if (rcv.source >= 0) slots.at(rcv.source).receivers.erase(b);
    rcv.source = a;
    src.receivers.insert(b);
    return true;
  }
  void command(int seq, int n, const std::string& what, int target) {
    if (what == "query") return answer(seq, n, "error unexpectedMsgType");  // only the board as a whole is queried
    if (!slots.count(n)) return answer(seq, n, "error slotNotExists");
    MSlot& s = slots.at(n);
    if (what == "connect") {
      if (!slots.count(target)) return answer(seq, n, "error slotNotExists");
      return answer(seq, n, connect(n, target) ? "success" : "error connectFail");
    }
    if (what == "disconnect") return answer(seq, n, disconnect(n) ? "success" : "error disconnectFail");
    if (what == "destroy") return destroy(n), answer(seq, n, "success");
    if (what == "userData" && s.kind == kMcc) return answer(seq, n, "success");
    if (s.kind != kExt || (what != "activate" && what != "deactivate")) return answer(seq, n, "error unsupported");
    if (what == "activate" && !s.in) {
      // Already open, a source may be switched to it: no idle byte then.
      // An output the switch could not drive stays closed.
      if (!held_by_other(n, s.rx) && !hw_idle(s.rx)) return answer(seq, n, "error unsupported");
      s.in = true, signal(n, "receiver", s.rx);
    } else if (what == "deactivate") {
      if (s.in) disconnect(n), s.in = false, signal(n, "receiver", -1);
      disable(n);
    }
    answer(seq, n, "success");
  }
  // The slots as text, for the failure messages.
  std::string dump() const {
    std::string d;
    for (const auto& s : slots)
      d += "  slot " + std::to_string(s.first) + " kind " + std::to_string(s.second.kind) + " tx " +
           std::to_string(s.second.tx) + " rx " + std::to_string(s.second.rx) + " source " +
           std::to_string(s.second.source) + (s.second.in ? " in" : "") + (s.second.out ? " out" : "") + "\n";
    return d;
  }
  void controller_left() {
    while (!order.empty()) destroy(order.front());
  }
};

const int kNumbers[] = {0, 1, 2, 3, 5, 1023};
const int kChannels[] = {1, 33, 34, 8192, 8193, 8194};

class SlotsModel : public ServerSuite {
 protected:
  // The fixed channels, and the switch channels of the live data channels.
  static std::vector<int> channels(const Model& m) {
    std::vector<int> cs(std::begin(kChannels), std::end(kChannels));
    for (const auto& s : m.slots)
      if (s.second.kind == kMcc && s.second.rx >= 0) cs.push_back(s.second.rx);
    return cs;
  }
  static std::string hal_state(const Model& m) {
    std::string batch, s;
    for (int c : channels(m)) batch += (batch.empty() ? "" : "\n") + ("hal get " + std::to_string(c));
    SimAnswer a = srv().sim.request(batch);
    bool first = true;
    for (int c : channels(m)) {
      if (!first) a = srv().sim.read_answer();
      first = false;
      s += std::to_string(c) + ": " + (a.lines.empty() ? a.status : a.lines[0]) + "\n";
    }
    return s;
  }
  static std::string predicted(Model& m) {
    std::string s;
    for (int c : channels(m))
      s += std::to_string(c) + ": " + (m.hal.count(c) ? m.hal[c] : c >= 8192 ? "disabled" : "none") + "\n";
    return s;
  }
  // The switch channel of the data channel made last: the one the driver
  // lists that no live slot of the model has.
  static int new_data_channel(const Model& m) {
    std::set<int> known;
    for (const auto& s : m.slots) known.insert(s.second.rx);
    int found = -1;
    std::istringstream in(srv().sim.ask("mcc channels"));
    for (std::string l; std::getline(in, l);)
      if (!l.empty() && !known.count(std::atoi(l.c_str()))) found = std::atoi(l.c_str());
    return found;
  }
};

TEST_F(SlotsModel, EveryAnswerSignalAndConnectionIsThePredictedOne) {
  int first = 1, last = 3, steps = 300;
  testsupport::walk_range(first, last, steps);
  int seq = 0;
  Model m;  // one model for all walks: each walk starts as its controller comes anew
  for (int seed = first; seed <= last; ++seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    Strings trail;
    for (int i = 0; i < steps; ++i) {
      const int n = kNumbers[pick(6)], t = kNumbers[pick(6)], op = pick(20);
      std::string what, image;
      const std::string before = m.dump();
      const int q = ++seq;
      // Now and then the next connect or idle byte of the switch fails; the
      // idle byte only for commands that write one at most (a destroy's
      // receivers go in an order the model cannot know).
      const bool one_write = i != 0 && i != steps / 2 && ((op >= 6 && op <= 11) || op == 15);
      const char* failing = pick(8) ? nullptr : (pick(2) || !one_write) ? "connect" : "write";
      if (failing) {
        ASSERT_EQ(srv().sim.ask(std::string("hal fail ") + failing + " 5 1"), "");
        (failing[0] == 'c' ? m.fail_connect : m.fail_write) = 1;
        trail.push_back(std::string("next ") + failing + " fails");
      }
      if (i == 0 || i == steps / 2) {
        what = "controller leaves";
        ASSERT_TRUE(testsupport::controller_rejoins(srv(), seq, frames));
        m.controller_left();
      } else if (op < 6) {
        const Kind k = static_cast<Kind>(pick(6) % 5);
        int a = 0, b = 0;
        if (k == kTrunk) {
          const int v = pick(8);
          a = v < 2 ? 1 : v < 4 ? 0 : v < 7 ? 1 : 4;
          b = v < 2 ? 1 + v : v < 4 ? 1 : v < 7 ? 2 : 1;
        } else if (k == kBri) {
          a = 0, b = pick(4) == 0 ? 4 : 1;
        } else if (k == kMap) {
          a = pick(4) - 1, b = pick(4) - 1;
          a = a < 0 ? -1 : 8192 + a, b = b < 0 ? -1 : 8192 + b;
        } else if (k == kExt) {
          a = pick(3), b = pick(3);
        }
        if (pick(12) == 0) {
          what = "create echo";
          image = create_image(q, n, [](LGCP::CreateParams& p) {
            LGCP::EchoParams& e = p.select_echo();
            e.set_bus(1);
            e.set_channel(2);
          });
          if (m.slots.count(n)) m.destroy(n);
          m.answer(q, n, "error insufficientResources");
        } else {
          what = "create kind " + std::to_string(k) + " " + std::to_string(a) + " " + std::to_string(b);
          image = k == kTrunk || k == kBri ? trunk_image(q, n, a, b, k == kBri)
                  : k == kMap             ? map_image(q, n, a, b)
                  : k == kExt             ? ext_image(q, n, a, b)
                                          : create_image(q, n, [](LGCP::CreateParams& p) {
                                              LGCP::MccParams& c = p.select_mcc();
                                              c.set_type(LGCP::MccType::data);
                                              c.set_mode(LGCP::MccMode::standard);
                                            });
          m.create(q, n, k, a, b);
        }
      } else {
        static const char* const ops[] = {"connect",  "connect",    "connect", "connect",  "connect", "disconnect",
                                          "disconnect", "destroy",  "destroy", "activate", "activate", "deactivate",
                                          "userData", "ioctl", "query"};
        what = ops[op - 6 + pick(2)];
        // Now and then without a slot number: nothing claims such a command.
        const int at = pick(16) == 0 && what != "ioctl" && what != "query" ? -1 : n;
        if (what == "connect") image = connect_image(q, at, t);
        else if (what == "activate") image = activate_image(q, at);
        else if (what == "userData") image = user_data_image(q, at, "ab");
        else if (what == "ioctl") image = ioctl_image(q, at);
        else image = null_command_image(q, at, what.c_str());
        if (at < 0)
          m.frames.push_back("seq " + std::to_string(q) + " error unexpectedMsgType");
        else
          m.command(q, n, what, t);
        what += " " + std::to_string(t) + (at < 0 ? " without slot" : "");
      }
      trail.push_back("seq " + std::to_string(q) + " slot " + std::to_string(n) + " " + what);
      if (!image.empty()) srv().ctl.send(image);
      // A ping closes each step: every frame before its answer belongs to the step.
      const int p = ++seq;
      srv().ctl.send(null_command_image(p, -1, "ping"));
      m.frames.push_back("seq " + std::to_string(p) + " success");
      const Strings got = frames(m.frames.size());
      if (what.compare(0, 13, "create kind 4") == 0 && m.slots.count(n)) {
        const int ch = new_data_channel(m);
        ASSERT_GE(ch, 0) << "no new data channel";
        m.slots[n].tx = m.slots[n].rx = ch;
      }
      if (failing) {
        ASSERT_EQ(srv().sim.ask(std::string("hal fail ") + failing + " 0"), "");
      }
      m.fail_connect = m.fail_write = 0;
      const std::string hal = hal_state(m);
      std::string walked;
      for (std::size_t j = trail.size() > 25 ? trail.size() - 25 : 0; j < trail.size(); ++j) walked += trail[j] + "\n";
      ASSERT_EQ(got, m.frames) << "seed " << seed << " step " << i << ", last commands:\n" << walked << before;
      ASSERT_EQ(hal, predicted(m)) << "seed " << seed << " step " << i << ", last commands:\n" << walked << before;
      m.frames.clear();
    }
  }
  EXPECT_EQ(extra(), Strings{});
}

}  // namespace
