// The state machine on the virtual clock: establishment, acknowledgement,
// recovery and release, against a scripted peer.
#include "lapd_harness.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

namespace {

using lapdtest::Owner;
using ISDN::Side;
using Strings = std::vector<std::string>;

class LapdStates : public testsupport::VirtualClockTest {
 protected:
  // Established with one I frame out, unacknowledged; in timer recovery
  // after T200 when asked. The line is left empty.
  void one_frame_out(Owner& o, bool recovery) {
    lapdtest::establish(o);
    o.send("a");
    if (recovery) run_for(1000);
    o.line.take();
  }
};

TEST_F(LapdStates, EstablishmentAnsweredByUA) {
  Owner o(Side::user);
  o.link->activate();
  EXPECT_EQ(o.line.take(), Strings({"00 01 7F"}));
  EXPECT_EQ(o.state(), ISDN::Awaiting_establishment);
  EXPECT_TRUE(o.st().T200run);
  EXPECT_TRUE(o.st().L3Initiated);

  o.rx("00 01 63");  // UA F = 0
  EXPECT_EQ(o.statuses, Strings({"UA (F = 0)"}));
  EXPECT_EQ(o.state(), ISDN::Awaiting_establishment);
  EXPECT_EQ(o.activated, 0);

  o.rx("00 01 73");  // UA F = 1
  EXPECT_EQ(o.activated, 1);
  EXPECT_EQ(o.state(), ISDN::Multiple_frame_established);
  EXPECT_FALSE(o.st().T200run);
  EXPECT_TRUE(o.st().T203run);
}

TEST_F(LapdStates, UnansweredSabmeGivesUpAfterFour) {
  Owner o(Side::user);
  o.link->activate();
  o.send("waiting");
  run_for(3500);
  EXPECT_EQ(o.line.take(), Strings(4, "00 01 7F"));
  EXPECT_TRUE(o.releases.empty());
  run_for(1000);
  EXPECT_TRUE(o.line.take().empty());
  EXPECT_EQ(o.statuses, Strings({"Unsuccessful retransmission (N200 times) - SABME"}));
  EXPECT_EQ(o.releases, Strings({"link error (T200 expired N200 times)"}));
  EXPECT_EQ(o.state(), ISDN::TEI_assigned);
  EXPECT_EQ(o.link->queued(), 0u);
  EXPECT_EQ(o.link->stats().T200, 4u);
}

TEST_F(LapdStates, IFramesAreAcknowledged) {
  Owner o(Side::user);
  lapdtest::establish(o);
  o.rx("02 01 00 01 41");  // P = 1: RR F = 1 at once
  EXPECT_EQ(o.line.take(), Strings({"02 01 01 03"}));
  o.rx("02 01 02 00 42");  // P = 0: RR F = 0 from the pending work
  EXPECT_EQ(o.line.take(), Strings({"02 01 01 04"}));
  o.echo = true;  // an answer in the same pass carries the acknowledgement
  o.rx("02 01 04 00 43");
  EXPECT_EQ(o.line.take(), Strings({"00 01 00 06 43"}));
  EXPECT_EQ(o.received, Strings({"A", "B", "C"}));
  EXPECT_EQ(o.link->stats().rxMessages, 3u);
  o.echo = false;
  o.rx("02 01 06 01");  // no information field: an I frame all the same
  EXPECT_EQ(o.line.take(), Strings({"02 01 01 09"}));
  EXPECT_EQ(o.st().VR, 4u);
  EXPECT_TRUE(o.st().T200run);  // "C" waits for its acknowledgement
  o.rx("02 01 08 02");          // N(R) = VS: nothing outstanding, T203 again
  EXPECT_FALSE(o.st().T200run);
  EXPECT_TRUE(o.st().T203run);
}

TEST_F(LapdStates, OutOfSequenceRejectsOnce) {
  Owner o(Side::user);
  lapdtest::establish(o);
  o.rx("02 01 02 00 41");  // N(S) = 1, VR = 0
  EXPECT_EQ(o.line.take(), Strings({"02 01 09 00"}));
  o.rx("02 01 04 00 41");  // no second REJ
  EXPECT_TRUE(o.line.take().empty());
  o.rx("02 01 06 01 41");  // P = 1: RR F = 1
  EXPECT_EQ(o.line.take(), Strings({"02 01 01 01"}));
  EXPECT_EQ(o.link->stats().rejected, 3u);
  EXPECT_TRUE(o.received.empty());
  o.rx("02 01 00 00 41");
  EXPECT_FALSE(o.st().RejectException);
  EXPECT_EQ(o.received, Strings({"A"}));
}

// An I frame whose N(R) lies outside VA..VS, with one frame outstanding
// (VA = 0, VS = 1): its sequence is handled first (delivered, acknowledged
// at once for P = 1, or rejected), then the link re-establishes. The frame
// left unacknowledged is dropped by the UA; it is never sent again.
TEST_F(LapdStates, IFramesWithAnInvalidNrReestablish) {
  struct Case {
    bool recovery;
    const char* frame;
    Strings sent, received;
  };
  const Strings sabme = {"00 01 7F"};
  const Case cases[] = {
      {false, "02 01 00 04 41", sabme, {"A"}},                          // N(R) = VS + 1
      {false, "02 01 00 FE 41", sabme, {"A"}},                          // N(R) = VA - 1
      {false, "02 01 00 05 41", {"02 01 01 03", "00 01 7F"}, {"A"}},   // P = 1: RR F = 1 first
      {false, "02 01 02 04 41", {"02 01 09 00", "00 01 7F"}, {}},      // N(S) = 1: REJ first
      {true, "02 01 00 04 41", sabme, {"A"}},
      {true, "02 01 00 05 41", {"02 01 01 03", "00 01 7F"}, {"A"}},
      {true, "02 01 02 05 41", {"02 01 09 01", "00 01 7F"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.recovery ? "recovery, " : "established, ") + c.frame);
    Owner o(Side::user);
    one_frame_out(o, c.recovery);
    o.rx(c.frame);
    EXPECT_EQ(o.line.take(), c.sent);
    EXPECT_EQ(o.received, c.received);
    EXPECT_EQ(o.statuses, Strings({"Other - N(R) error"}));
    EXPECT_EQ(o.link->stats().badConfirm, 1u);
    EXPECT_EQ(o.state(), ISDN::Awaiting_establishment);
    EXPECT_FALSE(o.st().L3Initiated);
    EXPECT_TRUE(o.st().T200run);
    EXPECT_FALSE(o.st().T203run);
    o.rx("00 01 73");  // UA F = 1
    EXPECT_EQ(o.activated, 2);
    EXPECT_EQ(o.state(), ISDN::Multiple_frame_established);
    EXPECT_EQ(o.link->unacknowledged(), 0u);
    EXPECT_TRUE(o.line.take().empty());
  }
  // A solicited RR response while established is only noted.
  testsupport::StreamCapture cap;
  Owner o(Side::user, 4);
  lapdtest::establish(o);
  o.send("a");
  o.line.take();
  cap.clear();
  o.rx("00 01 01 03");  // RR F = 1, N(R) = 1
  EXPECT_EQ(testsupport::StreamCapture::count(cap.log(), "receive RR (solicited response) in MFE_EST"), 1) << cap.all();
  EXPECT_TRUE(o.statuses.empty());
  EXPECT_EQ(o.link->unacknowledged(), 0u);
}

TEST_F(LapdStates, SabmeWhileEstablishedKeepsWaitingMessages) {
  Owner o(Side::user);
  lapdtest::establish(o);
  for (int i = 0; i < 9; ++i) o.send(std::string(1, char('a' + i)));
  o.rx("02 01 00 00 41");
  o.line.take();
  EXPECT_EQ(o.link->queued(), 2u);
  o.rx("02 01 7F");  // SABME P = 1
  EXPECT_EQ(o.statuses, Strings({"Peer initiated re-establishment - SABME"}));
  EXPECT_EQ(o.activated, 2);
  // Numbering restarts; the two waiting messages go out with it.
  EXPECT_EQ(o.line.take(), Strings({"02 01 73", "00 01 00 00 68", "00 01 02 00 69"}));
  EXPECT_EQ(o.st().VS, 2u);
  EXPECT_EQ(o.st().VA, 0u);
  EXPECT_EQ(o.st().VR, 0u);
  EXPECT_EQ(o.link->unacknowledged(), 2u);
}

TEST_F(LapdStates, RefusalsOfThePeer) {
  Owner o(Side::user);
  o.link->activate();
  o.send("waiting");
  o.rx("00 01 1F");  // DM F = 1 while awaiting establishment: the message goes too
  EXPECT_EQ(o.releases, Strings({"error (DM received)"}));
  EXPECT_EQ(o.link->queued(), 0u);
  EXPECT_EQ(o.release_success, std::vector<bool>({false}));
  EXPECT_EQ(o.state(), ISDN::TEI_assigned);
  EXPECT_FALSE(o.st().T200run);

  Owner d(Side::user);
  lapdtest::establish(d);
  d.rx("00 01 1F");  // DM F = 1 while established: reported only
  d.rx("00 01 0F");  // DM F = 0: re-establishment
  EXPECT_EQ(d.statuses, Strings({"DM (F = 1)", "Receipt of DM response (F = 0)"}));
  EXPECT_EQ(d.line.take(), Strings({"00 01 7F"}));
  EXPECT_EQ(d.state(), ISDN::Awaiting_establishment);
  EXPECT_FALSE(d.st().L3Initiated);

  Owner f(Side::user);
  lapdtest::establish(f);
  f.rx("00 01 97");
  EXPECT_EQ(f.statuses, Strings({"Other - Receipt of FRMR response"}));
  EXPECT_EQ(f.state(), ISDN::Awaiting_establishment);

  Owner n(Side::user);
  lapdtest::establish(n);
  n.send("a");
  n.rx("00 01 01 04");  // N(R) = 2 > VS = 1
  EXPECT_EQ(n.statuses, Strings({"Other - N(R) error"}));
  EXPECT_EQ(n.link->stats().badConfirm, 1u);
  EXPECT_EQ(n.state(), ISDN::Awaiting_establishment);
}

TEST_F(LapdStates, T203EnquiryAndRecovery) {
  testsupport::StreamCapture cap;
  Owner o(Side::user, 4);
  lapdtest::establish(o);
  run_for(10000);
  EXPECT_EQ(o.line.take(), Strings({"00 01 01 01"}));  // RR command P = 1
  EXPECT_EQ(o.state(), ISDN::Timer_recovery);
  EXPECT_TRUE(testsupport::StreamCapture::has(cap.log(), "LAPD[0] (Multiple frame established): T203."));
  EXPECT_TRUE(testsupport::StreamCapture::has(
      cap.log(), "LAPD[0] : change state \"Multiple frame established\" -> \"Timer recovery\""));
  o.rx("00 01 01 01");  // RR response F = 1, N(R) = VS
  EXPECT_EQ(o.state(), ISDN::Multiple_frame_established);
  EXPECT_TRUE(o.st().T203run);

  // Unanswered: four enquiries in all (RC 0 to 3), then a new establishment.
  run_for(13500);
  EXPECT_EQ(o.line.take(), Strings(4, "00 01 01 01"));
  run_for(1000);
  EXPECT_EQ(o.line.take(), Strings({"00 01 7F"}));
  EXPECT_EQ(o.statuses, Strings({"Unsuccessful retransmission (N200 times) - Status enquiry"}));
  EXPECT_EQ(o.state(), ISDN::Awaiting_establishment);
}

TEST_F(LapdStates, RecoveryStateChangesAreQuietBelowLevelFour) {
  testsupport::StreamCapture cap;
  Owner o(Side::user, 3);
  lapdtest::establish(o);
  run_for(10000);
  EXPECT_EQ(o.state(), ISDN::Timer_recovery);
  EXPECT_EQ(testsupport::StreamCapture::count(cap.log(), "-> \"Timer recovery\""), 0);
  EXPECT_EQ(testsupport::StreamCapture::count(cap.log(), "-> \"Multiple frame established\""), 1);
}

TEST_F(LapdStates, ReleaseByDiscAndUA) {
  Owner o(Side::user);
  lapdtest::establish(o);
  o.link->deactivate();
  EXPECT_EQ(o.line.take(), Strings({"00 01 53"}));
  EXPECT_EQ(o.state(), ISDN::Awaiting_release);
  o.rx("00 01 73");
  EXPECT_EQ(o.releases, Strings({"success (UA received)"}));
  EXPECT_EQ(o.release_success, std::vector<bool>({true}));
  EXPECT_EQ(o.state(), ISDN::TEI_assigned);

  Owner r(Side::user);  // released by the peer
  lapdtest::establish(r);
  r.rx("02 01 53");
  EXPECT_EQ(r.line.take(), Strings({"02 01 73"}));
  EXPECT_EQ(r.releases, Strings({"remote error (DISC received)"}));

  Owner l(Side::user);  // released while never established
  l.link->deactivate();
  EXPECT_EQ(l.releases, Strings({"success (deactivated locally)"}));
}

// Unsolicited UA: reported, and the numbering is left alone.
TEST_F(LapdStates, UnsolicitedUAChangesNothing) {
  Owner o(Side::user);
  lapdtest::establish(o);
  o.send("a");
  o.send("b");
  o.rx("02 01 00 00 41");
  o.line.take();
  o.rx("00 01 73");
  EXPECT_EQ(o.statuses, Strings({"Other - Unknown"}));
  EXPECT_EQ(o.st().VS, 2u);
  EXPECT_EQ(o.st().VR, 1u);
  EXPECT_EQ(o.link->unacknowledged(), 2u);
  o.rx("00 01 01 04");  // still acknowledges both frames
  EXPECT_EQ(o.link->unacknowledged(), 0u);
  EXPECT_TRUE(o.statuses.size() == 1);
}

// Decided: what waits while the link is being established goes out once it
// is, in order, without another message to push it.
TEST_F(LapdStates, MessagesWaitingForEstablishmentGoOutAfterIt) {
  Owner o(Side::user);
  o.send("0");  // before the request
  o.link->activate();
  o.send("a");
  o.send("b");
  o.send("c");
  EXPECT_EQ(o.line.take(), Strings({"00 01 7F"}));
  o.rx("00 01 73");
  EXPECT_EQ(o.line.take(), Strings({"00 01 00 00 30", "00 01 02 00 61", "00 01 04 00 62", "00 01 06 00 63"}));
}

// Decided: the shared timer stands for one timer at a time. A burst of I
// frames keeps T200 (the second frame's stop of T203 cancels nothing), so a
// lost burst is recovered.
TEST_F(LapdStates, LostBurstIsRecoveredByT200) {
  Owner o(Side::user);
  lapdtest::establish(o);
  o.send("a");
  o.send("b");
  EXPECT_EQ(o.line.take().size(), 2u);  // both lost on the line
  EXPECT_TRUE(o.st().T200run);
  EXPECT_FALSE(o.st().T203run);
  run_for(1000);
  EXPECT_EQ(o.line.take(), Strings({"00 01 01 01"}));
  EXPECT_EQ(o.state(), ISDN::Timer_recovery);
  o.rx("00 01 01 01");  // RR F = 1, N(R) = 0: both again
  EXPECT_EQ(o.line.take(), Strings({"00 01 00 00 61", "00 01 02 00 62"}));
  EXPECT_EQ(o.state(), ISDN::Multiple_frame_established);
  EXPECT_TRUE(o.statuses.empty());
  run_for(1000);  // lost again: an I frame in timer recovery is still acknowledged
  EXPECT_EQ(o.line.take(), Strings({"00 01 01 01"}));
  o.rx("02 01 00 00 41");
  EXPECT_EQ(o.line.take(), Strings({"02 01 01 02"}));
  EXPECT_EQ(o.state(), ISDN::Timer_recovery);
  o.rx("02 01 02 04 42");  // acknowledges both, but the enquiry still waits
  EXPECT_EQ(o.st().VA, 2u);
  EXPECT_TRUE(o.st().T200run);
  EXPECT_EQ(o.state(), ISDN::Timer_recovery);
}

// A start replaces whichever timer ran, and its flag goes with it: T200 left
// running by a release before establishment does not survive T203's start.
TEST_F(LapdStates, StartReplacesTheOtherTimer) {
  Owner o(Side::user);
  o.link->activate();
  o.link->deactivate();  // DISC, T200 runs on in "TEI assigned"
  EXPECT_TRUE(o.st().T200run);
  o.line.take();
  o.rx("02 01 7F");  // peer establishes: T203 starts
  EXPECT_EQ(o.statuses, Strings({"trying to start T203 while T200 running"}));
  EXPECT_FALSE(o.st().T200run);
  EXPECT_TRUE(o.st().T203run);
  run_for(9000);
  EXPECT_EQ(o.link->stats().T200, 0u);
  o.rx("02 01 01 01");  // stops T200 (not running: nothing), restarts T203
  run_for(9500);
  EXPECT_EQ(o.link->stats().T203, 0u);
  run_for(1000);
  EXPECT_EQ(o.link->stats().T203, 1u);
  EXPECT_EQ(o.statuses.size(), 1u);
}

// RR, RNR and REJ from the network side in both states of an established
// link, each acknowledging the one I frame outstanding (N(R) = 1) or
// naming one never sent (N(R) = 5). The link is on the user side: the
// peer's commands carry C/R 1, its responses C/R 0, and the link's
// enquiry response goes out as "02 01 01 01". A new establishment clears
// the peer's busy condition.
TEST_F(LapdStates, SupervisoryFramesInBothStates) {
  using ISDN::Awaiting_establishment;
  using ISDN::Multiple_frame_established;
  using ISDN::Timer_recovery;
  const std::string supervisory_f1 = "Supervisory (F = 1)", nr_error = "Other - N(R) error";
  struct Case {
    bool recovery;  // in "Timer recovery" after an unanswered T200
    const char* frame;
    bool peer_busy;
    ISDN::State state;
    bool t200, t203;
    Strings sent, statuses;
  };
  const Strings enquiry_response = {"02 01 01 01"}, sabme = {"00 01 7F"};
  const Case cases[] = {
      // Established.
      {false, "02 01 01 03", false, Multiple_frame_established, false, true, enquiry_response, {}},    // RR P = 1
      {false, "00 01 01 03", false, Multiple_frame_established, false, true, {}, {}},                  // RR F = 1
      {false, "02 01 05 03", true, Multiple_frame_established, true, false, enquiry_response, {}},     // RNR P = 1
      {false, "00 01 05 03", true, Multiple_frame_established, true, false, {}, {supervisory_f1}},     // RNR F = 1
      {false, "02 01 09 03", false, Multiple_frame_established, false, true, enquiry_response, {}},    // REJ P = 1
      {false, "00 01 09 03", false, Multiple_frame_established, false, true, {}, {supervisory_f1}},    // REJ F = 1
      {false, "02 01 01 0A", false, Awaiting_establishment, true, false, sabme, {nr_error}},           // RR N(R) 5
      {false, "02 01 05 0A", false, Awaiting_establishment, true, false, sabme, {nr_error}},           // RNR N(R) 5
      {false, "00 01 09 0B", false, Awaiting_establishment, true, false, sabme, {supervisory_f1, nr_error}},
      // Timer recovery: a final response ends it, anything else only
      // acknowledges.
      {true, "00 01 01 03", false, Multiple_frame_established, false, true, {}, {}},                   // RR F = 1
      {true, "00 01 05 03", true, Multiple_frame_established, true, false, {}, {}},                    // RNR F = 1
      {true, "00 01 09 03", false, Multiple_frame_established, false, true, {}, {}},                   // REJ F = 1
      {true, "02 01 01 03", false, Timer_recovery, true, false, enquiry_response, {}},                 // RR P = 1
      {true, "02 01 05 02", true, Timer_recovery, true, false, {}, {}},                                // RNR P = 0
      {true, "02 01 09 03", false, Timer_recovery, true, false, enquiry_response, {}},                 // REJ P = 1
      {true, "00 01 01 0B", false, Awaiting_establishment, true, false, sabme, {nr_error}},            // RR F = 1 N(R) 5
      {true, "02 01 05 0A", false, Awaiting_establishment, true, false, sabme, {nr_error}},            // RNR N(R) 5
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.recovery ? "recovery, " : "established, ") + c.frame);
    Owner o(Side::user);
    one_frame_out(o, c.recovery);
    ASSERT_EQ(o.state(), c.recovery ? Timer_recovery : Multiple_frame_established);
    o.rx(c.frame);
    EXPECT_EQ(o.st().peerBusy, c.peer_busy);
    EXPECT_EQ(o.state(), c.state);
    EXPECT_EQ(o.st().T200run, c.t200);
    EXPECT_EQ(o.st().T203run, c.t203);
    EXPECT_EQ(o.line.take(), c.sent);
    EXPECT_EQ(o.statuses, c.statuses);
    // A valid N(R) acknowledges the frame; nothing is sent again.
    if (c.state != Awaiting_establishment) { EXPECT_EQ(o.link->unacknowledged(), 0u); }
  }

  // A busy peer gets no I frame until it is ready again.
  Owner b(Side::user);
  lapdtest::establish(b);
  b.rx("00 01 05 00");  // RNR F = 0, N(R) = 0
  b.send("a");
  EXPECT_TRUE(b.line.take().empty());
  b.rx("00 01 01 00");  // RR F = 0
  EXPECT_EQ(b.line.take(), Strings({"00 01 00 00 61"}));
}

// Unnumbered frames and the requests of layer 3 in the states that only
// answer or refuse them, and a release that goes unanswered. The link is on
// the user side: the peer's commands carry C/R 1 ("02 01"), its responses
// C/R 0 ("00 01"); the link answers with "02 01" and commands with "00 01".
TEST_F(LapdStates, UnnumberedFramesAndRequestsOutsideTheEstablishedState) {
  using ISDN::State;
  enum Start { assigned, establishing, releasing, established, recovery };
  enum Request { none, establish, release };
  struct Case {
    Start start;
    const char* frame;  // received, or null
    Request request;
    State state;
    Strings sent, statuses;
    bool l3_initiated;
  };
  const Strings dm_f1 = {"02 01 1F"}, ua_f1 = {"02 01 73"}, sabme = {"00 01 7F"}, disc = {"00 01 53"};
  const Case cases[] = {
      {assigned, "02 01 53", none, ISDN::TEI_assigned, dm_f1, {}, false},               // DISC P = 1
      {establishing, "02 01 53", none, ISDN::Awaiting_establishment, dm_f1, {}, true},  // DISC P = 1
      {releasing, "02 01 53", none, ISDN::Awaiting_release, ua_f1, {}, true},           // DISC P = 1
      {releasing, "02 01 7F", none, ISDN::Awaiting_release, dm_f1, {}, true},           // SABME P = 1
      {releasing, "00 01 63", none, ISDN::Awaiting_release, {}, {"UA (F = 0)"}, true},  // UA F = 0
      {assigned, "00 01 0F", none, ISDN::Awaiting_establishment, sabme, {}, true},      // DM F = 0
      {assigned, "00 01 1F", none, ISDN::TEI_assigned, {}, {}, false},                  // DM F = 1
      {recovery, "00 01 0F", none, ISDN::Awaiting_establishment, sabme, {"Receipt of DM response (F = 0)"}, false},
      {recovery, "00 01 1F", none, ISDN::Awaiting_establishment, sabme, {"DM (F = 1)"}, false},
      {recovery, "00 01 97", none, ISDN::Awaiting_establishment, sabme, {"Other - Receipt of FRMR response"}, false},
      {establishing, "02 01 00 01 41", none, ISDN::Awaiting_establishment, {}, {}, true},  // I P = 1: ignored
      {recovery, nullptr, release, ISDN::Awaiting_release, disc, {}, true},
      {established, nullptr, establish, ISDN::Awaiting_establishment, sabme, {}, true},
      {establishing, nullptr, establish, ISDN::Awaiting_establishment, {}, {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.frame ? c.frame : "request") + " in start state " + std::to_string(c.start));
    Owner o(Side::user);
    if (c.start != assigned) o.link->activate();
    if (c.start >= established) o.rx("00 01 73");
    if (c.start == releasing) {
      o.rx("00 01 73");
      o.link->deactivate();
    }
    o.send("a");  // waits, or goes out and waits for its acknowledgement
    if (c.start == recovery) run_for(1000);
    o.line.take();
    if (c.frame) o.rx(c.frame);
    if (c.request == establish) o.link->activate();
    if (c.request == release) o.link->deactivate();
    EXPECT_EQ(o.state(), c.state);
    EXPECT_EQ(o.line.take(), c.sent);
    EXPECT_EQ(o.statuses, c.statuses);
    EXPECT_EQ(o.st().L3Initiated, c.l3_initiated);
    EXPECT_TRUE(o.releases.empty());
    // A request of layer 3 to establish or release empties both queues.
    if (c.request != none) { EXPECT_EQ(o.link->queued() + o.link->unacknowledged(), 0u); }
  }

  // A release that the peer never answers: DISC four times in all, then
  // the link is given up.
  Owner o(Side::user);
  lapdtest::establish(o);
  o.link->deactivate();
  run_for(3500);
  EXPECT_EQ(o.line.take(), Strings(4, "00 01 53"));
  EXPECT_TRUE(o.releases.empty());
  run_for(1000);
  EXPECT_EQ(o.statuses, Strings({"Unsuccessful retransmission (N200 times) - DISC"}));
  EXPECT_EQ(o.releases, Strings({"link error (T200 expired N200 times)"}));
  EXPECT_EQ(o.state(), ISDN::TEI_assigned);
}

}  // namespace
