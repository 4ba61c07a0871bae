// TEI management of a basic-rate user-side link against a scripted network,
// management reports, status texts and the statistics record.
#include "lapd_harness.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

namespace {

using lapdtest::Owner;
using ISDN::Side;
using Strings = std::vector<std::string>;

class LapdTei : public testsupport::VirtualClockTest {};

// The management frame the network sends: Ri, type, Ai.
std::string mgmt(unsigned ri, unsigned type, unsigned ai) {
  char b[64];
  std::snprintf(b, sizeof b, "FE FF 03 0F %02X %02X %02X %02X", ri & 0xFF, ri >> 8, type, (ai << 1) | 1);
  return b;
}

std::string request(unsigned ri) {
  char b[64];
  std::snprintf(b, sizeof b, "FC FF 03 0F %02X %02X 01 FF", ri & 0xFF, ri >> 8);
  return b;
}

TEST_F(LapdTei, AssignmentThenEstablishmentOnTheNewTei) {
  std::srand(7);
  unsigned ri1 = std::rand() & 0xFFFF;
  unsigned ri2 = std::rand() & 0xFFFF;
  std::srand(7);

  Owner o(Side::user, 0, true);
  o.link->mdl_remove();
  EXPECT_EQ(o.state(), ISDN::TEI_unassigned);
  o.link->activate();
  EXPECT_EQ(o.line.take(), Strings({request(ri1)}));
  EXPECT_EQ(o.state(), ISDN::Establish_awaiting_TEI);
  EXPECT_TRUE(o.st().T202run);

  o.rx(mgmt(ri1 ^ 0x100, 2, 65));  // another terminal's answer
  o.rx(mgmt(ri1, 2, 127));         // not an assignable identity
  o.rx(mgmt(ri1, 2, 63));          // the top of the fixed range
  EXPECT_EQ(o.state(), ISDN::Establish_awaiting_TEI);
  EXPECT_TRUE(o.line.take().empty());

  o.rx(mgmt(ri1, 2, 65));
  EXPECT_EQ(o.line.take(), Strings({"00 83 7F"}));  // SABME on TEI 65
  EXPECT_EQ(o.state(), ISDN::Awaiting_establishment);
  EXPECT_EQ(o.st().ownTEI, 65);
  EXPECT_TRUE(o.st().T200run);
  EXPECT_FALSE(o.st().T202run);

  o.rx("00 85 73");  // UA for TEI 66: not ours
  EXPECT_EQ(o.state(), ISDN::Awaiting_establishment);
  o.rx("00 83 73");
  EXPECT_EQ(o.state(), ISDN::Multiple_frame_established);
  EXPECT_EQ(o.activated, 1);

  // Identity check: answered for the broadcast or the own TEI only.
  o.rx(mgmt(0, 4, 70));
  EXPECT_TRUE(o.line.take().empty());
  o.rx(mgmt(0, 4, 127));
  char check[64];
  std::snprintf(check, sizeof check, "FC FF 03 0F %02X %02X 05 83", ri1 & 0xFF, ri1 >> 8);
  EXPECT_EQ(o.line.take(), Strings({check}));

  // A lost I frame on the new TEI is still recovered by T200.
  o.send("a");
  EXPECT_EQ(o.line.take(), Strings({"00 83 00 00 61"}));
  run_for(1000);
  EXPECT_EQ(o.line.take(), Strings({"00 83 01 01"}));

  // Removal of the own identity while established.
  o.rx(mgmt(0, 6, 65));
  EXPECT_EQ(o.releases, Strings({"error (MDL-REMOVE received)"}));
  EXPECT_EQ(o.line.take(), Strings({request(ri2)}));
  EXPECT_EQ(o.state(), ISDN::Assign_awaiting_TEI);
  EXPECT_EQ(o.link->queued(), 0u);
  o.rx(mgmt(ri2, 2, 126));  // assigned without an establishment request
  EXPECT_EQ(o.state(), ISDN::TEI_assigned);
  EXPECT_EQ(o.st().ownTEI, 126);
  EXPECT_TRUE(o.line.take().empty());
  o.rx(mgmt(0, 4, 127));  // checked as soon as it is assigned
  std::snprintf(check, sizeof check, "FC FF 03 0F %02X %02X 05 FD", ri2 & 0xFF, ri2 >> 8);
  EXPECT_EQ(o.line.take(), Strings({check}));
}

TEST_F(LapdTei, DeniedRequestsRepeatUntilGivenUp) {
  testsupport::StreamCapture cap;
  std::srand(11);
  Owner o(Side::user, 0, true);
  o.rx(mgmt(0, 6, 127));  // removal of every identity: a new request
  Strings sent = o.line.take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(o.state(), ISDN::Assign_awaiting_TEI);
  unsigned ri = o.link->ri();
  EXPECT_EQ(sent[0], request(ri));

  o.rx(mgmt(ri, 3, 127));
  o.rx(mgmt(ri, 3, 70));
  o.rx(mgmt(ri + 1, 3, 70));  // foreign Ri: silent
  EXPECT_EQ(o.statuses, Strings({"Tei Assign - Tei denied", "Tei Assign - Tei denied"}));
  EXPECT_TRUE(testsupport::StreamCapture::has(cap.log(), "LAPD[0] (Assign awaiting TEI): ASP returned: All TEI's used"));
  EXPECT_TRUE(testsupport::StreamCapture::has(cap.log(), "LAPD[0] (Assign awaiting TEI): ASP returned: TEI 70 denied"));
  EXPECT_EQ(o.state(), ISDN::Assign_awaiting_TEI);

  run_for(8500);  // four repetitions, each with a new Ri
  sent = o.line.take();
  ASSERT_EQ(sent.size(), 4u);
  std::string last_ri = request(ri).substr(12, 5);
  for (const std::string& s : sent) {
    EXPECT_EQ(s.substr(0, 12), "FC FF 03 0F ");
    EXPECT_NE(s.substr(12, 5), last_ri) << s;
    last_ri = s.substr(12, 5);
  }
  EXPECT_EQ(sent.back(), request(o.link->ri()));
  EXPECT_TRUE(o.releases.empty());
  run_for(2000);
  EXPECT_TRUE(o.line.take().empty());
  EXPECT_EQ(o.releases, Strings({"link error (T202 expired N202 times)"}));
  EXPECT_EQ(o.state(), ISDN::TEI_unassigned);
  EXPECT_EQ(o.link->stats().T202, 5u);

  o.send("a");  // a message while unassigned asks for nothing yet
  EXPECT_EQ(o.state(), ISDN::Assign_awaiting_TEI);
  EXPECT_TRUE(o.line.take().empty());
  // The establishment asks for a TEI (nothing else would), then sends the
  // waiting message once the link is up.
  o.link->activate();
  EXPECT_EQ(o.state(), ISDN::Establish_awaiting_TEI);
  EXPECT_TRUE(o.st().T202run);
  EXPECT_EQ(o.line.take(), Strings({request(o.link->ri())}));
  // Unanswered, it is asked again with a new Ri, the establishment still
  // waiting.
  ri = o.link->ri();
  run_for(2100);
  EXPECT_EQ(o.line.take(), Strings({request(o.link->ri())}));
  EXPECT_NE(o.link->ri(), ri);
  EXPECT_EQ(o.state(), ISDN::Establish_awaiting_TEI);
  o.rx(mgmt(o.link->ri(), 2, 66));
  EXPECT_EQ(o.line.take(), Strings({"00 85 7F"}));  // SABME on TEI 66
  o.rx("00 85 73");
  EXPECT_EQ(o.state(), ISDN::Multiple_frame_established);
  EXPECT_EQ(o.line.take(), Strings({"00 85 00 00 61"}));
}

// An identity request that finds no packet buffer is counted as lost; T202
// runs on all the same, so the next expiry asks again.
TEST_F(LapdTei, AnIdentityRequestLostToAnEmptyPoolIsAskedAgain) {
  Owner o(Side::user, 0, true);
  o.rx(mgmt(0, 6, 127));
  ASSERT_EQ(o.line.take().size(), 1u);
  std::vector<Packet> pool;
  for (Packet p; p.try_reserve_head(0); p = Packet()) pool.push_back(p);
  run_for(2000);
  pool.clear();
  EXPECT_TRUE(o.line.take().empty());
  EXPECT_EQ(o.link->stats().errors, 1u);
  EXPECT_EQ(o.state(), ISDN::Assign_awaiting_TEI);
  EXPECT_TRUE(o.st().T202run);
  run_for(2000);
  EXPECT_EQ(o.line.take(), Strings({request(o.link->ri())}));
  o.rx(mgmt(o.link->ri(), 2, 64));
  EXPECT_EQ(o.state(), ISDN::TEI_assigned);
}

// The management entity withdraws the TEI while a SABME or a DISC is
// outstanding: the link is released once, T200 stops (no stale retransmission
// on the withdrawn TEI) and waiting messages go.
TEST_F(LapdTei, RemovalWhileEstablishingOrReleasingStopsT200AndReleasesOnce) {
  struct Case {
    const char* name;
    bool releasing;
    ISDN::State before;
  };
  for (const Case& c : {Case{"establishing", false, ISDN::Awaiting_establishment},
                        Case{"releasing", true, ISDN::Awaiting_release}}) {
    SCOPED_TRACE(c.name);
    Owner o(Side::user, 0, true);
    o.link->activate();  // TEI 0 is assigned: SABME at once
    if (c.releasing) {
      o.rx("00 01 73");
      o.line.take();
      o.link->deactivate();
    } else {
      o.send("a");  // kept for the moment the link is up
    }
    EXPECT_EQ(o.line.take().size(), 1u);  // the SABME or the DISC
    ASSERT_EQ(o.state(), c.before);
    ASSERT_TRUE(o.st().T200run);

    o.link->mdl_remove();
    EXPECT_EQ(o.releases, Strings({"error (MDL-REMOVE received)"}));
    EXPECT_FALSE(o.st().T200run);
    EXPECT_EQ(o.state(), ISDN::TEI_unassigned);
    EXPECT_EQ(o.link->queued(), 0u);
    run_for(5000);
    EXPECT_TRUE(o.line.take().empty());
    EXPECT_EQ(o.releases.size(), 1u);
  }
}

// The network withdraws every TEI while an establishment waits for one: the
// request cannot complete on the identity being withdrawn, so layer 3 is told
// the link is released instead of waiting for a report that never comes.
TEST_F(LapdTei, RemovalWhileAwaitingATeiForAnEstablishmentReleasesIt) {
  Owner o(Side::user, 0, true);
  o.rx(mgmt(0, 6, 127));
  o.link->activate();
  ASSERT_EQ(o.state(), ISDN::Establish_awaiting_TEI);
  o.line.take();

  o.rx(mgmt(0, 6, 127));  // the network sends every removal twice
  EXPECT_EQ(o.releases, Strings({"error (MDL-REMOVE received)"}));
  EXPECT_EQ(o.line.take(), Strings({request(o.link->ri())}));
  EXPECT_EQ(o.state(), ISDN::Assign_awaiting_TEI);

  o.rx(mgmt(o.link->ri(), 2, 70));
  EXPECT_EQ(o.state(), ISDN::TEI_assigned);
  run_for(20000);
  EXPECT_EQ(o.releases.size(), 1u);
  EXPECT_EQ(o.activated, 0);
  o.link->activate();  // asked again, it sets up on the new TEI
  EXPECT_EQ(o.line.take(), Strings({"00 8D 7F"}));

  // Withdrawn by the management entity itself, T202 stops with it.
  Owner m(Side::user, 0, true);
  m.rx(mgmt(0, 6, 127));
  m.link->activate();
  m.link->mdl_remove();
  EXPECT_EQ(m.releases, Strings({"error (MDL-REMOVE received)"}));
  EXPECT_EQ(m.state(), ISDN::TEI_unassigned);
  EXPECT_FALSE(m.st().T202run);
}

// Only a basic-rate user side asks for a TEI: a network side that is told
// to remove its identity, and then to set up, sends no request.
TEST_F(LapdTei, TheNetworkSideAsksForNoIdentity) {
  Owner o(Side::network, 0, true);
  o.rx("FC FF 03 0F 00 00 06 FF");
  EXPECT_EQ(o.state(), ISDN::TEI_unassigned);
  o.link->activate();
  EXPECT_FALSE(o.st().T202run);
  run_for(10000);
  EXPECT_TRUE(o.line.take().empty());
}

TEST_F(LapdTei, UnnumberedInformationOnBasicRateOnly) {
  Owner bri(Side::user, 0, true), pri(Side::user);
  bri.rx("02 FF 03 08 01 05 05");
  pri.rx("02 FF 03 08 01 05 05");
  EXPECT_EQ(bri.received, Strings({std::string("\x08\x01\x05\x05")}));
  EXPECT_EQ(bri.line.take(), Strings({"00 01 7F"}));  // set up again
  EXPECT_TRUE(pri.received.empty());
  EXPECT_TRUE(pri.line.take().empty());
  // Management messages too short to read are dropped.
  bri.rx("FE FF 03 0F 01 02 06");
  EXPECT_EQ(bri.state(), ISDN::Awaiting_establishment);
}

TEST(LapdReports, StatusAndStatisticsTexts) {
  Owner o(Side::user);
  std::ostringstream s;
  o.link->status()->out(s);
  EXPECT_EQ(s.str(),
            "current status\n"
            "   - state: TEI assigned\n"
            "   - self: TEI=0, SAPI=0, busy=0\n"
            "   - peer: TEI=0, SAPI=0, busy=0\n"
            "   - counters: VS=0, VA=0, VR=0, RC=0\n"
            "   - internal signals: AckRQ=0, RetrRQ=0, QueuedUp=0\n"
            "   - flags: L3Initiated=0, Establishable=1, RejectException=0\n"
            "   - timers: T200 stopped, T202 stopped, T203 stopped");
  EXPECT_FALSE(o.link->status()->success());
  lapdtest::establish(o);
  o.send("a");
  std::ostringstream t;
  t << o.link->stats() << '|' << ISDN::Side::user << ISDN::Side::network << '|' << ISDN::statetext(9);
  EXPECT_EQ(t.str(),
            "\n   - timers expire count: T200: 0, T202: 0, T203: 0"
            "\n   - errors: 0, retrains: 0"
            "\n   - queue overflows: out: 0, ack: 0|usernetwork|(unknown)");
  EXPECT_STREQ(ISDN::statetext(0), "TEI unassigned");  // the names' first and one past the last
  EXPECT_STREQ(ISDN::statetext(8), "(unknown)");
  std::ostringstream h;
  o.link->set_linkno(3);
  o.link->PutHeader(h);
  EXPECT_EQ(h.str(), "LAPD[3] (Multiple frame established): ");
  for (unsigned code : {1u, 12u, 512u, 32768u, 3u})
    EXPECT_STRNE(ISDN::LAPD::error_text(code), "");
  EXPECT_STREQ(ISDN::LAPD::error_text(12), "Other - Unknown");
}

TEST(LapdReports, GetInfoOnlyAfterAChange) {
  Owner o(Side::user);
  lapdtest::establish(o);
  ACP::IsdnLinkInfo info;
  info.set_side(ACP::IsdnSide::user);
  EXPECT_TRUE(o.link->GetInfo(info));
  EXPECT_FALSE(o.link->GetInfo(info));
  int rx = static_cast<int>(info.get_msuRxCount().getValue());
  o.rx("02 01 00 00 41");
  EXPECT_TRUE(o.link->GetInfo(info));
  EXPECT_EQ(info.get_msuRxCount().getValue(), rx + 1);
  EXPECT_EQ(info.get_vr().getValue(), 1);
  EXPECT_TRUE(info.get_lapdState() == ACP::LAPDState::multiple_frame_established);
  EXPECT_TRUE(static_cast<bool>(info.get_t203run()));
  EXPECT_FALSE(o.link->GetInfo(info));
}

}  // namespace
