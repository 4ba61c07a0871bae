// Black-box: seeded walks that align an SS7 link of a PSTN slot and take it
// down again. The slot is fed by a trunk slot (its connect opens the HDLC
// channel and starts alignment); the test plays the far end of the channel
// through the simulator with status units, fill-in and message units, and
// sends activate, deactivate, messages, connects and disconnects. An
// independent model of the level-2 link and the slot predicts every unit
// written on the channel, every answer and signal with each field of the
// link records, in order; the slot's own periodic reports may fall between
// them and must carry the counters of just before or just after the step.
// Real time (emergency proving: T4 is 500 ms): a step that a timer would
// overtake waits for it.
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

int mod(int v) { return (v % 128 + 128) % 128; }

enum State { idle, not_aligned, aligned, proving, aligned_ready, worked };
enum { SIO, SIN, SIE, SIOS };

// The slot's SS7 link as the Parts give it, with emergency alignment.
struct Ss7 {
  int state = idle, bsn = 127, fsn = 127, oldest = 0, last = 127;
  bool bib = true, fib = true, nack_pending = false, bad_bsn = false, bad_fib = false, open = false;
  std::deque<std::string> rtb;
  unsigned sent = 0, discarded = 0, received = 0;                      // the HDLC channel's
  unsigned su_tx = 0, su_rx = 0, oct_tx = 0, oct_rx = 0, nacks = 0, repeats = 0;  // the link's
  int timer = 0;  // ms of the running timer, 0 none
  std::int64_t due = 0, clock = 0;
  Strings wire, sig;

  std::string reports() const {
    return "hdlcLinkInfo " + std::to_string(sent) + " " + std::to_string(discarded) + " 0 0 " +
           std::to_string(received) + "|" + ss7();
  }
  std::string ss7() const {
    std::ostringstream o;
    o << "ss7LinkInfo " << su_tx << " " << su_rx << " " << oct_tx << " " << oct_rx << " 0 " << rtb.size() << " "
      << repeats << " " << nacks << " 0 0 state " << state;
    return o.str();
  }
  void write(const std::string& f) {
    if (!open) return void(++discarded);
    ++sent, wire.push_back(f);
  }
  void lssu(int i) { write(hex_octets({0xFF, 0xFF, 1, i})); }
  void send(const std::string& payload) {
    const std::string f = hex_octets({bsn | bib << 7, fsn | fib << 7, static_cast<int>(payload.size() / 2)}, payload);
    if (!open) return void(++discarded);
    write(f), ++su_tx, oct_tx += static_cast<unsigned>(f.size() / 2);
  }
  void set(int ms) { timer = ms, due = clock + ms; }
  void reset() {
    rtb.clear(), oldest = 0, last = 127;
    nack_pending = bad_bsn = bad_fib = false;
    bsn = fsn = 127, bib = fib = true;
  }
  void up() { sig.push_back(ss7()), sig.push_back("signal activated"); }
  void next(int s) {
    if (state != idle) timer = 0;
    state = s;
    if (s == idle) {
      reset(), lssu(SIOS);
      sig.push_back(ss7()), sig.push_back(reports().substr(0, reports().find('|')));
      sig.push_back(ss7()), sig.push_back("signal deactivated");
    }
    if (s == not_aligned) reset(), set(7000), lssu(SIO);
    if (s == aligned) set(1500), lssu(SIE);
    if (s == proving) set(500), lssu(SIE);
    if (s == aligned_ready) set(45000), send("");
    if (s == worked) reset(), send(""), send(""), up();
  }
  // The engine opens a fresh channel, the link is asked up, and the new
  // channel's first readiness lets an in-service link send a fill-in.
  void activate() {
    open = true, sent = discarded = received = 0;
    if (state == idle) next(not_aligned);
    else if (state == worked) up();
    if (state == worked) send("");
  }
  // process_bsnr; false when the link left service.
  bool acknowledge(int bsnr, bool bibr, bool fib_expected) {
    if (mod(bsnr - oldest + 1) > mod(last - oldest + 1)) {
      if (!bad_bsn) return bad_bsn = true;
      next(idle);
      return false;
    }
    bad_bsn = false;
    if (mod(bsnr + 1) != oldest) set(12000);
    while (oldest != mod(bsnr + 1)) rtb.pop_front(), oldest = mod(oldest + 1);
    if (rtb.empty()) timer = 0;
    if (bibr != fib_expected) {  // retransmit everything not acknowledged
      ++repeats;
      fsn = mod(oldest - 1), fib = bibr;
      std::deque<std::string> again;
      again.swap(rtb);
      last = fsn;
      if (again.empty()) send("");
      for (const std::string& m : again) transmit(m);
    }
    return true;
  }
  void transmit(const std::string& m) {
    fsn = mod(last + 1), send(m), last = fsn, rtb.push_back(m);
    if (rtb.size() == 1) set(12000);
  }
  void message(const std::string& m) {
    if (state == worked) transmit(m);
  }
  void nack() { bib = !bib, nack_pending = true, send(""), ++nacks; }
  void unexpected_fib(int bsnr, bool bibr, bool fib_expected) {
    if (nack_pending) acknowledge(bsnr, bibr, fib_expected);
    else if (bad_fib) next(idle);
    else bad_fib = true;
  }
  void receive(const std::string& frame) {
    ++received;
    oct_rx += static_cast<unsigned>(frame.size() / 2);
    if (frame.size() < 6) return;
    ++su_rx;
    const int b0 = std::stoi(frame.substr(0, 2), nullptr, 16), f0 = std::stoi(frame.substr(2, 2), nullptr, 16);
    const int bsnr = b0 & 127, fsnr = f0 & 127, n = static_cast<int>(frame.size() / 2) - 3;
    const bool bibr = b0 >> 7, fibr = f0 >> 7;
    if (n == 1 || n == 2) {
      const int i = std::stoi(frame.substr(6, 2), nullptr, 16);
      const bool in = i == SIN || i == SIE;
      if (state <= not_aligned && (i == SIO || in)) next(i == SIO ? aligned : proving);
      else if (state == aligned && in) next(proving);
      else if ((state == proving || state == aligned_ready) && !in) next(idle);
      else if (state == worked) next(idle);
      return;
    }
    if (state == proving || state == aligned_ready) return next(worked);
    if (state != worked) return;
    const int fsn_expected = bsn;
    const bool bib_expected = bib, fib_expected = fib;
    if (n > 0 && fsnr == fsn_expected) return;
    if (fibr != bib_expected) return unexpected_fib(bsnr, bibr, fib_expected);
    nack_pending = bad_fib = false;
    if (!acknowledge(bsnr, bibr, fib_expected)) return;
    if (n == 0 && fsnr != fsn_expected) return nack();
    if (n == 0) return;
    if (fsnr != mod(fsn_expected + 1)) return nack();
    bsn = fsnr, send("");
    sig.push_back("userData " + frame.substr(6));
  }
  void expire() {
    const int t = timer;
    timer = 0;
    if (t == 500) next(aligned_ready);
    else next(idle);  // T1, T2, T3, T7
  }
};

std::string tell(const std::string& frame) {
  return sigtest::tell_frame(frame, [](const std::string& slot, const LGCP::IoctlResponse& r) {
    std::ostringstream o;
    auto n = [](const auto& v) { return v.getValue(); };
    if (r.hdlcLinkInfo_isSelected()) {
      const LGCP::HdlcLinkInfo& h = r.get_hdlcLinkInfo();
      o << slot << "hdlcLinkInfo " << n(h.get_txSU()) << " " << n(h.get_txDiscard()) << " " << n(h.get_txError())
        << " " << n(h.get_txOverflow()) << " " << n(h.get_rxSU());
    } else if (r.ss7LinkInfo_isSelected()) {
      const ACP::SS7LinkInfo& s = r.get_ss7LinkInfo();
      o << slot << "ss7LinkInfo " << n(s.get_msuTxCount()) << " " << n(s.get_msuRxCount()) << " "
        << n(s.get_octetsTx()) << " " << n(s.get_octetsRx()) << " " << n(s.get_overflowCntr()) << " "
        << n(s.get_rtbSize()) << " " << n(s.get_repeatCntr()) << " " << n(s.get_badSeqCntr()) << " "
        << n(s.get_speedRx()) << " " << n(s.get_speedTx()) << " state " << s.get_ss7state().asInt();
    } else {
      o << slot << "ioctl " << r.getSelectionName();
    }
    return o.str();
  });
}

class Ss7LinkModel : public sigtest::SlotsServerSuite<tell> {
 protected:
  static Strings frames(std::size_t n) { return next_told(n); }
  // Frames onto `out` up to `target`, without the periodic pairs that
  // carry `before` or `after` (the model's reports of just before and after
  // the step) where `want` has no such pair.
  static void frames_until(Strings& out, const std::string& target, const Strings& want, const std::string& before,
                           const std::string& after) {
    for (;;) {
      const Strings f = frames(1);
      if (f.empty()) return;
      out.push_back(f[0]);
      const std::size_t k = out.size();
      if (k >= 2) {
        const std::string pair = out[k - 2].substr(8) + "|" + out[k - 1].substr(8);
        const bool predicted = k <= want.size() && out[k - 2] == want[k - 2] && out[k - 1] == want[k - 1];
        if (!predicted && out[k - 2].rfind("slot 11 hdlcLinkInfo", 0) == 0 && (pair == before || pair == after))
          out.resize(k - 2);
      }
      if (f[0] == target) return;
    }
  }
};

// The link's slot is 11, the trunk slot (trunk 1, time slot 1: channel 33)
// is 1.
TEST_F(Ss7LinkModel, EveryUnitAnswerAndSignalIsThePredictedOne) {
  int first = 1, last = 3, steps = 30;
  testsupport::walk_range(first, last, steps);
  int seq = 0;
  for (int seed = first; seed <= last; ++seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    ASSERT_TRUE(testsupport::controller_rejoins(*srv, seq, frames));
    Ss7 m;
    const int q = ++seq, t = ++seq;
    srv->ctl.send(testsupport::create_image(q, 11, [&](LGCP::CreateParams& p) {
      LGCP::SS7Params& s = p.select_pstn().select_ss7();
      s.set_trunk(1), s.set_slc(0), s.set_dpc(1), s.set_opc(2), s.set_emergency(true);
    }));
    srv->ctl.send(testsupport::trunk_image(t, 1, 1, 1));
    ASSERT_EQ(frames(4), (Strings{"seq " + std::to_string(q) + " slot 11 success", "seq " + std::to_string(t) +
                                  " slot 1 success", "slot 1 transmitter active 33", "slot 1 receiver active 33"}));
    int source_of_11 = -1, source_of_1 = -1;
    bool out_on = false, in_on = false;
    std::string ts;
    Strings want, trail;
    for (int i = 0; i < steps; ++i) {
      m.clock = testsupport::real_ms();
      const std::string before = m.reports();
      std::string what, image, inject, reply;
      // A far end gone silent: now and then the step waits for the link's
      // timer, when it is near.
      const bool silent = m.timer && m.due - m.clock < 2000 && pick(24) == 0;
      if (m.timer && (m.due - m.clock < 400 || silent)) {
        what = "wait " + std::to_string(m.timer);
        std::this_thread::sleep_for(std::chrono::milliseconds(m.due + 250 - m.clock));
        m.clock = m.due;
        m.expire();
      } else {
        const int op = pick(18), p = ++seq;
        reply = "seq " + std::to_string(p) + " slot 11 success";
        if (op < 8 && m.open) {
          static const char* const units[] = {"SIO", "SIN", "SIE", "SIOS", "odd", "FISU", "MSU", "short"};
          // Half the time the far end aligns along: the unit that moves the
          // link on from where it is.
          static const int along[] = {0, 0, 2, 5, 5, 6};
          const int u = pick(2) ? along[m.state] : op;
          what = units[u];
          // The far end acknowledges all it got, and asks for a repeat now
          // and then; its message units come in sequence or one ahead.
          const bool again = pick(6) == 0;
          const int b = m.last | (m.fib != again) << 7, ahead = pick(5) == 0;
          if (u < 5) inject = hex_octets({0xFF, 0xFF, 1, u == 4 ? 7 : u});
          if (what == "FISU") inject = hex_octets({b, mod(m.bsn + ahead) | m.bib << 7, 0});
          if (what == "MSU") inject = hex_octets({b, mod(m.bsn + 1 + ahead) | m.bib << 7, 3, 0x83, 1, pick(256)});
          if (what == "short") inject = "FFFF";
          m.receive(inject);
          reply.clear();
        } else if (op < 13) {
          static const char* const cmds[] = {"activate", "deactivate", "userData", "userData", "activate"};
          what = cmds[op % 5];
          if (what == "activate") image = testsupport::activate_image(p, 11), m.activate();
          if (what == "deactivate") image = testsupport::null_command_image(p, 11, "deactivate"), m.next(idle);
          const std::string msg = hex_octets({0x83, 2, pick(256)});
          if (what == "userData") image = testsupport::user_data_image(p, 11, sigtest::data(msg)), m.message(msg);
        } else if (op < 15) {
          what = "connect 1 11";
          image = testsupport::connect_image(p, 1, 11);
          reply = "seq " + std::to_string(p) + " slot 1 success";
          if (source_of_11 != 1) {
            if (!in_on) in_on = true, want.push_back("slot 11 receiver active -1");
            source_of_11 = 1;
            m.activate();
          }
        } else if (op == 15) {
          what = "connect 11 1";
          image = testsupport::connect_image(p, 11, 1);
          if (source_of_1 != 11 && !out_on) out_on = true, want.push_back("slot 11 transmitter active -1");
          source_of_1 = 11;
        } else {
          const int r = op == 16 ? 11 : 1;
          what = "disconnect " + std::to_string(r);
          image = testsupport::null_command_image(p, r, "disconnect");
          reply = "seq " + std::to_string(p) + " slot " + std::to_string(r) + " success";
          if (r == 11 && source_of_11 == 1) m.next(idle);
          (r == 11 ? source_of_11 : source_of_1) = -1;
        }
      }
      for (const std::string& s : m.sig) want.push_back("slot 11 " + s);
      m.sig.clear();
      if (!reply.empty()) want.push_back(reply);
      std::string units = what + " " + inject + ", sent";
      for (const std::string& u : m.wire) units += " " + u;
      trail.push_back(units + " -> state " + std::to_string(m.state) + " " + m.reports());
      if (!inject.empty()) {
        ASSERT_EQ(ask("mcc inject " + ts + " " + inject), "");
      }
      Strings got;
      if (!image.empty()) srv->ctl.send(image), frames_until(got, reply, want, before, m.reports());
      // Two round trips: the loop has read the unit, or met a new
      // channel's readiness, before the ping.
      ask("mcc channels"), ask("mcc channels");
      // A timer's units before the ping: its reports come with them.
      Strings wire;
      if (what.compare(0, 5, "wait ") == 0 && m.open && !ts.empty())
        wire = frames_written("mcc read " + ts, m.wire.size());
      const int p = ++seq;
      srv->ctl.send(testsupport::null_command_image(p, -1, "ping"));
      want.push_back("seq " + std::to_string(p) + " success");
      std::string walked;
      for (std::size_t j = trail.size() > 12 ? trail.size() - 12 : 0; j < trail.size(); ++j) walked += trail[j] + "\n";
      frames_until(got, want.back(), want, before, m.reports());
      ASSERT_EQ(got, want) << "seed " << seed << " step " << i << ", last steps:\n" << walked;
      const Strings ch = lines(ask("mcc channels"));
      ASSERT_EQ(ch.size(), m.open ? 1u : 0u) << "seed " << seed << " step " << i << ":\n" << walked;
      if (m.open) {
        ASSERT_EQ(ch[0].substr(ch[0].find(':')), ":3,512,0,1,4");
        ts = ch[0].substr(0, ch[0].find(':'));
        for (std::string& l : lines(ask("mcc read " + ts))) wire.push_back(std::move(l));
        ASSERT_EQ(wire, m.wire) << "seed " << seed << " step " << i << ":\n" << walked;
      }
      want.clear(), m.wire.clear();
    }
  }
}

}  // namespace
