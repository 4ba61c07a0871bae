// Black-box: a controller one release newer than the server, against the
// running server program. It sends what the schema lets through its
// extension markers: command alternatives added after the marker, additions
// to extensible parameter records (single ones and groups), alternatives
// added to extensible parameter choices. Each frame is built here bit by
// bit in aligned PER; the server must answer what it can, refuse the rest
// with an error cause, and go on with the next frame of the same write.
// Real time: one server for the group, every wait bounded.
#include "tests/slots/slots_server.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace testsupport;

namespace {

using Strings = std::vector<std::string>;

class NewerController : public slotstest::ServerSuite {
 protected:
  void SetUp() override {
    ServerSuite::SetUp();
    leds();  // forget the LED writes of earlier cases
  }

  // The frames, as wire images, that come back for a burst of frames written
  // at once: as many as `expected`, or what came in time.
  static Strings exchange(const Strings& burst, std::size_t expected) {
    srv().ctl.send_all(burst);
    Strings got;
    eventually([&] {
      for (const auto& f : srv().ctl.frames(50)) got.push_back(f);
      return got.size() >= expected;
    });
    return got;
  }
  static std::string leds() { return hal("led"); }
};

// The success answer to a command carrying a sequence number and no slot
// (seq N): 80 01 N, then response (01) with success (0).
std::string success(int seq) { return "80 01 " + hex({char(seq)}) + " 40"; }

TEST_F(NewerController, CommandsAddedAfterTheMarkerAreRefusedAndTheStreamGoesOn) {
  const Strings burst = {
      // seq 1, slot 5; command (00), extension bit 1, alternative 15 + 0
      // (0 000000), open type 01 00.
      "C0 01 01 00 05 20 00 01 00",
      // seq 2, slot 5; alternative 15 + 5 (0 000101), an open type of
      // three octets.
      "C0 01 02 00 05 21 40 03 AA BB CC",
      // No seq, no slot: 00 00 1 0000000, then 01 00.
      "08 00 01 00",
      // seq 3, slot 5: ping.
      "C0 01 03 00 05 18",
  };
  // unexpectedMsgType (4) carries the seq and slot the command had.
  EXPECT_EQ(exchange(burst, 4),
            (Strings{"C0 01 01 00 05 64", "C0 01 02 00 05 64", "19 00", "C0 01 03 00 05 40"}))
      << srv().log();
  EXPECT_FALSE(srv().ctl.closed());
}

TEST_F(NewerController, ANewCommandCutShortIsLoggedAndTheNextFrameAnswered) {
  // Its open type claims five octets and the frame holds one.
  const Strings burst = {"C0 01 04 00 05 20 00 05 00", "C0 01 05 00 05 18"};
  EXPECT_EQ(exchange(burst, 1), Strings{"C0 01 05 00 05 40"}) << srv().log();
  EXPECT_TRUE(srv().wait_log("receive fail: decode error!")) << srv().log();
  EXPECT_TRUE(srv().wait_log(" msg: C0 01 04 00 05 20 00 05 00 ")) << srv().log();
  EXPECT_FALSE(srv().ctl.closed());
}

// display framer {e1 2, info line TRUE}: the framer record is extensible,
// so a newer controller may add fields to it; they are skipped and the
// record's root is carried out (framer 2 line up: LED bits 4 and 5).
TEST_F(NewerController, AdditionsToAParameterRecordAreSkipped) {
  // seq 6; command 00, extension bit 0, display 1101; DisplayParams
  // extension bit 0, framer 010; FramerInfo extension bit 0, e1 10; info
  // extension bit 0, line 0; TRUE 1.
  // 00 0 1101 0 | 010 0 10 0 0 | 1 -> 1A 48 80
  const std::string root = "80 01 06 1A 48 80";
  // The same value as the encoder writes it: the hand-built root is right.
  EXPECT_EQ(root, command_image(6, -1, [](LGCP::Command& c) {
              LGCP::FramerInfo& f = c.select_display().select_framer();
              f.set_e1(2u);
              f.set_info().select_line(true);
            }));
  EXPECT_EQ(exchange({root}, 1), Strings{success(6)});
  EXPECT_EQ(leds(), "30");

  const Strings burst = {
      // seq 7, FramerInfo extension bit 1; after TRUE the extension
      // bitmap's size less one (0 000000) and the bitmap (1): one unknown
      // addition, its open type AB CD.
      // 00 0 1101 0 | 010 1 10 0 0 | 1 0000000 | 1 -> 1A 58 80 80
      "80 01 07 1A 58 80 80 02 AB CD",
      // seq 8, three unknown additions, the first and the third present
      // (0 000010, 101). The first is a group {x INTEGER, y BOOLEAN
      // OPTIONAL} with y present: 1 (aligned) 01 05, 1 -> 80 01 05 80.
      "80 01 08 1A 58 82 A0 04 80 01 05 80 01 2A",
      // seq 9, ping behind them.
      "80 01 09 18",
  };
  EXPECT_EQ(exchange(burst, 3), (Strings{success(7), success(8), success(9)})) << srv().log();
  EXPECT_EQ(leds(), "30\n30");
}

TEST_F(NewerController, AdditionsThatRunPastTheFrameAreNotTaken) {
  // seq 10: one addition whose open type claims three octets, two follow.
  const Strings burst = {"80 01 0A 1A 58 80 80 03 AB CD", "80 01 0B 18"};
  EXPECT_EQ(exchange(burst, 1), Strings{success(11)}) << srv().log();
  EXPECT_TRUE(srv().wait_log(" msg: 80 01 0A 1A 58 80 80 03 AB CD ")) << srv().log();
  EXPECT_EQ(leds(), "");
}

// Alternatives added to extensible parameter choices: nothing is read
// through an accessor of another alternative, and the answers are those
// of parameters the services do not act on.
TEST_F(NewerController, AlternativesAddedToParameterChoices) {
  // The line of framer 2 up first: seq 19, display framer {e1 2, line
  // TRUE} as in the case of the record additions.
  EXPECT_EQ(exchange({"80 01 13 1A 48 80"}, 1), Strings{success(19)});
  EXPECT_EQ(leds(), "30");
  const Strings burst = {
      // seq 12: display, DisplayParams extension bit 1, alternative 7 + 0:
      // 00 0 1101 1 | 0000000 -> 1B 00, open type 02 AB CD. A display the
      // service has no use for is acknowledged, as the known ones it
      // ignores are.
      "80 01 0C 1B 00 02 AB CD",
      // seq 13: display framer {e1 2, info: alternative 2 + 0 (extension
      // bit 1, 0 000000), open type 01 80}:
      // 00 0 1101 0 | 010 0 10 1 0 | 000000 -> 1A 4A 00.
      "80 01 0D 1A 4A 00 01 80",
      // seq 14, slot 40: create with CreateParams alternative 19 + 0
      // (extension bit 1): 00 0 0100 1 | 0000000 -> 09 00. No factory
      // knows it: insufficientResources (1).
      "C0 01 0E 00 28 09 00 01 00",
      // seq 15, slot 41: a map slot, then (seq 16) an ioctl to it with
      // IoctlParams alternative of extension number 3 (extension bit 1,
      // 0 000011): 00 0 1001 1 | 0000011 -> 13 06. The slot cannot serve
      // it: unsupported (6).
      map_image(15, 41, -1, -1),
      "C0 01 10 00 29 13 06 01 00",
      "C0 01 11 00 29 18",
  };
  const Strings got = exchange(burst, 6);
  EXPECT_EQ(got, (Strings{success(12), success(13), "C0 01 0E 00 28 61", "C0 01 0F 00 29 40",
                          "C0 01 10 00 29 66", "C0 01 11 00 29 40"}))
      << srv().log();
  // The framer's LEDs stay as they were.
  const std::string written = leds();
  EXPECT_TRUE(written == "" || written == "30") << written;
  srv().ctl.send(command_image(18, 41, [](LGCP::Command& c) { c.select_destroy(); }));
  EXPECT_EQ(srv().ctl.next(patience_ms), "C0 01 12 00 29 40");
}

}  // namespace
