// The devices of the simulated board, and the complement it is built with.
#include "platform/paths.h"
#include "platform/sim/control_words.h"
#include "platform/sim/device_model.h"
#include "platform/sim/watchdog.h"

#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace platform {
namespace sim {
namespace {

std::vector<void (*)()>& installers() {
  static std::vector<void (*)()> list;
  return list;
}

// Builds the board as the complement file describes it: each line is one
// control-socket request, so a board differs from the default only in what
// a test could also change while the server runs, but is built so before
// the server's first look at it.
void apply_complement() {
  std::ifstream in(board_path(complement_path));
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const Args words = split_words(line);
    if (words.empty() || words[0][0] == '#') continue;
    const std::string answer = control_request(line);
    // The last line of the answer is "ok" or the error.
    const auto end = answer.find_last_of('\n', answer.size() - 2);
    const std::string status = answer.substr(end == std::string::npos ? 0 : end + 1);
    if (status.compare(0, 5, "error") == 0)
      std::cerr << "sim: " << complement_path << " line " << number << ": " << line << ": " << status;
  }
}

}  // namespace

const char complement_path[] = "/sim-board";

DefaultModel::DefaultModel(void (*install)()) { installers().push_back(install); }

void install_default_models() {
  watchdog();
  for (auto install : installers()) install();
  apply_complement();
}

void board_ready() {
  static bool installed = (install_default_models(), true);
  (void)installed;
}

}  // namespace sim
}  // namespace platform
