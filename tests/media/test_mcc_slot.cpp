// Raw data channel slots, in process against the simulated controller.
#include "media/mcc_slot.h"
#include "platform/sim/mcc.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/stream_capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testsupport::StreamCapture;

// Short of descriptors, a create gives a slot holding its channel or no
// slot and no channel: each count of free descriptors meets another step,
// one of them the event's copy of the channel. In a child (its own limit).
TEST(MccSlotOutOfDescriptors, CreateHoldsItsChannelOrGivesNoSlot) {
  const std::string failed = testsupport::in_child([](std::vector<std::string>& failed) {
    auto& mcc = platform::sim::mcc();
    LGCP::CreateParams p;
    LGCP::MccParams& m = p.select_mcc();
    m.set_type(LGCP::MccType::data);
    m.set_mode(LGCP::MccMode::standard);
    // Every type used is checked once (see descriptor_exhaustion.h).
    delete MccFactory::instance().INewSlot(p);
    StreamCapture cap;
    testsupport::with_free_descriptors(8, "slot", failed, [&](testsupport::DescriptorFill& fill, const std::string& at) {
      Slot* s = MccFactory::instance().INewSlot(p);
      const bool created = s != nullptr;
      const std::size_t held = mcc.allocations().size();
      delete s;
      fill.release();
      if (held != (created ? 1u : 0u))
        failed.push_back(std::to_string(held) + " channels held by " + (created ? "a slot" : "no slot") + at);
      return created;
    });
    if (StreamCapture::matching(cap.err(), "mcc: fail to hold channel ").empty())
      failed.push_back("the channel the slot could not copy is not logged: " + cap.all());
  });
  EXPECT_EQ(failed, "");
}

}  // namespace
