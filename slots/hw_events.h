#pragma once
// The event records of the DSP tone and voice-processing units and of the
// RTP driver, as the receivers hand them to their slots (Slot's process*
// translators turn them into LGCP signals). Device records are read word by
// word in the machine's byte order; these are the decoded values.
#include <cstdint>

namespace Hardware {

// A tone event of the tone unit: the device's event code (passed on
// unchanged) and time stamp.
struct TonecEventParams {
  std::uint32_t code = 0;
  std::uint32_t timestamp = 0;
};

// A voice-activity event: -1 = not reported in this event.
struct DSProcVADEvent {
  std::int32_t rx = 0;
  std::int32_t tx = 0;
};

// A signal-detection event.
struct DSProcSDEvent {
  std::int32_t rx = 0;
};

}  // namespace Hardware

// The BSS score of the voice-processing unit (an IEEE float in one word).
struct dsproc_bss_event {
  float score;
};

// A tone-filter event: the filter's frequency and whether the tone is
// present (non-zero).
struct dsproc_tone_event {
  std::int32_t freq;
  std::int32_t presence;
};

// A flags event: the flag values and the mask of the valid bits (bit 0 the
// least significant).
struct dsproc_flags_event {
  std::uint32_t flags;
  std::uint32_t mask;
};

// An event of the RTP driver: nine 32-bit words; type 1 is the PD event.
struct rtp_event {
  std::uint32_t type;
  std::uint32_t value;
  std::uint32_t timeout;
  std::uint32_t unused[6];
};
static_assert(sizeof(rtp_event) == 36, "RTP event record is 36 bytes");
