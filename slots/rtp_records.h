#pragma once
// Records of the kernel RTP drivers ("/dev/rtp", "/dev/rtp_ext"), in the
// machine's byte order as the drivers take them. They are filled field by
// field (never copied in from outside as a block), so the same code is
// right on the big-endian board.
#include <cstdint>

// Argument of RTP_BEGIN_SESSION, 44 bytes; zeroed before it is filled.
struct rtp_connection_params {
  std::uint32_t remote_addr;  // network byte order
  std::uint16_t remote_port;
  std::uint16_t pad0;
  std::uint32_t local_addr;  // network byte order
  std::uint16_t local_port;
  std::uint16_t rx_pt;
  std::uint16_t tx_pt;
  std::uint16_t packet_factor;
  std::uint8_t vad;
  std::uint8_t crate;
  std::uint16_t pad1;
  std::uint32_t ssrc;
  std::uint32_t reserved0;
  std::uint32_t reserved1;
  std::uint32_t ttl;
  std::int32_t tos;
};
static_assert(sizeof(rtp_connection_params) == 44, "RTP session record is 44 bytes");

// Argument of RTP_ADD_CHANNEL, 16 bytes; the driver writes the switch
// channel it assigned back into `tdm`.
struct rtp_channel_info {
  std::int32_t tdm;
  std::int32_t dev_no;
  std::int32_t chn;
  std::int32_t reserved;
};
static_assert(sizeof(rtp_channel_info) == 16, "RTP channel record is 16 bytes");

// Attachment of a radio control to an RTP session.
struct rtp_attach_session_params {
  std::int32_t fd_rtp;
  std::int32_t pid_rtp;
};

struct rtp_ext_attach_session_params {
  std::int32_t fd_rtp;
  std::int32_t pid_rtp;
};

// Set-up of the header-extension device: the extension type, then four
// 32-bit parameter words (at bytes 4, 8, 12 and 16).
struct rtp_ext_init_params {
  std::uint16_t etype;
  std::uint16_t pad;
  std::uint32_t param[4];
};
static_assert(sizeof(rtp_ext_init_params) == 20, "RTP extension set-up record is 20 bytes");

// Source of the oldest payload queued on the header-extension device.
struct rtp_ext_source_info {
  std::uint32_t ssrc;
  std::uint32_t addr;  // IPv4, network byte order
  std::uint32_t unused;
};
static_assert(sizeof(rtp_ext_source_info) == 12, "RTP extension source record is 12 bytes");

// Source filter of the header-extension device: one IPv4 address (network
// byte order) and a zero word.
struct rtp_ext_filter {
  std::uint32_t addr;
  std::uint32_t zero;
};
static_assert(sizeof(rtp_ext_filter) == 8, "RTP extension filter record is 8 bytes");
