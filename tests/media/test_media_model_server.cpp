// Black-box: seeded random walks of media slot commands over a few slot
// numbers (so numbers, unit channels and sessions are re-used often), each
// answer and signal compared with what an independent model predicts, and
// after every step the cross-connect's outputs, the mixer's mixes and the
// RTP driver's open sessions compared with the model. Kinds: RTP slots,
// mixer inputs and outputs on one unit, E1 trunk time slots; now and then a
// switch connection or idle byte, a mixer request or an RTP session request
// fails, and twice a walk the controller leaves. Real time.
//
// GW_MODEL_SEEDS=FIRST-LAST and GW_MODEL_STEPS=N run longer walks.
#include "tests/support/model_walk.h"
#include "tests/media/mixer_images.h"
#include "tests/media/rtp_fixture.h"
#include "tests/slots/slots_server.h"

#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <sstream>

using namespace mixertest;
using namespace rtptest;
using namespace slotstest;
using namespace testsupport;

namespace {

enum Kind { kTrunk, kRtp, kIn, kOut };

struct MSlot {
  Kind kind;
  int ch = -1;        // switch channel
  int unit_ch = -1;   // mixer unit channel
  int summator = -1;  // output channel an input is summed into
  int source = -1;
  std::set<int> receivers;
  bool in = false, out = false, sending = false;
  int tx() const { return kind == kIn ? -1 : ch; }
  int rx() const { return kind == kOut ? -1 : ch; }
};

const int kMixBase = 2048;  // the first unit's block of switch channels

class Model {
 public:
  std::map<int, MSlot> slots;
  std::vector<int> order;                 // creation order
  std::map<int, std::string> hal;         // output channel -> state
  std::map<int, std::map<int, int>> mix;  // output unit channel -> input -> weight
  int fail_connect = 0;
  bool fail_write = false;  // the next disconnect's idle byte fails
  Strings frames;

  void signal(int n, const char* dir, int ch) {
    frames.push_back("slot " + std::to_string(n) + " " + dir + " active " + std::to_string(ch));
  }
  void answer(int seq, int n, const std::string& what) {
    frames.push_back("seq " + std::to_string(seq) + " slot " + std::to_string(n) + " " + what);
  }
  void mux_disconnect(int b) { hal[slots.at(b).rx()] = "byte 213"; }
  void input_release(MSlot& s) {
    if (s.kind == kRtp) s.sending = false;
  }
  bool disconnect(int b, bool fail = false) {
    MSlot& r = slots.at(b);
    if (r.source < 0) return true;
    if (!fail) mux_disconnect(b);  // a failed write leaves the output as it was
    slots.at(r.source).receivers.erase(b);
    r.source = -1;
    input_release(r);
    return !fail;
  }
  void destroy(int n) {
    disconnect(n);
    const std::set<int> rs = slots.at(n).receivers;
    for (int r : rs) disconnect(r);
    const MSlot& s = slots.at(n);
    // An output's channel that an input on the same unit channel receives
    // on stays that input's line.
    if (s.kind != kTrunk && !(s.kind == kOut && holder(kIn, s.unit_ch) >= 0)) hal[s.ch] = "disabled";
    if (s.kind == kIn && s.summator >= 0) mix[s.summator].erase(s.unit_ch);
    if (s.kind == kOut) mix.erase(s.unit_ch);
    slots.erase(n);
    order.erase(std::find(order.begin(), order.end(), n));
  }
  int holder(Kind k, int key) const {
    for (const auto& s : slots)
      if (s.second.kind == k && (k == kIn || k == kOut ? s.second.unit_ch : s.second.ch) == key) return s.first;
    return -1;
  }
  // An RTP session gets the lowest channel that no open session holds.
  int rtp_channel() const {
    int ch = 4096;
    while (holder(kRtp, ch) >= 0) ++ch;
    return ch;
  }
  // `a`: trunk time slot, or unit channel; `b`: summator (-1 none) of an
  // input, or the first input (-1 none) of an output's mix; `fail`: the
  // factory's device request fails.
  // `early`: the request that fails comes before any mix is touched.
  void create(int seq, int n, Kind k, int a, int b, bool fail, bool early = false) {
    if (slots.count(n)) destroy(n);
    MSlot s;
    s.kind = k;
    if (k == kTrunk) {
      s.ch = 32 + a;
      const int old = holder(kTrunk, s.ch);
      if (old >= 0) destroy(old);
    } else if (k == kRtp) {
      if (fail) return answer(seq, n, "error insufficientResources");
      s.ch = rtp_channel();
    } else {
      // A unit channel held by a slot of the same kind is not given again.
      if (holder(k, a) >= 0) return answer(seq, n, "error insufficientResources");
      if (fail && early) return answer(seq, n, "error insufficientResources");
      s.unit_ch = a, s.ch = kMixBase + a;
      if (k == kIn && b >= 0) {
        s.summator = b;
        // An input its summator refused would be heard nowhere: none.
        if (fail) return answer(seq, n, "error insufficientResources");
        mix[b][a] = 32767;
      }
      if (k == kOut) {
        mix[a].clear();
        if (fail) return mix.erase(a), answer(seq, n, "error insufficientResources");
        if (b < 0)
          mix[a][a] = 32767;
        else
          mix[a][b] = 7;
      }
    }
    slots[n] = s;
    order.push_back(n);
    answer(seq, n, "success");
    MSlot& m = slots[n];
    if (k == kTrunk || k == kRtp) {
      m.out = m.in = true;
      signal(n, "transmitter", m.ch);
      signal(n, "receiver", m.ch);
    }
  }
  bool connect(int a, int b) {
    MSlot& src = slots.at(a);
    MSlot& rcv = slots.at(b);
    if (rcv.source == a) return true;
    if (src.receivers.empty()) {
      if (src.kind == kIn) return false;  // an input is never a source
      if (!src.out) src.out = true, signal(a, "transmitter", src.ch);
    }
    const int old = rcv.source;
    if (old < 0) {
      if (rcv.kind == kOut) return false;  // an output is never a receiver
      if (rcv.kind == kRtp) rcv.sending = true;
      if (!rcv.in) rcv.in = true, signal(b, "receiver", rcv.ch);
    } else {
      mux_disconnect(b);
    }
    if (fail_connect > 0) {
      --fail_connect;
      // A failed move puts the old path back.
      if (old >= 0)
        hal[rcv.rx()] = "connected " + std::to_string(slots.at(old).tx());
      else
        input_release(rcv);
      return false;
    }
    hal[rcv.rx()] = "connected " + std::to_string(src.tx());
    if (old >= 0) slots.at(old).receivers.erase(b);
    rcv.source = a;
    src.receivers.insert(b);
    return true;
  }
  void command(int seq, int n, const std::string& what, int target) {
    if (!slots.count(n)) return answer(seq, n, "error slotNotExists");
    if (what == "connect") {
      if (!slots.count(target)) return answer(seq, n, "error slotNotExists");
      return answer(seq, n, connect(n, target) ? "success" : "error connectFail");
    }
    if (what == "disconnect") return answer(seq, n, disconnect(n, fail_write) ? "success" : "error disconnectFail");
    if (what == "destroy") return destroy(n), answer(seq, n, "success");
    answer(seq, n, "error unsupported");  // activate, user data, a tone request none of them serves
  }
  void controller_left() {
    while (!order.empty()) destroy(order.front());
  }
  std::string dump() const {
    std::string d;
    for (const auto& s : slots)
      d += "  slot " + std::to_string(s.first) + " kind " + std::to_string(s.second.kind) + " ch " +
           std::to_string(s.second.ch) + " source " + std::to_string(s.second.source) +
           (s.second.sending ? " sending" : "") + "\n";
    return d;
  }
};

const int kNumbers[] = {0, 1, 2, 3, 5, 1023};
const int kUnitChannels = 4;  // inputs and outputs both on unit channels 0..3

class MediaModel : public ServerSuite {
 protected:
  static std::string sim(const std::string& line) { return srv().sim.ask(line); }
  // The device state the model predicts, and the one the simulator reports,
  // in the same text.
  static std::string predicted(Model& m, const std::set<int>& chans) {
    std::string s;
    for (int c : chans) s += "hal " + std::to_string(c) + ": " + (m.hal.count(c) ? m.hal[c] : "none") + "\n";
    for (int c = 0; c < kUnitChannels; ++c) {
      s += "mix " + std::to_string(c) + ":";
      for (const auto& e : m.mix[c]) s += " 0/" + std::to_string(e.first) + ":" + std::to_string(e.second);
      s += "\n";
    }
    std::map<int, bool> open;
    for (const auto& e : m.slots)
      if (e.second.kind == kRtp) open[e.second.ch] = e.second.sending;
    for (const auto& e : open) s += "rtp " + std::to_string(e.first) + (e.second ? " sending\n" : "\n");
    return s;
  }
  static std::string actual(const std::set<int>& chans) {
    std::string s;
    for (int c : chans) s += "hal " + std::to_string(c) + ": " + sim("hal get " + std::to_string(c)) + "\n";
    for (int c = 0; c < kUnitChannels; ++c) {
      std::istringstream in(sim("mixer mix 0 " + std::to_string(c)));
      s += "mix " + std::to_string(c) + ":";
      for (std::string l; std::getline(in, l);) s += " " + l;
      s += "\n";
    }
    std::map<int, bool> open;
    std::istringstream in(sim("rtp sessions"));
    for (std::string l; std::getline(in, l);) {
      if (l.compare(0, 5, "open,") != 0) continue;
      const int tdm = std::atoi(l.c_str() + l.find("tdm=") + 4);
      const auto start = l.rfind("start_tx"), stop = l.rfind("stop_tx");
      open[tdm] = start != std::string::npos && (stop == std::string::npos || start > stop);
    }
    for (const auto& e : open) s += "rtp " + std::to_string(e.first) + (e.second ? " sending\n" : "\n");
    return s;
  }
};

TEST_F(MediaModel, EveryAnswerSignalAndDeviceStateIsThePredictedOne) {
  int first = 1, last = 2, steps = 150;
  testsupport::walk_range(first, last, steps);
  // One mixer unit, found by a query.
  ASSERT_EQ(sim("mixer add 0 8 64"), "");
  srv().ctl.send(null_command_image(1, -1, "query"));
  for (std::string f = "x"; !f.empty() && describe(f) != "query";) f = srv().ctl.next(patience_ms);
  const std::uint16_t ports = free_rtp_port(6);
  ASSERT_NE(ports, 0);
  int seq = 10;
  std::set<int> chans = {33, 34};
  for (int c = 0; c < kUnitChannels; ++c) chans.insert(kMixBase + c);
  Model m;
  for (int seed = first; seed <= last; ++seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    Strings trail;
    for (int i = 0; i < steps; ++i) {
      const int ni = pick(6), n = kNumbers[ni], t = kNumbers[pick(6)], op = pick(16);
      std::string what, image;
      const std::string before = m.dump();
      const int q = ++seq;
      if (i == 0 || i == steps / 2) {
        what = "controller leaves";
        ASSERT_TRUE(testsupport::controller_rejoins(srv(), seq, frames));
        m.controller_left();
      } else if (op < 6) {
        const Kind k = static_cast<Kind>(pick(4));
        const int a = pick(k == kTrunk ? 2 : kUnitChannels) + (k == kTrunk ? 1 : 0);
        const int b = pick(kUnitChannels + 1) - 1;
        // A failure only where the create reaches that request.
        const int h = m.holder(k, a);
        const bool early = pick(2) == 0;
        const bool reaches = k == kRtp || ((k == kOut || early || (k == kIn && b >= 0)) && (h < 0 || h == n));
        const bool fail = k != kTrunk && reaches && pick(6) == 0;
        if (fail) {
          ASSERT_EQ(sim(k == kRtp ? (early ? "rtp fail add EIO" : "rtp fail begin EIO")
                                  : (early ? "mixer fail tdm 1" : "mixer fail add 1")),
                    "");
        }
        what = "create kind " + std::to_string(k) + " " + std::to_string(a) + " " + std::to_string(b) +
               (fail ? " failing" : "");
        const auto P = TERM::Payload::ptG711_Alaw;
        image = k == kTrunk ? trunk_image(q, n, 1, a)
                : k == kRtp ? create(q, n, rtp_params(P, "127.0.0.1", static_cast<std::uint16_t>(ports + 2 * ni), P, P))
                : k == kIn  ? (b < 0 ? in_image(q, n, 0, {a}) : in_image(q, n, 0, {a}, {b}))
                            : (b < 0 ? out_image(q, n, 0, {a}) : out_image(q, n, 0, {a}, {{{b}, 7}}));
        m.create(q, n, k, a, b, fail, early);
      } else {
        static const char* const ops[] = {"connect", "connect", "connect",  "connect",  "disconnect",
                                          "destroy", "ioctl",   "activate", "userData", "connect"};
        what = ops[op - 6];
        if (what == "disconnect" && pick(4) == 0) {
          ASSERT_EQ(hal("fail write 5 1"), "");
          m.fail_write = true;
          trail.push_back("next write fails");
        }
        if (what == "connect" && pick(6) == 0) {
          ASSERT_EQ(hal("fail connect 5 1"), "");
          m.fail_connect = 1;
          trail.push_back("next connect fails");
        }
        image = what == "connect"    ? connect_image(q, n, t)
                : what == "activate" ? activate_image(q, n)
                : what == "userData" ? user_data_image(q, n, "ab")
                : what == "ioctl"    ? ioctl_image(q, n)
                                     : null_command_image(q, n, what.c_str());
        m.command(q, n, what, t);
        what += " " + std::to_string(t);
      }
      trail.push_back("seq " + std::to_string(q) + " slot " + std::to_string(n) + " " + what);
      if (!image.empty()) srv().ctl.send(image);
      const int p = ++seq;
      srv().ctl.send(null_command_image(p, -1, "ping"));
      m.frames.push_back("seq " + std::to_string(p) + " success");
      const Strings got = frames(m.frames.size());
      ASSERT_EQ(hal("fail connect 0"), "");
      ASSERT_EQ(hal("fail write 0"), "");
      m.fail_connect = 0;
      m.fail_write = false;
      for (const auto& s : m.slots)
        if (s.second.kind == kRtp) chans.insert(s.second.ch);
      std::string walked;
      for (std::size_t j = trail.size() > 25 ? trail.size() - 25 : 0; j < trail.size(); ++j) walked += trail[j] + "\n";
      ASSERT_EQ(got, m.frames) << "seed " << seed << " step " << i << ", last commands:\n" << walked << before;
      ASSERT_EQ(actual(chans), predicted(m, chans)) << "seed " << seed << " step " << i << ", last commands:\n"
                                                    << walked << before;
      m.frames.clear();
    }
  }
  EXPECT_EQ(extra(), Strings{});
}

}  // namespace
