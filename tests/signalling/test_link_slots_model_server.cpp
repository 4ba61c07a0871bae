// Black-box: seeded random walks of commands to the signalling link slots
// (ISDN on the HDLC controller, ATS-QSIG and its B channels, PSTN CAS and
// SS7 links) over a few slot numbers, so numbers and B indexes collide and
// are re-used often. Every answer and signal is compared with what an
// independent model predicts, and the open controller channels and the
// ATS-QSIG driver's B channels with the model's after every step. Now and
// then a channel allocation, an ATS-QSIG open or a B-channel request fails.
// The links are never activated here, so no protocol timer speaks; the PSTN
// slots' periodic counters are left out. Real time.
//
// GW_MODEL_SEEDS=FIRST-LAST and GW_MODEL_STEPS=N run longer walks.
#include "tests/support/model_walk.h"
#include "tests/signalling/link_slots_server.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <random>
#include <sstream>

namespace {

using Strings = std::vector<std::string>;

enum Kind { kIsdn, kQsig, kQsigB, kCas, kSs7 };

struct MSlot {
  Kind kind;
  int owner = -1, index = -1;     // a B channel's ATS-QSIG slot number and B index
  int serial = 0;                 // which slot made under a number it is
  std::array<bool, 3> b{};        // an ATS-QSIG slot: the B indexes the driver holds
};

class Model {
 public:
  std::map<int, MSlot> slots;
  std::vector<int> created;  // creation order
  int made = 0;
  int fail_allocate = 0, fail_open = 0, fail_add = 0;
  Strings frames;

  void answer(int seq, int n, const std::string& what) {
    frames.push_back("seq " + std::to_string(seq) + " slot " + std::to_string(n) + " " + what);
  }
  bool is_qsig(int n) const { return slots.count(n) && slots.at(n).kind == kQsig; }
  void destroy(int n) {
    const MSlot s = slots.at(n);
    // A B channel's line goes with the ATS-QSIG slot it was taken from, not a
    // later slot under the same number.
    if (s.kind == kQsigB && is_qsig(s.owner) && slots.at(s.owner).serial == s.serial)
      slots.at(s.owner).b[static_cast<std::size_t>(s.index)] = false;
    slots.erase(n);
    created.erase(std::find(created.begin(), created.end(), n));
  }
  void create(int seq, int n, Kind k, int owner, int subslot) {
    if (slots.count(n)) destroy(n);
    MSlot s;
    s.kind = k;
    s.serial = ++made;
    bool ok = true;
    if (k == kIsdn && fail_allocate > 0) ok = false, --fail_allocate;
    if (k == kQsig && fail_open > 0) ok = false, --fail_open;
    if (k == kQsigB) {
      if (!is_qsig(owner) || subslot == 0) {
        ok = false;
      } else if (fail_add > 0) {
        ok = false, --fail_add;
      } else {
        bool& held = slots.at(owner).b[static_cast<std::size_t>(subslot - 1)];
        ok = !held;  // the driver refuses an index it holds already
        held = true;
        s.owner = owner, s.index = subslot - 1, s.serial = slots.at(owner).serial;
      }
    }
    if (!ok) return answer(seq, n, "error insufficientResources");
    slots[n] = s;
    created.push_back(n);
    answer(seq, n, "success");
  }
  void command(int seq, int n, const std::string& what) {
    if (what == "query") return answer(seq, n, "error unexpectedMsgType");
    if (!slots.count(n)) return answer(seq, n, "error slotNotExists");
    const Kind k = slots.at(n).kind;
    if (what == "destroy") return destroy(n), answer(seq, n, "success");
    if (what == "userData") return answer(seq, n, k == kQsigB ? "error unsupported" : "success");
    if (what == "rqBSN" && k == kSs7) {
      frames.push_back("slot " + std::to_string(n) + " ss7BSN 127");
      return answer(seq, n, "success");
    }
    if (what == "ss7Log" && k == kSs7) return answer(seq, n, "success");
    answer(seq, n, "error unsupported");
  }
  void controller_left() {
    while (!created.empty()) destroy(created.front());
  }
  // The ATS-QSIG descriptors as the driver should list them, B channels as
  // "x" or "-", sorted.
  Strings qsig_channels() const {
    Strings out;
    for (const auto& s : slots)
      if (s.second.kind == kQsig) {
        std::string l;
        for (bool b : s.second.b) l += b ? " x" : " -";
        out.push_back(l);
      }
    std::sort(out.begin(), out.end());
    return out;
  }
  std::size_t isdn_count() const {
    return static_cast<std::size_t>(
        std::count_if(slots.begin(), slots.end(), [](const auto& s) { return s.second.kind == kIsdn; }));
  }
};

std::string tell(const std::string& frame) {
  return sigtest::tell_frame(frame, [](const std::string& slot, const LGCP::IoctlResponse& r) {
    if (r.ss7BSN_isSelected()) return slot + "ss7BSN " + std::to_string(r.get_ss7BSN().getValue());
    return slot + "ioctl " + r.getSelectionName();
  });
}

const int kNumbers[] = {0, 1, 2, 3, 5, 1023};

class LinkSlotsModel : public sigtest::SlotsServerSuite<tell> {
 protected:
  // `n` frames, the link counters the PSTN slots send on their own left out.
  static Strings frames(std::size_t n) {
    return next_told(n, [](const std::string& t) {
      return t.find(" ioctl hdlcLinkInfo") != std::string::npos || t.find(" ioctl ss7LinkInfo") != std::string::npos;
    });
  }
  static Strings qsig_channels() {
    Strings out;
    for (const std::string& l : lines(ask("dspdata channels"))) {
      std::string p;
      std::istringstream in(l.substr(l.find(' ')));
      for (std::string w; in >> w;) p += w == "-" ? " -" : " x";
      out.push_back(p);
    }
    std::sort(out.begin(), out.end());
    return out;
  }
};

TEST_F(LinkSlotsModel, EveryAnswerAndSignalIsThePredictedOne) {
  int first = 1, last = 3, steps = 200;
  testsupport::walk_range(first, last, steps);
  int seq = 0;
  Model m;
  for (int seed = first; seed <= last; ++seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    Strings trail;
    for (int i = 0; i < steps; ++i) {
      const int n = kNumbers[pick(6)], t = kNumbers[pick(6)], op = pick(14);
      const int q = ++seq;
      std::string what, image;
      if (pick(10) == 0) {
        static const char* const words[] = {"mcc fail allocate EIO 1", "dspdata fail open EIO 1",
                                            "dspdata fail add EIO 1"};
        const int w = pick(3);
        ASSERT_EQ(ask(words[w]), "");
        ++(w == 0 ? m.fail_allocate : w == 1 ? m.fail_open : m.fail_add);
        trail.push_back(words[w]);
      }
      if (i == 0) {
        what = "controller leaves";
        ASSERT_TRUE(testsupport::controller_rejoins(*srv, seq, frames));
        m.controller_left();
      } else if (op < 6) {
        const Kind k = static_cast<Kind>(pick(5));
        const int sub = 1 + pick(3);  // 0 is no subslot the protocol can carry
        const bool bri = pick(2), net = pick(2);
        what = "create kind " + std::to_string(k) + " " + std::to_string(t) + " " + std::to_string(sub);
        image = testsupport::create_image(q, n, [&](LGCP::CreateParams& p) {
          if (k == kIsdn) testsupport::fill_isdn(p.select_isdn(), bri, false);
          if (k == kQsig) p.select_ats_qsig().set_side().select_network();
          if (k == kQsigB) {
            LGCP::AtsQsigBParams& b = p.select_ats_qsig_b();
            b.set_slot(static_cast<unsigned>(t));
            b.set_subslot(static_cast<unsigned>(sub));
          }
          if (k == kCas) p.select_pstn().select_cas();
          if (k == kSs7) {
            LGCP::SS7Params& s = p.select_pstn().select_ss7();
            s.set_trunk(1 + pick(2));
            s.set_slc(0);
            s.set_dpc(1);
            s.set_opc(2);
            s.set_emergency(net);
          }
        });
        m.create(q, n, k, t, sub);
      } else {
        static const char* const ops[] = {"destroy", "destroy", "userData", "rqBSN", "ss7Log", "ioctl", "query", "query"};
        what = ops[op - 6];
        if (what == "userData") image = testsupport::user_data_image(q, n, sigtest::data("080105"));
        else if (what == "ioctl") image = testsupport::ioctl_image(q, n);
        else if (what == "rqBSN")
          image = testsupport::command_image(q, n, [](LGCP::Command& c) { c.select_ioctl().select_ss7RqBSN(); });
        else if (what == "ss7Log")
          image = testsupport::command_image(q, n, [](LGCP::Command& c) { c.select_ioctl().select_ss7Log(); });
        else image = testsupport::null_command_image(q, n, what.c_str());
        m.command(q, n, what);
      }
      trail.push_back("seq " + std::to_string(q) + " slot " + std::to_string(n) + " " + what);
      if (!image.empty()) srv->ctl.send(image);
      const int p = ++seq;
      srv->ctl.send(testsupport::null_command_image(p, -1, "ping"));
      m.frames.push_back("seq " + std::to_string(p) + " success");
      const Strings got = frames(m.frames.size());
      // Failures the step did not use are not carried into the next.
      for (const char* w : {"mcc fail allocate 5 0", "dspdata fail open 5 0", "dspdata fail add 5 0"})
        ASSERT_EQ(ask(w), "");
      m.fail_allocate = m.fail_open = m.fail_add = 0;
      std::string walked;
      for (std::size_t j = trail.size() > 20 ? trail.size() - 20 : 0; j < trail.size(); ++j) walked += trail[j] + "\n";
      ASSERT_EQ(got, m.frames) << "seed " << seed << " step " << i << ", last commands:\n" << walked;
      ASSERT_EQ(qsig_channels(), m.qsig_channels()) << "seed " << seed << " step " << i << ":\n" << walked;
      ASSERT_EQ(lines(ask("mcc channels")).size(), m.isdn_count()) << "seed " << seed << " step " << i << ":\n"
                                                                    << walked;
      m.frames.clear();
    }
  }
}

}  // namespace
