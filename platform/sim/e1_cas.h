#pragma once
// Model of the CAS driver "/dev/e1-cas": CAS opened or closed per E1 trunk
// (0 to 3), and per channel (trunk, time slot 1 to 31) whether it is open
// and its received and transmitted ABCD bits. Channel requests need CAS
// open on the trunk and the channel open; a trunk close closes its channels.
// A change of received bits is read from the device as a cas_channel.
//
// Control-socket words:
//   cas trunk P         -> "open" | "closed"
//   cas get P TS        -> "rx R tx T" | "closed"
//   cas rx P TS BITS    -> the line brings BITS: sets rx and queues the
//                          channel's record for the reader
//   cas raw HEX         -> queues the bytes as one record (a short record)
//   cas trunks N        -> the board has N E1 framers (4 at start): opening
//                          CAS on trunk N or above fails with ENODEV
//   cas fail K E [N]    -> requests of kind K (open, trunk-open, trunk-close,
//                          set, get, config) fail with errno E: the next N,
//                          or all until "cas fail K 0"
#include "platform/e1_cas.h"
#include "platform/sim/device_model.h"
#include "platform/sim/failures.h"

#include <map>
#include <string>
#include <utility>

namespace platform {
namespace sim {

class E1Cas : public DeviceModel {
 public:
  struct Channel {
    bool open = false;
    int rx = 0, tx = 0;
  };

  bool trunk_open[4] = {false, false, false, false};
  // Trunks 0 .. trunks-1 have a framer.
  int trunks = 4;
  std::map<std::pair<int, int>, Channel> chans;

  // Sets the received bits and queues the channel's record.
  void line_bits(int path, int timeslot, int bits);
  void fail(const std::string& kind, int err, long long count = -1);
  void clear();
  int open_error() override;
  int on_ioctl(DeviceModel::Channel& ch, unsigned long request, void* arg) override;

 private:
  Failures<std::string> failures_;
};

// The model installed at "/dev/e1-cas" (installed on first call).
E1Cas& e1_cas_model();

}  // namespace sim
}  // namespace platform
