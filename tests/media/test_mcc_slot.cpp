// Raw data channel slots, in process against the simulated controller.
#include "media/mcc_slot.h"
#include "platform/sim/mcc.h"
#include "slots/slot.h"
#include "tests/slots/create_short_of_descriptors.h"
#include "tests/support/pass_share.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>


namespace {

// Short of descriptors, a create gives a slot holding its channel or no
// slot and no channel.
TEST(MccSlotOutOfDescriptors, CreateHoldsItsChannelOrGivesNoSlot) {
  LGCP::CreateParams p;
  LGCP::MccParams& m = p.select_mcc();
  m.set_type(LGCP::MccType::data);
  m.set_mode(LGCP::MccMode::standard);
  EXPECT_EQ(testsupport::create_short_of_descriptors(MccFactory::instance(), p, "mcc: fail to hold channel "), "");
}

// A channel that receives a frame with every one read is read a share per
// pass; what waits is read on the passes after.
class MccSlotLoop : public testsupport::VirtualClockTest {};
TEST_F(MccSlotLoop, AFloodingChannelIsReadAShareAPass) {
  LGCP::CreateParams p;
  LGCP::MccParams& m = p.select_mcc();
  m.set_type(LGCP::MccType::data);
  m.set_mode(LGCP::MccMode::standard);
  Slot* s = MccFactory::instance().NewSlot(p);
  ASSERT_NE(s, nullptr);
  auto& mcc = platform::sim::mcc();
  const int ts = mcc.allocations().back().timeslot;
  const unsigned char frame[] = {0x7E};
  testsupport::FloodedDevice flood(mcc, [&] { mcc.inject(ts, frame, 1); });
  ASSERT_TRUE(mcc.inject(ts, frame, 1));
  run_for(10);
  EXPECT_EQ(flood.reads, 1000u);
  EXPECT_LE(flood.share.most, Event::max_reads_per_event);
  EXPECT_TRUE(s->BeforeDestroy());
  delete s;
}

// Switch channel 0 is a channel like any other: the slot is made on it.
TEST_F(MccSlotLoop, SwitchChannelZeroIsAChannel) {
  LGCP::CreateParams p;
  LGCP::MccParams& m = p.select_mcc();
  m.set_type(LGCP::MccType::transparent);
  m.set_mode(LGCP::MccMode::standard);
  platform::sim::mcc().next_timeslot = 0;
  Slot* s = MccFactory::instance().NewSlot(p);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->GetTransmitChannel(), 0);
  EXPECT_EQ(s->GetReceiveChannel(), 0);
  EXPECT_TRUE(s->BeforeDestroy());
  delete s;
}

}  // namespace
