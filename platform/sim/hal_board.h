#pragma once
// The board-state requests of the simulated "/dev/hal": the DIP switch byte
// and the power supply byte that reads return, and the framer LED bytes
// written since the last look. Each request kind can be made to fail.
//
// Control-socket words:
//   hal dip V        -> the DIP reads return V (0..255; 0 at start)
//   hal power V      -> the power reads return V (0..255; 2 at start)
//   hal led          -> one line per LED write since the last "hal led",
//                       two lower-case hexadecimal digits
//   hal fail dip|power|led E [N]
#include <cstdint>
#include <vector>

namespace platform {
namespace sim {

class HalBoard {
 public:
  std::uint8_t dip = 0;
  std::uint8_t power = 2;
  // LED bytes written and not yet taken.
  std::vector<std::uint8_t> leds;
  // The last LED byte written (0 at start).
  std::uint8_t led = 0;

  void clear();
  // The LED writes since the last call.
  std::vector<std::uint8_t> take_leds();
};

// The board state behind "/dev/hal" (its requests are added to the model
// on first call).
HalBoard& hal_board();

}  // namespace sim
}  // namespace platform
