#pragma once
// Model of the hardware watchdog "/dev/misc/gw-wd": it counts every write
// (START, PING, STOP) and keeps the latest ones with the time of the process
// clock, and can be made to fail its open or the writes of a given text.
#include "platform/sim/device_model.h"

#include <cstdint>
#include <deque>
#include <map>
#include <string>

namespace platform {
namespace sim {

class Watchdog : public DeviceModel {
 public:
  struct Write {
    std::string data;
    std::uint32_t ms;  // millisecond count of the process clock
  };

  // A server on the simulated board pings for as long as it runs: only the
  // latest writes are kept, oldest first; `total` counts them all.
  static constexpr std::size_t max_kept = 1024;
  std::deque<Write> writes;
  std::uint64_t total = 0;
  std::map<std::string, int> fail_write;  // text -> errno to fail it with

  ssize_t on_write(Channel& ch, const void* buf, size_t len) override;
  void clear();
};

// The watchdog model installed at "/dev/misc/gw-wd" (installed on first call).
Watchdog& watchdog();

}  // namespace sim
}  // namespace platform
