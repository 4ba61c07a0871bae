#pragma once
// Model of the board's DSP tone unit "/dev/dtmf": it logs every request
// with its fields (a SELCAL request's characters as their codes) and
// answers it, and queues the 16-byte event records {code, timeslot,
// timestamp, id} that a test hands it.
//
// Control-socket words (besides "dtmf log", "dtmf raw HEX" and
// "dtmf fail NAME E [N]", see dsp_unit_model.h):
//   dtmf event CODE TS STAMP ID -> queues one event record
#include "platform/sim/dsp_unit_model.h"

namespace platform {
namespace sim {

class Dtmf : public DspUnitModel {
 public:
  int on_ioctl(Channel& ch, unsigned long request, void* arg) override;
  const std::vector<std::string>& request_names() const override;

  // Queues one event record built word by word.
  bool event(std::uint32_t code, std::uint32_t timeslot, std::uint32_t timestamp, std::uint32_t id);
};

// The model installed at "/dev/dtmf" (installed on first call).
Dtmf& dtmf();

}  // namespace sim
}  // namespace platform
