// The RTP factory in-process on the simulated board: the session record it
// gives the driver, the payload table, what it declines, and the RTCP
// packets of a slot's start and end.
#include "media/rtp_factory.h"
#include "media/rtp_setup.h"
#include "media/rtp_slot.h"
#include "platform/sim/dtmf.h"
#include "platform/sim/rtp.h"
#include "tests/media/rtp_fixture.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/pass_share.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace rtptest;
using platform::sim::rtp;
using P = TERM::Payload;

namespace {

// Native-order images of record fields, as the driver reads them.
template <class T>
void put(std::vector<std::uint8_t>& rec, std::size_t off, T v) {
  std::memcpy(rec.data() + off, &v, sizeof v);
}

struct Made {
  RtpSlot* slot = nullptr;
  std::size_t sessions_before = 0;
};

Made make(const LGCP::CreateParams& p) {
  Made m;
  rtp().refresh();
  m.sessions_before = rtp().sessions.size();
  m.slot = static_cast<RtpSlot*>(RtpFactory::instance().NewSlot(p));
  return m;
}

void destroy(RtpSlot* s) {
  ASSERT_TRUE(s->BeforeDestroy());
  delete s;
}

bool all_closed() {
  rtp().refresh();
  for (const auto& s : rtp().sessions)
    if (s.open) return false;
  return true;
}

TEST(RtpFactory, SessionRecordAndRtcp) {
  UdpPeer peer;
  ASSERT_TRUE(peer.ok());
  const std::uint16_t P = rtp_port_of(peer), Q = free_rtp_port();
  Made m = make(rtp_params(P::ptG711_Alaw, "127.0.0.1", P, P::ptG711_Ulaw, P::ptG729, [&](TERM::RtpParams& r) {
    r.set_shost().set_iaddr("127.0.0.1");
    r.set_shost().set_port(Q);
    r.set_pfactor(70000);
    r.set_crate(3);
    r.set_vad(true);
    r.set_ssrc(305419896u);
    r.set_ttl(64);
    r.set_qos_dscp(TERM::IpQoSDSCP::ef);
  }));
  ASSERT_NE(m.slot, nullptr);
  ASSERT_EQ(rtp().sessions.size(), m.sessions_before + 1);
  const auto& s = rtp().sessions.back();

  std::vector<std::uint8_t> want(44, 0);
  const std::uint8_t loopback[4] = {127, 0, 0, 1};
  std::memcpy(want.data(), loopback, 4);
  put<std::uint16_t>(want, 4, P);
  std::memcpy(want.data() + 8, loopback, 4);
  put<std::uint16_t>(want, 12, Q);
  put<std::uint16_t>(want, 14, 8);     // rx: G.729 asked, not a G.711 law: the session's A-law
  put<std::uint16_t>(want, 16, 0);     // tx: the other law
  put<std::uint16_t>(want, 18, 4464);  // 70000, low 16 bits
  want[20] = 1;
  want[21] = 1;  // any rate but 0 (the server's record test sends 0)
  put<std::uint32_t>(want, 24, 305419896u);
  put<std::uint32_t>(want, 36, 64);
  put<std::int32_t>(want, 40, 184);  // ef (46) << 2
  EXPECT_EQ(std::vector<std::uint8_t>(s.record, s.record + 44), want);
  EXPECT_EQ(s.ops, (std::vector<std::string>{"begin", "add:-1"}));
  EXPECT_EQ(m.slot->GetTimeslot(), s.tdm);

  // SDES from Q + 1 to P + 1 at once.
  std::uint16_t from = 0;
  EXPECT_EQ(peer.receive(2000, &from), sdes_image("12 34 56 78"));
  EXPECT_EQ(from, Q + 1);

  destroy(m.slot);
  EXPECT_EQ(peer.receive(2000), bye_image("12 34 56 78"));
  EXPECT_TRUE(all_closed());
  EXPECT_EQ(rtp().sessions[m.sessions_before].ops,
            (std::vector<std::string>{"begin", "add:-1", "r10", "r3", "r11", "pd_reset:1"}));
}

TEST(RtpFactory, DefaultsWithoutOptionalFields) {
  UdpPeer peer;
  const std::uint16_t P = rtp_port_of(peer);
  Made m = make(rtp_params(P::ptG723, "127.0.0.1", P, P::ptG723, P::ptG711_Ulaw));
  ASSERT_NE(m.slot, nullptr);
  const auto& s = rtp().sessions.back();
  EXPECT_EQ(s.describe().substr(0, s.describe().find(",ssrc=")),
            "open,tdm=" + std::to_string(s.tdm) + ",remote=127.0.0.1:" + std::to_string(P) +
                ",local=0.0.0.0:" + std::to_string(P) + ",rx_pt=0,tx_pt=4,pfactor=0,vad=0,crate=0");
  EXPECT_NE(s.describe().find(",ttl=0,tos=-1,"), std::string::npos) << s.describe();
  // Without shost the RTCP socket takes the peer's own port + 1 locally.
  std::uint16_t from = 0;
  EXPECT_NE(peer.receive(2000, &from), "");
  EXPECT_EQ(from, P + 1);
  destroy(m.slot);
}

TEST(RtpFactory, PayloadTable) {
  const struct {
    P::NamedNumber p;
    int pt;  // -1: not served
  } table[] = {{P::ptG711_Alaw, 8},     {P::ptG711_Ulaw, 0},      {P::ptG723, 4},
               {P::ptG729, 18},         {P::ptG711mcc_Alaw, 136}, {P::ptG711mcc_Ulaw, 128},
               {P::ptG728, 15},         {P::reserv_1, -1},        {P::ptT38_UDP_TL, -1},
               {P::ptT38_TCP_TPKT, -1}, {P::ptR2S, -1}};
  for (const auto& t : table) {
    P p;
    p.setFromInt(t.p);
    std::uint16_t pt = 0xFFFF;
    EXPECT_EQ(RtpSetup::PayloadType(p, pt), t.pt >= 0) << t.p;
    if (t.pt >= 0) {
      EXPECT_EQ(pt, t.pt) << t.p;
    }
    EXPECT_EQ(RtpSetup::translateCodec(p), t.pt >= 0 ? t.pt : 0) << t.p;
  }
  // A direction follows its own payload only for the other G.711 law.
  P alaw, ulaw, g729;
  alaw.setFromInt(P::ptG711_Alaw);
  ulaw.setFromInt(P::ptG711_Ulaw);
  g729.setFromInt(P::ptG729);
  EXPECT_EQ(RtpSetup::translateCodec(g729, alaw), 8);
  EXPECT_EQ(RtpSetup::translateCodec(g729, ulaw), 0);
  EXPECT_EQ(RtpSetup::translateCodec(alaw, g729), 8);
  EXPECT_EQ(RtpSetup::translateCodec(g729, g729), 18);
}

TEST(RtpFactory, DeclinesAndLeavesNothingOpen) {
  UdpPeer peer;
  const std::uint16_t P = rtp_port_of(peer);
  // Radio parameters are the radio factories'.
  // Those and another kind's parameters are declined without a word.
  Made m;
  {
    testsupport::StreamCapture cap;
    m = make(rtp_params(P::ptG711_Alaw, "127.0.0.1", P, P::ptG711_Alaw, P::ptG711_Alaw,
                        [](TERM::RtpParams& r) { r.set_radio(); }));
    EXPECT_EQ(m.slot, nullptr);
    LGCP::CreateParams other;
    other.select_mcc();
    EXPECT_EQ(make(other).slot, nullptr);
    EXPECT_EQ(cap.all(), "");
  }
  // Addresses that are not dotted text: inet_addr would read them as
  // 255.255.255.255 (or as something else than meant).
  for (const char* bad : {"gateway", "127.1", "", "1.2.3.4.5"}) {
    m = make(rtp_params(P::ptG711_Alaw, bad, P, P::ptG711_Alaw, P::ptG711_Alaw));
    EXPECT_EQ(m.slot, nullptr) << bad;
    m = make(rtp_params(P::ptG711_Alaw, "127.0.0.1", P, P::ptG711_Alaw, P::ptG711_Alaw, [&](TERM::RtpParams& r) {
      r.set_shost().set_iaddr(bad);
      r.set_shost().set_port(P);
    }));
    EXPECT_EQ(m.slot, nullptr) << bad;
  }
  // A NUL ends the text for inet_pton: the address before it is not what
  // was sent.
  const std::string nul("127.0.0.1\0" "9", 11);
  m = make(rtp_params(P::ptG711_Alaw, nul, P, P::ptG711_Alaw, P::ptG711_Alaw));
  EXPECT_EQ(m.slot, nullptr);
  m = make(rtp_params(P::ptG711_Alaw, "127.0.0.1", P, P::ptG711_Alaw, P::ptG711_Alaw, [&](TERM::RtpParams& r) {
    r.set_shost().set_iaddr(nul);
    r.set_shost().set_port(P);
  }));
  EXPECT_EQ(m.slot, nullptr);
  EXPECT_TRUE(all_closed());
  EXPECT_EQ(peer.receive(100), "");
  {
    // An attach mode this side does not know (as the decoder leaves it) is
    // logged, and the log goes on: the refusal after it is written.
    testsupport::StreamCapture cap;
    m = make(rtp_params(P::ptT38_UDP_TL, "127.0.0.1", P, P::ptT38_UDP_TL, P::ptT38_UDP_TL, [](TERM::RtpParams& r) {
      r.set_rtp_e2m().set_mode().setSelection(ASN1::CHOICE::UnknownSelection, nullptr);
    }));
    EXPECT_EQ(m.slot, nullptr);
    EXPECT_EQ(testsupport::StreamCapture::count(cap.log(), "rtp do not created: payload ptT38-UDP-TLnot found"), 1)
        << cap.all();
  }

  // Port 65535 wraps to RTCP port 0 (any port): the slot is made.
  m = make(rtp_params(P::ptG711_Alaw, "127.0.0.1", 65535, P::ptG711_Alaw, P::ptG711_Alaw));
  ASSERT_NE(m.slot, nullptr);
  destroy(m.slot);
  EXPECT_TRUE(all_closed());
}


// Without the voice device the counts it answers afresh are 0, and the
// failed open is told.
TEST(RtpFactory, QueryWithoutTheVoiceDevice) {
  // The factory asks the device once as it is made: made first here, so
  // only the query below meets the failure, run alone or after others.
  RtpFactory::instance();
  platform::sim::voice().fail_open = ENOENT;
  testsupport::StreamCapture cap;
  LGCP::Resources r;
  RtpFactory::instance().Query(r);
  platform::sim::voice().fail_open = 0;
  EXPECT_EQ(std::vector<int>({r.get_rtp_g729().getValue(), r.get_rtp_g723().getValue(), r.get_rtp_g711().getValue()}),
            std::vector<int>({0, 0, 0}));
  EXPECT_EQ(testsupport::StreamCapture::count(cap.err(), " open fail: "), 1) << cap.all();
  // With it again, nothing is told.
  RtpFactory::instance().Query(r);
  EXPECT_EQ(testsupport::StreamCapture::count(cap.err(), " open fail: "), 1) << cap.all();
}

// Short of descriptors, a create gives a slot that holds its session and
// RTCP socket (its SDES goes out) or no slot and no open session: each count
// of free descriptors meets another step, among them the copies the
// factory and the slot make. In a child (its own limit).
TEST(RtpFactory, CreateShortOfDescriptorsHoldsItsSessionOrGivesNoSlot) {
  const std::string failed = testsupport::in_child([](std::vector<std::string>& failed) {
    UdpPeer peer;
    const std::uint16_t P = rtp_port_of(peer);
    // With the echo canceller on: a refused create leaves it off again.
    const LGCP::CreateParams p = rtp_params(P::ptG711_Alaw, "127.0.0.1", P, P::ptG711_Alaw, P::ptG711_Alaw,
                                            [](TERM::RtpParams& r) {
                                              r.set_echo().set_suppressor(true);
                                              r.set_echo().set_canceller(true);
                                            });
    const auto canceller_left_on = [] {
      int on = 0;
      for (const auto& r : platform::sim::dtmf().take_new()) {
        const std::string t = r.text();
        if (t.rfind("CHANNEL_LMS_ON ", 0) == 0) ++on;
        if (t.rfind("CHANNEL_LMS_OFF ", 0) == 0) --on;
      }
      return on != 0;
    };
    // Every type used is checked once (see descriptor_exhaustion.h).
    Made m = make(p);
    if (!m.slot) return failed.push_back("no slot with descriptors to spare");
    m.slot->BeforeDestroy();
    delete m.slot;
    peer.receive(2000);
    peer.receive(2000);
    testsupport::with_free_descriptors(12, "slot", failed, [&](testsupport::DescriptorFill& fill, const std::string& at) {
      platform::sim::dtmf().take_new();
      testsupport::StreamCapture cap;
      m = make(p);
      const bool created = m.slot != nullptr;
      const bool open = !all_closed();
      fill.release();
      // With none free the socket is the step that fails, and is named.
      if (at == " with 0 free" && testsupport::StreamCapture::count(cap.log(), "can not create socket") != 1)
        failed.push_back("the socket not named" + at);
      if (created != open) failed.push_back(std::string(created ? "a slot" : "no slot") + " and " + (open ? "an open" : "no open") + " session" + at);
      if (!created) {
        if (canceller_left_on()) failed.push_back("the canceller left on" + at);
        return false;
      }
      if (peer.receive(2000).empty()) failed.push_back("no SDES from the slot" + at);
      m.slot->BeforeDestroy();
      delete m.slot;
      return true;
    });
  });
  EXPECT_EQ(failed, "");
}

// Sending follows the input stream, unless a subclass drives it from the
// radio squelch: then only the release stops it.
TEST(RtpFactory, TransmissionFollowsTheInputStream) {
  UdpPeer peer;
  const std::uint16_t P = rtp_port_of(peer);
  for (bool squelch : {false, true}) {
    Made m = make(rtp_params(P::ptG711_Alaw, "127.0.0.1", P, P::ptG711_Alaw, P::ptG711_Alaw));
    ASSERT_NE(m.slot, nullptr);
    m.slot->setTransmissionDependOnSQU(squelch);
    EXPECT_TRUE(m.slot->IOnInputStream());
    EXPECT_EQ(m.slot->IsTransmitting(), !squelch);
    m.slot->IOnInputRelease();
    EXPECT_FALSE(m.slot->IsTransmitting());
    EXPECT_EQ(rtp().sessions.back().ops,
              squelch ? (std::vector<std::string>{"begin", "add:-1", "stop_tx"})
                      : (std::vector<std::string>{"begin", "add:-1", "start_tx", "stop_tx"}));
    destroy(m.slot);
  }
}

// A codec change begins a new session: one that replaces a sending session
// is told to send too. Short of descriptors, the change either moves the
// slot to the new session or keeps the old one; the session in force is
// watched either way. In a child (its own limit).
TEST(RtpFactory, CodecRestartKeepsSendingAndAWatchedSession) {
  const std::string failed = testsupport::in_child([](std::vector<std::string>& failed) {
    UdpPeer peer;
    Made m = make(rtp_params(P::ptG711_Alaw, "127.0.0.1", rtp_port_of(peer), P::ptG711_Alaw, P::ptG711_Alaw));
    if (!m.slot) return failed.push_back("no slot");
    const int tdm = m.slot->GetTimeslot();
    m.slot->IOnInputStream();
    bool ulaw = false, changed_short = false;
    // -1: descriptors to spare (every type checked once, see
    // descriptor_exhaustion.h).
    for (int free = -1; free <= 8; ++free) {
      const std::string at = " with " + std::to_string(free) + " free";
      testsupport::DescriptorFill fill;
      if (free >= 0 && !fill.fill()) return failed.push_back("the descriptor table cannot be filled");
      for (int i = 0; i < free; ++i) fill.free_one();
      LGCP::IoctlParams req;
      req.select_encoder_mode(ulaw ? LGCP::CodecMode::alaw : LGCP::CodecMode::ulaw);
      const bool changed = m.slot->Ioctl(req);
      fill.release();
      if (changed) ulaw = !ulaw;
      if (changed && free >= 0) changed_short = true;
      if (free < 0 && !changed) failed.push_back("no change" + at);
      if (!m.slot->HoldsSession()) failed.push_back("session in force not watched" + at);
      rtp().refresh();
      std::vector<const platform::sim::Rtp::Session*> open;
      for (const auto& s : rtp().sessions)
        if (s.open && s.tdm == tdm) open.push_back(&s);
      if (open.size() != 1) {
        failed.push_back(std::to_string(open.size()) + " open sessions" + at);
        continue;
      }
      std::uint16_t tx_pt;
      std::memcpy(&tx_pt, open[0]->record + 16, sizeof tx_pt);
      if (tx_pt != (ulaw ? 0 : 8) || m.slot->GetParams().tx_pt != tx_pt)
        failed.push_back("tx_pt " + std::to_string(tx_pt) + " in force" + at);
      if (open[0]->ops.back() != "start_tx") failed.push_back("session in force not sending" + at);
    }
    if (!changed_short) failed.push_back("no change with 8 free");
    destroy(m.slot);
  });
  EXPECT_EQ(failed, "");
}

// A driver that queues an event record with every one read is read a
// share per pass; what waits is read on the passes after.
class RtpSlotLoop : public testsupport::VirtualClockTest {};
TEST_F(RtpSlotLoop, AFloodingDriverIsReadAShareAPass) {
  UdpPeer peer;
  Made m = make(rtp_params(P::ptG711_Alaw, "127.0.0.1", rtp_port_of(peer), P::ptG711_Alaw, P::ptG711_Alaw));
  ASSERT_NE(m.slot, nullptr);
  const int tdm = rtp().sessions.back().tdm;
  testsupport::FloodedDevice flood(rtp(), [&] { rtp().event(tdm, 0, 0, 0); });
  ASSERT_TRUE(rtp().event(tdm, 0, 0, 0));
  run_for(10);
  EXPECT_EQ(flood.reads, 1000u);
  EXPECT_LE(flood.share.most, Event::max_reads_per_event);
  destroy(m.slot);
}

}  // namespace
