// ISDN D-channel slots made by their factory, in process against the
// simulated controller.
#include "signalling/isdn_slot.h"
#include "tests/slots/create_short_of_descriptors.h"

#include <gtest/gtest.h>

namespace {

// Short of descriptors, a create gives a slot holding its D channel or no
// slot and no channel.
TEST(IsdnSlotOutOfDescriptors, CreateHoldsItsChannelOrGivesNoSlot) {
  LGCP::CreateParams p;
  LGCP::IsdnParams& i = p.select_isdn();
  i.set_type(LGCP::IsdnType::pri);
  i.set_trunk(0);
  i.set_log(0);
  i.set_side();
  EXPECT_EQ(testsupport::create_short_of_descriptors(IsdnFactory::instance(), p, "mcc/isdn: fail to hold D channel: "), "");
}

}  // namespace
