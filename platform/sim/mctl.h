#pragma once
// Model of the modem control driver "/dev/mctl": a pool of DSP modems
// (0..3 by default). Allocation gives the lowest free modem to the
// descriptor that asked, and the modem is freed when that descriptor
// closes; enumeration answers the number after the one passed by value and
// ENODEV after the last; the time-slot request answers the switch channel
// of the descriptor's modem. Every request is recorded with its argument
// words and any request number can be made to fail with an errno.
//
// Control-socket words:
//   mctl pool N               -> N modems from now on (at most 65536, more
//                                than the server counts)
//   mctl requests             -> "0xBBnn w1 w2 ..." per request since last asked
//   mctl fail 0xBBnn E [N]    -> that request fails with errno E: the next N,
//                                or all until "mctl fail 0xBBnn 0"
//   mctl fail open E [N]      -> opening the device fails likewise
#include "platform/sim/device_model.h"
#include "platform/sim/failures.h"

#include <map>
#include <string>
#include <vector>

namespace platform {
namespace sim {

class Mctl : public DeviceModel {
 public:
  // The switch channel of a modem (the driver's own numbering).
  static int timeslot_of(int modem) { return 1792 + modem; }

  int pool = 4;
  std::vector<std::string> requests;

  void fail(unsigned long request, int err, long long count = -1);
  void clear();
  int open_error() override;
  int on_ioctl(Channel& ch, unsigned long request, void* arg) override;
  void on_close(Channel& ch) override;

 private:
  // By request number; the opens under 0, which no request has.
  Failures<unsigned long> failures_;
  std::map<int, ino_t> owner_;  // allocated modem -> channel
};

Mctl& mctl_model();

}  // namespace sim
}  // namespace platform
