// Voice slots in process against the simulated controller.
#include "media/t38_slot.h"
#include "media/voice_slot.h"
#include "tests/slots/create_short_of_descriptors.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/stream_capture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Short of descriptors, a player or a recorder holds its channel or is not
// made: each count of free descriptors meets another step, the slot's copy
// of the channel among them.
TEST(VoiceSlotOutOfDescriptors, CreateHoldsItsChannelOrGivesNoSlot) {
  LGCP::CreateParams rec;
  auto& h = rec.select_voice().select_record();
  h.set_iaddr(std::string("127.0.0.1"));
  h.set_port(4000u);
  LGCP::CreateParams play;
  auto& f = play.select_voice().select_player().select_file();
  f.set_name().push_back(std::string("welcome"));
  f.set_repeat(1);
  for (const LGCP::CreateParams* p : {&rec, &play}) {
    SCOPED_TRACE(p == &rec ? "recorder" : "player");
    EXPECT_EQ(testsupport::create_short_of_descriptors(VoiceFactory::instance(), *p, "voice/mcc[0]: fail to hold channel "),
              "");
  }
}

// A resources query whose counting command cannot be started (no
// descriptor for its pipe) counts no T.38 instances and says why. In a child.
TEST(T38FactoryOutOfDescriptors, CountWithoutAPipeIsNone) {
  const std::string failed = testsupport::in_child([](std::vector<std::string>& failed) {
    T38SoftFactory& f = T38SoftFactory::instance();
    f.QueryNumOfInstances();  // every type used checked once (see descriptor_exhaustion.h)
    testsupport::StreamCapture cap;
    int n = -1;
    {
      testsupport::DescriptorFill fill;
      if (!fill.fill()) return failed.push_back("the descriptor table cannot be filled");
      n = f.QueryNumOfInstances();
    }
    if (n != 0) failed.push_back("counted " + std::to_string(n) + " instances");
    if (testsupport::StreamCapture::count(cap.log(), "t38 daemon not found!") != 1)
      failed.push_back("the command not started is not told: " + cap.all());
  });
  EXPECT_EQ(failed, "");
}

}  // namespace
