#pragma once
// Model of the maintenance driver "/dev/maintenance": four E1 trunks, each
// with a synchronisation state and five counters (all `normal` and 0 on a
// fresh board), the transmit-clock mask and the E1 clock source.
//
// Control-socket words:
//   e1 status T S [SLIPS BF CARRIER AIS RAI] -> trunk T reports state S (0-6 named)
//                                               and those counters
//   e1 status T error E   -> status reads of trunk T fail with errno E (0 ends)
//   e1 tclk               -> "mask 0xM writes K"
//   e1 fail open|tclk E [N] -> opens / mask writes fail with errno E: the
//                              next N, or all until "e1 fail K 0"
#include "platform/maintenance.h"
#include "platform/sim/device_model.h"
#include "platform/sim/failures.h"

#include <cstdint>
#include <map>
#include <string>

namespace platform {
namespace sim {

class Maintenance : public DeviceModel {
 public:
  struct Trunk {
    int state = 0;
    int slips = 0, lossBF = 0, lossCarrier = 0, lossAIS = 0, lossRAI = 0;
    int read_error = 0;  // errno of every status read; 0: reads succeed
  };

  Trunk trunks[maintenance::e1_trunks];
  std::uint32_t tclk_mask = 0;
  unsigned long tclk_writes = 0;
  int clock_source = -1;

  void fail(const std::string& kind, int err, long long count = -1);
  void clear();
  int open_error() override;
  int on_ioctl(Channel& ch, unsigned long request, void* arg) override;

 private:
  Failures<std::string> failures_;
};

// The model installed at "/dev/maintenance" (installed on first call).
Maintenance& maintenance_model();

}  // namespace sim
}  // namespace platform
