// The network-side basic-rate manager against three user-side terminals on
// a simulated bus, on the virtual clock.
#include "lapd_harness.h"
#include "signalling/lapd/hdlc_bus.h"
#include "signalling/lapd/lapd_nt.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {

using lapdtest::Owner;
using ISDN::Side;
using Strings = std::vector<std::string>;

class LapdNt : public testsupport::VirtualClockTest {
 protected:
  void SetUp() override {
    VirtualClockTest::SetUp();
    bus.reset(new HdlcBus(3));
    nt = new ISDN::LAPD_NT;
    bus->add_protocol_tail(nt);
    bus->upper([this](Packet& m) { up.push_back(lapdtest::hex(m)); });
    bus->tap([this](int from, const Packet& f) {
      frames.push_back((from < 0 ? std::string("N ") : "T" + std::to_string(from) + " ") + lapdtest::hex(f));
    });
    for (unsigned i = 0; i < 3; ++i) {
      term.emplace_back(new Owner(Side::user, 0, true));
      term[i]->link->hdlc(&bus->terminal(i));
      bus->terminal(i).bind(term[i]->link);
    }
    // The terminals ask for their TEIs as the line comes up, so the check
    // at activation finds them waiting (a new link's TEI 0 would answer it).
    for (unsigned i = 0; i < 3; ++i) term[i]->link->BeginTeiAssignProcedure();
    activated_at = now_ms();
    nt->activate();
  }
  void TearDown() override {
    term.clear();
    bus.reset();
    VirtualClockTest::TearDown();
  }

  // Terminal i asks for a TEI and the exchange runs its course.
  void assign(unsigned i) {
    term[i]->link->BeginTeiAssignProcedure();
    run_for(20);
  }
  void assign_all() { run_for(20); }
  // Network frames since the last call.
  Strings network_frames() {
    Strings v;
    for (const std::string& f : frames)
      if (f[0] == 'N') v.push_back(f.substr(2));
    frames.clear();
    return v;
  }
  void from_above(const std::string& hex) {
    Packet p = lapdtest::frame(hex);
    nt->message(p);
  }
  static std::string q931(unsigned callref, unsigned type) {
    char b[32];
    std::snprintf(b, sizeof b, "08 01 %02X %02X", callref, type);
    return b;
  }

  std::unique_ptr<HdlcBus> bus;
  ISDN::LAPD_NT* nt = nullptr;  // owned by the bus
  std::vector<std::unique_ptr<Owner>> term;
  Strings up;
  Strings frames;
  std::uint32_t activated_at = 0;
};

TEST_F(LapdNt, IdentitiesAreHandedOutAndSetUp) {
  assign_all();
  for (unsigned i = 0; i < 3; ++i) {
    EXPECT_EQ(term[i]->st().ownTEI, 64 + int(i));
    EXPECT_EQ(term[i]->state(), ISDN::Multiple_frame_established) << i;
    EXPECT_EQ(term[i]->activated, 1);
  }
  // Each answer carries its request's Ri octets back, and SABME follows at once.
  int answers = 0;
  for (std::size_t k = 0; k + 1 < frames.size(); ++k) {
    const std::string& f = frames[k];
    if (f.compare(0, 14, "N FE FF 03 0F ") != 0 || f.substr(20, 2) != "02") continue;
    unsigned tei = std::stoul(f.substr(23, 2), nullptr, 16) >> 1;
    unsigned i = tei - 64;
    ASSERT_LT(i, 3u);
    char ri[8];
    std::snprintf(ri, sizeof ri, "%02X %02X", term[i]->link->ri() & 0xFF, term[i]->link->ri() >> 8);
    EXPECT_EQ(f.substr(14, 5), ri);
    char sabme[24];
    std::snprintf(sabme, sizeof sabme, "N 02 %02X 7F", (tei << 1) | 1);
    EXPECT_EQ(frames[k + 1], sabme);
    ++answers;
  }
  EXPECT_EQ(answers, 3);

  // 64 released by its terminal: the next request gets 64 again.
  term[0]->link->deactivate();
  run_for(20);
  EXPECT_EQ(nt->find(64), nullptr);
  assign(0);
  EXPECT_NE(nt->find(64), nullptr);
  EXPECT_EQ(term[0]->st().ownTEI, 64);

  // Non-automatic values: 70 and 64 are denied with their value, 10 and 63
  // get no answer, nor does another entity or a message without Ai.
  network_frames();
  bus->inject(2, lapdtest::frame("FC FF 03 0F 34 12 01 8D"));
  bus->inject(2, lapdtest::frame("FC FF 03 0F 35 12 01 15"));
  bus->inject(2, lapdtest::frame("FC FF 03 0F 36 12 01 81"));
  bus->inject(2, lapdtest::frame("FC FF 03 0F 37 12 01 7F"));
  bus->inject(2, lapdtest::frame("FC FF 03 0E 38 12 01 8D"));
  bus->inject(2, lapdtest::frame("FC FF 03 0F 39 12 01"));
  run_for(20);
  EXPECT_EQ(network_frames(), Strings({"FE FF 03 0F 34 12 03 8D", "FE FF 03 0F 36 12 03 81"}));

  // Five more requests fill the eight users; then a ninth is denied and a
  // frame for an unknown TEI is told twice to go away.
  testsupport::StreamCapture cap;
  nt->set_log(1);
  for (int k = 0; k < 5; ++k) bus->inject(2, lapdtest::frame("FC FF 03 0F 00 00 01 FF"));
  run_for(20);
  bus->inject(2, lapdtest::frame("FC FF 03 0F 77 00 01 FF"));
  bus->inject(2, lapdtest::frame("02 C9 01 00"));  // TEI 100
  run_for(20);
  Strings sent = network_frames();
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(Strings(sent.end() - 3, sent.end()),
            Strings({"FE FF 03 0F 77 00 03 FF", "FE FF 03 0F 00 00 06 C9", "FE FF 03 0F 00 00 06 C9"}));
  EXPECT_TRUE(testsupport::StreamCapture::has(cap.log(), "LAPD(NT BRI): recieved identity request,TEI assigned:71"));
  EXPECT_TRUE(
      testsupport::StreamCapture::has(cap.log(), "LAPD(NT BRI): recieved identity request, but all TEI values is ussigned"));
  EXPECT_TRUE(testsupport::StreamCapture::has(cap.log(), "LAPD(NT BRI): recieved packet with unassigned TEI=100,removed"));
}

TEST_F(LapdNt, PeriodicCheckKeepsAnsweringTerminals) {
  assign_all();
  network_frames();
  testsupport::StreamCapture cap;
  nt->set_log(2);
  run_for(activated_at + 59990 - now_ms());
  bus->cut(1);  // terminal 1 answers polls until the check, not the check
  run_for(110);
  Strings sent = network_frames();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "FE FF 03 0F 00 00 04 FF"), 1);
  EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [](const std::string& f) { return f.substr(6, 2) == "7F"; }), 0);
  run_for(2000);
  EXPECT_NE(nt->find(64), nullptr);
  EXPECT_EQ(nt->find(65), nullptr);  // no answer within 2000 ms
  EXPECT_NE(nt->find(66), nullptr);
  EXPECT_EQ(term[0]->activated, 1);  // kept its link: no new SABME
  EXPECT_TRUE(testsupport::StreamCapture::has(cap.log(), "LAPD(NT BRI): TEI 64 checked"));
  EXPECT_TRUE(testsupport::StreamCapture::has(cap.log(), "LAPD_user(NT BRI)[Tei=65,wait_answer,check] unassigned"));
  // A late answer takes a free user for its TEI, which sets the link up.
  network_frames();
  bus->inject(2, lapdtest::frame("FC FF 03 0F 00 01 05 83"));
  run_for(10);
  EXPECT_NE(nt->find(65), nullptr);
  EXPECT_EQ(network_frames(), Strings({"02 83 7F"}));
  // Its line heads with the state it leaves.
  EXPECT_TRUE(testsupport::StreamCapture::has(cap.log(), "LAPD_user(NT BRI)[unassigned]: assigned"));

  // A repeated response is ignored; one with another Ri removes the TEI.
  const ISDN::LAPD_NT_user* u = nt->find(64);
  char again[64], other[64];
  std::snprintf(again, sizeof again, "FC FF 03 0F %02X %02X 05 81", u->check_ref() & 0xFF, u->check_ref() >> 8);
  std::snprintf(other, sizeof other, "FC FF 03 0F %02X %02X 05 81", (u->check_ref() + 1) & 0xFF, u->check_ref() >> 8);
  network_frames();
  bus->inject(2, lapdtest::frame(again));
  run_for(10);
  EXPECT_NE(nt->find(64), nullptr);
  sent = network_frames();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "FE FF 03 0F 00 00 06 81"), 0);
  bus->inject(2, lapdtest::frame(other));
  run_for(1);
  EXPECT_EQ(nt->find(64), nullptr);
  run_for(10);
  sent = network_frames();
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(Strings(sent.begin(), sent.begin() + 2), Strings({"FE FF 03 0F 00 00 06 81", "FE FF 03 0F 00 00 06 81"}));
  // The terminal holding 64 is told too, and asks again.
  EXPECT_EQ(term[0]->releases, Strings({"error (MDL-REMOVE received)"}));
  EXPECT_TRUE(testsupport::StreamCapture::has(cap.log(), "LAPD(NT BRI): recieved check response with dublicated Ai=64,removed"));

  // A verify request checks at once and restarts the period.
  std::uint32_t at = now_ms();
  bus->inject(2, lapdtest::frame("FC FF 03 0F 00 00 07 FF"));
  run_for(10);
  EXPECT_EQ(network_frames(), Strings({"FE FF 03 0F 00 00 04 FF"}));
  run_for(59980);
  sent = network_frames();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "FE FF 03 0F 00 00 04 FF"), 0) << now_ms() - at;
  run_for(30);
  sent = network_frames();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "FE FF 03 0F 00 00 04 FF"), 1);
}

// Ri 0 is a reference like any other: a TEI handed out by an identity
// request has had no check response accepted, so a response with Ri 0 for it
// is not a repeat but a second terminal on the TEI, and the TEI goes.
TEST_F(LapdNt, CheckReferenceZeroIsNotTheUnsetOne) {
  assign_all();
  ASSERT_NE(nt->find(64), nullptr);
  network_frames();
  bus->inject(2, lapdtest::frame("FC FF 03 0F 00 00 05 81"));
  run_for(1);
  EXPECT_EQ(nt->find(64), nullptr) << "a response nobody sent before taken for a repeat";
  run_for(10);
  Strings sent = network_frames();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "FE FF 03 0F 00 00 06 81"), 2);

  // Nor does a terminal given the TEI anew inherit the reference accepted
  // from the one before it.
  bus->inject(2, lapdtest::frame("FC FF 03 0F 00 00 07 FF"));  // check them all now
  run_for(10);
  const ISDN::LAPD_NT_user* u = nt->find(65);
  ASSERT_NE(u, nullptr);
  ASSERT_TRUE(u->has_check_ref());
  const unsigned old_ri = u->check_ref();
  char other[64], old[64];
  std::snprintf(other, sizeof other, "FC FF 03 0F %02X %02X 05 83", (old_ri + 1) & 0xFF, ((old_ri + 1) >> 8) & 0xFF);
  std::snprintf(old, sizeof old, "FC FF 03 0F %02X %02X 05 83", old_ri & 0xFF, old_ri >> 8);
  bus->inject(2, lapdtest::frame(other));
  run_for(1);
  ASSERT_EQ(nt->find(65), nullptr);
  ASSERT_NE(nt->find(64), nullptr);  // so the next request is given 65
  bus->inject(2, lapdtest::frame("FC FF 03 0F 21 43 01 FF"));  // a new terminal: 65 again
  run_for(1);
  ASSERT_NE(nt->find(65), nullptr);
  EXPECT_FALSE(nt->find(65)->has_check_ref());
  bus->inject(2, lapdtest::frame(old));
  run_for(1);
  EXPECT_EQ(nt->find(65), nullptr) << "the previous terminal's reference taken for this one's";
}

TEST_F(LapdNt, MessagesAreRoutedByCallReference) {
  assign_all();
  frames.clear();
  for (unsigned i = 0; i < 3; ++i) term[i]->send(std::string("\x08\x01") + char(i + 1) + "\x7B");
  term[0]->send("ab");  // shorter than a call reference: still passed up
  term[0]->send(std::string("\x08\x01\x09", 3));  // nor do three octets make one
  run_for(50);
  EXPECT_EQ(up, Strings({"08 01 01 7B", "08 01 02 7B", "08 01 03 7B", "61 62", "08 01 09"}));
  for (unsigned i = 0; i < 3; ++i) {
    EXPECT_EQ(term[i]->link->unacknowledged(), 0u) << i;  // answered by RR, not by a poll
    EXPECT_EQ(term[i]->link->stats().T200, 0u) << i;
  }
  EXPECT_EQ(nt->find(64)->callref(), 1);
  // Each I frame is acknowledged by an RR response with F clear.
  EXPECT_EQ(network_frames(), Strings({"00 81 01 02", "00 83 01 02", "00 85 01 02", "00 81 01 04", "00 81 01 06"}));

  frames.clear();
  from_above(q931(0x05, 0x05));  // SETUP: once, to everyone
  from_above(q931(0x82, 0x7D));  // terminal 1's call
  from_above(q931(0x09, 0x7D));  // nobody's call: dropped
  from_above("08 01");           // too short: dropped
  from_above("08 01 82");        // three octets: dropped too
  run_for(50);
  Strings sent = network_frames();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "02 FF 03 08 01 05 05"), 1);
  for (unsigned i = 0; i < 3; ++i) {
    ASSERT_GE(term[i]->received.size(), 1u);
    EXPECT_EQ(term[i]->received[0], std::string("\x08\x01\x05\x05", 4));
  }
  EXPECT_EQ(term[1]->received.size(), 2u);
  EXPECT_EQ(term[1]->received[1], std::string("\x08\x01\x82\x7D", 4));
  EXPECT_EQ(term[0]->received.size(), 1u);
  EXPECT_EQ(term[2]->received.size(), 1u);

  // Terminal 2 uses terminal 0's call reference too: the first takes it.
  term[2]->send(std::string("\x08\x01\x01\x7B", 4));
  run_for(50);
  from_above(q931(0x81, 0x7D));
  run_for(50);
  EXPECT_EQ(term[0]->received.size(), 2u);
  EXPECT_EQ(term[2]->received.size(), 1u);

  // A message that fills a frame to its last octet goes; one octet more is
  // dropped, never written past the frame.
  Packet probe;
  nt->prepare_head(probe);
  for (std::uint32_t extra : {0u, 1u}) {
    Packet big;
    big.reserve_head(0);
    for (std::uint8_t o : {0x08, 0x01, 0x81}) big.put8(o);
    while (big.length() < probe.tailroom() - 4 + extra) big.put8(0x5A);
    nt->message(big);
    run_for(50);
  }
  ASSERT_EQ(term[0]->received.size(), 3u);
  EXPECT_EQ(term[0]->received[2].size(), probe.tailroom() - 4);

  // With the packet pool empty, whatever needs a new frame is dropped: a
  // SETUP, a call's message, an identity assignment and its SABME, an RR.
  Packet setup = lapdtest::frame(q931(0x05, 0x05)), call = lapdtest::frame(q931(0x81, 0x7E));
  Packet request = lapdtest::frame("FC FF 03 0F 00 00 01 FF"), poll = lapdtest::frame("00 81 01 01");
  frames.clear();
  {
    std::vector<Packet> pool;
    for (Packet p; p.try_reserve_head(0); p = Packet()) pool.push_back(p);
    nt->message(setup);
    nt->message(call);
    nt->receive(request);
    nt->receive(poll);
  }
  EXPECT_TRUE(network_frames().empty());

  // A terminal on TEI 72 makes call 9 and leaves; a new one (TEI 90) takes
  // its user. Call 9 is nobody's now: its next message goes nowhere.
  for (const char* f : {"00 91 01 00", "00 91 00 00 08 01 09 7B", "00 91 53"}) bus->inject(2, lapdtest::frame(f));
  run_for(10);
  ASSERT_EQ(nt->find(72), nullptr);
  bus->inject(2, lapdtest::frame("00 B5 01 00"));  // RR from TEI 90
  run_for(10);
  ASSERT_NE(nt->find(90), nullptr);
  EXPECT_EQ(nt->find(90)->callref(), 0);
  frames.clear();
  from_above(q931(0x89, 0x7D));
  run_for(50);
  EXPECT_EQ(network_frames(), Strings{});
}

// Call reference 0 (the global one) is a value like any other: a terminal
// that has sent nothing yet holds none, so the controller's message for it
// reaches only a terminal that used it, or nobody.
TEST_F(LapdNt, CallReferenceZeroIsNotTheUnsetOne) {
  assign_all();
  frames.clear();
  from_above(q931(0x80, 0x4E));
  run_for(50);
  EXPECT_EQ(network_frames(), Strings{}) << "a call reference no terminal has used";
  for (unsigned i = 0; i < 3; ++i) EXPECT_TRUE(term[i]->received.empty()) << i;

  term[2]->send(std::string("\x08\x01\x00\x46", 4));
  run_for(50);
  ASSERT_EQ(up, Strings({"08 01 00 46"}));
  from_above(q931(0x80, 0x4E));
  run_for(50);
  EXPECT_TRUE(term[0]->received.empty());
  EXPECT_TRUE(term[1]->received.empty());
  ASSERT_EQ(term[2]->received.size(), 1u);
  EXPECT_EQ(term[2]->received[0], std::string("\x08\x01\x80\x4E", 4));
}

// Both directions past 127 -> 0, one exchange at a time: the manager's
// numbers and the terminal's wrap together, nothing is lost, repeated or
// taken for a sequence error.
TEST_F(LapdNt, SequenceNumbersWrapInBothDirections) {
  assign_all();
  up.clear();
  for (unsigned k = 0; k < 140; ++k) {
    term[0]->send(std::string("\x08\x01\x01", 3) + char(k));
    run_for(20);
    char n[4];
    std::snprintf(n, sizeof n, "%02X", k);
    from_above(q931(0x81, 0x7D) + " " + n);  // a SETUP would be broadcast
    run_for(20);
  }
  ASSERT_EQ(up.size(), 140u);
  ASSERT_EQ(term[0]->received.size(), 140u);
  EXPECT_EQ(up[139], "08 01 01 8B");
  EXPECT_EQ(term[0]->received[139], std::string("\x08\x01\x81\x7D\x8B", 5));
  EXPECT_EQ(nt->find(64)->vs(), 12u);
  EXPECT_EQ(nt->find(64)->va(), 12u);
  EXPECT_EQ(term[0]->st().VS, 12u);
  EXPECT_EQ(term[0]->st().VR, 12u);
  EXPECT_EQ(term[0]->link->stats().T200, 0u);
  EXPECT_EQ(term[0]->link->stats().badConfirm, 0u);
  EXPECT_EQ(term[0]->link->stats().rejected, 0u);
  EXPECT_EQ(term[0]->state(), ISDN::Multiple_frame_established);
}

TEST_F(LapdNt, BusyTerminalGetsHeldMessagesTogether) {
  assign_all();
  term[0]->send(std::string("\x08\x01\x01\x7B", 4));
  run_for(50);
  frames.clear();
  bus->inject(0, lapdtest::frame("02 81 05 00"));  // RNR response, N(R) 0
  run_for(10);
  from_above(q931(0x01, 0x45));
  from_above(q931(0x01, 0x4D));
  run_for(50);
  EXPECT_TRUE(network_frames().empty());
  EXPECT_EQ(nt->find(64)->held(), 2u);
  // A message from the busy terminal is taken; what waits for it still waits.
  term[0]->send(std::string("\x08\x01\x01\x7C", 4));
  run_for(50);
  EXPECT_EQ(network_frames(), Strings({"00 81 01 04"}));
  EXPECT_EQ(nt->find(64)->held(), 2u);
  bus->inject(0, lapdtest::frame("02 81 01 00"));  // RR: not busy any more
  run_for(50);
  Strings sent = network_frames();
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent[0], "02 81 00 05 08 01 01 45");
  EXPECT_EQ(sent[1], "02 81 02 05 08 01 01 4D");
  EXPECT_EQ(term[0]->received, Strings({std::string("\x08\x01\x01\x45", 4), std::string("\x08\x01\x01\x4D", 4)}));
}

TEST_F(LapdNt, IdleTerminalIsPolledAndLostAfterFourExpiries) {
  assign_all();
  frames.clear();
  std::uint32_t start = now_ms();
  run_for(10000);
  Strings sent = network_frames();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "02 81 01 01"), 1) << now_ms() - start;  // RR command P = 1
  EXPECT_NE(nt->find(64), nullptr);

  testsupport::StreamCapture cap;
  nt->set_log(2);
  bus->cut(0);
  run_for(10000);
  EXPECT_NE(nt->find(64), nullptr);
  run_for(3000);  // three T200 expiries, each polling again
  sent = network_frames();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "02 81 01 01"), 4);
  EXPECT_NE(nt->find(64), nullptr);
  run_for(1000);  // the fourth
  EXPECT_EQ(nt->find(64), nullptr);
  EXPECT_TRUE(testsupport::StreamCapture::has(cap.log(), "LAPD_user(NT BRI)[Tei=64,wait_answer] T200 expiried N200 times"));
}

TEST_F(LapdNt, OutOfSequenceFrameIsRejectedButItsAcknowledgementCounts) {
  assign_all();
  run_for(10);
  frames.clear();
  bus->inject(1, lapdtest::frame("00 83 0A 01 08 01 07 7B"));  // N(S) 5, P = 1, N(R) 0
  run_for(10);
  EXPECT_EQ(network_frames(), Strings({"00 83 09 01"}));  // REJ F = 1, V(R) 0
  EXPECT_TRUE(up.empty());
  EXPECT_NE(nt->find(65), nullptr);
  bus->inject(1, lapdtest::frame("00 83 00 01 08 01 07 7B"));  // in sequence, P = 1
  run_for(10);
  // RR F = 1, V(R) 1 (terminal 1's own link, which never sent that frame, then sets up again)
  const Strings answer = network_frames();
  EXPECT_EQ(answer.empty() ? "" : answer[0], "00 83 01 03");
  EXPECT_EQ(up.size(), 1u);
  bus->inject(1, lapdtest::frame("00 83 0A 28 08 01 07 7B"));  // N(R) 20: not sent yet
  run_for(10);
  EXPECT_EQ(nt->find(65), nullptr);
}

// Decided: a resent frame carries the current N(R). With the one it was
// first sent with, the terminal (which has seen a later one meanwhile) takes
// it for an N(R) error and sets the link up again.
TEST_F(LapdNt, LostFrameIsResentWithTheCurrentAcknowledgement) {
  assign_all();
  term[0]->send(std::string("\x08\x01\x01\x7B", 4));
  run_for(20);
  bus->cut(0);
  from_above(q931(0x01, 0x01));  // lost
  run_for(1);
  bus->cut(0, false);
  term[0]->send(std::string("\x08\x01\x01\x02", 4));  // the manager's V(R) moves on
  run_for(20);
  from_above(q931(0x01, 0x07));  // out of sequence at the terminal: REJ
  run_for(3000);
  EXPECT_EQ(term[0]->received, Strings({std::string("\x08\x01\x01\x01", 4), std::string("\x08\x01\x01\x07", 4)}));
  EXPECT_EQ(std::count(term[0]->statuses.begin(), term[0]->statuses.end(), "Other - N(R) error"), 0);
  EXPECT_EQ(term[0]->activated, 1);
}

// A busy terminal's queue keeps the newest messages: past its limit the
// oldest goes.
TEST_F(LapdNt, HeldMessagesPastTheLimitLoseTheOldest) {
  assign_all();
  term[0]->send(std::string("\x08\x01\x01\x7B", 4));
  run_for(50);
  bus->inject(0, lapdtest::frame("02 81 05 00"));  // RNR response, N(R) 0
  run_for(10);
  for (unsigned k = 0; k <= ISDN::LAPD_NT_user::held_limit; ++k) from_above(q931(0x01, 0x10 + k));
  EXPECT_EQ(nt->find(64)->held(), ISDN::LAPD_NT_user::held_limit);
  frames.clear();
  bus->inject(0, lapdtest::frame("02 81 01 00"));  // RR: not busy any more
  run_for(10);
  const Strings sent = network_frames();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent[0], "02 81 00 03 08 01 01 11");
}

// Messages held behind a full ack queue do not put off T200: the frames
// waiting for their acknowledgement are sent again on time.
TEST_F(LapdNt, HeldMessagesDoNotPutOffTheRetransmission) {
  assign_all();
  term[0]->send(std::string("\x08\x01\x01\x7B", 4));
  run_for(20);
  bus->cut(0);
  for (int k = 0; k < 7; ++k) from_above(q931(0x01, 0x10 + k));
  frames.clear();
  run_for(900);
  from_above(q931(0x01, 0x20));
  EXPECT_EQ(nt->find(64)->held(), 1u);
  run_for(150);
  const Strings sent = network_frames();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "02 81 00 03 08 01 01 10"), 1) << testing::PrintToString(sent);
}

// Seven frames unacknowledged: the next messages wait in the out queue and go
// as acknowledgements come, none lost.
TEST_F(LapdNt, AckQueueFullHoldsMessages) {
  assign_all();
  term[0]->send(std::string("\x08\x01\x01\x7B", 4));
  run_for(20);
  bus->cut(0);
  for (int k = 0; k < 9; ++k) from_above(q931(0x01, 0x10 + k));
  EXPECT_EQ(nt->find(64)->unacknowledged(), 7u);
  EXPECT_EQ(nt->find(64)->held(), 2u);
  run_for(1);
  bus->cut(0, false);
  run_for(5000);
  ASSERT_EQ(term[0]->received.size(), 9u);
  for (int k = 0; k < 9; ++k) EXPECT_EQ(term[0]->received[k][3], char(0x10 + k));
  EXPECT_EQ(nt->find(64)->held(), 0u);
  EXPECT_EQ(term[0]->activated, 1);
}

// An acknowledgement of part of what was sent keeps T200 running for the
// rest: the unacknowledged frame is sent again within a second, not left to
// the idle poll (whose answer would only acknowledge the same part again).
TEST_F(LapdNt, PartialAcknowledgementKeepsRetransmitting) {
  assign_all();
  term[0]->send(std::string("\x08\x01\x01\x7B", 4));
  run_for(20);
  bus->cut(0);
  from_above(q931(0x01, 0x01));
  from_above(q931(0x01, 0x02));
  run_for(5);
  frames.clear();
  bus->inject(1, lapdtest::frame("02 81 01 02"));  // as terminal 0: RR response N(R) 1
  run_for(1100);
  Strings sent = network_frames();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "02 81 02 03 08 01 01 02"), 1);
  EXPECT_EQ(nt->find(64)->state(), ISDN::LAPD_NT_user::wait_answer);
}

// A REJ acknowledges what came before its N(R), as an RR would: only the
// frames from N(R) on are sent again, and the acknowledged ones leave the
// ack queue (which holds only seven).
TEST_F(LapdNt, RejectAcknowledgesBeforeResending) {
  assign_all();
  term[0]->send(std::string("\x08\x01\x01\x7B", 4));
  run_for(20);
  bus->cut(0);
  for (unsigned type : {0x01u, 0x02u, 0x03u}) from_above(q931(0x01, type));
  run_for(5);
  ASSERT_EQ(nt->find(64)->unacknowledged(), 3u);
  frames.clear();
  bus->inject(1, lapdtest::frame("02 81 09 04"));  // as terminal 0: REJ response N(R) 2
  run_for(5);
  EXPECT_EQ(network_frames(), Strings({"02 81 04 03 08 01 01 03"}));
  EXPECT_EQ(nt->find(64)->unacknowledged(), 1u);
  EXPECT_EQ(nt->find(64)->state(), ISDN::LAPD_NT_user::wait_answer);
}

// A frame for a TEI no terminal holds takes a free user, which sets the link
// up and then handles the frame; the terminal's unnumbered frames by their
// C/R bit (commands carry C/R 0 from a terminal), and its supervisory
// frames naming a frame never sent; a broadcast UI frame on
// another SAPI than TEI management goes up as it is. Frames too short or
// with a bad address, and broadcast frames other than UI, are dropped.
TEST_F(LapdNt, TerminalUnnumberedFramesAndFramesForAnUnknownTei) {
  assign_all();
  frames.clear();
  struct Step {
    const char* frame;  // from terminal 2, TEI 72 unless said
    Strings sent;
    bool assigned;
  };
  const Step steps[] = {
      {"00 91", {}, false},                 // no control octet: dropped
      {"01 91 01 00", {}, false},           // EA0 set in octet 1
      {"00 90 01 00", {}, false},           // EA1 clear in octet 2
      {"00 91 01 00", {"02 91 7F"}, true},  // RR command: TEI 72 taken, SABME
      {"00 91 7F", {"00 91 73"}, true},     // SABME P = 1: UA F = 1
      {"00 91 6F", {}, true},               // SABME P = 0: no answer
      {"00 91 00 00", {"00 91 01 02"}, true},  // I frame, no information: taken, acknowledged
      {"00 91 02 01 08 01 09", {"00 91 01 05"}, true},  // I frame P = 1: one RR, F = 1
      {"00 91 01", {}, true},               // RR without N(R): ignored
      {"02 91 7F", {}, true},               // SABME as a response: ignored
      {"02 91 00 00 08 01 05 07", {}, true},  // I frame as a response: ignored
      {"00 91 BF", {}, true},               // XID: logged only
      {"00 91 00", {}, true},               // I frame without N(R): ignored
      {"00 91 43", {}, false},              // DISC P = 0: released, no answer
      {"00 91 01 00", {"02 91 7F"}, true},  // taken again
      {"00 91 53", {"00 91 73"}, false},    // DISC P = 1: UA F = 1
      {"00 91 01 00", {"02 91 7F"}, true},  // taken again
      {"00 91 1F", {}, true},               // DM as a command: ignored
      {"02 91 1F", {}, false},              // DM F = 1
      {"00 91 01 00", {"02 91 7F"}, true},  // taken again
      {"02 91 97", {}, false},              // FRMR
      {"00 91 01 00", {"02 91 7F"}, true},
      {"02 91 01 0A", {}, false},  // RR N(R) 5, never sent: removed
      {"00 91 01 00", {"02 91 7F"}, true},
      {"02 91 05 0A", {}, false},  // RNR N(R) 5
      {"00 91 01 00", {"02 91 7F"}, true},
      {"02 91 09 0A", {}, false},           // REJ N(R) 5
      {"00 FF 03 08 01 05 05", {}, false},  // UI to TEI 127, SAPI 0
      {"00 FF 7F 08 01 05 06", {}, false},  // not UI: dropped
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.frame);
    bus->inject(2, lapdtest::frame(s.frame));
    run_for(10);
    EXPECT_EQ(network_frames(), s.sent);
    EXPECT_EQ(nt->find(72) != nullptr, s.assigned);
    // Nothing is outstanding here: an assigned terminal waits on T203.
    const ISDN::LAPD_NT_user* u = nt->find(72);
    if (s.assigned && u) {
      EXPECT_EQ(u->state(), ISDN::LAPD_NT_user::assigned);
    }
  }
  EXPECT_EQ(up, Strings({"", "08 01 09", "08 01 05 05"}));
}

}  // namespace
