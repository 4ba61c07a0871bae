// Black-box: slots of every switching kind connected to one another, pair
// by pair. For each pair of kinds (A, B): A feeds B, a second slot of A's
// kind takes B over, B feeds A back, B is disconnected, the source and then
// the receiver is destroyed while connected, and a slot is created under a
// number that is connected; after each step the cross-connect, the HDLC
// controller channels and the RTP sessions must hold exactly what the
// connections call for, and after the pair nothing of it is left. The radio
// slots' header-extension sessions stay as they were made, attached to the
// slot's RTP session, until the slot goes.
#include "tests/media/mixer_images.h"
#include "tests/media/rtp_fixture.h"
#include "tests/radio/zarn_values.h"
#include "tests/slots/slots_server.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

using namespace slotstest;
using namespace testsupport;

namespace {

using P = TERM::Payload;

std::set<std::string> line_set(const std::string& text) {
  std::set<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);)
    if (!l.empty()) out.insert(l);
  return out;
}

Strings lines(const std::string& text) {
  Strings out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

std::size_t count_lines(const std::string& text, const std::string& prefix = "") {
  std::size_t n = 0;
  for (const std::string& l : line_set(text)) n += l.compare(0, prefix.size(), prefix) == 0;
  return n;
}

// A slot kind: whether it can feed and be fed, whether it is a package slot
// or a signalling link (priority 1: they switch their HDLC controller
// channel themselves), whether it holds a controller channel or a
// voice-processing data channel of its own, and the images that make a slot
// of it (variant v keeps two slots of the kind apart).
struct Kind {
  const char* name;
  bool feeds, fed, hdlc, pstn, mcc, dsp;
  bool exclusive() const { return std::string(name) == "trunk" || std::string(name) == "bri" || std::string(name) == "map"; }
  std::function<Strings(int seq, int slot, int v)> make;
  // A signalling link takes its line from a trunk time slot only.
  bool feeds_into(const Kind& to) const {
    return feeds && to.fed &&
           (!to.pstn || std::string(to.name) == "pstn-bri" || std::string(name) == "trunk" ||
            std::string(name) == "bri");
  }
  bool priority() const { return hdlc || pstn; }
  bool rtp() const { return std::string(name) == "rtp" || ext() || attached(); }
  // A radio slot with a header-extension session of its own, and a Zarn
  // slot attached to another process's RTP session instead (none of its own).
  bool ext() const { return std::string(name) == "ed137" || std::string(name) == "zarn"; }
  bool attached() const { return std::string(name) == "zarn-rtp"; }
};

// The ATS-QSIG slot whose B channels the pairs take; it lives as long as
// the suite's server.
constexpr unsigned qsig_slot = 1000;

// A slot made with dhost only binds its RTCP socket on the peer's port + 1:
// taken with the peer's, so no test beside this one holds it.
rtptest::UdpPeer& rtp_peer() {
  static rtptest::UdpPeer p(free_port());
  return p;
}

// A Zarn radio slot: form 0 names no header-extension mode, 1 asks for
// both sessions, 2 attaches to the RTP session {7, 1200} of another process.
Strings zarn_image(int s, int n, int form) {
  const LGCP::CreateParams p = rtptest::rtp_params(
      P::ptG711_Alaw, "127.0.0.1", rtp_peer().port(), P::ptG711_Alaw, P::ptG711_Alaw, [&](TERM::RtpParams& r) {
        r.set_shost().set_iaddr("127.0.0.1");
        // Its RTCP socket binds the local port + 1, not shared.
        r.set_shost().set_port(rtptest::free_rtp_port());
        r.set_radio().set_status().select_zarn(radio_test::zarn_status_s(radio_test::zarn_flags(5, false)));
        if (!form) return;
        if (form == 2) return radio_test::attach_only_rtp(r, 7, 1200);
        TERM::RtpE2M& e = r.set_rtp_e2m();
        e.set_slot(0);
        e.set_channel(0);
        e.set_mode().select_both_rtp_and_rtp_ext();
      });
  return Strings{create_image(s, n, [&](LGCP::CreateParams& c) { c = p; })};
}

const std::vector<Kind>& kinds() {
  static const std::vector<Kind> k = {
      {"trunk", true, true, false, false, false, false, [](int s, int n, int v) { return Strings{trunk_image(s, n, 1, 1 + v)}; }},
      {"bri", true, true, false, false, false, false, [](int s, int n, int v) { return Strings{trunk_image(s, n, 2, v, true)}; }},
      {"map", true, true, false, false, false, false,
       [](int s, int n, int v) { return Strings{map_image(s, n, 8192 + 10 + 2 * v, 8192 + 11 + 2 * v)}; }},
      {"ext", true, true, false, false, false, false,
       [](int s, int n, int v) { return Strings{ext_image(s, n, 40 + 2 * v, 41 + 2 * v), activate_image(s + 1, n)}; }},
      {"rtp", true, true, false, false, false, false,
       [](int s, int n, int) {
         const LGCP::CreateParams p =
             rtptest::rtp_params(P::ptG711_Alaw, "127.0.0.1", rtp_peer().port(), P::ptG711_Alaw, P::ptG711_Alaw);
         return Strings{create_image(s, n, [&](LGCP::CreateParams& c) { c = p; })};
       }},
      {"mixer-in", false, true, false, false, false, false,
       [](int s, int n, int v) { return Strings{mixertest::in_image(s, n, 0, {v})}; }},
      {"mixer-out", true, false, false, false, false, false,
       [](int s, int n, int v) { return Strings{mixertest::out_image(s, n, 0, {1 + v}, {{{0}, 100}})}; }},
      {"data", true, true, false, false, true, false,
       [](int s, int n, int) {
         return Strings{command_image(s, n, [](LGCP::Command& c) {
           LGCP::MccParams& p = c.select_create().select_mcc();
           p.set_type(LGCP::MccType::data);
           p.set_mode(LGCP::MccMode::standard);
         })};
       }},
      {"hdlc-package", true, true, true, false, false, false,
       [](int s, int n, int v) {
         return Strings{command_image(s, n, [&](LGCP::Command& c) {
           LGCP::HdlcParams& h = c.select_create().select_hdlcParams();
           h.set_trunk(1 + v);
           h.set_log(0);
           h.set_address(3);
         })};
       }},
      {"isdn", true, true, false, false, true, false,
       [](int s, int n, int v) {
         return Strings{create_image(s, n, [&](LGCP::CreateParams& p) {
           LGCP::IsdnParams& i = p.select_isdn();
           i.set_type(LGCP::IsdnType::pri);
           i.set_trunk(1 + v);
           i.set_log(0);
           i.set_side().select_user();
         })};
       }},
      {"ats-qsig", true, true, false, false, false, true,
       [](int s, int n, int) {
         return Strings{create_image(s, n, [](LGCP::CreateParams& p) { p.select_ats_qsig().set_side().select_network(); })};
       }},
      // A B channel of the suite's ATS-QSIG slot (qsig_slot); variants 0, 1
      // and 2 are its three B channels (3 is 0 again).
      {"ats-qsig-b", true, true, false, false, false, false,
       [](int s, int n, int v) {
         return Strings{create_image(s, n, [&](LGCP::CreateParams& p) {
           LGCP::AtsQsigBParams& b = p.select_ats_qsig_b();
           b.set_slot(qsig_slot);
           b.set_subslot(static_cast<unsigned>(1 + v % 3));
         })};
       }},
      {"modem", true, true, false, false, false, false,
       [](int s, int n, int) {
         return Strings{create_image(s, n, [](LGCP::CreateParams& p) {
           TERM::ModemParams& m = p.select_modem();
           m.set_cid("");
           m.set_cdid("");
         })};
       }},
      {"player", true, false, false, false, true, false,
       [](int s, int n, int) {
         return Strings{command_image(s, n, [](LGCP::Command& c) {
           auto& f = c.select_create().select_voice().select_player().select_file();
           f.set_name().push_back(std::string("tone"));
           f.set_repeat(0);
         })};
       }},
      {"recorder", false, true, false, false, true, false,
       [](int s, int n, int) {
         return Strings{command_image(s, n, [](LGCP::Command& c) {
           auto& h = c.select_create().select_voice().select_record();
           h.set_iaddr(std::string("127.0.0.1"));
           h.set_port(free_port());
         })};
       }},
      {"t38", true, true, false, false, true, false,
       [](int s, int n, int v) {
         return Strings{command_image(s, n, [&](LGCP::Command& c) {
           auto& t = c.select_create().select_t38soft();
           t.set_dhost().set_iaddr(std::string("127.0.0.1"));
           t.set_dhost().set_port(5000 + v);
           t.set_shost().set_iaddr(std::string("0.0.0.0"));
           t.set_shost().set_port(6000 + v);
           t.set_rx_packet_size(256);
           t.set_rx_threshold(3);
           t.set_tx_threshold(4);
         })};
       }},
      {"ed137", true, true, false, false, false, false,
       [](int s, int n, int) {
         const LGCP::CreateParams p = rtptest::rtp_params(
             P::ptG711_Alaw, "127.0.0.1", rtp_peer().port(), P::ptG711_Alaw, P::ptG711_Alaw, [](TERM::RtpParams& r) {
               r.set_shost().set_iaddr("127.0.0.1");
               r.set_shost().set_port(free_port());
               radio_test::ed137_header(r.set_radio().set_status().select_ed_137().set_header(),
                                        TERM::ED137RadioPTT::ptt_off, TERM::ED137RadioSQU::squ_on);
             });
         return Strings{create_image(s, n, [&](LGCP::CreateParams& c) { c = p; })};
       }},
      {"zarn", true, true, false, false, false, false, [](int s, int n, int v) { return zarn_image(s, n, v % 2); }},
      {"zarn-rtp", true, true, false, false, false, false, [](int s, int n, int) { return zarn_image(s, n, 2); }},
      {"pstn", true, true, false, true, false, false,
       [](int s, int n, int v) {
         return Strings{create_image(s, n, [&](LGCP::CreateParams& p) {
           LGCP::SS7Params& l = p.select_pstn().select_ss7();
           l.set_trunk(1 + v);
           l.set_slc(1);
           l.set_dpc(2);
           l.set_opc(3);
           l.set_emergency(true);
         })};
       }},
      {"pstn-bri", true, true, false, true, false, false,
       [](int s, int n, int v) {
         return Strings{create_image(s, n, [&](LGCP::CreateParams& p) {
           LGCP::IsdnParams& i = p.select_pstn().select_isdn();
           i.set_type(LGCP::IsdnType::bri);
           i.set_trunk(1 + v);
           i.set_log(0);
           i.set_side().select_user();
         })};
       }},
  };
  return k;
}

class SlotPairs : public ServerSuite {
 protected:
  static void SetUpTestSuite() {
    ServerSuite::SetUpTestSuite();
    // The mixer unit is known after a query.
    srv().sim.ask("mixer add 0 16 48");
    srv().sim.ask("dspdata timeslot 77");
    // The modems' pppd ends on its hangup; the t38 program and a prompt.
    std::system(("mkdir -p '" + srv().board("/var/standin") + "' '" + srv().board("/usr/local/sbin") + "' '" +
                 srv().board("/usr/local/voice") + "'")
                    .c_str());
    std::ofstream(srv().board("/var/standin/pppd.mode")) << "hup 0\n";
    std::system(("cp '" GW_T38_STANDIN "' '" + srv().board("/usr/local/sbin/t38") + "'").c_str());
    std::ofstream(srv().board("/usr/local/voice/tone")) << std::string(80000, '\x55');
    srv().ctl.send(null_command_image(1, -1, "query"));
    for (int i = 0; i < 10 && frames(1) != Strings{"query"}; ++i) {
    }
    srv().ctl.send(
        create_image(2, qsig_slot, [](LGCP::CreateParams& p) { p.select_ats_qsig().set_side().select_network(); }));
    for (int i = 0; i < 10 && frames(1) != Strings{"seq 2 slot 1000 success"}; ++i) {
    }
  }

  // One pair at work: what the server announced and what the connections
  // should hold.
  struct Run {
    std::string pair;
    std::map<int, int> tx, rx;          // stream channels announced
    std::map<int, int> source;          // receiver -> source
    std::map<int, const Kind*> alive;   // slot -> kind
    std::set<int> open;                 // package slots with their channel open
    std::set<std::string> hal0;         // the cross-connect before the pair
    std::size_t mcc0 = 0, rtp0 = 0, dsp0 = 0, ext0 = 0;
    bool check_hal = true, check_mcc = true;
    Strings trail;                      // the frames, for the messages
    explicit Run(std::string name)
        : pair(std::move(name)),
          hal0(line_set(hal_text())),
          mcc0(count_lines(srv().sim.ask("mcc channels"))),
          rtp0(count_lines(srv().sim.ask("rtp sessions"), "open")),
          dsp0(count_lines(srv().sim.ask("dspdata channels"))),
          ext0(lines(srv().sim.ask("rtpext sessions")).size()) {}
  };
  static const Kind& kind(const std::string& name) {
    return *std::find_if(kinds().begin(), kinds().end(), [&](const Kind& k) { return k.name == name; });
  }

  static int& seq() {
    static int s = 10;
    return s;
  }

  // Sends the command, then a ping whose answer marks the end of what the
  // command caused (a deferred destroy answers later still); returns the
  // command's answer, notes the stream signals.
  static std::string run(Run& r, const std::string& image) {
    LGCP::Message m;
    decode(image, m);
    const std::string mine = "seq " + std::to_string(m.get_seq().getValue()) + " ";
    const int ping = ++seq();
    srv().ctl.send_all({image, null_command_image(ping, -1, "ping")});
    std::string answer = "no answer";
    for (bool pinged = false; !pinged || answer == "no answer";) {
      const std::string f = srv().ctl.next(patience_ms);
      if (f.empty()) break;
      const std::string t = describe(f);
      if (t == "seq " + std::to_string(ping) + " success") {
        pinged = true;
        continue;
      }
      r.trail.push_back(t);
      if (t.compare(0, mine.size(), mine) == 0) {
        answer = t.substr(t.find(' ', mine.size() + 5) + 1);
        continue;
      }
      int slot = 0, channel = 0;
      // Nothing speaks for a slot that is gone.
      if (std::sscanf(t.c_str(), "slot %d ", &slot) == 1 && !r.alive.count(slot) &&
          !(m.slot_isPresent() && slot == static_cast<int>(m.get_slot().getValue())))
        ADD_FAILURE() << r.pair << ": a signal of a slot that is not there: " << t;
      char dir[16] = {}, state[16] = {};
      if (std::sscanf(t.c_str(), "slot %d %15s %15s %d", &slot, dir, state, &channel) == 4 &&
          std::string(state) == "active")
        (std::string(dir) == "transmitter" ? r.tx : r.rx)[slot] = channel;
    }
    return answer;
  }

  // A package slot has one channel for one line: a connection to an
  // ordinary slot opens it anew, and undoing any of its connections closes it.
  static bool package_pair(Run& r, int a, int b) {
    const Kind &ka = *r.alive[a], &kb = *r.alive[b];
    return ka.hdlc != kb.hdlc && !ka.pstn && !kb.pstn;
  }
  static void drop(Run& r, int receiver) {
    auto it = r.source.find(receiver);
    if (it == r.source.end()) return;
    if (package_pair(r, receiver, it->second)) r.open.erase(r.alive[receiver]->hdlc ? receiver : it->second);
    r.source.erase(it);
  }
  static void unlink(Run& r, int slot) {
    if (!r.alive.count(slot)) return;
    drop(r, slot);
    std::vector<int> fed;
    for (const auto& c : r.source)
      if (c.second == slot) fed.push_back(c.first);
    for (int f : fed) drop(r, f);
    r.open.erase(slot);
  }

  static void create(Run& r, const Kind& k, int slot, int v) {
    // A slot created over a live number replaces it; a modem's release
    // waits for its pppd, and the number is busy until then.
    const bool busy = r.alive.count(slot) && std::string(r.alive[slot]->name) == "modem";
    unlink(r, slot);
    r.alive.erase(slot);
    Strings images = k.make(seq() + 1, slot, v);
    if (busy) {
      EXPECT_EQ(run(r, images[0]), "error slotIdBusy") << r.pair << ": create " << k.name << " on " << slot;
      EXPECT_TRUE(eventually([&] {
        return run(r, null_command_image(seq() + 1, slot, "destroy")) == "error slotNotExists";
      })) << r.pair << ": the busy number is freed";
      images = k.make(seq() + 2, slot, v);
    }
    seq() += static_cast<int>(images.size()) + 1;
    for (const std::string& i : images) {
      const std::string answer = run(r, i);
      if (answer == "success") continue;
      // What the server said last tells why the create was refused.
      const std::string log = srv().log();
      FAIL() << r.pair << ": create " << k.name << " on " << slot << ": " << answer << "\n"
             << log.substr(log.size() - std::min<std::size_t>(log.size(), 3000));
    }
    r.alive[slot] = &k;
  }

  static void connect(Run& r, int from, int to, const std::string& step) {
    if (!r.alive.count(from) || !r.alive.count(to)) {
      ADD_FAILURE() << r.pair << ": " << step << ": a slot is missing";
      return;
    }
    const bool can = r.alive[from]->feeds_into(*r.alive[to]);
    EXPECT_EQ(run(r, connect_image(++seq(), from, to)), can ? "success" : "error connectFail") << r.pair << ": " << step;
    if (can && r.source.count(to) && r.source[to] == from) return check(r, step);
    if (can) {
      drop(r, to);
      r.source[to] = from;
      if (package_pair(r, to, from)) r.open.insert(r.alive[to]->hdlc ? to : from);
      // A signalling link keeps its channel open from its first line on.
      if (r.alive[to]->pstn) r.open.insert(to);
    }
    check(r, step);
  }

  static void disconnect(Run& r, int slot, const std::string& step) {
    EXPECT_EQ(run(r, null_command_image(++seq(), slot, "disconnect")), "success") << r.pair << ": " << step;
    drop(r, slot);
    check(r, step);
  }

  static void destroy(Run& r, int slot, const std::string& step) {
    EXPECT_EQ(run(r, null_command_image(++seq(), slot, "destroy")), "success") << r.pair << ": " << step;
    unlink(r, slot);
    r.alive.erase(slot);
    check(r, step);
  }

  // The board against the connections: one switch path per connection of
  // two ordinary slots; an HDLC controller channel per data slot and per
  // open package slot; one RTP session
  // per RTP slot.
  static void check(Run& r, const std::string& step) {
    std::size_t mcc = r.mcc0, rtp = r.rtp0, dsp = r.dsp0;
    std::set<std::string> hal = r.hal0;
    for (const auto& s : r.alive) {
      mcc += s.second->mcc;
      dsp += s.second->dsp;
      rtp += s.second->rtp();
    }
    for (const auto& c : r.source)
      if (!r.alive[c.first]->priority() && !r.alive[c.second]->priority())
        hal.insert(std::to_string(r.rx[c.first]) + " " + std::to_string(r.tx[c.second]));
    mcc += r.open.size();
    const std::string where = r.pair + ", " + step + "\n" + ::testing::PrintToString(r.trail);
    if (r.check_hal) {
      EXPECT_EQ(line_set(hal_text()), hal) << where;
    }
    // A program a modem or a T.38 slot has just started holds the
    // descriptors it was forked with until it executes: a channel or
    // session closed meanwhile goes then (on a loaded machine, a while).
    std::size_t channels = 0, data = 0;
    if (r.check_mcc) {
      eventually([&] { return (channels = count_lines(srv().sim.ask("mcc channels"))) == mcc; });
      EXPECT_EQ(channels, mcc) << where;
    }
    eventually([&] { return (data = count_lines(srv().sim.ask("dspdata channels"))) == dsp; });
    EXPECT_EQ(data, dsp) << where;
    std::string sessions;
    eventually([&] { return count_lines(sessions = srv().sim.ask("rtp sessions"), "open") == rtp; });
    EXPECT_EQ(count_lines(sessions, "open"), rtp) << where;
    // An RTP slot sends while it has a source, and only then.
    for (const auto& s : r.alive) {
      if (!s.second->rtp()) continue;
      const std::string mine = "open,tdm=" + std::to_string(r.rx[s.first]) + ",";
      std::string sending = "no session";
      for (const std::string& l : line_set(sessions)) {
        if (l.compare(0, mine.size(), mine) != 0) continue;
        const auto start = l.rfind("start_tx"), stop = l.rfind("stop_tx");
        sending = start != std::string::npos && (stop == std::string::npos || start > stop) ? "sending"
                                                                                              : "silent";
      }
      EXPECT_EQ(sending, r.source.count(s.first) ? "sending" : "silent") << "slot " << s.first << ", " << where;
    }
    check_ext(r, where);
  }
  // A radio slot's own header-extension session is open and attached to
  // the slot's RTP session while the slot lives, and detached before it
  // closes; a slot attached through the RTP driver holds none.
  static void check_ext(Run& r, const std::string& where) {
    const Strings rtp = lines(srv().sim.ask("rtp sessions")), ext = lines(srv().sim.ask("rtpext sessions"));
    std::size_t open = 0, own = 0;
    for (std::size_t i = r.ext0; i < ext.size(); ++i) {
      if (ext[i].find(",open,") != std::string::npos) {
        ++open;
        continue;
      }
      EXPECT_EQ(ext[i].substr(ext[i].size() - std::min<std::size_t>(ext[i].size(), 7)), "/detach") << where;
    }
    for (const auto& s : r.alive) {
      if (!s.second->ext() && !s.second->attached()) continue;
      own += s.second->ext();
      const std::string mine = "open,tdm=" + std::to_string(r.rx[s.first]) + ",";
      std::size_t k = 0;
      while (k < rtp.size() && rtp[k].compare(0, mine.size(), mine) != 0) ++k;
      ASSERT_LT(k, rtp.size()) << "slot " << s.first << " has no session, " << where;
      // Connections leave the header-extension session as it was made.
      const std::string K = std::to_string(k + 1), on = ",rtp=" + K + ",";
      std::string session = "none";
      for (std::size_t i = r.ext0; i < ext.size(); ++i)
        if (ext[i].find(",open,") != std::string::npos && ext[i].find(on) != std::string::npos)
          session = ext[i].substr(ext[i].find(",ops="));
      EXPECT_EQ(session, s.second->ext() ? ",ops=init/attach:" + K : "none") << "slot " << s.first << ", " << where;
      EXPECT_EQ(rtp[k].find("/attach:7.1200") != std::string::npos, s.second->attached())
          << "slot " << s.first << ", " << where;
    }
    EXPECT_EQ(open, own) << where << ::testing::PrintToString(ext);
  }
  static std::string hal_text() { return srv().sim.ask("hal list"); }

  // The pairs of ordinary kinds, halved by the first kind of the pair, the
  // kinds taken in turn: the two halves run beside each other, each on a
  // server of its own.
  static void ordinary_pairs(std::size_t half) {
    std::vector<const Kind*> ordinary;
    for (const Kind& k : kinds())
      if (!k.priority()) ordinary.push_back(&k);
    for (std::size_t i = half; i < ordinary.size(); i += 2)
      for (const Kind* b : ordinary) pair(*ordinary[i], *b);
  }

  static void pair(const Kind& a, const Kind& b) {
    Run r(std::string(a.name) + " -> " + b.name);
    r.check_hal = !a.priority() && !b.priority();
    // A basic-rate link opens its channel once it has had a line both ways.
    r.check_mcc = std::string(a.name) != "pstn-bri" && std::string(b.name) != "pstn-bri";
    const std::string mix0 = srv().sim.ask("mixer mix 0 1");
    const int A = 100, B = 101, C = 102, D = 103;
    create(r, a, A, 0);
    create(r, b, B, 1);
    create(r, a, C, 2);
    check(r, "created");
    connect(r, A, B, "A feeds B");
    connect(r, A, B, "A feeds B again");
    connect(r, C, B, "C takes B over");
    connect(r, B, A, "B feeds A");
    disconnect(r, B, "B disconnected");
    disconnect(r, A, "A disconnected");
    connect(r, A, B, "A feeds B anew");
    destroy(r, A, "A destroyed while it feeds B");
    connect(r, C, B, "C feeds B");
    create(r, a, B, 1);
    check(r, "a slot of A's kind made under B's number while C fed B");
    connect(r, C, B, "C feeds the new B");
    destroy(r, B, "B destroyed while C feeds it");
    // A second slot on the same line time slot or shared-bus channel takes
    // it away from the first: the first goes, with its connection. (Other
    // kinds get channels of their own.)
    create(r, b, B, 1);
    connect(r, C, B, "C feeds B once more");
    create(r, b, D, b.exclusive() ? 1 : 3);
    if (b.exclusive()) {
      unlink(r, B);
      r.alive.erase(B);
      EXPECT_EQ(run(r, null_command_image(++seq(), B, "destroy")), "error slotNotExists") << r.pair;
    }
    check(r, "a slot on B's channels made under another number");
    connect(r, C, D, "C feeds that slot");
    if (!b.exclusive()) destroy(r, B, "B destroyed");
    destroy(r, D, "that slot destroyed");
    connect(r, C, C, "C feeds itself");
    destroy(r, C, "C destroyed");
    EXPECT_EQ(r.alive.size(), 0u);
    if (r.check_hal) {
      EXPECT_EQ(line_set(hal_text()), r.hal0) << r.pair << ": the switch as before";
    }
    EXPECT_EQ(srv().sim.ask("mixer mix 0 1"), mix0) << r.pair;
    EXPECT_TRUE(eventually([&] { return count_lines(srv().sim.ask("mcc channels")) == r.mcc0; }))
        << r.pair << ": the controller channels as before";
  }
};

TEST_F(SlotPairs, ASlotWhoseReleaseIsPendingIsConnectedAndThenGoes) {
  const Kind &trunk = kind("trunk"), &modem = kind("modem");
  Run r("pending modem");
  const int T = 110, M = 111, X = 112;
  // This pppd ignores its hangup: the modem's release waits for its end.
  std::ofstream(srv().board("/var/standin/pppd.mode")) << "never\n";
  ::unlink(srv().board("/var/standin/pppd.log").c_str());
  create(r, trunk, T, 0);
  create(r, modem, M, 0);
  create(r, trunk, X, 1);
  connect(r, T, M, "T feeds M");
  connect(r, M, T, "M feeds T");
  std::string pppd;
  ASSERT_TRUE(eventually([&] { return !(pppd = file_text(srv().board("/var/standin/pppd.log"))).empty(); }));
  const int pid = std::atoi(pppd.c_str() + pppd.find("pid ") + 4);
  ASSERT_GT(pid, 0) << pppd;

  const int destroy_seq = ++seq();
  srv().ctl.send(null_command_image(destroy_seq, M, "destroy"));
  run(r, null_command_image(++seq(), -1, "ping"));
  unlink(r, M);
  check(r, "M releasing");
  // A releasing slot still takes connections, both ways.
  connect(r, T, M, "T feeds the releasing M");
  connect(r, M, X, "the releasing M feeds X");
  EXPECT_EQ(run(r, null_command_image(++seq(), M, "destroy")), "error destroyInProgress");
  EXPECT_EQ(run(r, trunk_image(++seq(), M, 1, 3)), "error destroyInProgress");
  for (const std::string& f : r.trail) EXPECT_NE(f, "seq " + std::to_string(destroy_seq) + " slot 111 success");

  // pppd ends: the destroy is answered and the slot goes with its
  // connections; the survivors hold nothing of it.
  ::kill(pid, SIGKILL);
  const std::string answer = "seq " + std::to_string(destroy_seq) + " slot 111 success";
  EXPECT_TRUE(eventually([&] {
    run(r, null_command_image(++seq(), -1, "ping"));
    return std::find(r.trail.begin(), r.trail.end(), answer) != r.trail.end();
  })) << ::testing::PrintToString(r.trail);
  unlink(r, M);
  r.alive.erase(M);
  check(r, "M gone");
  EXPECT_EQ(run(r, null_command_image(++seq(), M, "disconnect")), "error slotNotExists");
  connect(r, X, T, "X feeds T");
  destroy(r, T, "T destroyed");
  destroy(r, X, "X destroyed");
  EXPECT_EQ(line_set(hal_text()), r.hal0);
  std::ofstream(srv().board("/var/standin/pppd.mode")) << "hup 0\n";
  EXPECT_EQ(extra(), Strings{});
}

TEST_F(SlotPairs, AMixerOutputGoesWhileTheInputOfItsChannelIsFed) {
  // One unit channel, one switch channel: the input receives on it, the
  // output transmits on it. The output's end must not cut the input's line.
  Run r("mixer channel 1");
  const int T = 120, IN = 121, OUT = 122, R = 123;
  create(r, kind("trunk"), T, 0);
  create(r, kind("mixer-in"), IN, 1);
  create(r, kind("mixer-out"), OUT, 0);
  create(r, kind("rtp"), R, 0);
  connect(r, T, IN, "the trunk feeds the input");
  connect(r, OUT, R, "the output feeds an RTP slot");
  destroy(r, OUT, "the output destroyed");
  connect(r, T, IN, "the trunk still feeds the input");
  destroy(r, IN, "the input destroyed");
  EXPECT_EQ(hal("get " + std::to_string(r.rx[IN])), "disabled") << "the input's channel is given back";
  destroy(r, T, "the trunk destroyed");
  destroy(r, R, "the RTP slot destroyed");
  // In the other order the input goes first; the output then has the
  // channel to itself.
  create(r, kind("trunk"), T, 0);
  create(r, kind("mixer-in"), IN, 1);
  create(r, kind("mixer-out"), OUT, 0);
  connect(r, T, IN, "the trunk feeds the input");
  destroy(r, IN, "the input destroyed first");
  destroy(r, OUT, "then the output");
  EXPECT_EQ(hal("get " + std::to_string(r.rx[IN])), "disabled") << "the channel is given back";
  destroy(r, T, "the trunk destroyed");
  EXPECT_EQ(line_set(hal_text()), r.hal0);
  EXPECT_EQ(extra(), Strings{});
}

// The ATS-QSIG slot goes first, while its B channel is fed by and feeds a
// slot of another kind: the driver frees the B channel with the signalling
// slot's descriptor, so both lines go quiet at once; the B slot and its
// partner are then disconnected and destroyed as usual, and nothing is left.
TEST_F(SlotPairs, ABChannelWhoseSignallingSlotGoesFirst) {
  const int Q = 130, B = 131, X = 132;
  for (const char* partner : {"trunk", "map", "ext", "rtp", "mixer-in", "mixer-out", "ats-qsig-b"}) {
    const Kind& k = kind(partner);
    Run r(std::string("ats-qsig-b of a going slot, ") + partner);
    create(r, kind("ats-qsig"), Q, 0);
    EXPECT_EQ(run(r, create_image(++seq(), B,
                                  [](LGCP::CreateParams& p) {
                                    LGCP::AtsQsigBParams& b = p.select_ats_qsig_b();
                                    b.set_slot(static_cast<unsigned>(Q));
                                    b.set_subslot(2);
                                  })),
              "success");
    r.alive[B] = &kind("ats-qsig-b");
    create(r, k, X, 1);
    if (k.feeds) connect(r, X, B, "X feeds B");
    if (k.fed) connect(r, B, X, "B feeds X");
    EXPECT_EQ(run(r, null_command_image(++seq(), Q, "destroy")), "success") << r.pair;
    r.alive.erase(Q);
    EXPECT_EQ(line_set(hal_text()), r.hal0) << r.pair << ": a line into or out of the freed B channel";
    if (k.feeds) EXPECT_EQ(hal("get " + std::to_string(r.rx[B])), "byte 213") << r.pair;
    if (k.fed) EXPECT_EQ(hal("get " + std::to_string(r.rx[X])), "byte 213") << r.pair;
    if (k.fed) EXPECT_EQ(run(r, null_command_image(++seq(), X, "disconnect")), "success") << r.pair;
    if (k.feeds) EXPECT_EQ(run(r, null_command_image(++seq(), B, "disconnect")), "success") << r.pair;
    r.source.clear();
    destroy(r, B, "B destroyed");
    destroy(r, X, "X destroyed");
    EXPECT_EQ(line_set(hal_text()), r.hal0) << r.pair;
  }
  EXPECT_EQ(extra(), Strings{});
}

// The controller leaves while radio slots of every form feed and are fed by
// slots of other kinds and by one another: the next controller finds no RTP
// or header-extension session open, each header-extension session detached
// before it closed, and no switch path.
class RadioSlotsLeaving : public SlotPairs {};

TEST_F(RadioSlotsLeaving, NothingOfTheRadioSlotsIsHeld) {
  Run r("controller leaving");
  const char* made[] = {"zarn", "zarn", "zarn-rtp", "ed137", "trunk", "rtp", "map", "mixer-in"};
  for (int i = 0; i < 8; ++i) create(r, kind(made[i]), 140 + i, i);
  // A connection the switch refuses leaves the radio slot without source,
  // and not sending.
  ASSERT_EQ(srv().sim.ask("hal fail connect 5 1"), "");
  EXPECT_EQ(run(r, connect_image(++seq(), 144, 140)), "error connectFail");
  check(r, "a connection refused");
  for (auto c : std::vector<std::pair<int, int>>{
           {144, 140}, {140, 144}, {141, 142}, {142, 141}, {143, 145}, {145, 143}, {142, 146}, {146, 143}, {140, 147}})
    connect(r, c.first, c.second, "connected");
  // A codec change begins each radio slot's session anew: the new one sends
  // as the old one did, and the radio signalling follows it.
  using C = LGCP::CodecMode;
  for (auto c : std::vector<std::pair<int, C::NamedNumber>>{{140, C::ulaw}, {141, C::ulaw}, {142, C::ulaw},
                                                          {143, C::ulaw}, {140, C::alaw}})
    EXPECT_EQ(run(r, command_image(++seq(), c.first,
                                   [&](LGCP::Command& m) { m.select_ioctl().select_decoder_mode(c.second); })),
              "success")
        << c.first;
  check(r, "codecs changed");
  // The switch's log names the radio slots by their kinds.
  const auto line = [&](int from, const char* a, int to, const char* b) {
    return "mux: slot " + std::to_string(from) + ":" + a + " [" + std::to_string(r.tx[from]) + "] -> " +
           std::to_string(to) + ":" + b + " [" + std::to_string(r.rx[to]) + "]\n";
  };
  for (const std::string& l : {line(144, "trunk", 140, "rtp ext ZARN (GW)"),
                               line(142, "rtp ext ZARN (GW)", 141, "rtp ext ZARN (GW)"),
                               line(145, "rtp", 143, "rtp ext ED137 (GW)")})
    EXPECT_TRUE(srv().wait_log(l)) << l;
  srv().ctl.close();
  ASSERT_TRUE(srv().reconnect());
  EXPECT_TRUE(eventually([] { return count_lines(srv().sim.ask("rtp sessions"), "open") == 0; }))
      << srv().sim.ask("rtp sessions");
  r.alive.clear();
  r.source.clear();
  check_ext(r, r.pair);
  EXPECT_EQ(hal_text(), "");
  const std::string gone = "mux: disconnect slot 141:rtp ext ZARN (GW) [" + std::to_string(r.rx[141]) + "]\n";
  EXPECT_TRUE(srv().wait_log(gone)) << gone;
}

// The wiring of a package slot's or a signalling link's channel outlives the
// channel by design, so the pairs with one of them run on a server of their
// own and their switch paths are not compared.
class LinkSlotPairs : public SlotPairs {};

TEST_F(SlotPairs, EveryPairOfOrdinaryKindsFirstHalf) {
  ordinary_pairs(0);
  EXPECT_EQ(extra(), Strings{});
}

TEST_F(SlotPairs, EveryPairOfOrdinaryKindsSecondHalf) {
  ordinary_pairs(1);
  EXPECT_EQ(extra(), Strings{});
}

TEST_F(LinkSlotPairs, EveryPairWithAPackageSlotOrASignallingLink) {
  for (const Kind& a : kinds())
    for (const Kind& b : kinds())
      if (a.priority() || b.priority()) pair(a, b);
  EXPECT_EQ(extra(), Strings{});
}

}  // namespace
