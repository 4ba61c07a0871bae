#pragma once
// Requests of the board's RTP driver "/dev/rtp" (request type 'R'), one
// session per open descriptor. The numbers are the board's own encodings,
// written out literally. Records (rtp_connection_params, rtp_channel_info,
// the PD request and the 36-byte event) are 32-bit words in the machine's
// byte order; slots/rtp_records.h lays out the first two.
namespace rtp {

// Begin the session: rtp_connection_params, 44 bytes, read and write.
constexpr unsigned long RTP_BEGIN_SESSION = 0xC02C5200UL;
// Add the session's TDM channel: rtp_channel_info, 16 bytes; the driver
// writes the switch channel back into `tdm` (-1 in: any free one).
constexpr unsigned long RTP_ADD_CHANNEL = 0xC0105202UL;
// Teardown request 'R' 3 (no argument).
constexpr unsigned long RTP_TEARDOWN_3 = 0x20005203UL;
// Start and stop sending the channel's TDM signal (no argument).
constexpr unsigned long RTP_START_TX = 0x20005204UL;
constexpr unsigned long RTP_STOP_TX = 0x20005205UL;
// Teardown requests 'R' 10 and 'R' 11 (no argument).
constexpr unsigned long RTP_TEARDOWN_10 = 0x2000520AUL;
constexpr unsigned long RTP_TEARDOWN_11 = 0x2000520BUL;
// Ask for PD events: nine 32-bit words {1, 0, timeout, 0, 0, timeout, 0, 0, 0}.
constexpr unsigned long RTP_SET_EVENT_PD = 0xC024520CUL;
// Stop PD events: a pointer to a 32-bit 1.
constexpr unsigned long RTP_RESET_EVENT_PD = 0x8004520DUL;
// Attach a header-extension user to an existing session of a process:
// {fd_rtp, pid_rtp}, 8 bytes, read and write.
constexpr unsigned long RTP_ATTACH_SESSION = 0xC0085209UL;

// Words of the PD request and of an event record.
constexpr int PD_REQUEST_WORDS = 9;
constexpr int EVENT_WORDS = 9;
constexpr int EVENT_SIZE = EVENT_WORDS * 4;
// The event type of a PD event.
constexpr unsigned EVENT_PD = 1;

}  // namespace rtp
