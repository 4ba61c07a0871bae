#pragma once
// Requests of the ATS-QSIG signalling device "/dev/dsp-data", as the board's
// driver numbers them (PowerPC encoding, type 'B'). One read or write on the
// descriptor is one D-channel frame. Never rebuild these with the host's _IO
// macros: their direction bits differ on x86.
#include <cstdint>

namespace platform {
namespace dsp_data {

// No argument; answers the D channel's time slot (its switch channel).
constexpr unsigned long DSP_DATA_TIMESLOT = 0x40044211UL;
// Argument: a dsp_data_b_channel record; the driver fills in the switch
// channel of the B channel. -1 on failure.
constexpr unsigned long DSP_DATA_ADD_B = 0x8008420FUL;
// Argument: one 32-bit word, the B index; removes that B channel.
constexpr unsigned long DSP_DATA_REMOVE_B = 0x80044210UL;

constexpr const char* device_path = "/dev/dsp-data";

}  // namespace dsp_data
}  // namespace platform

// The argument of DSP_DATA_ADD_B: two 32-bit words in host order (big-endian
// on the board).
struct dsp_data_b_channel {
  std::int32_t index;    // 0 to 2, in
  std::int32_t channel;  // -1 from the caller, filled in by the driver
};

static_assert(sizeof(dsp_data_b_channel) == 8, "DSP_DATA_ADD_B takes 8 bytes");
