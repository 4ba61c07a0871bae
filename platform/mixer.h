#pragma once
// Requests of the board's conference mixer "/dev/mixer" (request type 'M').
// The numbers are the board's own encodings, written out literally: the
// host's _IOW macros put the direction bits elsewhere. Every record is made
// of 32-bit signed words in the machine's byte order.
//
// A channel of a unit is named by a mix slot of three words: dev_no (the
// unit), type (0: a TDM channel of the unit), number (the channel).
#include <cstddef>

namespace mixer {

// A mix slot: empty the mix of that output.
constexpr unsigned long MIX_RX_CLEAR = 0x800C4D02UL;
// A mix record {rx mix slot, tx mix slot, weight}: add input tx to output
// rx's mix with the weight.
constexpr unsigned long MIX_RX_ADD = 0x801C4D03UL;
// A mix record: remove input tx from output rx's mix (weight unused).
constexpr unsigned long MIX_RX_REMOVE = 0x801C4D04UL;
// A mix slot: the result is the switch channel of that unit channel.
constexpr unsigned long MIX_TDM = 0x800C4D06UL;
// A unit record {unit, tdm_channels, unused, mixer_inputs}: `unit` goes in
// as the last unit seen (-1 to start), the driver fills the record with the
// next unit above it; a negative result when there is none.
constexpr unsigned long MIX_UNIT_INFO = 0x80104D07UL;

constexpr std::size_t MIX_SLOT_WORDS = 3;
constexpr std::size_t MIX_RECORD_WORDS = 7;
constexpr std::size_t UNIT_INFO_WORDS = 4;

// Word offsets in the records.
constexpr std::size_t SLOT_DEV_NO = 0;
constexpr std::size_t SLOT_TYPE = 1;
constexpr std::size_t SLOT_NUMBER = 2;
constexpr std::size_t RECORD_RX = 0;
constexpr std::size_t RECORD_TX = 3;
constexpr std::size_t RECORD_WEIGHT = 6;
constexpr std::size_t INFO_UNIT = 0;
constexpr std::size_t INFO_TDM_CHANNELS = 1;
constexpr std::size_t INFO_MIXER_INPUTS = 3;

// The type word of a TDM channel of the unit.
constexpr int TYPE_TDM = 0;

}  // namespace mixer
