// HDLC package slots in process against the simulated HDLC controller, on
// the virtual clock.
#include "media/hdlc_slot.h"
#include "platform/sim/hal.h"
#include "platform/sim/mcc.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

using platform::sim::mcc;
using Frames = std::vector<platform::sim::Mcc::Frame>;

namespace {

LGCP::IoctlParams packages(const std::vector<std::vector<char>>& bodies) {
  LGCP::IoctlParams p;
  auto& list = p.select_hdlcPackages();
  for (const std::vector<char>& b : bodies) {
    LGCP::HdlcPackage package;
    package.set_body(b);
    list.push_back(package);
  }
  return p;
}

class HdlcSlotLoop : public testsupport::VirtualClockTest {};

// A connection's far end: a line on `channel` (-1: none yet).
class Line : public Slot {
 public:
  explicit Line(int c) : channel(c) {}
  int IGetTransmitChannel() override { return channel; }
  int IGetReceiveChannel() override { return channel; }
  const char* GetName() const override { return "line"; }
  int channel;
};

Slot* package_slot() {
  LGCP::CreateParams p;
  LGCP::HdlcParams& h = p.select_hdlcParams();
  h.set_trunk(1);
  h.set_log(0);
  h.set_address(3);
  return HdlcSlotFactory::instance().NewSlot(p);
}

// A connection opens the channel on the far end's line, switch channel 0
// as much as any; a far end without a line yet opens nothing.
TEST_F(HdlcSlotLoop, AConnectionOpensTheChannelOnItsLine) {
  auto& hal = platform::sim::hal();
  const auto fed_from = [&hal](int output) {
    auto it = hal.outputs.find(output);
    return it != hal.outputs.end() && it->second.state == platform::sim::Hal::Output::connected ? it->second.value
                                                                                                : -1;
  };
  Slot* s = package_slot();
  ASSERT_NE(s, nullptr);
  testsupport::StreamCapture cap;  // the unbound slot's signals are refused on the error stream
  Line none(-1), zero(0);
  EXPECT_TRUE(s->IHwConnectTransmitter(&none));
  EXPECT_TRUE(mcc().allocations().empty()) << "no line, no channel";
  EXPECT_TRUE(s->IHwConnectReceiver(&zero));
  const auto ch = mcc().allocations();
  ASSERT_EQ(ch.size(), 1u);
  EXPECT_EQ(fed_from(0), ch[0].timeslot);
  EXPECT_EQ(fed_from(ch[0].timeslot), 0);

  // The largest body fills a whole frame and goes; one octet more does not
  // fit and is dropped.
  run_for(10);
  const std::vector<char> largest(packet_max_size - 3, '\x5a');
  std::vector<char> over = largest;
  over.push_back(0);
  s->Ioctl(packages({largest, over}));
  run_for(10);
  const Frames sent = mcc().take_written(ch[0].timeslot);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].size(), packet_max_size);
  EXPECT_TRUE(s->BeforeDestroy());
  delete s;
  EXPECT_TRUE(mcc().allocations().empty());
}

// A frame the channel refuses with an error (not a full channel) gets no
// ready report to wait for. Held at the head, it went out whenever the
// controller next sent a package, however late, and one the driver never
// takes held every later package behind it. It is given up (the channel
// counts it as a send error); the frames behind it go on.
TEST_F(HdlcSlotLoop, AFrameTheChannelRefusesIsGivenUp) {
  Slot* s = package_slot();
  ASSERT_NE(s, nullptr);
  testsupport::StreamCapture cap;  // the unbound slot's signals are refused on the error stream
  ASSERT_TRUE(s->IActivate(TERM::TermActivateParams()));
  const auto ch = mcc().allocations();
  ASSERT_EQ(ch.size(), 1u);
  const int ts = ch[0].timeslot;
  run_for(10);

  // The last package of a command refused: not sent later, with the next
  // command's.
  mcc().fail(platform::sim::Mcc::Step::write, EIO, 1);
  EXPECT_FALSE(s->Ioctl(packages({{0x01}})));
  run_for(10000);
  EXPECT_EQ(mcc().take_written(ts), Frames{});
  // A package refused ahead of another: the other goes at once.
  mcc().fail(platform::sim::Mcc::Step::write, EIO, 1);
  s->Ioctl(packages({{0x02}, {0x03}}));
  run_for(10);
  EXPECT_EQ(mcc().take_written(ts), (Frames{{0x00, 0x03, 0x40, 0x03}}));
  s->Ioctl(packages({{0x04}}));
  run_for(10);
  EXPECT_EQ(mcc().take_written(ts), (Frames{{0x00, 0x03, 0x60, 0x04}}));
  EXPECT_EQ(testsupport::StreamCapture::count(cap.err(), "frame refused by the channel, dropped"), 2);

  // A full channel still keeps its frame for the next ready report.
  ASSERT_TRUE(mcc().eagain(ts, 1));
  s->Ioctl(packages({{0x05}, {0x06}}));
  run_for(10);
  EXPECT_EQ(mcc().take_written(ts), (Frames{{0x00, 0x03, 0x80, 0x05}, {0x00, 0x03, 0xA0, 0x06}}));

  EXPECT_TRUE(s->BeforeDestroy());
  delete s;
  EXPECT_TRUE(mcc().allocations().empty());
}

}  // namespace
