// The E1 trunk and CAS service against the simulated maintenance and CAS
// drivers: the status reports, the transmit-clock mask and every CAS
// command, with the signals the controller reads.
#include "board/services/e1_ctl.h"
#include "tests/board/board_fixture.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/stream_capture.h"

#include <gtest/gtest.h>

#include <memory>
#include <poll.h>
#include <unistd.h>

namespace {

using boardtest::BoardTest;
using boardtest::cas_image;
using boardtest::command_image;
using boardtest::sim;
using boardtest::Strings;
using boardtest::trunk_image;

const char normal_status[] = " normal slips 0 bf 0 carrier 0 ais 0 rai 0";

Strings all_normal() {
  Strings s;
  for (int t = 0; t < 4; ++t) s.push_back("e1 " + std::to_string(t) + normal_status);
  return s;
}

class E1CtlTest : public BoardTest {
 protected:
  void make() {
    e1 = std::make_unique<E1Ctl>();
    start({e1.get()});
  }
  // The signals a command caused, then its answer.
  Strings cas(int path, int ts, const std::string& what, int value = 0) {
    return ask(cas_image(7, path, ts, what, value));
  }
  std::unique_ptr<E1Ctl> e1;
};

TEST_F(E1CtlTest, ConnectReportsEveryTrunkAtOnceThenEverySecond) {
  e1 = std::make_unique<E1Ctl>();
  sim("e1 status 2 3 7 1 2 3 4");
  start({e1.get()});
  Strings first = all_normal();
  first[2] = "e1 2 ais slips 7 bf 1 carrier 2 ais 3 rai 4";
  EXPECT_EQ(received(), first);
  EXPECT_EQ(sim("e1 tclk"), "mask 0x0 writes 1");
  EXPECT_TRUE(e1->cas_open());
  EXPECT_TRUE(cap.has(cap.log(), "E1: cas interface opened!"));
  EXPECT_TRUE(cap.has(cap.log(), "E1: TCLT = 0x0"));
  EXPECT_EQ(received(970), Strings());
  EXPECT_EQ(received(40), first);
  // A trunk whose read fails is left out of the pass; the others report.
  sim("e1 status 2 error 5");
  EXPECT_EQ(received(1000), (Strings{"e1 0" + std::string(normal_status), "e1 1" + std::string(normal_status),
                                     "e1 3" + std::string(normal_status)}));
  EXPECT_TRUE(cap.has(cap.err(), "E1: synchronization status read fail, trunk = 2 cause = Input/output error"));
  sim("e1 status 2 error 0");
  sim("e1 status 2 0");
  // A state word outside the named ones reads as unknown: the trunk still
  // reports, and nobody sees a state the protocol cannot carry.
  sim("e1 status 1 9");
  sim("e1 status 3 6");
  Strings odd = all_normal();
  odd[1] = "e1 1 unknown slips 0 bf 0 carrier 0 ais 0 rai 0";
  odd[3] = "e1 3 disabled slips 0 bf 0 carrier 0 ais 0 rai 0";
  EXPECT_EQ(received(1000), odd);
  sim("e1 status 1 0");
  sim("e1 status 3 0");
  // The controller leaves: the reports stop. A new controller gets a pass
  // at once and then one a second, not two.
  ctl.close();
  run_for(10);
  EXPECT_FALSE(e1->timer_running());
  run_for(500);
  reconnect();
  EXPECT_EQ(received(), all_normal());
  EXPECT_EQ(received(970), Strings());
  EXPECT_EQ(received(40), all_normal());
  EXPECT_EQ(received(1000), all_normal());
  // Only trunk 2's failed read was logged, and the open device was kept.
  EXPECT_EQ(cap.count(cap.err(), "E1: synchronization status read fail"), 1);
  EXPECT_EQ(cap.count(cap.log(), "E1: cas interface opened!"), 1);
}

// The reports are the controller's: with it gone (and its slots with it)
// nobody reads them, and each would only be logged as a refused send, four
// a second for as long as the controller stays away.
TEST_F(E1CtlTest, ReportsStopWhileNoControllerIsConnected) {
  make();
  EXPECT_EQ(received(), all_normal());
  ctl.close();
  run_for(10);
  EXPECT_FALSE(e1->timer_running());
  run_for(5000);
  EXPECT_EQ(cap.count(cap.err(), "ignore Send request"), 0) << cap.all();
  // The next controller gets a pass at once and one a second.
  reconnect();
  EXPECT_EQ(received(), all_normal());
  EXPECT_EQ(received(1000), all_normal());
}

TEST_F(E1CtlTest, WithoutTheMaintenanceDeviceNothingIsReportedOrWritten) {
  sim("e1 fail open 2");
  make();
  // A mode that could not be written is refused, and not kept for later.
  EXPECT_EQ(ask(trunk_image(1, 2, true)), Strings{"error internal"});
  EXPECT_EQ(received(2000), Strings());
  EXPECT_EQ(cap.count(cap.err(), "E1: "), 0);
  EXPECT_EQ(sim("e1 tclk"), "mask 0x0 writes 0");
  // Tried again on every use.
  sim("e1 fail open 0");
  EXPECT_EQ(received(1000), all_normal());
  EXPECT_EQ(ask(trunk_image(1, 0, true)), Strings{"success"});
  EXPECT_EQ(sim("e1 tclk"), "mask 0x1 writes 1");
}

TEST_F(E1CtlTest, TrunkModesSetAndClearTheirBitInTheTransmitClockMask) {
  make();
  received();
  struct Case {
    int trunk;
    bool slave;
    const char* tclk;
  } cases[] = {
      {2, true, "mask 0x4 writes 2"},  {0, true, "mask 0x5 writes 3"},
      {2, false, "mask 0x1 writes 4"},  {-1, true, "mask 0x1 writes 4"},  // no write
      {40, true, "mask 0x1 writes 5"},  // no bit: written unchanged
      {31, true, "mask 0x80000001 writes 6"}, {32, false, "mask 0x80000001 writes 7"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ask(trunk_image(1, c.trunk, c.slave)), Strings{"success"}) << c.trunk;
    EXPECT_EQ(sim("e1 tclk"), c.tclk) << c.trunk;
  }
  EXPECT_TRUE(cap.has(cap.log(), "E1: TCLT = 0x4"));
  EXPECT_TRUE(cap.has(cap.log(), "E1: TCLT = 0x80000001"));
  // A refused write is answered as refused; the mask stays as it was.
  sim("e1 fail tclk 5 1");
  EXPECT_EQ(ask(trunk_image(1, 3, true)), Strings{"error internal"});
  EXPECT_TRUE(cap.has(cap.err(), "E1: fail to set TCLK [cause=Input/output error]"));
  EXPECT_EQ(ask(trunk_image(1, 4, false)), Strings{"success"});
  EXPECT_EQ(sim("e1 tclk"), "mask 0x80000001 writes 8");
  // Every trunk is master again after a reconnect.
  reconnect();
  EXPECT_EQ(sim("e1 tclk"), "mask 0x0 writes 9");
  // The clock source goes to the device by value.
  e1->select_source(2);
  EXPECT_EQ(platform::sim::maintenance_model().clock_source, 2);
  EXPECT_EQ(cap.count(cap.err(), "fail to set clock source"), 0) << cap.all();
}

TEST_F(E1CtlTest, CasCommandsAndTheSignalsTheyCause) {
  make();
  received();
  // Open with a value above four bits sends the low four.
  EXPECT_EQ(cas(1, 5, "open", 0x1F), (Strings{"cas 1 0 rx 0 tx 0", "cas 1 5 rx 0 tx 15", "success"}));
  EXPECT_TRUE(e1->trunk_open(1));
  EXPECT_EQ(sim("cas trunk 1"), "open");
  EXPECT_TRUE(cap.has(cap.log(), "E1: open cas signalling on trunk(1) - ok"));
  // The line changes the received bits: read from the device.
  sim("cas rx 1 5 9");
  EXPECT_EQ(received(), Strings{"cas 1 5 rx 9 tx 15"});
  EXPECT_EQ(cas(1, 5, "set", 3), (Strings{"cas 1 5 rx 9 tx 3", "success"}));
  EXPECT_EQ(sim("cas get 1 5"), "rx 9 tx 3");
  EXPECT_EQ(cas(1, 5, "get"), (Strings{"cas 1 5 rx 9 tx 3", "success"}));
  sim("cas fail get 5 1");
  EXPECT_EQ(cas(1, 5, "get"), (Strings{"cas 1 5 rx -1 tx 0", "success"}));
  sim("cas fail set 5 1");
  EXPECT_EQ(cas(1, 5, "set", 1), (Strings{"cas 1 5 rx -1 tx 0", "success"}));
  // A second open on an open trunk: trunk report 0, channel configured again.
  EXPECT_EQ(cas(1, 6, "open", 2), (Strings{"cas 1 0 rx 0 tx 0", "cas 1 6 rx 0 tx 2", "success"}));
  sim("cas fail config 5 1");
  EXPECT_EQ(cas(1, 7, "open", 2), (Strings{"cas 1 0 rx 0 tx 0", "cas 1 7 rx -1 tx 0", "success"}));
  // A channel close the driver refuses reports its result with tx 0.
  sim("cas fail config 5 1");
  EXPECT_EQ(cas(1, 6, "close"), (Strings{"cas 1 6 rx -1 tx 0", "success"}));
  // Closing a channel, then the trunk (a driver result of 0 reads as 1).
  EXPECT_EQ(cas(1, 5, "close"), (Strings{"cas 1 5 rx -1 tx 1", "success"}));
  EXPECT_EQ(sim("cas get 1 5"), "closed");
  EXPECT_EQ(cas(1, 16, "close"), Strings{"success"});
  EXPECT_EQ(cas(1, 0, "close"), (Strings{"cas 1 0 rx 1 tx 0", "success"}));
  EXPECT_FALSE(e1->trunk_open(1));
  EXPECT_EQ(sim("cas trunk 1"), "closed");
  EXPECT_EQ(sim("cas get 1 6"), "closed");
}

TEST_F(E1CtlTest, CasCommandsThatSendNothing) {
  make();
  received();
  // Trunks outside 0 to 3; and get, set, close on a trunk not open.
  EXPECT_EQ(cas(4, 5, "open", 1), Strings{"success"});
  EXPECT_EQ(cas(-1, 5, "open", 1), Strings{"success"});
  EXPECT_EQ(cas(2, 5, "get"), Strings{"success"});
  EXPECT_EQ(cas(2, 5, "set", 1), Strings{"success"});
  EXPECT_EQ(cas(2, 0, "close"), Strings{"success"});
  EXPECT_EQ(sim("cas trunk 2"), "closed");
  // Time slots 0 and 16 open the trunk only.
  EXPECT_EQ(cas(2, 16, "open", 1), (Strings{"cas 2 0 rx 0 tx 0", "success"}));
  EXPECT_EQ(cas(3, 0, "open", 1), (Strings{"cas 3 0 rx 0 tx 0", "success"}));
  EXPECT_EQ(sim("cas get 2 16"), "closed");
  // A trunk that does not open: reported with the driver's result.
  sim("cas fail trunk-open 5 1");
  EXPECT_EQ(cas(0, 3, "open", 1), (Strings{"cas 0 0 rx -1 tx 0", "success"}));
  EXPECT_TRUE(cap.has(cap.log(), "E1: open cas signalling on trunk(0) - fail(-1)"));
  EXPECT_FALSE(e1->trunk_open(0));
  sim("cas fail trunk-close 5 1");
  EXPECT_EQ(cas(3, 0, "close"), (Strings{"cas 3 0 rx -1 tx 0", "success"}));
  EXPECT_TRUE(e1->trunk_open(3));
  // A short record from the device is dropped.
  sim("cas raw 0000000100000002");
  EXPECT_EQ(received(), Strings());
  // A device that reads as gone (end of file, an error) is let go, or the
  // loop would wake for it without end; the next status pass opens it again.
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ::close(ends[1]);
  for (int fd : {ends[0], -1}) {
    e1->OnUpdateCas(fd, POLLIN);
    EXPECT_FALSE(e1->cas_watched()) << fd;
    received(1000);
    EXPECT_TRUE(e1->cas_watched()) << fd;
  }
  ::close(ends[0]);
  // Other slot-less requests have no server.
  EXPECT_EQ(ask(command_image(9, [](LGCP::Command& c) { c.select_ioctl().select_deactivateTonec(); })),
            Strings{"error unsupported"});
  // Commands of other services are not this one's to answer.
  EXPECT_EQ(ask(boardtest::bpc_image(10, 0, 1, "read", 0, 1)), Strings{"error unexpectedMsgType"});
}

TEST_F(E1CtlTest, WithoutTheCasDeviceCommandsAreRefusedAndTheOpenIsRetried) {
  sim("cas fail open 2");
  make();
  received();
  EXPECT_FALSE(e1->cas_open());
  EXPECT_EQ(cas(1, 5, "open", 1), Strings{"error internal"});
  EXPECT_EQ(sim("cas trunk 1"), "closed");
  // A device that did not open is not one left unwatched.
  EXPECT_EQ(cap.count(cap.err(), "cas interface not watched"), 0) << cap.all();
  sim("cas fail open 0");
  received(1000);
  EXPECT_TRUE(e1->cas_open());
  EXPECT_EQ(cas(1, 5, "open", 1), (Strings{"cas 1 0 rx 0 tx 0", "cas 1 5 rx 0 tx 1", "success"}));
}

// Short of descriptors, the CAS device is either open and watched or
// closed, and a later pass with descriptors free opens it: each count of
// free descriptors meets another step, the copies of the watch among them.
// In a child (its own limit).
TEST(E1CtlOutOfDescriptors, CasDeviceIsWatchedOrOpensAgainLater) {
  const std::string failed = testsupport::in_child([](std::vector<std::string>& failed) {
    testsupport::StreamCapture cap;
    const std::string devices = boardtest::sim("devices");
    // Every type used is checked once (see descriptor_exhaustion.h).
    E1Ctl().OnCheckStatus(nullptr);
    bool opened = false;
    for (int free = 0; free <= 8 && !opened; ++free) {
      E1Ctl e1;
      {
        testsupport::DescriptorFill fill;
        if (!fill.fill()) return failed.push_back("the descriptor table cannot be filled");
        for (int i = 0; i < free; ++i) fill.free_one();
        e1.OnCheckStatus(nullptr);
        opened = e1.cas_open();
        if (opened != e1.cas_watched())
          failed.push_back(std::string("the device ") + (opened ? "open and unwatched" : "closed and watched") +
                           " with " + std::to_string(free) + " free");
      }
      e1.OnCheckStatus(nullptr);
      if (!e1.cas_open() || !e1.cas_watched())
        failed.push_back("not opened again once free, after " + std::to_string(free) + " free");
    }
    if (!opened) failed.push_back("not opened with 8 free descriptors");
    if (boardtest::sim("devices") != devices) failed.push_back("devices left open: " + boardtest::sim("devices"));
    if (testsupport::StreamCapture::matching(cap.err(), "E1: cas interface not watched: Too many open files").empty())
      failed.push_back("the unwatched device is not logged: " + cap.all());
  });
  EXPECT_EQ(failed, "");
}

}  // namespace
