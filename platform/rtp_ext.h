#pragma once
// Requests of the board's RTP header-extension driver "/dev/rtp_ext"
// (request type 'E'): one open is one header-extension session, which hands
// the extension payloads of one RTP session to user space (one payload per
// read) and takes outgoing payloads (one per write). The numbers are the
// board's own encodings, written out literally. Records are 32-bit words in
// the machine's byte order (the extension type of the set-up record is 16
// bits); slots/rtp_records.h lays them out.
namespace rtp_ext {

// Set up the session: {etype (16 bits), 2 zero bytes, four 32-bit words},
// 20 bytes, read and write.
constexpr unsigned long RTP_EXT_INIT_SESSION = 0xC0144500UL;
// Attach to an RTP session: {fd_rtp, pid_rtp}, 8 bytes, read and write.
constexpr unsigned long RTP_EXT_ATTACH_SESSION = 0xC0084501UL;
// Detach from the RTP session (no argument).
constexpr unsigned long RTP_EXT_DETACH_SESSION = 0x20004502UL;
// Source of the oldest queued payload: {SSRC, IPv4 address, unused}, 12
// bytes; the result is the number of queued payloads.
constexpr unsigned long RTP_EXT_GET_SOURCE = 0xC00C4503UL;
// Deliver only payloads from one address: {IPv4 address, 0}, 8 bytes.
constexpr unsigned long RTP_EXT_SET_FILTER = 0xC0084504UL;
// Deliver payloads from every address again (no argument).
constexpr unsigned long RTP_EXT_RESET_FILTER = 0x20004505UL;

// Sizes of the records.
constexpr int INIT_SIZE = 20;
constexpr int ATTACH_SIZE = 8;
constexpr int SOURCE_SIZE = 12;
constexpr int FILTER_SIZE = 8;

}  // namespace rtp_ext
