// The devices of the simulated board.
#include "platform/sim/device_model.h"
#include "platform/sim/watchdog.h"

namespace platform {
namespace sim {

void install_default_models() {
  watchdog();
}

}  // namespace sim
}  // namespace platform
