#pragma once
// Requests of the modem control driver "/dev/mctl" (request type 0xBB, no
// size or direction bits: the numbers are the board's own). Records are
// 32-bit words in the machine's byte order, the modem number first; the
// allocate and time-slot requests take no argument and answer with the
// ioctl result, the enumeration takes the previous modem number by value.
namespace mctl {

constexpr unsigned long MCTL_ANSWER = 0xBB03UL;         // {modem, -1}
constexpr unsigned long MCTL_ORIGINATE = 0xBB04UL;      // {modem, -1}
constexpr unsigned long MCTL_ALLOC = 0xBB0BUL;          // -> modem number
constexpr unsigned long MCTL_ENUM = 0xBB0CUL;           // previous by value -> next
constexpr unsigned long MCTL_GET_TIMESLOT = 0xBB15UL;   // -> switch time slot
constexpr unsigned long MCTL_SET_DDM = 0xBB16UL;        // {modem, mode mask}
constexpr unsigned long MCTL_SET_DMP = 0xBB38UL;        // {modem, index, value}
constexpr unsigned long MCTL_RESET_DMP = 0xBB3AUL;      // {modem, -1}
constexpr unsigned long MCTL_FAX_ORIGINATE = 0xBB40UL;  // {modem, -1}

}  // namespace mctl
