// Black-box: a seeded walk over the board services of the running server.
// The test plays the board's drivers through the simulator (E1 trunk
// states and counters, the basic-rate framers' line-status registers, CAS
// line bits, injected driver failures) and the controller (clock and trunk
// clock modes, CAS commands, leaving and coming anew). An independent model
// predicts every trunk status pass the controller gets, every CAS signal
// and answer in order, the clock source and the transmit-clock mask on the
// devices, and the supply as the controller and an SNMP agent hear of it.
// Real time: a status pass comes once a second, a power check every two.
//
// GW_MODEL_SEEDS=FIRST-LAST and GW_MODEL_STEPS=N run longer walks.
#include "tests/board/board_lgcp.h"
#include "tests/board/snmp_test_agent.h"
#include "tests/support/model_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <cstdint>
#include <map>
#include <random>
#include <sstream>

namespace {

using Strings = std::vector<std::string>;

const char* const state_names[] = {"normal", "lossBF", "lossCarrier", "ais", "rai", "unknown", "disabled"};

// The board as the services should see it and tell it.
struct Board {
  struct E1 {
    int state = 0, slips = 0, bf = 0, carrier = 0, ais = 0, rai = 0;
  };
  std::array<E1, 4> e1;
  std::array<int, 8> line;       // register 0x33 of each basic-rate framer
  std::array<bool, 8> slip_bit;  // bit 5 as the last pass read it
  int source = -1, selects = 0;  // the bus clock
  std::uint32_t tclk = 0, mask = 0;
  int tclk_writes = 0;
  std::array<bool, 4> cas_open{};  // the service's trunk-open flags
  struct Chan {
    bool open = false;
    int rx = 0, tx = 0;
  };
  std::map<std::pair<int, int>, Chan> chans;  // the CAS driver's channels
  std::array<bool, 4> driver_open{};
  std::map<std::string, int> fails;  // failures injected and not yet met
  int power = 2;                     // the supply as last told (main)
  Strings power_told;                // power signals the controller must get

  Board() {
    line.fill(0xC5);
    slip_bit.fill(false);
  }

  // The supply byte of the board: the controller hears of a change at the
  // next power check.
  void supply(int byte) {
    const int s = byte == 0 ? 3 : byte <= 3 ? byte : 0;
    if (s != power) power = s, power_told.push_back("power " + std::to_string(s));
  }

  bool take(const std::string& kind) {
    auto it = fails.find(kind);
    if (it == fails.end() || it->second == 0) return false;
    --it->second;
    return true;
  }

  Strings e1_pass() const {
    Strings out;
    for (int t = 0; t < 4; ++t) {
      const E1& r = e1[t];
      const char* name = r.state >= 0 && r.state <= 6 ? state_names[r.state] : "unknown";
      out.push_back("e1 " + std::to_string(t) + " " + name + " slips " + std::to_string(r.slips) + " bf " +
                    std::to_string(r.bf) + " carrier " + std::to_string(r.carrier) + " ais " +
                    std::to_string(r.ais) + " rai " + std::to_string(r.rai));
    }
    return out;
  }
  static const char* line_state(int s) {
    if (!(s & 1)) return "lossCarrier";
    if (!(s & 4)) return "lossBF";
    if ((s & 0xC0) == 0x80) return "rai";
    if ((s & 0xC0) == 0xC0) return "normal";
    return "ais";
  }
  // A framer's slip is told once, in the first pass that sees its bit.
  Strings bri_pass(const std::array<int, 8>& regs) const {
    Strings out;
    for (int f = 0; f < 8; ++f) {
      const bool bit = regs[f] & 0x20;
      out.push_back("bri " + std::to_string(f) + " " + line_state(regs[f]) + " slips " +
                    std::to_string(bit && !slip_bit[f] ? 1 : 0));
    }
    return out;
  }
  void bri_seen(const std::array<int, 8>& regs) {
    for (int f = 0; f < 8; ++f) slip_bit[f] = regs[f] & 0x20;
  }

  void select(int s) {
    if (take("clock")) return;
    source = s, ++selects;
  }
  // What the controller hears of a clock request.
  std::string clock(bool internal, bool enabled, int s) {
    const int before = selects;
    if (internal) s = 4;
    else if (!enabled) s = 5;
    if (s < 0) return "success";
    select(s);
    return selects > before ? "success" : "error internal";
  }
  std::string trunk_mode(int trunk, bool slave) {
    if (trunk < 0) return "success";
    const std::uint32_t bit = trunk < 32 ? 1u << trunk : 0;
    const std::uint32_t before = tclk;
    tclk = slave ? tclk | bit : tclk & ~bit;
    if (write_tclk()) return "success";
    tclk = before;
    return "error internal";
  }
  bool write_tclk() {
    if (take("tclk")) return false;
    mask = tclk, ++tclk_writes;
    return true;
  }

  static std::string cas(int p, int ts, int rx, int tx) {
    return "cas " + std::to_string(p) + " " + std::to_string(ts) + " rx " + std::to_string(rx) + " tx " +
           std::to_string(tx);
  }
  // The driver's read back of a channel.
  void report(int p, int ts, Strings& sig) {
    auto it = chans.find({p, ts});
    if (take("get") || !driver_open[p] || it == chans.end() || !it->second.open) return sig.push_back(cas(p, ts, -1, 0));
    sig.push_back(cas(p, ts, it->second.rx, it->second.tx));
  }
  bool config(int p, int ts, bool close, int tx) {
    if (take("config") || !driver_open[p] || ts < 1 || ts > 31) return false;
    Chan& c = chans[{p, ts}];
    c.open = !close;
    c.tx = close ? 0 : tx & 15;
    return true;
  }
  // A CAS command: the signals it causes (its answer is always success).
  Strings cas_command(const std::string& what, int p, int ts, int v) {
    Strings sig;
    if (p < 0 || p > 3) return sig;
    if (what == "open") {
      if (cas_open[p]) {
        sig.push_back(cas(p, 0, 0, 0));
      } else {
        if (take("trunk-open")) return {cas(p, 0, -1, 0)};
        driver_open[p] = cas_open[p] = true;
        sig.push_back(cas(p, 0, 0, 0));
      }
      if (ts == 0 || ts == 16) return sig;
      if (!config(p, ts, false, v)) return sig.push_back(cas(p, ts, -1, 0)), sig;
      report(p, ts, sig);
      return sig;
    }
    if (!cas_open[p]) return sig;
    if (what == "set") {
      auto it = chans.find({p, ts});
      if (take("set") || !driver_open[p] || it == chans.end() || !it->second.open)
        return sig.push_back(cas(p, ts, -1, 0)), sig;
      it->second.tx = v & 15;
      report(p, ts, sig);
    } else if (what == "get") {
      report(p, ts, sig);
    } else if (ts == 0) {
      if (take("trunk-close")) return {cas(p, 0, -1, 0)};
      driver_open[p] = cas_open[p] = false;
      for (auto& c : chans)
        if (c.first.first == p) c.second.open = false;
      sig.push_back(cas(p, 0, 1, 0));
    } else if (ts != 16) {
      sig.push_back(config(p, ts, true, 0) ? cas(p, ts, -1, 1) : cas(p, ts, -1, 0));
    }
    return sig;
  }
  // Line bits that change under a channel: the driver tells them as they are.
  std::string line_bits(int p, int ts, int bits) {
    Chan& c = chans[{p, ts}];
    c.rx = bits;
    return cas(p, ts, c.rx, c.tx);
  }
};

std::string tell(const std::string& frame) {
  LGCP::Message m;
  if (testsupport::decode(frame, m) && m.get_pdu().response_isSelected() && m.seq_isPresent())
    return "seq " + std::to_string(m.get_seq().getValue()) + " " + boardtest::describe(frame);
  if (m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().power_isSelected())
    return "power " + std::to_string(m.get_pdu().get_signal().get_power().asInt());
  // No trunk report has a name or is clock master.
  if (m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().trunkStatus_isSelected()) {
    const ACP::TrunkStatus& t = m.get_pdu().get_signal().get_trunkStatus();
    if (!std::string(t.get_name()).empty() || static_cast<bool>(t.get_clockMaster()) || m.slot_isPresent())
      return boardtest::describe(frame) + " (named, master or of a slot)";
  }
  return boardtest::describe(frame);
}
bool starts(const std::string& s, const char* p) { return s.rfind(p, 0) == 0; }

// The controller's stream cut into status passes (each one loop pass of its
// service, so never interleaved) and everything else.
struct Stream {
  Stream(testsupport::RunningServer& s, Board& b) : srv(s), m(b) {}
  testsupport::RunningServer& srv;
  Board& m;
  Strings e1, bri, others, power;
  Strings e1_prev;  // a pass the change may have come after
  bool bri_prev_valid = false;
  std::array<int, 8> bri_prev{};
  int e1_passes = 0, bri_passes = 0, e1_new = 0, bri_new = 0;
  std::int64_t bri_ms = 0;  // when the last basic-rate pass was read
  std::string failure;

  void take(const std::string& t) {
    if (!failure.empty()) return;
    if (starts(t, "e1 ") || starts(t, "bri ")) {
      Strings& pass = starts(t, "e1 ") ? e1 : bri;
      pass.push_back(t);
      if (pass.size() == 4 && &pass == &e1) check_e1();
      if (pass.size() == 8) check_bri();
      return;
    }
    if (starts(t, "power ")) return power.push_back(t);
    others.push_back(t);
  }
  // The power signals come on the board's own timer: those that came are
  // the first of those due.
  bool power_in_time() const {
    return power.size() <= m.power_told.size() && std::equal(power.begin(), power.end(), m.power_told.begin());
  }
  void check_e1() {
    const Strings want = m.e1_pass();
    ++e1_passes;
    if (e1 == want) ++e1_new, e1_prev.clear();
    else if (e1_prev.empty() || e1 != e1_prev)
      failure = "E1 pass " + ::testing::PrintToString(e1) + ", want " + ::testing::PrintToString(want);
    e1.clear();
  }
  void check_bri() {
    const Strings want = m.bri_pass(m.line);
    ++bri_passes, bri_ms = testsupport::real_ms();
    if (bri == want) {
      ++bri_new, bri_prev_valid = false, m.bri_seen(m.line);
    } else if (bri_prev_valid && bri == m.bri_pass(bri_prev)) {
      m.bri_seen(bri_prev);
    } else {
      failure = "BRI pass " + ::testing::PrintToString(bri) + ", want " + ::testing::PrintToString(want);
    }
    bri.clear();
  }
  void read(int ms) {
    for (const auto& f : srv.ctl.frames(ms)) take(tell(f));
  }
  // Reads until the condition holds; false when the time is up.
  bool until(const std::function<bool()>& cond, int timeout_ms = testsupport::patience_ms) {
    return testsupport::eventually([&] {
      read(50);
      return cond() || !failure.empty();
    }, timeout_ms) && failure.empty();
  }
  // The next n frames other than status passes.
  Strings next(std::size_t n, int timeout_ms = testsupport::patience_ms) {
    until([&] { return others.size() >= n; }, timeout_ms);
    Strings out(others.begin(), others.begin() + static_cast<long>(std::min(n, others.size())));
    others.erase(others.begin(), others.begin() + static_cast<long>(out.size()));
    return out;
  }
  // A change of the board's trunks is made right after a basic-rate pass,
  // so that the next one sees all of it; one that came before it anyway is
  // still taken for a pass of the old state.
  bool after_a_pass() {
    read(0);
    if (failure.empty() && bri.empty() && testsupport::real_ms() - bri_ms < 300) return true;
    const int n = bri_passes;
    return until([&] { return bri_passes > n; }, 3000);
  }
};

int number(const std::string& text, const std::string& after) {
  const auto at = text.find(after);
  return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + after.size());
}

}  // namespace

TEST(BoardModelServer, TrunkAlarmsClockCasAndANewControllerAreWhatTheModelSays) {
  int first = 1, last = 2, steps = 6;
  testsupport::walk_range(first, last, steps);
  // An agent hears of the supply as the controller does.
  testsupport::SnmpTestAgent agent(true);
  testsupport::RunningServer srv({}, [&](const std::string& root) {
    ASSERT_EQ(std::system(("mkdir -p '" + root + "/usr/local/etc'").c_str()), 0);
    std::ofstream(root + "/usr/local/etc/server.conf")
        << "[snmpagent]\nhost = 127.0.0.1:" << agent.port() << "\nname = zarngw\n";
  });
  ASSERT_TRUE(srv.ready()) << srv.log();
  srv.ctl.drop = nullptr;
  srv.ctl.keep_power_signals = true;
  Board m;
  ASSERT_EQ(srv.sim.ask("hal power 2"), "");
  {
    const std::string clock = srv.sim.ask("hal clock");
    m.source = number(clock, "source "), m.selects = number(clock, "selects ");
    ASSERT_EQ(m.source, 4) << clock;
    m.tclk_writes = number(srv.sim.ask("e1 tclk"), "writes ");
  }
  Stream in(srv, m);
  int seq = 0;
  // The supply as the first controller heard of it is not the walk's.
  srv.ctl.send(boardtest::command_image(++seq, [](LGCP::Command& c) { c.select_ping(); }));
  ASSERT_EQ(in.next(1), Strings{"seq 1 success"});
  in.power.clear();
  // A refused attempt is soon tried again; what an attempt given up heard
  // is not the new controller's.
  std::size_t powers = 0;
  auto rejoin_frames = [&](std::size_t n) {
    in.power.resize(std::min(in.power.size(), powers));
    in.e1.clear(), in.bri.clear();
    in.until([&] { return in.others.size() >= n || srv.ctl.closed(); }, 2000);
    return in.next(n, 0);
  };
  for (int seed = first; seed <= last; ++seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    Strings trail;
    for (int i = 0; i < steps; ++i) {
      Strings want;
      std::string what;
      // Every walk changes the supply and has a new controller come.
      const int op = i == 1 ? 17 : i == steps / 2 ? 19 : pick(20);
      auto at = [&] {
        std::string walked;
        for (std::size_t j = trail.size() > 10 ? trail.size() - 10 : 0; j < trail.size(); ++j) walked += trail[j] + "\n";
        return "seed " + std::to_string(seed) + " step " + std::to_string(i) + ", last steps:\n" + walked;
      };
      if (op < 5) {
        // Alarms rise and clear on some trunks of either kind.
        ASSERT_TRUE(in.after_a_pass()) << in.failure << "\n" << at();
        in.e1_prev = m.e1_pass();
        in.bri_prev = m.line, in.bri_prev_valid = true;
        what = "alarms";
        for (int k = pick(4); k >= 0; --k) {
          if (pick(2)) {
            const int t = pick(4);
            Board::E1& r = m.e1[t];
            static const int states[] = {0, 0, 1, 2, 3, 4, 5, 6, 9, -1};
            r = Board::E1();
            r.state = states[pick(10)];
            if (r.state != 0) r.slips = pick(3), r.bf = pick(3), r.carrier = pick(3), r.ais = pick(3), r.rai = pick(3);
            std::ostringstream w;
            w << "e1 status " << t << " " << r.state << " " << r.slips << " " << r.bf << " " << r.carrier << " " << r.ais
              << " " << r.rai;
            ASSERT_EQ(srv.sim.ask(w.str()), "");
            what += " / " + w.str();
          } else {
            const int f = pick(8);
            static const int regs[] = {0xC5, 0xC5, 0xE5, 0x85, 0xA5, 0x45, 0x05, 0x25, 0x01, 0x21, 0x00, 0x20};
            m.line[f] = regs[pick(12)];
            const std::string w = "hal spi " + std::to_string(f) + " 0x33 " + std::to_string(m.line[f]);
            ASSERT_EQ(srv.sim.ask(w), "");
            what += " / " + w;
          }
        }
        const int e1n = in.e1_new, brin = in.bri_new;
        ASSERT_TRUE(in.until([&] { return in.e1_new > e1n && in.bri_new > brin; }, 6000)) << in.failure << "\n" << at();
      } else if (op < 8) {
        const bool internal = pick(3) == 0, enabled = pick(3) != 0;
        static const int sources[] = {-1, 0, 1, 2, 3, 5, 7, 9};
        const int source = sources[pick(8)];
        what = std::string("clock ") + (internal ? "internal " : "external ") + (enabled ? "enabled " : "disabled ") +
               std::to_string(source);
        if (pick(5) == 0) {
          ASSERT_EQ(srv.sim.ask("hal fail clock 5 1"), "");
          m.fails["clock"] = 1, what += " (refused)";
        }
        const int p = ++seq;
        srv.ctl.send(boardtest::clock_image(p, internal, enabled, source));
        want.push_back("seq " + std::to_string(p) + " " + m.clock(internal, enabled, source));
      } else if (op < 10) {
        static const int trunks[] = {-1, 0, 1, 2, 3, 3, 31, 40};
        const int trunk = trunks[pick(8)];
        const bool slave = pick(2);
        what = "trunkCfg " + std::to_string(trunk) + (slave ? " slave" : " master");
        if (pick(6) == 0) {
          ASSERT_EQ(srv.sim.ask("e1 fail tclk 5 1"), "");
          m.fails["tclk"] = 1, what += " (refused)";
        }
        const int p = ++seq;
        srv.ctl.send(boardtest::trunk_image(p, trunk, slave));
        want.push_back("seq " + std::to_string(p) + " " + m.trunk_mode(trunk, slave));
      } else if (op < 16) {
        static const char* const cmds[] = {"open", "open", "set", "get", "close"};
        static const int paths[] = {-1, 0, 1, 1, 2, 3, 4};
        static const int slots[] = {0, 1, 5, 5, 16, 31};
        const std::string c = cmds[pick(5)];
        const int path = paths[pick(7)], ts = slots[pick(6)], v = pick(32);
        what = "cas " + c + " " + std::to_string(path) + " " + std::to_string(ts) + " " + std::to_string(v);
        if (pick(6) == 0) {
          static const char* const kinds[] = {"trunk-open", "trunk-close", "set", "get", "config"};
          const std::string k = kinds[pick(5)];
          ASSERT_EQ(srv.sim.ask("cas fail " + k + " 5 1"), "");
          m.fails[k] = 1;  // a new failure replaces one not yet met
          what += " (" + k + " fails)";
        }
        const int p = ++seq;
        srv.ctl.send(boardtest::cas_image(p, path, ts, c, v));
        want = m.cas_command(c, path, ts, v);
        want.push_back("seq " + std::to_string(p) + " success");
      } else if (op == 17) {
        const int byte = pick(6);
        what = "supply " + std::to_string(byte);
        ASSERT_EQ(srv.sim.ask("hal power " + std::to_string(byte)), "");
        m.supply(byte);
        // Heard at the next power check, before the walk goes on: two
        // changes within one check would be one.
        ASSERT_TRUE(in.until([&] { return in.power.size() >= m.power_told.size(); }, 5000))
            << ::testing::PrintToString(in.power) << " " << ::testing::PrintToString(m.power_told);
      } else if (op < 19) {
        const int path = pick(4), ts = pick(2) ? 5 : 1 + pick(31), bits = pick(16);
        what = "line bits " + std::to_string(path) + " " + std::to_string(ts) + " " + std::to_string(bits);
        ASSERT_EQ(srv.sim.ask("cas rx " + std::to_string(path) + " " + std::to_string(ts) + " " + std::to_string(bits)),
                  "");
        // Two round trips: the loop has read the record before the ping.
        srv.sim.ask("cas trunk 0"), srv.sim.ask("cas trunk 0");
        want.push_back(m.line_bits(path, ts, bits));
      } else {
        // The controller leaves and a new one comes: the clock runs free
        // again, every trunk is master again, the E1 states come at once;
        // CAS trunks stay open.
        what = "new controller";
        trail.push_back(what);
        // What the supply did is heard before it leaves; the new one hears
        // the supply at once.
        ASSERT_TRUE(in.until([&] { return in.power.size() == m.power_told.size(); }, 5000))
            << ::testing::PrintToString(in.power) << "\n" << at();
        in.e1.clear(), in.bri.clear();
        powers = in.power.size();
        ASSERT_TRUE(testsupport::controller_rejoins(srv, seq, rejoin_frames)) << in.failure << "\n" << at();
        m.select(4), m.select(4);
        m.power_told.push_back("power " + std::to_string(m.power));
        // Each connect writes the mask (an attempt given up connects too).
        m.tclk = 0;
        m.write_tclk();
        const int e1n = in.e1_new;
        ASSERT_TRUE(in.until([&] { return in.e1_new > e1n; }, 5000)) << in.failure << "\n" << at();
      }
      if (op < 19) trail.push_back(what);
      const int p = ++seq;
      srv.ctl.send(boardtest::command_image(p, [](LGCP::Command& c) { c.select_ping(); }));
      want.push_back("seq " + std::to_string(p) + " success");
      ASSERT_EQ(in.next(want.size()), want) << in.failure << "\n" << at();
      ASSERT_EQ(in.failure, "") << at();
      ASSERT_TRUE(in.power_in_time()) << ::testing::PrintToString(in.power) << "\n" << at();
      agent.pump(0);
      const std::string clock = srv.sim.ask("hal clock");
      ASSERT_EQ(number(clock, "source "), m.source) << clock << "\n" << at();
      if (op < 19) ASSERT_EQ(number(clock, "selects "), m.selects) << clock << "\n" << at();
      else m.selects = number(clock, "selects "), m.tclk_writes = number(srv.sim.ask("e1 tclk"), "writes ");
      std::ostringstream mask;
      mask << "mask 0x" << std::hex << std::uppercase << m.mask << std::dec << " writes " << m.tclk_writes;
      ASSERT_EQ(srv.sim.ask("e1 tclk"), mask.str()) << at();
      for (int t = 0; t < 4; ++t)
        ASSERT_EQ(srv.sim.ask("cas trunk " + std::to_string(t)), m.driver_open[t] ? "open" : "closed") << at();
    }
  }
  EXPECT_TRUE(in.until([&] { return in.power.size() == m.power_told.size(); }, 5000))
      << ::testing::PrintToString(in.power) << " " << ::testing::PrintToString(m.power_told);
  EXPECT_EQ(in.power, m.power_told);
  // Each change reaches the agent (in both batches), from the first main
  // supply on; a new controller is no change.
  Strings changes{"2"};
  for (const auto& t : m.power_told)
    if (t.substr(6) != changes.back()) changes.push_back(t.substr(6));
  Strings heard;
  EXPECT_TRUE(agent.wait([&] {
    heard.clear();
    for (const auto& v : agent.values_of("powerStatus"))
      if ((!heard.empty() || v.value == "2") && (heard.empty() || heard.back() != v.value)) heard.push_back(v.value);
    return heard == changes;
  })) << ::testing::PrintToString(heard) << " " << ::testing::PrintToString(changes);
  EXPECT_EQ(agent.connections(), 1);
}
