// Black-box: seeded random walks of ED-137 and Zarn radio slots over six
// slot numbers and two local ports (numbers, ports and channels clash
// often). Each answer and signal is compared with an independent model, and
// after every step the RTP sessions (sending or not), the header-extension
// sessions (channel, init words, source filter) and the payloads written
// towards each ED-137 ground. ED-137 radios are "quiet" (keep-alive period
// 1000 ms x 50: no tick within a walk) or "short" (100 ms x 10: a tick each
// 500 ms, abort 151 after 1 s of silence). Now and then an RTP or
// header-extension device step fails; each walk begins with the controller leaving.
// Real time. GW_MODEL_SEEDS=FIRST-LAST and GW_MODEL_STEPS=N walk longer.
#include "tests/media/rtp_fixture.h"
#include "tests/radio/zarn_values.h"
#include "tests/slots/slots_server.h"
#include "tests/support/model_walk.h"
#include "tests/support/per_image.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>

using namespace rtptest;
using namespace slotstest;
using namespace testsupport;
using Method = TERM::ED137RadioBSSMethod::NamedNumber;

namespace {

const char* const kAddr[] = {"10.0.0.7", "10.0.0.8"};

// An ED-137 radio state: code bits, the six header words, signal quality,
// session.
struct St {
  unsigned code = 0, ptt = 0, squ = 0, id = 0, pm = 0, ptts = 0, sct = 0, method = 0, quality = 0, ssrc = 4660;
  std::string addr = "0.0.0.0";
  bool operator==(const St& o) const {
    return code == o.code && ptt == o.ptt && squ == o.squ && id == o.id && pm == o.pm && ptts == o.ptts &&
           sct == o.sct && method == o.method && quality == o.quality && ssrc == o.ssrc && addr == o.addr;
  }
  // The payload: RX form, or TX form (no squelch, SCT or signal quality).
  std::string wire() const {
    const unsigned rx = (code & 0x2000) ? 0 : 1, q = rx && (code & 2);
    char b[16];
    std::snprintf(b, sizeof b, "%02X%02X%02X%02X", (ptt << 5) | (rx * squ << 4) | (id >> 2),
                  ((id & 3) << 6) | (pm << 5) | (ptts << 4) | (rx * sct << 3) | q, q * 0x11, q * ((quality << 3) | method));
    return b;
  }
  void header(TERM::ED137RadioHeader& h) const {
    h.set_ptt(static_cast<TERM::ED137RadioPTT::NamedNumber>(ptt));
    h.set_squ(static_cast<TERM::ED137RadioSQU::NamedNumber>(squ));
    h.set_ptt_id(id);
    h.set_ptt_mute(pm != 0);
    h.set_ptt_summation(ptts != 0);
    h.set_sct(sct != 0);
  }
};

struct RSlot {
  bool zarn = false, quick = false, depend = false, ext = false, transmitting = false;
  int ch = -1, port = 0, type = 2, mode = 2, pt[2] = {8, 8}, source = -1;
  unsigned w3 = 0, w4 = 0;        // the header-extension device's last two words
  std::string filter, held;       // the device's filter, the control's holder
  St radio, chan;                 // sent to the ground, last reported from it
  std::set<int> receivers;
  Strings sent;                   // payloads written since the last look
  std::string before;             // the radio's payload at the step's start
  std::int64_t heard = 0;         // when the ground was last read
  std::int64_t heard_before = 0;  // and the time before that batch
};

struct Model {
  std::map<int, RSlot> slots;
  std::vector<int> order;
  Strings frames;
  bool fail_rtp = false, fail_ext = false, fail_write = false, fail_filter = false;

  void answer(int seq, int n, const std::string& what) {
    frames.push_back("seq " + std::to_string(seq) + " slot " + std::to_string(n) + " " + what);
  }
  // No holder address (0.0.0.0, a creation status's) names nobody; a
  // refused filter is only logged and taken as set.
  void access(RSlot& s, bool ptt, const std::string& addr) {
    if (ptt && addr != "0.0.0.0") {
      if (s.held != addr && s.ext && !fail_filter) s.filter = addr;
      s.held = addr;
    } else if (!s.held.empty()) {
      s.held.clear();
      if (s.ext) s.filter.clear();
    }
  }
  // Sent unless it is the state sent last (when the third word allows).
  void to_radio(RSlot& s, St copy) {
    if (!(copy.code & 2)) copy.method = s.radio.method, copy.quality = s.radio.quality;
    if (copy == s.radio && s.w3 > 0) return;
    s.radio = copy;
    if (s.ext && !fail_write) s.sent.push_back(s.radio.wire());
    access(s, s.radio.ptt != 0, s.radio.addr);
  }
  // Squelch gating, after every ioctl of the slot.
  void gate(RSlot& s) {
    if (s.depend) s.transmitting = s.radio.squ != 0;
  }
  void release(int b) {
    RSlot& r = slots.at(b);
    if (r.source >= 0) slots.at(r.source).receivers.erase(b);
    if (r.source >= 0) r.source = -1, r.transmitting = false;
  }
  void destroy(int n) {
    release(n);
    for (int r : std::set<int>(slots.at(n).receivers)) release(r);
    slots.erase(n);
    order.erase(std::find(order.begin(), order.end(), n));
  }
  void create(int seq, int n, RSlot s, const St& status) {
    if (slots.count(n)) destroy(n);
    bool clash = fail_rtp;
    for (const auto& e : slots) clash = clash || e.second.port == s.port;
    if (clash) return answer(seq, n, "error insufficientResources");
    for (s.ch = 4096;; ++s.ch) {
      bool held = false;
      for (const auto& e : slots) held = held || e.second.ch == s.ch;
      if (!held) break;
    }
    s.ext = !fail_ext;
    slots[n] = s;
    order.push_back(n);
    answer(seq, n, "success");
    frames.push_back("slot " + std::to_string(n) + " transmitter active " + std::to_string(s.ch));
    frames.push_back("slot " + std::to_string(n) + " receiver active " + std::to_string(s.ch));
    if (!s.zarn) to_radio(slots[n], status);
  }
  void request(int seq, int n, St req) {
    RSlot& s = slots.at(n);
    if (s.zarn) return answer(seq, n, "error unsupported");
    to_radio(s, req);
    answer(seq, n, "success");
    gate(s);
  }
  // The session in force (new, or the old one when the restart failed) is
  // attached again with the holder's filter and goes on sending if it did.
  void codec(int seq, int n, int dir, int pt) {
    RSlot& s = slots.at(n);
    const bool same = pt == s.pt[dir];
    if (!fail_rtp) s.pt[dir] = pt;
    s.ext = !fail_ext;
    s.filter = s.ext ? s.held : "";
    answer(seq, n, s.ext && (same || !fail_rtp) ? "success" : "error unsupported");
    gate(s);
  }
  // A Zarn WM_TRANS names the push-to-talk holder; WM_FLAGS releases it.
  void zarn_request(int seq, int n, bool ptt, const std::string& holder) {
    RSlot& s = slots.at(n);
    answer(seq, n, s.zarn ? "success" : "error unsupported");
    if (s.zarn) access(s, ptt, holder);
    gate(s);  // also after a refused request
  }
  // TX-form payloads in one batch: a run from one source is read as its
  // last payload; only radios that transmit hear them.
  void ground(int n, const std::vector<St>& batch, const std::function<std::string(const St&)>& signal) {
    RSlot& s = slots.at(n);
    std::vector<St> read;
    s.heard_before = s.heard;
    for (const St& st : batch) {
      if (!s.filter.empty() && s.filter != st.addr) continue;
      if (!read.empty() && read.back().addr == st.addr) read.pop_back();
      read.push_back(st);
      s.heard = real_ms();
    }
    for (const St& st : read)
      if (s.type >= 2 && s.mode != 1 && !(st == s.chan)) s.chan = st, frames.push_back(signal(st));
  }
  void connect(int a, int b) {
    RSlot& r = slots.at(b);
    if (r.source == a) return;
    if (r.source >= 0) slots.at(r.source).receivers.erase(b);
    r.source = a;
    slots.at(a).receivers.insert(b);
    if (!r.depend) r.transmitting = true;
  }
  std::string dump() const {
    std::string d;
    for (const auto& e : slots)
      d += "  slot " + std::to_string(e.first) + (e.second.zarn ? " zarn" : e.second.quick ? " short" : " quiet") +
           " ch " + std::to_string(e.second.ch) + " radio " + e.second.radio.wire() + " held " + e.second.held +
           " source " + std::to_string(e.second.source) + "\n";
    return d;
  }
};

class RadioModel : public ServerSuite {
 protected:
  static std::string sim(const std::string& line) { return srv().sim.ask(line); }
  static Strings lines(const std::string& request) {
    Strings out;
    std::istringstream in(sim(request));
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
  }
  static std::string field(const std::string& l, const std::string& name) {
    const auto at = l.find("," + name + "=") + name.size() + 2;
    return l.substr(at, l.find(',', at) - at);
  }
  // Open RTP and header-extension sessions by channel, as the simulator
  // has them and as the model predicts them.
  static std::string actual() {
    const Strings rtp = lines("rtp sessions");
    std::map<int, std::string> ch;
    for (const auto& l : rtp) {
      const auto start = l.rfind("start_tx"), stop = l.rfind("stop_tx");
      const bool on = start != std::string::npos && (stop == std::string::npos || start > stop);
      if (l.compare(0, 5, "open,") == 0) ch[std::stoi(field(l, "tdm"))] += on ? " rtp sending" : " rtp";
    }
    for (const auto& l : lines("rtpext sessions")) {
      const std::size_t k = static_cast<std::size_t>(std::atoi(field(l, "rtp").c_str()));
      const int tdm = k >= 1 && k <= rtp.size() ? std::stoi(field(rtp[k - 1], "tdm")) : -1;
      const std::string f = field(l, "filter");
      if (l.find(",open,") != std::string::npos)
        ch[tdm] += " ext " + field(l, "init") + (f == "-" ? "" : " filter " + f);
    }
    std::string s;
    for (const auto& e : ch) s += std::to_string(e.first) + ":" + e.second + "\n";
    return s;
  }
  static std::string predicted(const Model& m) {
    std::string out;
    std::map<int, std::string> ch;
    for (const auto& e : m.slots) {
      const RSlot& s = e.second;
      ch[s.ch] = s.transmitting ? " rtp sending" : " rtp";
      const std::string init = s.zarn ? "0.0.0.0" : "1.123." + std::to_string(s.w3) + "." + std::to_string(s.w4);
      if (s.ext) ch[s.ch] += " ext " + init + (s.filter.empty() ? "" : " filter " + s.filter);
    }
    for (const auto& e : ch) out += std::to_string(e.first) + ":" + e.second + "\n";
    return out;
  }
  static std::string abort_image(int n) {
    char b[32];
    std::snprintf(b, sizeof b, "40 %02X %02X 87 02 00 97", n >> 8, n & 0xFF);
    return b;
  }
  // The rtpExt report: the radio's state as status, the ground's payload.
  static std::string report(int n, const St& radio, const St& got) {
    TERM::RtpRadioRequest r;
    TERM::ED137RadioStatus& st = r.set_status().select_ed_137();
    radio.header(st.set_header());
    st.set_sqi().set_bss_method(static_cast<Method>(radio.method));
    st.ref_sqi().set_bss_quality(radio.quality);
    TERM::ED137RadioModifier& m = r.set_request().select_ed_137();
    m.set_addr().set_session_addr(got.addr);
    m.set_addr().set_session_ssrc(got.ssrc);
    got.header(m.set_params().select_tx().set_header());
    LGCP::Message msg;
    msg.set_slot(static_cast<unsigned>(n));
    msg.set_pdu().select_signal().select_rtpExt(r);
    return "rtpExt " + per(msg);
  }
};

TEST_F(RadioModel, EveryAnswerSignalSessionAndPayloadIsThePredictedOne) {
  int first = 1, last = 2, steps = 80, seq = 10;
  walk_range(first, last, steps);
  UdpPeer ground;
  const std::uint16_t ports = free_rtp_port(2);
  ASSERT_TRUE(ground.ok() && ports);
  Model m;
  for (int seed = first; seed <= last; ++seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const auto fail = [&](bool& flag, bool may, const std::string& word) {
      flag = may && pick(8) == 0;
      return flag ? sim(word) : "";
    };
    Strings trail;
    for (int i = 0; i < steps; ++i) {
      const int n = std::vector<int>{0, 1, 2, 5, 30, 1023}[pick(6)], op = pick(20);
      const int t = std::vector<int>{0, 1, 2, 5, 30, 1023}[pick(6)];
      const std::string before = m.dump();
      std::set<int> quick;  // short radios of the step's start and end
      bool quiet = true;    // nothing but quiet ED-137 radios (no tick meanwhile)
      for (auto& e : m.slots) {
        e.second.before = e.second.radio.wire();
        if (e.second.quick) quick.insert(e.first);
        quiet = quiet && !e.second.quick && !e.second.zarn;
      }
      RSlot* s = m.slots.count(n) ? &m.slots.at(n) : nullptr;
      // A radio replaced by a create may send its keep-alive just before it
      // goes: on its channel the step's words are not the new radio's alone.
      const int replaced_ch = s && op < 6 ? s->ch : -1;
      const int q = ++seq;
      std::string what, image;
      int await = -1;  // a short radio whose abort this step waits for
      bool dummy = false;
      if (i == 0) {
        what = "controller leaves";
        ASSERT_TRUE(controller_rejoins(srv(), seq, frames));
        while (!m.order.empty()) m.destroy(m.order.front());
      } else if (op < 6) {
        RSlot r;
        r.zarn = pick(4) == 0, r.quick = !r.zarn && pick(3) == 0, r.depend = !r.zarn && pick(2);
        r.port = ports + 2 * pick(2), r.type = 1 + pick(4), r.mode = pick(3);
        // The third word: the keep-alive period over ten packets, times
        // sigtime; at 0 every request is sent, changed or not.
        const int pf = pick(3) * 50, sigtime = pick(3);
        const unsigned period = r.quick ? 100 : 1000;
        r.w3 = period / ((pf ? pf : 2) * 10) * (sigtime ? sigtime : 1), r.w4 = sigtime ? sigtime : 1;
        St st;
        st.code = pick(2) ? 0x1003 : 0x1001, st.ptt = pick(4) == 0, st.squ = pick(2), st.id = pick(64);
        st.method = pick(4), st.quality = pick(32), st.ssrc = 0;
        bool clash = false;  // failures only where the create reaches them
        for (const auto& e : m.slots) clash = clash || (e.second.port == r.port && e.first != n);
        ASSERT_EQ(fail(m.fail_rtp, !clash, pick(2) ? "rtp fail begin EIO" : "rtp fail add EIO"), "");
        ASSERT_EQ(fail(m.fail_ext, !clash && !m.fail_rtp, pick(2) ? "rtpext fail init EIO" : "rtpext fail attach EIO"), "");
        what = std::string("create ") + (r.zarn ? "zarn" : r.quick ? "short" : "quiet") + " port " +
               std::to_string(r.port) + " type " + std::to_string(r.type) + " mode " + std::to_string(r.mode) +
               " pf " + std::to_string(pf) + " sigtime " + std::to_string(sigtime) + (r.depend ? " depend" : "") +
               " status " + st.wire() + (m.fail_rtp ? " rtp failing" : "") + (m.fail_ext ? " ext failing" : "");
        const auto P = TERM::Payload::ptG711_Alaw;
        const LGCP::CreateParams p = rtp_params(P, "127.0.0.1", ground.port(), P, P, [&](TERM::RtpParams& c) {
          c.set_shost().set_iaddr("127.0.0.1");
          c.set_shost().set_port(static_cast<std::uint16_t>(r.port));
          if (pf) c.set_pfactor(pf);
          if (r.zarn) {
            c.set_radio().set_status().select_zarn(radio_test::zarn_status_s(radio_test::zarn_flags(5, false)));
            return;
          }
          TERM::ED137RadioStatus& es = c.set_radio().set_status().select_ed_137();
          st.header(es.set_header());
          if (st.code & 2) es.set_sqi().set_bss_method(static_cast<Method>(st.method));
          if (st.code & 2) es.ref_sqi().set_bss_quality(st.quality);
          TERM::ED137RadioResponse& resp = es.set_radio_response();
          resp.set_type(static_cast<TERM::ED137RadioType::NamedNumber>(r.type));
          resp.set_txrxmode(static_cast<TERM::ED137RadioTxRxMode::NamedNumber>(r.mode));
          resp.set_ptt_id(0u);
          resp.set_r2s_keepalive_period(period);
          resp.set_r2s_keepalive_multiplier(r.quick ? 10u : 50u);
          if (sigtime) resp.set_sigtime(static_cast<unsigned>(sigtime));
          resp.set_transmission_depend_on_squ(r.depend);
        });
        image = create_image(q, n, [&](LGCP::CreateParams& c) { c = p; });
        m.create(q, n, r, st);
      } else if (op < 9 && s) {
        St r;
        // Keep-alives turn a TX-form state to RX form: TX requests to quiet
        // radios only.
        r.code = !s->quick && pick(5) == 0 ? 0x2001 : pick(2) ? 0x1003 : 0x1001;
        r.ptt = pick(3) == 0 ? 1 + pick(4) : 0, r.squ = pick(2), r.id = pick(2) * 5, r.ptts = pick(2);
        r.sct = pick(2), r.method = pick(4), r.quality = pick(2) * 31, r.addr = kAddr[pick(2)];
        ASSERT_EQ(fail(m.fail_write, quiet, "rtpext fail write EIO"), "");
        ASSERT_EQ(fail(m.fail_filter, !m.fail_write, "rtpext fail filter EIO"), "");
        what = "rtpExt " + r.wire() + " from " + r.addr + (m.fail_write ? " write failing" : "") +
               (m.fail_filter ? " filter failing" : "");
        image = command_image(q, n, [&](LGCP::Command& c) {
          TERM::ED137RadioModifier& md = c.select_ioctl().select_rtpExt().select_ed_137();
          md.set_addr().set_session_addr(r.addr);
          md.set_addr().set_session_ssrc(r.ssrc);
          if (r.code & 0x2000) return r.header(md.set_params().select_tx().set_header());
          TERM::ED137RadioRxCommand& rc = md.set_params().select_rx();
          r.header(rc.set_header());
          if (r.code & 2) rc.set_sqi().set_bss_method(static_cast<Method>(r.method));
          if (r.code & 2) rc.ref_sqi().set_bss_quality(r.quality);
        });
        m.request(q, n, r);
      } else if (op < 11 && s) {
        const int pt = pick(2) ? 0 : 8, dir = pick(2);
        ASSERT_EQ(fail(m.fail_ext, true, "rtpext fail attach EIO"), "");
        ASSERT_EQ(fail(m.fail_rtp, !m.fail_ext && pt != s->pt[dir], "rtp fail begin EIO"), "");
        what = std::string(dir ? "decoder-mode " : "encoder-mode ") + std::to_string(pt) +
               (m.fail_ext ? " ext failing" : "") + (m.fail_rtp ? " rtp failing" : "");
        image = command_image(q, n, [&](LGCP::Command& c) {
          const auto mode = pt ? LGCP::CodecMode::alaw : LGCP::CodecMode::ulaw;
          dir ? c.select_ioctl().select_decoder_mode(mode) : c.select_ioctl().select_encoder_mode(mode);
        });
        m.codec(q, n, dir, pt);
      } else if (op < 12 && s) {
        const bool trans = pick(2), ptt = trans && pick(2);
        const std::string holder = trans ? kAddr[pick(2)] : "";
        what = std::string("zarn ") + (trans ? "wm-trans " : "wm-flags") + (ptt ? "ptt " : "") + holder;
        image = command_image(q, n, [&](LGCP::Command& c) {
          c.select_ioctl().select_rtpExt().select_zarn(
              radio_test::zarn_modifier(kAddr[0], 4660, [&](TERM::ZarnRadioModifierParams& z) {
                if (!trans) return z.select_wm_flags().set_flags(radio_test::zarn_flags(5, false));
                z.select_wm_trans().set_flags(radio_test::zarn_flags(5, ptt));
                z.ref_wm_trans().set_ip(holder);
                z.ref_wm_trans().set_ssrc(153u);
              }));
        });
        m.zarn_request(q, n, ptt, holder);
      } else if (op < 15 && s && s->ext) {
        // The ground: one or two payloads. A Zarn radio reports every
        // packet of its holder, or of anyone while nobody holds it.
        std::vector<St> batch(s->zarn ? 1 : 1 + pick(2));
        std::string words;
        for (St& g : batch) {
          g.code = 0x2001, g.ptt = pick(3), g.id = pick(2) * 9, g.addr = kAddr[pick(2)];
          // A short radio's re-report window is not timed: no repeats.
          if (s->quick) g.id = pick(64);
          if (s->quick && (g == s->chan || g == batch.front())) g.id = (g.id + 1 + (&g != &batch.front())) % 64;
          char hex[16];
          std::snprintf(hex, sizeof hex, "%02X%02X0000", (g.ptt << 5) | (g.id >> 2), (g.id & 3) << 6);
          words += " " + g.addr + " 4660 " + (s->zarn ? "01000008" : hex);
        }
        // A failed read ends the pass; the payload waits for the next one.
        ASSERT_EQ(fail(dummy, quick.empty(), "rtpext fail read EIO"), "");
        what = "ground" + words;
        ASSERT_EQ(sim("rtpext inject " + std::to_string(s->ch) + words), "") << what;
        if (!s->zarn) m.ground(n, batch, [&](const St& g) { return report(n, s->radio, g); });
        if (s->zarn && (s->filter.empty() || s->filter == batch[0].addr))
          m.frames.push_back("slot " + std::to_string(n) + " signal rtpExt");
      } else if (op < 18 && s && m.slots.count(t) && n != t) {
        what = "connect " + std::to_string(t);
        image = connect_image(q, n, t);
        m.connect(n, t);
        m.answer(q, n, "success");
      } else if (op == 19) {
        if (!quick.empty()) await = *quick.begin();
        what = "wait for the abort of " + std::to_string(await);
      } else {
        what = op == 18 ? "disconnect" : "destroy";
        ASSERT_EQ(fail(dummy, s && op != 18, "rtpext fail detach EIO"), "");
        image = null_command_image(q, n, what.c_str());
        if (s) op == 18 ? m.release(n) : m.destroy(n);
        m.answer(q, n, s ? "success" : "error slotNotExists");
      }
      trail.push_back("seq " + std::to_string(q) + " slot " + std::to_string(n) + " " + what);
      std::string walked = "seed " + std::to_string(seed) + " step " + std::to_string(i) + ", last commands:\n";
      for (std::size_t j = trail.size() > 25 ? trail.size() - 25 : 0; j < trail.size(); ++j) walked += trail[j] + "\n";
      walked += before;
      if (!image.empty()) srv().ctl.send(image);
      const int p = ++seq;
      srv().ctl.send(null_command_image(p, -1, "ping"));
      m.frames.push_back("seq " + std::to_string(p) + " success");
      // A short radio's aborts come while its ground is silent: taken out,
      // but only while such a radio lives under that number, and never
      // within the keep-alive timeout (1 s) of the ground's last word.
      for (const auto& e : m.slots)
        if (e.second.quick) quick.insert(e.first);
      Strings got;
      bool awaited = await < 0;
      while (got.size() < m.frames.size() || !awaited) {
        const std::string f = srv().ctl.next(patience_ms), d = describe(f);
        if (f.empty()) break;
        const int from = d.find(" signal ") == std::string::npos ? -1 : std::atoi(d.c_str() + 5);
        if (f == abort_image(from) && quick.count(from)) {
          // An abort the server sent before it read the ground's latest
          // word may still arrive after it: silence up to that word counts.
          const RSlot* r = m.slots.count(from) ? &m.slots.at(from) : nullptr;
          const std::int64_t silent = r ? std::max(real_ms() - r->heard, r->heard - r->heard_before) : 900;
          EXPECT_GE(silent, 900) << from << "\n" << walked;
          awaited = awaited || from == await;
          continue;
        }
        const bool ed137 = m.slots.count(from) && !m.slots.at(from).zarn;
        got.push_back(d.find("signal rtpExt") != std::string::npos && ed137 ? "rtpExt " + f : d);
      }
      if (what.compare(0, 6, "ground") == 0) {  // the payload and the ping race to the server
        std::sort(got.begin(), got.end());
        std::sort(m.frames.begin(), m.frames.end());
      }
      ASSERT_TRUE(awaited) << walked;
      ASSERT_EQ(got, m.frames) << walked;
      ASSERT_EQ(actual(), predicted(m)) << walked;
      for (int c = 4096; c < 4102; ++c) {
        Strings written;
        for (const auto& l : lines("rtpext sent " + std::to_string(c))) written.push_back(l.substr(l.find(' ') + 1));
        auto e = m.slots.begin();
        while (e != m.slots.end() && e->second.ch != c) ++e;
        if (e == m.slots.end() || e->second.zarn) continue;
        RSlot& r = e->second;
        if (c == replaced_ch) {
          r.sent.clear();
          continue;
        }
        if (r.quick) {
          // A short radio's keep-alives repeat the state of their moment.
          for (const auto& w : written) {
            EXPECT_TRUE(w == r.before || w == r.radio.wire()) << w << "\n" << walked;
          }
          const std::string last_sent = r.sent.empty() ? "" : r.sent.back();
          if (!last_sent.empty()) {
            EXPECT_EQ(written.empty() ? "" : written.back(), last_sent) << walked;
          }
        } else {
          EXPECT_EQ(written, r.sent) << e->first << "\n" << walked;
        }
        r.sent.clear();
      }
      ASSERT_FALSE(HasFailure());
      m.frames.clear();
      m.fail_rtp = m.fail_ext = m.fail_write = m.fail_filter = false;
      for (const char* f : {"rtp fail begin", "rtp fail add", "rtpext fail init", "rtpext fail attach",
                            "rtpext fail write", "rtpext fail filter", "rtpext fail read", "rtpext fail detach"})
        ASSERT_EQ(sim(std::string(f) + " 0"), "");
    }
  }
  while (!m.order.empty()) m.destroy(m.order.front());
  ASSERT_TRUE(controller_rejoins(srv(), seq, frames));
}

}  // namespace
