#pragma once
// Model of the board's DSP voice-processing unit "/dev/dsp": it logs every
// request with its fields and answers it, reports the interface version a
// test sets (2 by default), and queues the 24-byte event records
// {timeslot, id, type, p1, p2, p3} that a test hands it. The parameters of
// a configure request are logged as the function lays them out (a VAD
// configuration as the version in force lays it out); unknown functions as
// three words.
//
// Control-socket words (besides "dsp log", "dsp raw HEX" and
// "dsp fail NAME E [N]", see dsp_unit_model.h):
//   dsp event TS ID TYPE P1 P2 P3 -> queues one event record
//   dsp version N                 -> the version DSPROC_GET_VERSION returns
#include "platform/sim/dsp_unit_model.h"

namespace platform {
namespace sim {

class Dsp : public DspUnitModel {
 public:
  int version = 2;

  int on_ioctl(Channel& ch, unsigned long request, void* arg) override;
  const std::vector<std::string>& request_names() const override;
  void clear() override;

  // Queues one event record built word by word.
  bool event(std::uint32_t timeslot, std::uint32_t id, std::uint32_t type, std::uint32_t p1, std::uint32_t p2,
             std::uint32_t p3);
};

// The model installed at "/dev/dsp" (installed on first call).
Dsp& dsp();

}  // namespace sim
}  // namespace platform
