#pragma once
// Readable text of one ISDN D-channel frame (LAPD address and control, then
// a Q.931 message) for the link traces. The decoder keeps no state and
// allocates nothing; it describes whatever it is given and never judges it.
//
// Input is hostile: nothing is read past the frame, whatever lengths and
// bits claim, and nothing is written past the output buffer (the text is
// cut, and always NUL-terminated).
#include <cstddef>

namespace ISDN {

// The size of the trace buffer the links share.
constexpr std::size_t logbuf_size = 1024;

// Writes the text of the frame into out (at most size bytes, NUL included).
// direction non-zero: the frame travels network->user. A frame of two octets
// or fewer writes nothing at all.
void dlogframe(const unsigned char* frame, int length, int direction, char* out,
               std::size_t size = logbuf_size);

// Writes count characters '1'/'0' for the bits of octet from bit `start`
// (8 = most significant) downwards, into out (room for count characters is
// the caller's). Returns count.
int printbits(char* out, unsigned char octet, int start, int count);

// The position just past the first octet from p on whose bit 8 is set, or
// end when there is none.
const unsigned char* skipext(const unsigned char* p, const unsigned char* end);

}  // namespace ISDN
