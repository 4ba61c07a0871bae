// The devices of the simulated board.
#include "platform/sim/device_model.h"
#include "platform/sim/watchdog.h"

#include <vector>

namespace platform {
namespace sim {
namespace {

std::vector<void (*)()>& installers() {
  static std::vector<void (*)()> list;
  return list;
}

}  // namespace

DefaultModel::DefaultModel(void (*install)()) { installers().push_back(install); }

void install_default_models() {
  watchdog();
  for (auto install : installers()) install();
}

}  // namespace sim
}  // namespace platform
