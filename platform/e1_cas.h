#pragma once
// Requests of the board's CAS driver "/dev/e1-cas" (the ABCD signalling bits
// of each E1 time slot). The numbers are the board's own encodings, written
// out literally. Records are in the machine's byte order and filled field by
// field; reading the device yields one cas_channel per changed channel.
#include <cstdint>

namespace e1cas {

// Open / close CAS on a trunk: the trunk itself is the argument.
constexpr unsigned long CAS_TRUNK_OPEN = 0x80044300UL;
constexpr unsigned long CAS_TRUNK_CLOSE = 0x80044301UL;
// Set a channel's transmitted bits / read its bits: a cas_channel.
constexpr unsigned long CAS_SET = 0xC00C4302UL;
constexpr unsigned long CAS_GET = 0xC00C4303UL;
// Open or close one channel: a cas_channel_config.
constexpr unsigned long CAS_CONFIG = 0xC0104304UL;

struct cas_channel {
  std::int32_t path;  // the trunk
  std::int32_t timeslot;
  std::uint8_t rx;  // received ABCD bits
  std::uint8_t tx;  // transmitted ABCD bits
  std::uint8_t reserved[2];
};
static_assert(sizeof(cas_channel) == 12, "CAS channel record is 12 bytes");

struct cas_channel_config {
  cas_channel channel;
  std::uint32_t close;  // 0 opens the channel, 1 closes it
};
static_assert(sizeof(cas_channel_config) == 16, "CAS channel configuration is 16 bytes");

}  // namespace e1cas
