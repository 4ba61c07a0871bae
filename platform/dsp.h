#pragma once
// Requests of the board's DSP voice-processing unit "/dev/dsp" (request type
// 'd'). The numbers are the board's own encodings, written out literally.
// Records are 32-bit words in the machine's byte order unless a width is
// given.
#include <cstddef>
#include <cstdint>

namespace dsp {

// 20 bytes: timeslot, function code, 12 bytes of function parameters.
constexpr unsigned long DSPROC_CONFIGURE = 0x40146401UL;
// 12 bytes: timeslot, request id, function code(s).
constexpr unsigned long DSPROC_ENABLE = 0x400C6402UL;
// 12 bytes: timeslot, 0, function code(s).
constexpr unsigned long DSPROC_DISABLE = 0x400C6403UL;
// The value 0 as argument; the result is the driver's interface version.
constexpr unsigned long DSPROC_GET_VERSION = 0x40046404UL;

// Function codes, a bit each.
constexpr std::uint32_t FUNC_VAD = 1;
constexpr std::uint32_t FUNC_SD = 2;
constexpr std::uint32_t FUNC_MUTE_A = 4;
constexpr std::uint32_t FUNC_MUTE_B = 8;
constexpr std::uint32_t FUNC_BSS = 16;
constexpr std::uint32_t FUNC_DELAYS = 32;
constexpr std::uint32_t FUNC_RX_GAIN = 64;
constexpr std::uint32_t FUNC_NG = 128;
constexpr std::uint32_t FUNC_TONE_FILTER = 256;
constexpr std::uint32_t FUNC_FLAGS = 512;

constexpr std::size_t CONFIGURE_SIZE = 20;
constexpr std::size_t PARAMS_OFFSET = 8;
constexpr std::size_t PARAMS_SIZE = 12;
constexpr std::size_t ENABLE_SIZE = 12;
// The event record: timeslot, id, type (a function code), p1, p2, p3.
constexpr std::size_t EVENT_SIZE = 24;

}  // namespace dsp
