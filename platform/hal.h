#pragma once
// Requests of the board driver "/dev/hal" (request types 'M', 'B' and 'C').
// The numbers are the board's own encodings, written out literally: the
// host's _IOW macros put the direction bits elsewhere. The cross-connect's
// and the clock's arguments are 32-bit signed ints in the machine's byte
// order; the board-state requests take one byte, the SPI ones three.
#include <cstdint>

namespace hal {

// Feed an output from an input: {output, input}.
constexpr unsigned long HAL_MUX_CONNECT = 0x80084D02UL;
// Switch an output off: {channel}.
constexpr unsigned long HAL_MUX_DISABLE = 0x80044D03UL;
// Drive a constant byte onto an output: {channel, byte}.
constexpr unsigned long HAL_MUX_WRITE = 0xC0084D04UL;
// Read the byte on a channel: {channel, value}; 255 goes in, the byte
// comes back in `value`.
constexpr unsigned long HAL_MUX_READ = 0xC0084D05UL;

// Board state, one byte each way: read the DIP switches, read the power
// supply, write the framer LEDs.
constexpr unsigned long HAL_DIP_READ = 0xC0014205UL;
constexpr unsigned long HAL_POWER_READ = 0xC0014206UL;
constexpr unsigned long HAL_LED_WRITE = 0xC0014207UL;

// Select the TDM clock source: the address of a 32-bit int holding the
// source number ('C' 1, write, 4 bytes).
constexpr unsigned long HW_CLOCK_SELECT = 0x80044301UL;

// Registers of the basic-rate line framers on the SPI bus, through a 3-byte
// record {framer, register, data} ('B' 3 and 'B' 4, read-write, 3 bytes).
// A read returns the register's value in the low byte of the request's
// result; both return -1 on failure, ENODEV when the board has no SPI bus.
constexpr unsigned long HAL_SPI_READ = 0xC0034203UL;
constexpr unsigned long HAL_SPI_WRITE = 0xC0034204UL;
constexpr int spi_record_size = 3;

struct mux_connect_arg {
  std::int32_t output;
  std::int32_t input;
};
struct mux_channel_arg {
  std::int32_t channel;
};
struct mux_value_arg {
  std::int32_t channel;
  std::int32_t value;
};

}  // namespace hal
