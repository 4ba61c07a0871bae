// Raw data channel slots, in process against the simulated controller.
#include "media/mcc_slot.h"
#include "tests/slots/create_short_of_descriptors.h"

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

}  // namespace
