// One SS7 link against a scripted peer: the test writes the peer's signal
// units byte by byte and reads what the link sent through a recording
// transport.
#include "signalling/ss7/slc.h"
#include "tests/signalling/ss7_relay.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using ss7test::Bytes;
using testsupport::StreamCapture;
using State = SS7::SLC::State;

std::string hex(const Bytes& b) {
  std::string s;
  char buf[4];
  for (std::uint8_t x : b) {
    std::snprintf(buf, sizeof buf, "%s%02X", s.empty() ? "" : " ", x);
    s += buf;
  }
  return s;
}

// Records every frame the link writes; can refuse them.
class Probe : public GenericHDLC {
 public:
  bool hdlc_transmit(Packet& p) override {
    if (refusing) return false;
    frames.push_back(ss7test::bytes_of(p));
    return true;
  }
  bool is_open() const override { return true; }
  bool is_ready() const override { return !refusing; }

  std::vector<Bytes> take() {
    std::vector<Bytes> f;
    f.swap(frames);
    return f;
  }

  std::vector<Bytes> frames;
  bool refusing = false;
};

// A signal unit from the peer.
Bytes su(unsigned bsn, bool bib, unsigned fsn, bool fib, const Bytes& payload = {}, int li = -1) {
  Bytes f{std::uint8_t(bsn | (bib ? 0x80 : 0)), std::uint8_t(fsn | (fib ? 0x80 : 0)),
          std::uint8_t(li >= 0 ? li : (payload.size() >= 63 ? 63 : payload.size()))};
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

Bytes lssu(std::uint8_t status) { return Bytes{0xFF, 0xFF, 0x01, status}; }

// An MSU payload whose octets name it.
Bytes msu(unsigned n, std::size_t size = 6) {
  Bytes b(size);
  b[0] = 0x83;
  for (std::size_t i = 1; i < size; ++i) b[i] = std::uint8_t(n + i);
  if (size > 2) {
    b[1] = std::uint8_t(n >> 8);
    b[2] = std::uint8_t(n);
  }
  return b;
}

// Header fields of a frame the link sent.
unsigned fsn_of(const Bytes& f) { return f[1] & 0x7F; }
bool fib_of(const Bytes& f) { return f[1] & 0x80; }
Bytes payload_of(const Bytes& f) { return Bytes(f.begin() + 3, f.end()); }

class SlcTest : public testsupport::VirtualClockTest {
 protected:
  void SetUp() override {
    VirtualClockTest::SetUp();
    link = new SS7::SLC;
    upper.reset(new ss7test::Upper(link));
    link->set_dpc(1);
    link->set_slc(2);
    link->set_linkno(3);
    link->hdlc(&probe);
  }
  void TearDown() override {
    upper.reset();
    VirtualClockTest::TearDown();
  }

  void feed(const Bytes& frame) {
    Packet p = ss7test::packet_of(frame, 0);
    link->on_hdlc_receive(p);
  }
  // Activation, SIN from the peer, and its first FISU.
  void to_worked() {
    link->activate();
    feed(lssu(SS7::SLC::SIN));
    feed(su(127, true, 127, true));
    ASSERT_EQ(link->get_state_id(), State::worked);
    probe.take();
  }
  State::type state() const { return link->get_state_id(); }

  Probe probe;
  SS7::SLC* link = nullptr;
  std::unique_ptr<ss7test::Upper> upper;
};

TEST_F(SlcTest, FramesSentCarryTheHeaderAndLengthIndicator) {
  link->activate();
  feed(lssu(SS7::SLC::SIN));
  feed(su(127, true, 127, true));
  // SIO on activation, SIN on proving, two FISUs on entering worked; LSSUs
  // always go out with all sequence bits set.
  std::vector<std::string> want = {"FF FF 01 00", "FF FF 01 01", "FF FF 00", "FF FF 00"};
  std::vector<std::string> got;
  for (const Bytes& f : probe.take()) got.push_back(hex(f));
  EXPECT_EQ(got, want);
  EXPECT_EQ(upper->activations, 1);

  struct Case {
    std::size_t payload;
    std::string head;  // BSN/BIB, FSN/FIB, LI
  } cases[] = {{3, "FF 80 03"}, {62, "FF 81 3E"}, {63, "FF 82 3F"}, {100, "FF 83 3F"}, {272, "FF 84 3F"}};
  for (const Case& c : cases) {
    upper->send(msu(7, c.payload));
    std::vector<Bytes> f = probe.take();
    ASSERT_EQ(f.size(), 1u) << c.payload;
    EXPECT_EQ(hex(Bytes(f[0].begin(), f[0].begin() + 3)), c.head) << c.payload;
    EXPECT_EQ(payload_of(f[0]), msu(7, c.payload));
  }
  // Level 2 refuses what would go out looking like a FISU or an LSSU.
  StreamCapture cap;
  for (std::size_t n : {0, 1, 2}) upper->send(Bytes(n, 0x83));
  EXPECT_TRUE(probe.frames.empty());
  EXPECT_EQ(StreamCapture::count(cap.err(), "ignoring msu"), 3);

  const SS7::SLC::Statistics& s = link->statistics();
  EXPECT_EQ(s.su_sent, 2u + 5u);  // LSSUs are not counted
  EXPECT_EQ(s.octets_sent, 2u * 3 + 3 + 62 + 63 + 100 + 272 + 5 * 3);
  EXPECT_EQ(s.rtb_size, 5u);
}

TEST_F(SlcTest, ReceivedFramesAreCheckedAgainstTheirLengthIndicator) {
  to_worked();
  StreamCapture cap;
  struct Case {
    const char* what;
    Bytes frame;
    std::size_t delivered;   // payload octets handed up, 0 for none
    const char* complaint;   // a line on the error stream, "" for none
  } cases[] = {
      {"spare LI bits", su(127, true, 0, true, msu(0, 5), 0xC5), 5, ""},
      {"LI 63 for 100 octets", su(127, true, 1, true, msu(1, 100)), 100, ""},
      {"LI shorter than frame", su(127, true, 2, true, msu(2, 8), 5), 5,
       "SS7/L2 [dpc=1, slc=2, trunk=3] (worked): truncate 3 octet(s) : 83 00 02 05 06 07 08 09"},
      {"LI longer than frame", su(127, true, 3, true, msu(3, 5), 20), 5,
       "SS7/L2 [dpc=1, slc=2, trunk=3] (worked): invalid packet length, expected = 20, received = 5"},
      {"long frame with small LI", su(127, true, 4, true, msu(4, 70), 10), 70,
       "SS7/L2 [dpc=1, slc=2, trunk=3] (worked): can't truncate signalling unit."},
      {"shortest MSU", su(127, true, 5, true, msu(5, 3)), 3, ""},
      {"two octets", Bytes{0xFF, 0xFF}, 0,
       "SS7/L2 [dpc=1, slc=2, trunk=3] (worked): ignore packet, length too small FF FF"},
      {"empty", Bytes{}, 0, "SS7/L2 [dpc=1, slc=2, trunk=3] (worked): ignore packet, length too small "},
  };
  std::uint32_t octets = 0;
  for (const Case& c : cases) {
    cap.clear();
    const std::size_t before = upper->received.size();
    feed(c.frame);
    octets += std::uint32_t(c.frame.size());
    ASSERT_EQ(state(), State::worked) << c.what << "\n" << cap.all();
    if (c.delivered) {
      ASSERT_EQ(upper->received.size(), before + 1) << c.what;
      EXPECT_EQ(upper->received.back().size(), c.delivered) << c.what;
      EXPECT_EQ(upper->received.back(), Bytes(c.frame.begin() + 3, c.frame.begin() + 3 + c.delivered)) << c.what;
    } else {
      EXPECT_EQ(upper->received.size(), before) << c.what;
    }
    if (*c.complaint) {
      EXPECT_TRUE(StreamCapture::has(cap.err(), c.complaint)) << c.what << "\n" << cap.all();
    } else {
      EXPECT_TRUE(cap.err().empty()) << c.what << "\n" << cap.all();
    }
  }
  const SS7::SLC::Statistics& s = link->statistics();
  EXPECT_EQ(s.su_received, 2u + 6u);  // SIN and FISU while aligning, then six MSUs
  EXPECT_EQ(s.octets_received, 4u + 3u + octets);
  EXPECT_EQ(link->get_bsn(), 5u);
}

TEST_F(SlcTest, BuffersHoldTheWindowAndRetransmitInOrder) {
  to_worked();
  StreamCapture cap;
  for (unsigned n = 0; n < 328; ++n) upper->send(msu(n));
  std::vector<Bytes> f = probe.take();
  ASSERT_EQ(f.size(), 127u);
  for (unsigned n = 0; n < 127; ++n) {
    EXPECT_EQ(fsn_of(f[n]), n);
    EXPECT_EQ(payload_of(f[n]), msu(n));
  }
  EXPECT_EQ(link->rtb_count(), 127);
  EXPECT_EQ(link->tb_count(), 200u);
  EXPECT_EQ(link->statistics().tb_overflows, 1u);
  ASSERT_EQ(StreamCapture::count(cap.err(), "no space in TB buffer,"), 1) << cap.all();
  EXPECT_TRUE(StreamCapture::has(
      cap.err(), "SS7/L2 [dpc=1, slc=2, trunk=3] (worked): no space in TB buffer, TB=200 RTB=127 ignoring msu: 83 01 47 4A 4B 4C"))
      << cap.all();

  // The peer acknowledges FSN 0..9 and asks for the rest again (BIB
  // inverted): FSN 10..126 go out again with their old numbers and payloads,
  // then the TB's MSUs follow with new ones, until 127 are outstanding.
  feed(su(9, false, 127, true));
  f = probe.take();
  ASSERT_EQ(f.size(), 127u);
  for (unsigned k = 0; k < 117; ++k) {
    EXPECT_EQ(fsn_of(f[k]), 10 + k);
    EXPECT_FALSE(fib_of(f[k]));
    EXPECT_EQ(f[k].size(), 3 + msu(0).size());  // one header, not two
    EXPECT_EQ(payload_of(f[k]), msu(10 + k));
  }
  for (unsigned k = 117; k < 127; ++k) {
    EXPECT_EQ(fsn_of(f[k]), (127 + k - 117) % 128);
    EXPECT_EQ(payload_of(f[k]), msu(127 + k - 117));
  }
  EXPECT_EQ(link->statistics().retransmissions, 1u);
  EXPECT_EQ(link->tb_count(), 190u);
  EXPECT_EQ(state(), State::worked);
}

// Forward and backward sequence numbers past 127 -> 0: MSUs received in
// sequence, a duplicate and a gap at the wrap, an acknowledgement of a range
// that crosses it, and a retransmission from inside it.
TEST_F(SlcTest, SequenceNumbersWrapInBothDirections) {
  to_worked();
  for (unsigned n = 0; n < 131; ++n) feed(su(127, true, n % 128, true, msu(n)));
  EXPECT_EQ(upper->received.size(), 131u);
  EXPECT_EQ(link->get_bsn(), 2u);
  feed(su(127, true, 2, true, msu(130)));  // a duplicate
  feed(su(127, true, 4, true, msu(132)));  // FSN 3 is missing
  EXPECT_EQ(upper->received.size(), 131u);
  EXPECT_EQ(link->statistics().negative_acks, 1u);
  std::vector<Bytes> f = probe.take();
  ASSERT_FALSE(f.empty());
  EXPECT_EQ(hex(f.back()), "02 FF 00");  // BSN 2, BIB inverted
  feed(su(127, true, 3, false, msu(131)));  // the retransmission
  ASSERT_EQ(upper->received.size(), 132u);
  EXPECT_EQ(upper->received.back(), msu(131));
  EXPECT_EQ(link->get_bsn(), 3u);
  EXPECT_EQ(state(), State::worked);
  probe.take();

  for (unsigned n = 0; n < 120; ++n) upper->send(msu(n));
  feed(su(119, true, 3, false));
  EXPECT_EQ(link->rtb_count(), 0);
  probe.take();
  for (unsigned n = 120; n < 140; ++n) upper->send(msu(n));
  f = probe.take();
  ASSERT_EQ(f.size(), 20u);
  EXPECT_EQ(fsn_of(f[7]), 127u);
  EXPECT_EQ(fsn_of(f[8]), 0u);
  feed(su(3, true, 3, false));  // acknowledges 120..127 and 0..3
  EXPECT_EQ(link->rtb_count(), 8);
  feed(su(5, false, 3, false));  // acknowledges 4 and 5, asks for 6..11 again
  f = probe.take();
  ASSERT_EQ(f.size(), 6u);
  for (unsigned k = 0; k < 6; ++k) {
    EXPECT_EQ(fsn_of(f[k]), 6 + k);
    EXPECT_EQ(payload_of(f[k]), msu(134 + k));
  }
  EXPECT_EQ(link->rtb_count(), 6);
  EXPECT_EQ(link->statistics().retransmissions, 1u);
  EXPECT_EQ(state(), State::worked);
}

TEST_F(SlcTest, AcknowledgementsReleaseMsusWaitingInTheTB) {
  to_worked();
  for (unsigned n = 0; n < 140; ++n) upper->send(msu(n));
  EXPECT_EQ(probe.take().size(), 127u);
  // A plain acknowledgement of FSN 0..9 makes room for ten more at once,
  // without waiting for another MSU from level 3.
  feed(su(9, true, 127, true));
  std::vector<Bytes> f = probe.take();
  ASSERT_EQ(f.size(), 10u);
  for (unsigned k = 0; k < 10; ++k) EXPECT_EQ(payload_of(f[k]), msu(127 + k));
  feed(su(fsn_of(f.back()), true, 127, true));  // everything acknowledged
  f = probe.take();
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(link->tb_count(), 0u);
  EXPECT_EQ(link->rtb_count(), 3);
  EXPECT_EQ(link->statistics().retransmissions, 0u);
}

TEST_F(SlcTest, SequenceErrorsAreToleratedOnceThenTakeTheLinkDown) {
  link->trace.msu_processing = true;
  to_worked();
  StreamCapture cap;

  // Out-of-range BSN: one tolerated, a valid one between clears that.
  feed(su(50, true, 127, true));
  feed(su(127, true, 127, true));
  feed(su(50, true, 127, true));
  EXPECT_EQ(state(), State::worked);
  EXPECT_TRUE(probe.take().empty());

  // An FSN gap gives one nack (BIB inverted); later units with the old FIB
  // only have their BSN taken, also when they show the gap again.
  feed(su(127, true, 1, true, msu(1)));
  EXPECT_EQ(hex(probe.take().at(0)), "7F FF 00");
  feed(su(127, true, 2, true, msu(2)));
  feed(su(127, true, 2, true));
  EXPECT_TRUE(probe.take().empty());
  EXPECT_EQ(link->statistics().negative_acks, 1u);
  EXPECT_TRUE(upper->received.empty());
  // The retransmission (FIB now matching) is taken in order.
  feed(su(127, true, 0, false, msu(0)));
  feed(su(127, true, 1, false, msu(1)));
  EXPECT_EQ(upper->received, (std::vector<Bytes>{msu(0), msu(1)}));
  std::vector<Bytes> f = probe.take();
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(hex(f[1]), "01 FF 00");  // ack of FSN 1 with the new BIB

  // A repeated MSU is dropped, its BSN unread (a bad one would count).
  cap.clear();
  feed(su(60, true, 1, false, msu(1)));
  feed(su(60, true, 1, false, msu(1)));
  EXPECT_EQ(state(), State::worked);
  EXPECT_EQ(upper->received.size(), 2u);
  EXPECT_EQ(StreamCapture::count(cap.log(), "(worked): discard msu due to 5.2.2/i Q.702 fsnr=1 fsnx=1"), 2) << cap.all();

  // Two unexpected FIBs without a pending nack: idle.
  feed(su(127, false, 1, true));
  EXPECT_EQ(state(), State::worked);
  feed(su(127, false, 1, true));
  EXPECT_EQ(state(), State::idle);
  EXPECT_TRUE(StreamCapture::has(
      cap.err(), "SS7/L2 [dpc=1, slc=2, trunk=3] (worked): bad start of a retransmission:  BSN=127 BIB=0 FSN=1 FIB=1"))
      << cap.all();
  EXPECT_EQ(upper->deactivations, std::vector<std::string>{"impossible phasing"});

  // A second bad BSN in a row.
  probe.take();
  to_worked();
  cap.clear();
  feed(su(50, true, 127, true));
  feed(su(51, true, 127, true));
  EXPECT_EQ(state(), State::idle);
  EXPECT_TRUE(StreamCapture::has(
      cap.err(), "SS7/L2 [dpc=1, slc=2, trunk=3] (worked): bad su acknowledgement received:  BSN=51 BIB=1 FSN=127 FIB=1"))
      << cap.all();
  EXPECT_EQ(upper->deactivations.size(), 2u);
}

TEST_F(SlcTest, HandlingStopsWhenTheAcknowledgementTakesTheLinkDown) {
  // A second bad BSN carried by an MSU that is next in sequence, by one that
  // shows a gap, and by a FISU that shows one: after the SIOS nothing more
  // goes out, nothing is handed up, and the sequence state stays reset.
  const Bytes units[] = {su(50, true, 0, true, msu(0)), su(50, true, 5, true, msu(5)), su(50, true, 5, true)};
  for (const Bytes& unit : units) {
    to_worked();
    feed(su(40, true, 127, true));
    Bytes second = unit;
    second[0] = 41 | 0x80;
    feed(second);
    EXPECT_EQ(state(), State::idle);
    std::vector<Bytes> f = probe.take();
    ASSERT_EQ(f.size(), 1u) << hex(unit);
    EXPECT_EQ(hex(f[0]), "FF FF 01 03");
    EXPECT_TRUE(upper->received.empty());
    EXPECT_EQ(link->get_bsn(), 127u);
    EXPECT_EQ(link->statistics().negative_acks, 0u);
  }
}

TEST_F(SlcTest, FaultsAndTimersTakeTheLinkToIdle) {
  link->trace.timers = true;
  link->trace.msu_processing = true;
  struct Case {
    const char* what;
    std::function<void()> cause;
    const char* line;  // on the error or log stream
  };
  const std::vector<Case> cases = {
      {"LSSU in service", [&] { feed(lssu(SS7::SLC::SIOS)); },
       "SS7/L2 [dpc=1, slc=2, trunk=3] (worked): receive lssu: out of service  BSN=127 BIB=1 FSN=127 FIB=1"},
      {"unknown LSSU in service", [&] { feed(lssu(0x2A)); }, "(worked): receive lssu: unknown:2a  BSN="},
      {"T7",
       [&] {
         upper->send(msu(0));
         run_for(11999);
         ASSERT_EQ(state(), State::worked);
         run_for(2);
       },
       "SS7/L2 [dpc=1, slc=2, trunk=3] (worked): T7 expired: 1 packets in RTB."},
      {"T7, the peer repeating its acknowledgement",
       [&] {
         upper->send(msu(0));
         run_for(6000);
         feed(su(127, true, 127, true));  // BSN 127: nothing new acknowledged
         run_for(5999);
         ASSERT_EQ(state(), State::worked);
         run_for(2);
       },
       "SS7/L2 [dpc=1, slc=2, trunk=3] (worked): T7 expired: 1 packets in RTB."},
      {"trunk down",
       [&] {
         link->OnTrunkHardStatus(true);
         ASSERT_EQ(state(), State::worked);
         link->OnTrunkHardStatus(false);
       },
       "SS7/L2 [dpc=1, slc=2, trunk=3] (worked):  transport OFF by low level terminated"},
      {"deactivation", [&] { link->deactivate(); }, ""},
  };
  for (const Case& c : cases) {
    to_worked();
    upper->deactivations.clear();
    StreamCapture cap;
    const std::uint32_t free_before = PacketPool::available();
    c.cause();
    EXPECT_EQ(state(), State::idle) << c.what;
    EXPECT_EQ(PacketPool::available(), free_before) << c.what;  // idle holds no MSU
    if (*c.line) {
      EXPECT_EQ(StreamCapture::count(cap.err(), c.line) + StreamCapture::count(cap.log(), c.line), 1)
          << c.what << "\n" << cap.all();
    }
    EXPECT_EQ(upper->deactivations, std::vector<std::string>{"impossible phasing"}) << c.what;
    std::vector<Bytes> f = probe.take();
    ASSERT_FALSE(f.empty()) << c.what;
    EXPECT_EQ(hex(f.back()), "FF FF 01 03") << c.what;
    EXPECT_EQ(link->rtb_count(), 0) << c.what;
  }

  // Alignment timers: T2 in not aligned, T3 in aligned, T1 in aligned ready.
  struct Timed {
    const char* what;
    Bytes lssu_in;  // empty: none
    unsigned int stays;
    const char* line;
  } timed[] = {
      {"T2", {}, 7000, "(not aligned): T2 expired"},
      {"T3", lssu(SS7::SLC::SIO), 1500, "(aligned): T3 expired"},
      {"T1", lssu(SS7::SLC::SIN), 8200 + 45000, "(aligned ready): T1 expired"},
  };
  for (const Timed& t : timed) {
    upper->deactivations.clear();
    StreamCapture cap;
    link->activate();
    if (!t.lssu_in.empty()) feed(t.lssu_in);
    run_for(t.stays - 1);
    EXPECT_NE(state(), State::idle) << t.what;
    run_for(2);
    EXPECT_EQ(state(), State::idle) << t.what;
    EXPECT_EQ(StreamCapture::count(cap.log(), t.line), 1) << t.what << "\n" << cap.all();
    EXPECT_EQ(upper->deactivations.size(), 1u) << t.what;
    EXPECT_EQ(hex(probe.take().back()), "FF FF 01 03") << t.what;
  }
}

TEST_F(SlcTest, IdleRealignsOnlyOnActivationOrAlignmentLssu) {
  // Entering idle from idle sends SIOS and reports again.
  link->deactivate();
  EXPECT_EQ(hex(probe.take().at(0)), "FF FF 01 03");
  EXPECT_EQ(upper->deactivations, std::vector<std::string>{"impossible phasing"});
  // A trunk going down in idle does nothing.
  StreamCapture cap;
  link->OnTrunkHardStatus(false);
  EXPECT_TRUE(probe.frames.empty());
  EXPECT_EQ(upper->deactivations.size(), 1u);
  // Nothing else makes idle move, and MSUs from level 3 go nowhere.
  for (const Bytes& f : {su(127, true, 127, true), su(127, true, 0, true, msu(0)), lssu(SS7::SLC::SIOS), lssu(7)}) feed(f);
  upper->send(msu(1));
  run_for(60000);
  EXPECT_EQ(state(), State::idle);
  EXPECT_TRUE(probe.frames.empty());
  EXPECT_TRUE(cap.err().empty()) << cap.all();

  struct Case {
    Bytes in;
    State::type to;
    const char* sent;
  } cases[] = {{lssu(SS7::SLC::SIO), State::aligned, "FF FF 01 01"},
               {lssu(SS7::SLC::SIN), State::proving, "FF FF 01 01"},
               {lssu(SS7::SLC::SIE), State::proving, "FF FF 01 01"},
               {Bytes{0xFF, 0xFF, 0x02, SS7::SLC::SIN, 0x00}, State::proving, "FF FF 01 01"}};  // two status octets
  for (const Case& c : cases) {
    link->deactivate();
    probe.take();
    feed(c.in);
    EXPECT_EQ(state(), c.to);
    EXPECT_EQ(hex(probe.take().at(0)), c.sent);
  }
  // Not aligned moves on alignment LSSUs only.
  link->deactivate();
  link->activate();
  feed(lssu(SS7::SLC::SIOS));
  EXPECT_EQ(state(), State::not_aligned);
  feed(lssu(SS7::SLC::SIN));
  probe.take();
  // Activation while aligning is ignored; while in service it is reported again.
  link->activate();
  EXPECT_EQ(state(), State::proving);
  EXPECT_TRUE(probe.frames.empty());
  feed(su(127, true, 127, true));
  const int before = upper->activations;
  link->activate();
  EXPECT_EQ(upper->activations, before + 1);
  EXPECT_EQ(state(), State::worked);
}

TEST_F(SlcTest, MessagesOutsideServiceAreDroppedSilently) {
  StreamCapture cap;
  link->activate();                    // not aligned
  upper->send(msu(0));
  feed(lssu(SS7::SLC::SIO));           // aligned
  upper->send(msu(1));
  feed(lssu(SS7::SLC::SIN));           // proving
  upper->send(msu(2));
  probe.take();
  feed(su(127, true, 127, true));      // worked: nothing left over to send
  std::vector<Bytes> f = probe.take();
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(hex(f[0]), "FF FF 00");
  EXPECT_EQ(hex(f[1]), "FF FF 00");
  EXPECT_TRUE(cap.err().empty()) << cap.all();
}

TEST_F(SlcTest, RefusedMsusWaitForTheTransport) {
  to_worked();
  probe.refusing = true;
  upper->send(msu(0));
  upper->send(msu(1));
  EXPECT_EQ(link->tb_count(), 2u);
  EXPECT_EQ(link->statistics().su_sent, 2u);  // the two FISUs of worked entry
  // A FISU sent meanwhile must not announce the MSU that did not go out.
  probe.refusing = false;
  feed(su(127, true, 0, true, msu(0)));
  EXPECT_EQ(hex(probe.take().at(0)), "80 FF 00");
  StreamCapture cap;
  link->on_hdlc_ready();
  EXPECT_EQ(StreamCapture::count(cap.log(), "(worked): hdlc ready"), 1);
  std::vector<Bytes> f = probe.take();
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(fsn_of(f[0]), 0u);
  EXPECT_EQ(fsn_of(f[1]), 1u);
  // Without a transport nothing is sent and sending says so.
  link->hdlc(nullptr);
  cap.clear();
  upper->send(msu(2));
  EXPECT_EQ(StreamCapture::count(cap.err(), "no HDLC interface attached!!!"), 1);
  EXPECT_EQ(link->tb_count(), 1u);
  // What waits in the TB when the link leaves service is dropped when it
  // returns, with a note.
  link->deactivate();
  link->hdlc(&probe);
  to_worked();
  EXPECT_EQ(StreamCapture::count(cap.err(), "(worked): discard 1 msu in TB"), 1) << cap.all();
  EXPECT_EQ(link->tb_count(), 0u);
}

}  // namespace

namespace {

// A signal unit sent at once, outside the buffers: one that would read as
// a FISU or an LSSU is refused, and so is one whose header no longer fits
// a packet; the edges between go out with the current sequence state.
TEST_F(SlcTest, DirectSendsRefuseWhatCannotGoOutAsAnMsu) {
  to_worked();
  link->trace.msu_processing = true;
  struct Case {
    std::uint32_t size;
    bool sent;
    const char* err;
  } cases[] = {{0, false, "fail to send msu (bad packet)"},
               {1, false, "fail to send msu (bad packet)"},
               {2, false, "fail to send msu (bad packet)"},
               {3, true, ""},
               {packet_max_size - 3, true, ""},
               {packet_max_size - 2, false, "signalling unit too long (65534 octets), not sent"},
               {packet_max_size, false, "signalling unit too long (65536 octets), not sent"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    Packet p;
    p.reserve_head(0);
    if (c.size) std::fill_n(p.put(c.size), c.size, 0x83);
    const std::uint32_t sent_before = link->statistics().su_sent;
    StreamCapture cap;
    EXPECT_EQ(link->send_msu(p), c.sent);
    EXPECT_EQ(StreamCapture::count(cap.err(), c.err), *c.err ? 1 : 0) << cap.all();
    EXPECT_EQ(p.length(), c.size);  // the caller's packet is left as it was
    std::vector<Bytes> f = probe.take();
    EXPECT_EQ(link->statistics().su_sent, sent_before + (c.sent ? 1 : 0));
    if (!c.sent) {
      EXPECT_TRUE(f.empty());
      continue;
    }
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].size(), c.size + 3);
    EXPECT_EQ(hex(Bytes(f[0].begin(), f[0].begin() + 3)), c.size < 63 ? "FF FF 03" : "FF FF 3F");
  }
  // Neither buffer took anything, and the link stays in service.
  EXPECT_EQ(link->tb_count(), 0u);
  EXPECT_EQ(link->statistics().rtb_size, 0u);
  EXPECT_EQ(state(), State::worked);
}

TEST_F(SlcTest, AnEmptyPacketPoolDropsAndCountsFramesInsteadOfEndingTheProcess) {
  to_worked();
  Packet in = ss7test::packet_of(su(127, true, 0, true, msu(0)), 0);
  Packet out = ss7test::packet_of(msu(1), 0);
  std::vector<Packet> hold;
  try {
    for (;;) {
      Packet p;
      p.reserve_head(0);
      hold.push_back(p);
    }
  } catch (const std::bad_alloc&) {
  }
  StreamCapture cap;
  link->on_hdlc_receive(in);  // taken and handed up; its ack finds no buffer
  link->message(out);         // waits in the TB: its frame finds no buffer
  EXPECT_EQ(state(), State::worked);
  EXPECT_EQ(upper->received, std::vector<Bytes>{msu(0)});
  EXPECT_TRUE(probe.frames.empty());
  EXPECT_EQ(link->buffer_shortages(), 2u);
  EXPECT_EQ(link->tb_count(), 1u);
  EXPECT_EQ(StreamCapture::count(cap.err(), "no packet buffer"), 2) << cap.all();
  hold.clear();
  link->on_hdlc_ready();
  std::vector<Bytes> f = probe.take();
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(hex(f[0]).substr(0, 8), "80 80 06");  // FSN 0, acknowledging FSN 0
}

}  // namespace
