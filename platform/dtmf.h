#pragma once
// Requests of the board's DSP tone unit "/dev/dtmf" (request type 'B'). The
// numbers are the board's own encodings, written out literally: the host's
// _IOW macros put the direction bits elsewhere. Records are 32-bit words
// (16-bit where said) in the machine's byte order. The "by value" requests
// take the time slot itself as the third ioctl argument, not a pointer.
#include <cstddef>
#include <cstdint>

namespace dtmf {

// 20 bytes: timeslot, twist, ratio, silence, noise.
constexpr unsigned long DTMF_CONFIGURE_DETECTOR = 0x40144202UL;
// 8 bytes: timeslot, request id.
constexpr unsigned long DTMF_ENABLE_DETECTOR = 0x40084203UL;
// By value.
constexpr unsigned long DTMF_DISABLE_DETECTOR = 0x40044204UL;
// 12 bytes: timeslot (32-bit), freq1, freq2, amp1, amp2 (16-bit each).
constexpr unsigned long DTMF_DIAL = 0x400C4205UL;
// By value.
constexpr unsigned long CHANNEL_LMS_ON = 0x40044206UL;
constexpr unsigned long CHANNEL_LMS_OFF = 0x40044207UL;
constexpr unsigned long DTMF_REJECTION_ENABLE = 0x40044209UL;
constexpr unsigned long DTMF_REJECTION_DISABLE = 0x4004420AUL;
constexpr unsigned long IVA_DETECTOR_ENABLE = 0x4004420BUL;
constexpr unsigned long IVA_DETECTOR_DISABLE = 0x4004420CUL;
// 8 bytes: timeslot, detection level in dB (signed).
constexpr unsigned long IVA_CONFIGURE_DETECTOR = 0x4008420DUL;
// 12 bytes: timeslot (32-bit), amplitude (16-bit), four SELCAL characters,
// two zero bytes.
constexpr unsigned long SELCAL_DIAL = 0x400C420EUL;

// The event record read from the device: code, timeslot, timestamp, id.
constexpr std::size_t EVENT_SIZE = 16;
constexpr std::size_t CONFIGURE_SIZE = 20;
constexpr std::size_t ENABLE_SIZE = 8;
constexpr std::size_t DIAL_SIZE = 12;
constexpr std::size_t IVA_CONFIGURE_SIZE = 8;
constexpr std::size_t SELCAL_SIZE = 12;

}  // namespace dtmf
