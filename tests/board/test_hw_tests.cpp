// The TDM bus test on the simulated cross-connect: the seeded pattern
// written, read back and checked against a peer's bytes, the log lines of a
// mismatch, and runs that are empty or leave the bus.
#include "board/services/hw_tests.h"
#include "slots/hw_mux.h"
#include "tests/board/board_fixture.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using boardtest::BoardTest;
using boardtest::bpc_image;
using boardtest::sim;
using boardtest::Strings;

class HwTestsTest : public BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    HwMux::instance();
    tests = std::make_unique<HwTests>();
    start({tests.get()});
  }
  Strings bpc(unsigned bus, int seed, const char* mode, unsigned start, unsigned length) {
    return ask(bpc_image(1, bus, seed, mode, start, length));
  }
  std::unique_ptr<HwTests> tests;
};

TEST_F(HwTestsTest, WriteReadAndDisconnectARun) {
  const std::string after = sim("hal get 8333");
  // glibc's generator with seed 1 starts 67 C6 69 73 51 FF.
  EXPECT_EQ(bpc(1, 1, "write", 10, 3), Strings{"success"});
  EXPECT_EQ(sim("hal get 8330"), "byte 103");
  EXPECT_EQ(sim("hal get 8331"), "byte 198");
  EXPECT_EQ(sim("hal get 8332"), "byte 105");
  EXPECT_EQ(sim("hal get 8333"), after);
  EXPECT_EQ(bpc(1, 1, "read", 10, 3), Strings{"success"});
  EXPECT_EQ(bpc(1, 2, "read", 10, 3), Strings{"error busError"}) << "another seed, another pattern";
  EXPECT_EQ(bpc(1, 1, "write", 13, 1), Strings{"success"});  // the slot after the run
  EXPECT_EQ(bpc(1, 1, "disconnect", 10, 3), Strings{"success"});
  for (const char* ch : {"hal get 8330", "hal get 8331", "hal get 8332"}) EXPECT_EQ(sim(ch), "disabled");
  EXPECT_EQ(sim("hal get 8333"), "byte 103");
  EXPECT_TRUE(cap.err().size() == 1) << cap.all();
  // Channels the switch would not disable fail the run.
  EXPECT_EQ(bpc(1, 1, "write", 10, 3), Strings{"success"});
  sim("hal fail disable 5");
  EXPECT_EQ(bpc(1, 1, "disconnect", 10, 3), Strings{"error busError"});
  EXPECT_EQ(sim("hal get 8330"), "byte 103");
  sim("hal fail disable 0");
  EXPECT_EQ(bpc(1, 1, "disconnect", 10, 3), Strings{"success"});
  EXPECT_EQ(sim("hal get 8330"), "disabled");
}

TEST_F(HwTestsTest, ReadChecksThePeersBytesUpToTheFirstMismatch) {
  for (int k = 0; k < 4; ++k) {
    static const int pattern[] = {0x67, 0xC6, 0x69, 0x73};
    sim("hal set " + std::to_string(8448 + k) + " " + std::to_string(pattern[k]));
  }
  EXPECT_EQ(bpc(2, 1, "read", 0, 4), Strings{"success"});
  sim("hal set 8449 0");
  sim("hal set 8450 0");
  EXPECT_EQ(bpc(2, 1, "read", 0, 4), Strings{"error busError"});
  ASSERT_EQ(cap.err().size(), 1u) << cap.all();
  EXPECT_EQ(cap.err()[0].text, "bus 2: test failed on channel 1 expected C6  read 00 ");
  // A read the driver fails gives 255.
  sim("hal set 8449 none");
  sim("hal fail read 5");
  EXPECT_EQ(bpc(2, 1, "read", 0, 1), Strings{"error busError"});
  EXPECT_EQ(cap.err().back().text, "bus 2: test failed on channel 0 expected 67  read FF ");
}

TEST_F(HwTestsTest, AWriteThatDoesNotReadBackFailsAtThatChannel) {
  sim("hal set 8331 0");
  EXPECT_EQ(bpc(1, 1, "write", 10, 3), Strings{"error busError"});
  ASSERT_EQ(cap.err().size(), 1u) << cap.all();
  EXPECT_EQ(cap.err()[0].text, "bus 1: write failed on channel 11 write C6  written 00 ");
}

TEST_F(HwTestsTest, EmptyRunsAndRunsPastTheBus) {
  // The writes and reads the test asks of the switch (the cross-connect
  // sweeps disabled bus channels on its own).
  auto& hal = platform::sim::hal();
  auto asked = [&hal] {
    std::string s;
    for (const auto& r : hal.requests)
      if (r.kind != platform::sim::Hal::Kind::disable)
        s += std::to_string(int(r.kind)) + ":" + std::to_string(r.channel) + " ";
    hal.requests.clear();
    return s;
  };
  hal.record = true;
  // Another service's command is not the test's to take.
  EXPECT_EQ(ask(boardtest::trunk_image(1, 0, true)), Strings{"error unexpectedMsgType"});
  EXPECT_EQ(asked(), "");
  for (const char* mode : {"write", "read", "disconnect"}) EXPECT_EQ(bpc(0, 7, mode, 5, 0), Strings{"success"});
  EXPECT_EQ(asked(), "");
  // Past time slot 127 the run would reach into the next bus: refused,
  // nothing touched.
  EXPECT_EQ(bpc(0, 1, "write", 120, 9), Strings{"error invalidParams"});
  EXPECT_EQ(bpc(0, 1, "read", 127, 2), Strings{"error invalidParams"});
  EXPECT_EQ(asked(), "");
  // The last time slot alone runs: one write, one read.
  EXPECT_EQ(bpc(0, 1, "write", 127, 1), Strings{"success"});
  EXPECT_EQ(asked(), "3:8319 4:8319 ");
  EXPECT_EQ(sim("hal get 8319"), "byte 103");
}

}  // namespace
