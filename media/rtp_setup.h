#pragma once
// The steps that every factory of RTP sessions shares (the plain RTP
// factory and the radio factories): the payload table, the session record
// built from the controller's RTP parameters, and the driver session begun
// on a free switch channel. Each factory writes its own log lines around
// them.
#include "runtime/fd.h"
#include "schema/term/TERM.h"
#include "slots/rtp_records.h"

#include <netinet/in.h>

#include <cstdint>

namespace RtpSetup {

// The RTP payload type of a payload name; false for a name not served.
bool PayloadType(TERM::Payload const& p, std::uint16_t& pt);
// The payload type of `p`, 0 for a name not served.
std::uint16_t translateCodec(TERM::Payload const& p);
// A direction's payload type: that of the session payload `p`, unless the
// direction asks for the other G.711 law (`q` differs from `p` and is A-law
// or µ-law).
std::uint16_t translateCodec(TERM::Payload const& p, TERM::Payload const& q);

// The local RTP port: that of `shost` when present, else that of `dhost`.
std::uint16_t LocalPort(TERM::RtpParams const& rtp);

// Strict dotted-quad text to an address in network byte order; false for
// anything else (a name, "1.2.3", text that would read as 255.255.255.255).
bool DottedAddress(std::string const& text, std::uint32_t& addr);

// Fills the session record (zeroed first) from the RTP parameters and the
// two directions' payloads. False when an address is not dotted text.
bool FillParams(TERM::RtpParams const& rtp, TERM::Payload const& tx, TERM::Payload const& rx,
                rtp_connection_params& out);

// Asks the voice device how many channels of each codec it can run; a count
// the device does not give keeps its value. False, with errno from the open,
// when the device cannot be opened.
bool CodecCapacity(std::uint32_t& g729, std::uint32_t& g723, std::uint32_t& g711, std::uint32_t& g711mcc,
                   std::uint32_t& universal);

// The peer's RTCP address: the remote address and the `dhost` port + 1.
sockaddr_in RtcpPeer(rtp_connection_params const& params, TERM::RtpParams const& rtp);

enum class SocketStep { done, socket, bind };
// A UDP socket bound to any address and `port` (SO_REUSEADDR on it when
// `reuse`): the step that failed (errno set, nothing left open), or `done`
// with the socket in `sock`.
SocketStep BindRtcpSocket(std::uint16_t port, bool reuse, Fd& sock);

enum class SessionStep { done, open, begin, add };
// Opens the RTP device, begins the session with `params` and adds the
// channel `info` (the driver writes the switch channel into `info.tdm`;
// a negative one fails the add step).
// The step that failed (errno set, the device closed), or `done` with the
// session's descriptor in `dev`.
SessionStep BeginSession(rtp_connection_params& params, rtp_channel_info& info, Fd& dev);

}  // namespace RtpSetup
