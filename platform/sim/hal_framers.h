#pragma once
// The clock select and the SPI framer registers of the simulated "/dev/hal"
// (requests added to the cross-connect model of hal.h).
//
// The clock select takes any source. The eight basic-rate framers have 256
// registers each, all 0 but the line status 0x33, which shows a healthy
// line (0xC5). Every register write is kept in order.
//
// Control-socket words:
//   hal clock         -> "source S selects K" (S "none" before any select)
//   hal clock absent S [S ...] -> the board lacks these clock sources (the
//                        line of a framer not fitted): selecting one fails
//                        with ENODEV and changes nothing
//   hal spi F R       -> "value 0xVV"
//   hal spi F R V     -> sets the register
//   hal spi writes    -> "F 0xRR 0xVV" per write, oldest first
//   hal fail K E [N]  -> K one of clock, spi-read, spi-write; ENODEV (19)
//                        on SPI is a board without an SPI bus
#include <cstdint>
#include <set>
#include <vector>

namespace platform {
namespace sim {

struct HalFramers {
  static constexpr int framers = 8;
  static constexpr int line_status = 0x33;
  static constexpr int line_healthy = 0xC5;
  struct Write {
    int framer, reg, value;
  };

  std::uint8_t regs[framers][256];
  std::vector<Write> writes;
  int source = -1;
  unsigned long selects = 0;
  std::set<int> absent_sources;

  HalFramers() { clear(); }
  void clear();
};

// The framers and clock of the model (their requests added on first call).
HalFramers& hal_framers();

}  // namespace sim
}  // namespace platform
