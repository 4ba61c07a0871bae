// The DSP unit device a unit service holds, in process against the simulated
// tone unit.
#include "platform/sim/dtmf.h"
#include "slots/device_names.h"
#include "slots/unit_service.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/pass_share.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

const Hardware::UnitService::Device unit_device{
    GetDTMFDevName, O_RDONLY | O_NONBLOCK | O_CLOEXEC, "open unit fail: ", "unit", "Unit::OnEvent", 16,
};

struct Unit : Hardware::UnitService {
  Unit() : UnitService(unit_device) {}
  bool open() { return ensure_open("unit not opened", 0); }
  void dispatch(const std::uint8_t*) override {
    ++events;
    if (on_event) on_event();
  }
  int events = 0;
  std::function<void()> on_event;
};

class UnitServiceTest : public testsupport::VirtualClockTest {};

// Opened short of descriptors, a unit either reads its events or stays
// closed and opens at the next request: each count of free descriptors
// meets another step, one of them the watch's copy of the device. In a
// child (its own limit).
TEST_F(UnitServiceTest, OpenedShortOfDescriptorsReadsItsEventsOrOpensAgain) {
  const std::string failed = testsupport::in_child([](std::vector<std::string>& failed) {
    auto& dtmf = platform::sim::dtmf();
    {
      // Every type used is checked once (see descriptor_exhaustion.h).
      Unit warm;
      dtmf.event(1, 2, 3, 4);
      run_for(10);
    }
    testsupport::StreamCapture cap;
    testsupport::with_free_descriptors(6, "unit opened", failed, [&](testsupport::DescriptorFill& fill, const std::string& at) {
      Unit u;
      const bool opened = u.is_open();
      fill.release();
      if (!opened && !u.open()) failed.push_back("the unit does not open at the next request" + at);
      dtmf.event(1, 2, 3, 4);
      run_for(10);
      if (u.events != 1) failed.push_back(std::to_string(u.events) + " events read by a unit opened" + at);
      return opened;
    });
    if (testsupport::StreamCapture::matching(cap.err(), "open unit fail: Too many open files").empty())
      failed.push_back("no open failed: " + cap.all());
  });
  EXPECT_EQ(failed, "");
}

// A unit that reports a new event with every one read is read a share per
// pass; the loop polls the rest between.
TEST_F(UnitServiceTest, AFloodingUnitIsReadAShareAPass) {
  auto& dtmf = platform::sim::dtmf();
  Unit u;
  testsupport::PassShare share;
  u.on_event = [&] {
    share.delivered();
    if (u.events < 5000) dtmf.event(1, 2, 3, 4);
  };
  dtmf.event(1, 2, 3, 4);
  run_for(10);
  EXPECT_GT(u.events, int(Event::max_reads_per_event));
  EXPECT_EQ(share.most, Event::max_reads_per_event) << "a full share, not less";
}

}  // namespace
