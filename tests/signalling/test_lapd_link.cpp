// The data link: frame images, receiving, queues, flow status, transport
// refusals and trace lines.
#include "lapd_harness.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using lapdtest::Owner;
using ISDN::Side;
using Strings = std::vector<std::string>;

class LapdLink : public testsupport::VirtualClockTest {};

TEST_F(LapdLink, FrameImagesBySide) {
  // user side: commands C/R 0, responses C/R 1; network side the opposite.
  Owner user(Side::user), net(Side::network);
  user.link->activate();
  net.link->activate();
  EXPECT_EQ(user.line.take(), Strings({"00 01 7F"}));
  EXPECT_EQ(net.line.take(), Strings({"02 01 7F"}));

  Owner u2(Side::user), n2(Side::network);
  u2.rx("02 01 7F");  // SABME command from the network
  n2.rx("00 01 6F");  // SABME command from the user, P = 0
  EXPECT_EQ(u2.line.take(), Strings({"02 01 73"}));
  EXPECT_EQ(n2.line.take(), Strings({"00 01 63"}));
  EXPECT_EQ(u2.activated, 1);
  EXPECT_EQ(n2.activated, 1);

  u2.send("a");
  n2.send("b");
  EXPECT_EQ(u2.line.take(), Strings({"00 01 00 00 61"}));
  EXPECT_EQ(n2.line.take(), Strings({"02 01 00 00 62"}));

  u2.rx("02 01 00 01 41");  // I command P = 1: RR response F = 1
  n2.rx("00 01 00 01 41");
  EXPECT_EQ(u2.line.take(), Strings({"02 01 01 03"}));
  EXPECT_EQ(n2.line.take(), Strings({"00 01 01 03"}));

  u2.link->deactivate();
  n2.link->deactivate();
  EXPECT_EQ(u2.line.take(), Strings({"00 01 53"}));
  EXPECT_EQ(n2.line.take(), Strings({"02 01 53"}));
}

TEST_F(LapdLink, MalformedFramesAreIgnoredWithoutPendingWork) {
  Owner o(Side::user);
  lapdtest::establish(o);
  o.line.accept = false;
  o.rx("02 01 00 00 41");  // in sequence, P = 0: an RR is owed but refused
  EXPECT_TRUE(o.st().AckRQ);
  o.line.accept = true;
  for (const char* f : {"02", "03 01 01 00", "02 00 01 00", "02 01", "02 01 01", "02 01 00", "02 01 09"}) {
    o.rx(f);
    EXPECT_TRUE(o.line.take().empty()) << f;
  }
  EXPECT_EQ(o.received, Strings({"A"}));
  EXPECT_EQ(o.st().VR, 1u);
  o.rx("02 01 0D 00");  // the fourth supervisory code: ignored, but pending work runs
  EXPECT_EQ(o.line.take(), Strings({"02 01 01 02"}));
  EXPECT_FALSE(o.st().AckRQ);
}

TEST_F(LapdLink, CommandOrResponseByTheSideRule) {
  Owner user(Side::user), net(Side::network);
  lapdtest::establish(user);
  lapdtest::establish(net);
  // C/R = 1: a command at the user side (enquiry answered), a response at
  // the network side (nothing to answer).
  user.rx("02 01 01 01");
  net.rx("02 01 01 01");
  EXPECT_EQ(user.line.take(), Strings({"02 01 01 01"}));
  EXPECT_TRUE(net.line.take().empty());
  EXPECT_EQ(user.st().peerTEI, 0);
  EXPECT_EQ(user.st().peerSAPI, 0);
}

TEST_F(LapdLink, WindowOfSevenAndSequenceWrap) {
  Owner o(Side::user);
  lapdtest::establish(o);
  for (int i = 0; i < 10; ++i) o.send(std::string(1, char('a' + i)));
  Strings sent = o.line.take();
  ASSERT_EQ(sent.size(), 7u);
  EXPECT_EQ(sent.front(), "00 01 00 00 61");
  EXPECT_EQ(sent.back(), "00 01 0C 00 67");
  EXPECT_EQ(o.link->queued(), 3u);
  EXPECT_EQ(o.link->unacknowledged(), 7u);
  EXPECT_TRUE(o.st().QueuedUp);

  o.rx("00 01 01 06");  // RR response N(R) = 3
  EXPECT_EQ(o.line.take(), Strings({"00 01 0E 00 68", "00 01 10 00 69", "00 01 12 00 6A"}));

  // One at a time past 127: N(S) wraps to 0 and the window test follows it.
  unsigned expect_ns = 10;
  o.rx("00 01 01 14");  // everything acknowledged
  for (int i = 0; i < 130; ++i) {
    o.send("x");
    Strings s = o.line.take();
    ASSERT_EQ(s.size(), 1u) << i;
    unsigned ns = std::stoul(s[0].substr(6, 2), nullptr, 16) >> 1;
    EXPECT_EQ(ns, expect_ns % 128) << i;
    ++expect_ns;
    char rr[16];
    std::snprintf(rr, sizeof rr, "00 01 01 %02X", (expect_ns % 128) << 1);
    o.rx(rr);
  }
  EXPECT_EQ(o.st().VS, 12u);
  EXPECT_EQ(o.link->unacknowledged(), 0u);
  EXPECT_EQ(o.link->stats().badConfirm, 0u);
}

// A full window that spans 127 -> 0: acknowledgements, the N(R) check and
// a REJ across the wrap, and the receive side's V(R) passing it with a gap.
TEST_F(LapdLink, WindowAcknowledgementAndRejectAcrossTheWrap) {
  Owner o(Side::user);
  lapdtest::establish(o);
  char f[32];
  for (unsigned n = 1; n <= 124; ++n) {  // V(S) = V(A) = 124
    o.send("x");
    std::snprintf(f, sizeof f, "00 01 01 %02X", (n % 128) << 1);
    o.rx(f);
  }
  o.line.take();
  for (char c = 'a'; c <= 'h'; ++c) o.send(std::string(1, c));
  EXPECT_EQ(o.line.take(), Strings({"00 01 F8 00 61", "00 01 FA 00 62", "00 01 FC 00 63", "00 01 FE 00 64",
                                    "00 01 00 00 65", "00 01 02 00 66", "00 01 04 00 67"}));
  EXPECT_EQ(o.st().VS, 3u);
  EXPECT_EQ(o.link->queued(), 1u);  // the window is full
  o.rx("00 01 01 00");  // N(R) = 0 acknowledges 124..127
  EXPECT_EQ(o.line.take(), Strings({"00 01 06 00 68"}));
  EXPECT_EQ(o.st().VA, 0u);
  EXPECT_EQ(o.link->unacknowledged(), 4u);
  o.rx("00 01 09 02");  // REJ N(R) = 1: 1, 2 and 3 again, oldest first
  EXPECT_EQ(o.line.take(), Strings({"00 01 02 00 66", "00 01 04 00 67", "00 01 06 00 68"}));
  EXPECT_EQ(o.link->stats().retrains, 3u);
  EXPECT_EQ(o.link->stats().badConfirm, 0u);
  EXPECT_EQ(o.state(), ISDN::Multiple_frame_established);
  o.rx("00 01 01 00");  // N(R) = 0 is behind V(A) = 1 now
  EXPECT_EQ(o.link->stats().badConfirm, 1u);
  EXPECT_EQ(o.state(), ISDN::Awaiting_establishment);

  Owner r(Side::user);
  lapdtest::establish(r);
  for (unsigned n = 0; n < 127; ++n) {  // V(R) = 127
    std::snprintf(f, sizeof f, "02 01 %02X 00 41", (n % 128) << 1);
    r.rx(f);
  }
  r.line.take();
  r.rx("02 01 02 00 42");  // N(S) = 1: 127 and 0 are missing
  EXPECT_EQ(r.line.take(), Strings({"02 01 09 FE"}));  // REJ N(R) = 127
  r.rx("02 01 FE 00 43");
  r.rx("02 01 00 01 44");  // N(S) = 0, P = 1
  EXPECT_EQ(r.line.take(), Strings({"02 01 01 00", "02 01 01 03"}));
  EXPECT_EQ(r.st().VR, 1u);
  EXPECT_EQ(r.received.size(), 129u);
  EXPECT_EQ(r.received.back(), "D");
  EXPECT_EQ(r.link->stats().rejected, 1u);
}

TEST_F(LapdLink, CongestionThresholdsAndOverflow) {
  Owner o(Side::user);
  o.link->activate();  // awaiting establishment: messages wait
  o.line.take();
  for (int i = 0; i < 88; ++i) o.send("m");
  EXPECT_TRUE(o.flow.empty());
  o.send("m");  // the 89th
  EXPECT_EQ(o.flow, std::vector<int>({ISDN::LAPD::FlowStatus::congested}));
  for (int i = 89; i < 128; ++i) o.send("m");
  EXPECT_EQ(o.flow.size(), 1u);
  EXPECT_EQ(o.link->queued(), 128u);
  o.send("m");  // the 129th: dropped and counted
  EXPECT_EQ(o.link->queued(), 128u);
  EXPECT_EQ(o.link->stats().outOverflows, 1u);
  EXPECT_EQ(o.link->stats().txMessages, 129u);

  o.rx("00 01 73");  // established: the queue drains as acknowledgements come
  while (o.link->queued() > 0 && o.flow.size() < 2) {
    o.line.take();
    char rr[16];
    std::snprintf(rr, sizeof rr, "00 01 01 %02X", unsigned(o.st().VS) << 1);
    o.rx(rr);
  }
  ASSERT_EQ(o.flow.size(), 2u);
  EXPECT_EQ(o.flow[1], ISDN::LAPD::FlowStatus::normal);
  EXPECT_LE(o.flow_queued[1], 64u);
  EXPECT_GT(o.flow_queued[1], 57u);  // the first pending work at 64 or fewer
  EXPECT_EQ(o.link->GetFlowStatus(), ISDN::LAPD::FlowStatus::normal);
}

TEST_F(LapdLink, RefusedIFrameStaysFirstUntilReady) {
  Owner o(Side::user);
  lapdtest::establish(o);
  o.line.accept = false;
  o.send("a");
  o.send("b");
  EXPECT_EQ(o.link->queued(), 2u);
  EXPECT_EQ(o.link->unacknowledged(), 0u);
  EXPECT_EQ(o.st().VS, 0u);
  EXPECT_TRUE(o.st().QueuedUp);
  o.line.accept = true;
  o.link->on_hdlc_ready();
  EXPECT_EQ(o.line.take(), Strings({"00 01 00 00 61", "00 01 02 00 62"}));
  EXPECT_EQ(o.link->queued(), 0u);

  // No transport at all: nothing goes, nothing is lost.
  o.link->hdlc(nullptr);
  o.send("c");
  EXPECT_EQ(o.link->queued(), 1u);
  o.link->hdlc(&o.line);
  o.link->on_hdlc_ready();
  EXPECT_EQ(o.line.take(), Strings({"00 01 04 00 63"}));
}

TEST_F(LapdLink, RetransmissionCarriesOneFreshHeader) {
  Owner o(Side::user);
  lapdtest::establish(o);
  o.send("a");
  o.send("b");
  o.send("c");
  o.line.take();
  o.rx("02 01 00 00 58");  // the peer's first I frame: VR = 1, RR owed
  EXPECT_EQ(o.line.take(), Strings({"02 01 01 02"}));
  o.rx("00 01 09 00");  // REJ response N(R) = 0 = VA
  // Oldest first, one header each, N(S) from VA again, N(R) = current VR.
  EXPECT_EQ(o.line.take(), Strings({"00 01 00 02 61", "00 01 02 02 62", "00 01 04 02 63"}));
  EXPECT_EQ(o.link->stats().retrains, 3u);
  o.rx("00 01 09 02");  // REJ N(R) = 1: the two newest again
  EXPECT_EQ(o.line.take(), Strings({"00 01 02 02 62", "00 01 04 02 63"}));
  EXPECT_EQ(o.link->stats().retrains, 5u);
}

// A transport that keeps its own handle on every frame it takes, as a
// driver queue would: the link's kept copies are then shared.
class HoldingLine : public lapdtest::RecordingLine {
 public:
  bool hdlc_transmit(Packet& f) override {
    held.push_back(f);
    return RecordingLine::hdlc_transmit(f);
  }
  std::vector<Packet> held;
};

TEST_F(LapdLink, AFrameLostToAnEmptyPoolIsAnErrorNotARetrain) {
  Owner o(Side::user);
  lapdtest::establish(o);
  HoldingLine line;
  o.link->hdlc(&line);
  o.send("a");
  o.send("b");
  EXPECT_EQ(line.take().size(), 2u);
  Packet rej = lapdtest::frame("00 01 09 00");  // REJ response N(R) = 0
  std::vector<Packet> pool;
  for (Packet p; p.try_reserve_head(0); p = Packet()) pool.push_back(p);
  o.link->receive(rej);  // both frames need a copy to lose their header
  pool.clear();
  EXPECT_EQ(o.link->stats().errors, 2u);
  EXPECT_EQ(o.link->stats().retrains, 0u);
  EXPECT_TRUE(line.take().empty());
}

TEST_F(LapdLink, EmptyMessageOnlyCounts) {
  Owner o(Side::user);
  lapdtest::establish(o);
  Packet empty;
  o.link->message(empty);
  Packet window = lapdtest::message("");
  o.link->message(window);
  EXPECT_EQ(o.link->stats().emptyMessages, 2u);
  EXPECT_EQ(o.link->stats().txMessages, 2u);
  EXPECT_EQ(o.link->queued(), 0u);
  EXPECT_TRUE(o.line.take().empty());
}

TEST_F(LapdLink, MessageWithoutHeadRoomIsFramedOnce) {
  Owner o(Side::user);
  lapdtest::establish(o);
  Packet bare;
  bare.reserve_head(0);
  bare.put8(0x41);
  bare.put8(0x42);
  o.link->message(bare);
  EXPECT_EQ(o.line.take(), Strings({"00 01 00 00 41 42"}));
  EXPECT_EQ(lapdtest::hex(bare), "41 42");  // the caller's packet is not touched

  // The copy has room for the largest header in front: a message that
  // fills the rest of a packet goes out whole, one octet more is dropped
  // and counted.
  for (std::uint32_t size : {packet_max_size - 4, packet_max_size - 3}) {
    SCOPED_TRACE(size);
    Packet big;
    big.reserve_head(0);
    std::fill_n(big.put(size), size, 0x41);
    const std::uint32_t errors = o.link->stats().errors;
    o.link->message(big);
    const bool fits = size == packet_max_size - 4;
    std::vector<std::string> sent = o.line.take();
    ASSERT_EQ(sent.size(), fits ? 1u : 0u);
    if (fits) {
      EXPECT_EQ(sent[0].size(), (size + 4) * 3 - 1);
      EXPECT_EQ(sent[0].substr(0, 11), "00 01 02 00");
    }
    EXPECT_EQ(o.link->stats().errors, errors + (fits ? 0 : 1));
    EXPECT_EQ(o.link->queued(), 0u);
  }
}

TEST_F(LapdLink, TraceLinesByLogLevel) {
  using testsupport::StreamCapture;
  struct Row {
    unsigned level;
    bool establish, change, frames, recovery_change;
  };
  const Row rows[] = {
      {0, false, false, false, false},
      {1, true, false, false, false},
      {2, true, true, false, false},
      {3, true, true, true, false},
      {4, true, true, true, true},
  };
  for (const Row& r : rows) {
    StreamCapture cap;
    {
      Owner o(Side::user, r.level);
      o.link->set_linkno(3);
      o.link->activate();
      o.rx("00 01 73");
      o.link->set_log(r.level);
      o.send("a");
      o.rx("02 01 01 01");  // keeps it established
      o.line.accept = false;
      o.rx("02 01 01 01");
      run_for(1000);  // T200 of "a": an enquiry, and "Timer recovery"
      EXPECT_EQ(o.state(), ISDN::Timer_recovery) << r.level;
    }
    const auto& log = cap.log();
    EXPECT_EQ(StreamCapture::has(log, "LAPD[3] (TEI assigned): DL-ESTABLISH"), r.establish) << r.level;
    EXPECT_EQ(StreamCapture::has(log, "LAPD[3] : change state \"TEI assigned\" -> \"Awaiting establishment\""),
              r.change)
        << r.level;
    EXPECT_EQ(StreamCapture::has(log, "LAPD[3] (TEI assigned): tx:  00 01 7F"), r.frames) << r.level;
    EXPECT_EQ(StreamCapture::has(log, "frame user->network SFrame tei = 0 (7F )"), r.frames) << r.level;
    EXPECT_EQ(StreamCapture::has(log, "LAPD[3] (Awaiting establishment): rx: 00 01 73"), r.frames) << r.level;
    EXPECT_EQ(StreamCapture::has(log, "frame network->user SFrame tei = 0 (73 )"), r.frames) << r.level;
    EXPECT_EQ(StreamCapture::has(log, "LAPD[3] (Multiple frame established): add to tx queue: 61"), r.frames)
        << r.level << cap.all();
    EXPECT_EQ(StreamCapture::has(log, "LAPD[3] (Multiple frame established): tx full"), true) << r.level;
    EXPECT_EQ(StreamCapture::has(log, "LAPD[3] (Multiple frame established): RR command pf=1"), r.level > 3);
    EXPECT_EQ(
        StreamCapture::has(log, "LAPD[3] : change state \"Multiple frame established\" -> \"Timer recovery\""),
        r.recovery_change)
        << r.level;
  }
}

}  // namespace
