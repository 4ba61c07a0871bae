// Black-box: seeded walks that bring an ISDN or ATS-QSIG D channel's link up
// and down. The test plays the far end of the channel through the
// simulator (frames injected and read back), sends activate, deactivate and
// layer-3 messages, connects and disconnects the link's slot with a trunk
// slot, and lets the LAPD timers run out where a step waits for them. An
// independent model of the link predicts every frame written on the
// channel, every answer and signal with each field of the link records,
// in order. Real time: a step that a timer would overtake waits for it.
//
// GW_MODEL_SEEDS=FIRST-LAST and GW_MODEL_STEPS=N run longer walks.
#include "tests/support/model_walk.h"
#include "tests/signalling/link_slots_server.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <random>
#include <thread>

namespace {

using Strings = std::vector<std::string>;

using testsupport::hex_octets;

enum State { TA = 3, AE = 4, AR = 5, MFE = 6, TR = 7 };
enum Timer { none, T200, T203 };

// The LAPD link of the slot as the Parts give it, TEI 0 on a primary-rate
// D channel (states 3 to 7 only).
struct Lapd {
  bool network = false;
  int state = TA, vs = 0, va = 0, vr = 0, rc = 0;
  bool l3 = false, rej = false, ack_rq = false, queued = false, retr = false, t200 = false, t203 = false;
  Timer pending = none;  // what the shared timer stands for
  std::int64_t due = 0;
  std::deque<std::string> out, acked;
  unsigned tx = 0, rx = 0, m200 = 0, m203 = 0, rejected = 0, badconf = 0, retrains = 0;
  std::string reported = "none";
  Strings wire, sig;  // frames written on the channel; the slot's signals
  std::int64_t clock = 0;

  int cmd() const { return network ? 2 : 0; }
  int resp() const { return network ? 0 : 2; }
  void u(int a, int c, bool pf) { wire.push_back(hex_octets({a, 1, c | (pf ? 0x10 : 0)})); }
  void s(int a, int c, int nr, bool pf) { wire.push_back(hex_octets({a, 1, c, nr << 1 | (pf ? 1 : 0)})); }
  static int mod(int v) { return (v % 128 + 128) % 128; }
  bool nr_valid(int nr) const { return mod(nr - va) <= mod(vs - va); }

  // The shared timer stands for one at a time: a start ends the other's
  // flag with its expiry.
  void start(Timer t) {
    t200 = t == T200, t203 = t == T203;
    pending = t;
    due = clock + (t == T200 ? 1000 : 10000);
  }
  void stop(Timer t) {
    bool& f = t == T200 ? t200 : t203;
    if (!f) return;
    f = false;
    pending = none;
  }
  std::string record() const {
    std::ostringstream o;
    o << (network ? "network" : "user") << " tx " << tx << " rx " << rx << " T200 " << m200 << " T203 " << m203
      << " errors 0 retrains " << retrains << " rejected " << rejected << " badconfirm " << badconf
      << " overflows 0 0 state " << state << " rc " << rc << " busy 0 0 rejx " << rej << " ackPending 0 l3 " << l3
      << " establishable 1 queued " << queued << " retr " << retr << " ackrq " << ack_rq << " run " << t200 << t203
      << " v " << vs << "," << va << "," << vr << " queues " << out.size() << "," << acked.size();
    return o.str();
  }
  void info() {
    if (record() == reported) return;
    reported = record();
    sig.push_back("isdnLinkInfo " + reported);
  }
  void up() { queued = queued || !out.empty(), info(), sig.push_back("signal activated"); }
  void down() { info(), sig.push_back("signal deactivated"); }
  void discard() { out.clear(), acked.clear(); }
  void establish() {
    rej = ack_rq = false;
    rc = 0;
    u(cmd(), 0x6F, true);
    stop(T203);
    start(T200);
  }
  void enquiry() { s(cmd(), 1, vr, true), ack_rq = false, start(T200); }
  void nr_error() { ++badconf, establish(), l3 = false, state = AE; }

  void pending_work() {
    while (static_cast<int>(acked.size()) > mod(vs - va)) acked.pop_front();
    if (retr) {
      vs = va;
      retrains += static_cast<unsigned>(acked.size());
      out.insert(out.begin(), acked.begin(), acked.end());
      acked.clear();
      retr = false;
    }
    while (queued) {
      queued = false;
      // Waiting messages stay asked for until the link is up, whoever
      // asked for the establishment, and coming up asks for them again.
      if (state == AE) {
        queued = !out.empty();
        break;
      }
      if (state == TR) {
        queued = true;
        break;
      }
      if (state != MFE) break;
      if (mod(vs - va) == 7) {
        queued = true;
        break;
      }
      if (out.empty()) break;
      wire.push_back(hex_octets({cmd(), 1, vs << 1, vr << 1}, out.front()));
      acked.push_back(out.front());
      out.pop_front();
      vs = mod(vs + 1);
      ack_rq = false;
      stop(T203);
      if (!t200) start(T200);
      queued = !out.empty();
    }
    if (ack_rq && (state == MFE || state == TR)) s(resp(), 1, vr, false), ack_rq = false;
  }

  void activate() {
    if (state == TA) establish(), l3 = true, state = AE;
    else if (state == AE) discard(), l3 = true;
    else if (state == MFE || state == TR) discard(), establish(), l3 = true, state = AE;
  }
  void deactivate() {
    if (state == TA) return down();
    if (state == AR) return;
    discard();
    rc = 0;
    u(cmd(), 0x43, true);
    if (state != TR) stop(T203);
    start(T200);
    if (state == AE) return state = TA, down();
    state = AR;
  }
  void message(const std::string& m) {
    ++tx;
    out.push_back(m);
    queued = true;
    pending_work();
  }
  // A frame from the far end: `what` as the walk names it.
  void receive(const std::string& what, int nr, int ns) {
    if (what == "SABME") {
      vs = va = vr = 0;
      acked.clear();
      if (state == TA) u(resp(), 0x63, true), rej = ack_rq = false, start(T203), state = MFE, up();
      else if (state == AE) u(resp(), 0x63, true);
      else if (state == AR) u(resp(), 0x0F, true);
      else if (state >= MFE) u(resp(), 0x63, true), rej = ack_rq = false, stop(T200), start(T203), state = MFE, up();
    } else if (what == "DISC") {
      if (state == TA || state == AE) u(resp(), 0x0F, true);
      else if (state == AR) u(resp(), 0x63, true);
      else discard(), u(resp(), 0x63, true), stop(T200), stop(T203), state = TA, down();
    } else if (what == "UA" || what == "UA0") {
      // Only the UA that completes an establishment restarts the numbering:
      // a stray one would lose the frames still unacknowledged.
      const bool f = what == "UA";
      if (state == AE && f) vs = va = vr = 0, acked.clear(), stop(T200), start(T203), state = MFE, up();
      else if (state == AR && f) stop(T200), state = TA, down();
    } else if (what == "DM" || what == "DM0") {
      const bool f = what == "DM";
      if (state == TA && !f) establish(), l3 = true, state = AE;
      else if ((state == AE || state == AR) && f) {
        if (state == AE) discard();
        stop(T200), state = TA, down();
      } else if ((state == MFE && !f) || state == TR) establish(), l3 = false, state = AE;
    } else if (what == "RRcmd" || what == "RRresp") {
      const bool command = what == "RRcmd";
      if (state == MFE) {
        if (command) s(resp(), 1, vr, true), ack_rq = false;
        if (!nr_valid(nr)) nr_error();
        else if (nr == vs) va = nr, stop(T200), start(T203);
        else if (nr != va) va = nr, start(T200);
      } else if (state == TR) {
        if (!command && nr_valid(nr)) stop(T200), start(T203), va = nr, retr = queued = true, state = MFE;
        else if (command) s(resp(), 1, vr, true), ack_rq = false;
        if (command && nr_valid(nr)) va = nr;
        else if (!nr_valid(nr)) nr_error();
      }
    } else if (what == "I") {
      if (state != MFE && state != TR) return pending_work();
      bool deliver = false;
      if (ns == vr) vr = mod(vr + 1), rej = false, ++rx, ack_rq = true, deliver = true;
      else if (++rejected, !rej) rej = true, s(resp(), 9, vr, false), ack_rq = false;
      if (!nr_valid(nr)) nr_error();
      else {
        if (state == MFE && nr == vs) stop(T200), start(T203);
        else if (state == MFE && nr != va) start(T200);
        va = nr;
      }
      if (deliver) sig.push_back("userData 0801" + hex_octets({ns}));
    } else if (what != "junk") {
      return;  // dropped before its address is read: no pending work
    }
    pending_work();
  }
  void expire() {
    const Timer t = pending;
    pending = none;
    if (t == T200) {
      t200 = false, ++m200;
      if ((state == AE || state == AR) && rc == 3) {
        if (state == AE) discard();
        state = TA, down();
      } else if (state == AE || state == AR) {
        ++rc, u(cmd(), state == AE ? 0x6F : 0x43, true), start(T200);
      } else if (state == MFE) {
        rc = 0, enquiry(), rc = 1, state = TR;
      } else if (state == TR && rc == 3) {
        establish(), l3 = false, state = AE;
      } else if (state == TR) {
        enquiry(), ++rc;
      }
    } else if (t == T203) {
      t203 = false, ++m203;
      if (state == MFE) enquiry(), rc = 0, state = TR;
    }
    pending_work();
  }
};

std::string tell(const std::string& frame) {
  return sigtest::tell_frame(frame, [](const std::string& slot, const LGCP::IoctlResponse& r) {
    if (!r.isdnLinkInfo_isSelected()) return slot + "ioctl " + r.getSelectionName();
    const ACP::IsdnLinkInfo& i = r.get_isdnLinkInfo();
    std::ostringstream o;
    auto n = [](const auto& v) { return v.getValue(); };
    auto b = [](const auto& v) { return static_cast<bool>(v) ? 1 : 0; };
    o << slot << "isdnLinkInfo " << (i.get_side().asInt() ? "network" : "user") << " tx " << n(i.get_msuTxCount())
      << " rx " << n(i.get_msuRxCount()) << " T200 " << n(i.get_mT200()) << " T203 " << n(i.get_mT203())
      << " errors " << n(i.get_errors()) << " retrains " << n(i.get_retrains()) << " rejected "
      << n(i.get_rejected()) << " badconfirm " << n(i.get_badconfirm()) << " overflows "
      << n(i.get_outOverflows()) << " " << n(i.get_ackOverflows()) << " state " << i.get_lapdState().asInt()
      << " rc " << n(i.get_rc()) << " busy " << b(i.get_peerBusy()) << " " << b(i.get_ownBusy()) << " rejx "
      << b(i.get_rejException()) << " ackPending " << b(i.get_ackPending()) << " l3 " << b(i.get_l3Initiated())
      << " establishable " << b(i.get_establishable()) << " queued " << b(i.get_queuedUpRQ()) << " retr "
      << b(i.get_retrRQ()) << " ackrq " << b(i.get_ackRQ()) << " run " << b(i.get_t200run())
      << b(i.get_t203run()) << " v " << n(i.get_vs()) << "," << n(i.get_va()) << "," << n(i.get_vr())
      << " queues " << n(i.get_queueOut()) << "," << n(i.get_queueAck());
    return o.str();
  });
}

class LinkUpDownModel : public sigtest::SlotsServerSuite<tell> {
 protected:
  static Strings frames(std::size_t n) { return next_told(n); }
};

// The link's slot is 10, the trunk slot (trunk 1, time slot 1: channel 33)
// is 1.
TEST_F(LinkUpDownModel, EveryFrameAnswerAndSignalIsThePredictedOne) {
  int first = 1, last = 3, steps = 40;
  testsupport::walk_range(first, last, steps);
  int seq = 0;
  for (int seed = first; seed <= last; ++seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    ASSERT_TRUE(testsupport::controller_rejoins(*srv, seq, frames));
    Lapd m;
    m.network = pick(2);
    const bool qsig = pick(2);
    const std::string family = qsig ? "dspdata" : "mcc";
    Strings want, trail;
    const int q = ++seq;
    srv->ctl.send(testsupport::create_image(q, 10, [&](LGCP::CreateParams& p) {
      if (qsig) {
        LGCP::IsdnSide& side = p.select_ats_qsig().set_side();
        m.network ? side.select_network() : side.select_user();
      } else {
        testsupport::fill_isdn(p.select_isdn(), false, m.network);
      }
    }));
    const int t = ++seq;
    srv->ctl.send(testsupport::trunk_image(t, 1, 1, 1));
    ASSERT_EQ(frames(4), (Strings{"seq " + std::to_string(q) + " slot 10 success", "seq " + std::to_string(t) +
                                  " slot 1 success", "slot 1 transmitter active 33", "slot 1 receiver active 33"}));
    const Strings ch = lines(ask(family + " channels"));
    ASSERT_EQ(ch.size(), 1u);
    const std::string ts = ch[0].substr(0, ch[0].find_first_of(": "));
    std::map<int, int> source;              // receiver slot -> source slot
    std::map<int, bool> out_on{{1, true}}, in_on{{1, true}};
    auto channel = [&](int slot) { return slot == 1 ? std::string("33") : ts; };

    for (int i = 0; i < steps; ++i) {
      m.clock = testsupport::real_ms();
      std::string what, image, inject, reply;
      // A far end gone silent: now and then the step waits for the link's
      // timer, when it is near.
      const bool silent = m.pending != none && m.due - m.clock < 1500 && pick(24) == 0;
      if (m.pending != none && (m.due - m.clock < 400 || silent)) {
        what = m.pending == T200 ? "wait T200" : "wait T203";
        std::this_thread::sleep_for(std::chrono::milliseconds(m.due + 250 - m.clock));
        m.clock = m.due;
        m.expire();
      } else {
        const int op = pick(20), p = ++seq;
        auto answer = [&](int slot) { reply = "seq " + std::to_string(p) + " slot " + std::to_string(slot) + " success"; };
        static const char* const far[] = {"SABME", "DISC", "UA", "UA0", "DM", "DM0", "RRcmd", "RRresp", "I", "Ibad",
                                          "junk",  "short"};
        if (op < 12) {
          what = far[op];
          const int a = what == "SABME" || what == "DISC" || what == "RRcmd" || what[0] == 'I' ? m.resp() : m.cmd();
          if (what == "SABME") inject = hex_octets({a, 1, 0x7F});
          if (what == "DISC") inject = hex_octets({a, 1, 0x53});
          if (what == "UA" || what == "UA0") inject = hex_octets({a, 1, what == "UA" ? 0x73 : 0x63});
          if (what == "DM" || what == "DM0") inject = hex_octets({a, 1, what == "DM" ? 0x1F : 0x0F});
          if (what == "RRcmd" || what == "RRresp") inject = hex_octets({a, 1, 1, m.vs << 1 | 1});
          const int ns = what == "I" ? m.vr : Lapd::mod(m.vr + 1);
          if (what[0] == 'I') inject = hex_octets({a, 1, ns << 1, m.vs << 1}, "0801" + hex_octets({ns}));
          if (what == "junk") inject = hex_octets({a, 1, 0xEF, 0x00});
          if (what == "short") inject = pick(2) ? "02" : hex_octets({a | 1, 1, 0x7F});
          m.receive(what == "Ibad" ? "I" : what == "short" ? "-" : what, m.vs, ns);
        } else if (op < 17) {
          static const char* const cmds[] = {"activate", "deactivate", "userData", "activate", "deactivate"};
          what = cmds[op - 12];
          if (what == "activate") image = testsupport::activate_image(p, 10), m.activate();
          if (what == "deactivate") image = testsupport::null_command_image(p, 10, "deactivate"), m.deactivate();
          const std::string msg = hex_octets({8, 2, pick(256)});
          if (what == "userData") image = testsupport::user_data_image(p, 10, sigtest::data(msg)), m.message(msg);
          answer(10);
        } else {
          // Connect the link's channel with the trunk's either way, or
          // part a receiver from its source.
          const int from = pick(2) ? 1 : 10, to = 11 - from;
          if (op == 19) {
            what = "disconnect " + std::to_string(to);
            image = testsupport::null_command_image(p, to, "disconnect");
            source.erase(to);
            answer(to);
          } else {
            what = "connect " + std::to_string(from) + " " + std::to_string(to);
            image = testsupport::connect_image(p, from, to);
            if (!source.count(to) || source[to] != from) {
              if (!out_on[from])
                out_on[from] = true, want.push_back("slot " + std::to_string(from) + " transmitter active " + channel(from));
              if (!in_on[to])
                in_on[to] = true, want.push_back("slot " + std::to_string(to) + " receiver active " + channel(to));
              source[to] = from;
            }
            answer(from);
          }
        }
      }
      for (const std::string& s : m.sig) want.push_back("slot 10 " + s);
      m.sig.clear();
      if (!reply.empty()) want.push_back(reply);
      trail.push_back(what + "  -> " + m.record());
      if (!inject.empty()) {
        ASSERT_EQ(ask(family + " inject " + ts + " " + inject), "");
        // Two round trips: the loop has read the frame before the ping.
        ask(family + " channels"), ask(family + " channels");
      }
      if (!image.empty()) srv->ctl.send(image);
      // A timer's frames before the ping: its signals come with them.
      Strings wire;
      if (what.compare(0, 5, "wait ") == 0) wire = frames_written(family + " read " + ts, m.wire.size());
      const int p = ++seq;
      srv->ctl.send(testsupport::null_command_image(p, -1, "ping"));
      want.push_back("seq " + std::to_string(p) + " success");
      std::string walked;
      for (std::size_t j = trail.size() > 12 ? trail.size() - 12 : 0; j < trail.size(); ++j) walked += trail[j] + "\n";
      ASSERT_EQ(frames(want.size()), want) << "seed " << seed << " step " << i << ", last steps:\n" << walked;
      for (std::string& l : lines(ask(family + " read " + ts))) wire.push_back(std::move(l));
      ASSERT_EQ(wire, m.wire) << "seed " << seed << " step " << i << ":\n" << walked;
      for (int slot : {1, 10}) {
        const std::string fed = source.count(slot) ? "connected " + channel(source[slot]) : "";
        const std::string got = ask("hal get " + channel(slot));
        if (!fed.empty()) ASSERT_EQ(got, fed) << "seed " << seed << " step " << i << ":\n" << walked;
        else ASSERT_NE(got.substr(0, 9), "connected") << "seed " << seed << " step " << i << ":\n" << walked;
      }
      want.clear(), m.wire.clear();
    }
  }
}

}  // namespace
