#pragma once
// Requests of the board's multi-channel HDLC controller "/dev/mcc/ctl", as
// the board's driver numbers them (PowerPC encoding: direction in bits 29 to
// 31, argument size in bits 16 to 28, type 'M', number). Never rebuild these
// with the host's _IO macros: their direction bits differ on x86.
#include <cstdint>

namespace platform {
namespace mcc {

// Binds the descriptor that issues it to a new controller channel; the
// argument is a mcc_allocate_params record.
constexpr unsigned long MCC_ALLOCATE = 0x40144D00UL;
// No argument; answers the switch channel of the descriptor's controller
// channel, negative on failure.
constexpr unsigned long MCC_TIMESLOT = 0x20004D02UL;
// Fills a resources record.
constexpr unsigned long MCC_RESOURCES = 0x80104D03UL;

constexpr const char* device_path = "/dev/mcc/ctl";

}  // namespace mcc
}  // namespace platform

// The 20-byte argument of MCC_ALLOCATE: five 32-bit words in host order
// (big-endian on the board); `reserved` is always 0.
struct mcc_allocate_params {
  std::uint32_t mode;
  std::uint32_t packet_size;
  std::uint32_t reserved;
  std::uint32_t rx_threshold;
  std::uint32_t tx_threshold;
};

// The 16-byte record that MCC_RESOURCES fills: channel counts of the
// controller (data, BRI, transparent) and a word the server does not use.
struct mcc_resources {
  std::uint32_t data;
  std::uint32_t bri;
  std::uint32_t trans;
  std::uint32_t unused;
};

static_assert(sizeof(mcc_allocate_params) == 20, "MCC_ALLOCATE takes 20 bytes");
static_assert(sizeof(mcc_resources) == 16, "MCC_RESOURCES fills 16 bytes");
