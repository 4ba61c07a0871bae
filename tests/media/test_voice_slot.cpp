// Voice slots in process against the simulated controller.
#include "media/voice_slot.h"
#include "tests/slots/create_short_of_descriptors.h"

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

}  // namespace
