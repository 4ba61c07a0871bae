#pragma once
// A factory's create short of descriptors gives a slot holding its
// controller channel or no slot and no channel: each count of free
// descriptors meets another step, among them the slot's copies of the
// channel. Run in a child (its own limit); what failed, "" when nothing.
#include "platform/sim/mcc.h"
#include "slots/slot_factory.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/stream_capture.h"

#include <string>
#include <vector>

namespace testsupport {

// `logged`: the start of the line the factory writes for a channel it could
// not copy.
inline std::string create_short_of_descriptors(SlotFactory& factory, const LGCP::CreateParams& p,
                                               const std::string& logged) {
  return in_child([&](std::vector<std::string>& failed) {
    auto& mcc = platform::sim::mcc();
    // Every type used is checked once (see descriptor_exhaustion.h).
    delete factory.INewSlot(p);
    StreamCapture cap;
    with_free_descriptors(8, "slot", failed, [&](DescriptorFill& fill, const std::string& at) {
      Slot* s = factory.INewSlot(p);
      const bool created = s != nullptr;
      const std::size_t held = mcc.allocations().size();
      delete s;
      fill.release();
      if (held != (created ? 1u : 0u))
        failed.push_back(std::to_string(held) + " channels held by " + (created ? "a slot" : "no slot") + at);
      return created;
    });
    if (StreamCapture::matching(cap.err(), logged).empty())
      failed.push_back("the channel the slot could not copy is not logged: " + cap.all());
  });
}

}  // namespace testsupport
