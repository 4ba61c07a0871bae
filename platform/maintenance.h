#pragma once
// Requests of the board's maintenance driver "/dev/maintenance" (E1 trunk
// synchronisation status and transmit clocks). The numbers are the board's
// own encodings, written out literally. Records are in the machine's byte
// order and filled field by field.
#include <cstdint>

namespace maintenance {

// Read one trunk's synchronisation status: an e1_sync_status.
constexpr unsigned long E1_SYNC_STATUS = 0xC0504D03UL;
// Select the E1 clock source: the source itself is the argument.
constexpr unsigned long E1_CLOCK_SOURCE = 0xC0044D0AUL;
// Set the transmit-clock mask (bit n: trunk n takes its clock from the
// line): the mask itself is the argument.
constexpr unsigned long E1_TCLK_MASK = 0xC0044D0BUL;

constexpr int e1_trunks = 4;

// 80 bytes; zeroed, then `trunk` set, before each request.
struct e1_sync_status {
  std::uint32_t trunk;
  std::uint8_t reserved0[32];
  std::int32_t slips;
  std::int32_t lossBF;
  std::int32_t lossCarrier;
  std::int32_t lossAIS;
  std::int32_t lossRAI;
  std::uint8_t reserved1[20];
  std::int32_t state;  // 0 normal, 1 lossBF, 2 lossCarrier, 3 ais, 4 rai, 5 unknown, 6 disabled
};
static_assert(sizeof(e1_sync_status) == 80, "E1 status record is 80 bytes");

}  // namespace maintenance
