#pragma once
// ED-137 header-extension codec: the radio signalling payload of one RTP
// header extension (push-to-talk, squelch, and additional elements such as
// signal quality) in decoded form, and the functions between it and the wire
// bytes. The TX form goes from the ground side to the radio, the RX form from
// the radio back. Plain functions over a plain record; nothing allocates.
//
// Results: a byte count or 0 on success; -7 for a null argument, -8 for an
// unknown form (or an RX RRC element of an unknown form), -9 for bytes too
// short or a buffer too small. Multi-byte wire values are big-endian, built
// byte by byte.
#include <cstdint>
#include <netinet/in.h>

constexpr std::uint32_t R2S_PROTO_TX = 1;
constexpr std::uint32_t R2S_PROTO_RX = 2;

constexpr int R2S_PROTO_ERR_NULL = -7;
constexpr int R2S_PROTO_ERR_FORM = -8;
constexpr int R2S_PROTO_ERR_SHORT = -9;

constexpr int R2S_PROTO_MAX_ADDITIONALS = 16;

// Element types (bits 7-4 of an element's first byte).
constexpr std::uint32_t R2S_PROTO_ELEMENT_SQI = 1;         // RX
constexpr std::uint32_t R2S_PROTO_ELEMENT_TIME_DELAY = 2;  // TX
constexpr std::uint32_t R2S_PROTO_ELEMENT_RRC = 3;         // RX and TX
constexpr std::uint32_t R2S_PROTO_ELEMENT_MAM = 4;         // RX
constexpr std::uint32_t R2S_PROTO_ELEMENT_RRM = 4;         // TX

// Signal quality: quality 0 to 31, method 0 to 7 (0 rssi, 1 agc, 2 c-n, 3 psd).
struct r2s_proto_rx_additional_sqi {
  std::uint32_t quality;
  std::uint32_t method;
};

struct r2s_proto_tx_additional_climax_time_delay {
  std::uint32_t delay;  // one byte on the wire
};

// Radio remote control, radio side: eight flags in wire order; the long form
// adds two flags and two byte values.
constexpr std::uint32_t R2S_PROTO_RRC_SHORT = 0;
constexpr std::uint32_t R2S_PROTO_RRC_LONG = 1;
struct r2s_proto_rx_additional_rrc {
  std::uint32_t mstxf1, msrxf1, mstxf2, msrxf2, seltxf1, seltxf2, murxf1, murxf2;
  std::uint32_t form;  // R2S_PROTO_RRC_SHORT or R2S_PROTO_RRC_LONG
  std::uint32_t ext_flag1, ext_flag2;
  std::uint32_t ext_value1, ext_value2;  // one byte each
};

struct r2s_proto_tx_additional_rrc {
  std::uint32_t mstxf1, msrxf1, mstxf2, msrxf2, seltxf1, seltxf2, murxf1, murxf2;
};

// Delay measurement answer: flag and 23-bit value twice, three 16-bit values.
struct r2s_proto_rx_additional_mam {
  std::uint32_t tqg;
  std::uint32_t t1;
  std::uint32_t nmr;
  std::uint32_t t2;
  std::uint32_t tsd, tj1, tid;
};

// Delay measurement request: flag and 23-bit value.
struct r2s_proto_tx_additional_rrm {
  std::uint32_t tqv;
  std::uint32_t t1;
};

// One element slot: its type and up to thirteen value words.
struct r2s_proto_additional {
  std::uint32_t type;
  union {
    std::uint32_t value[13];
    r2s_proto_rx_additional_sqi rx_sqi;
    r2s_proto_tx_additional_climax_time_delay tx_time_delay;
    r2s_proto_rx_additional_rrc rx_rrc;
    r2s_proto_tx_additional_rrc tx_rrc;
    r2s_proto_rx_additional_mam rx_mam;
    r2s_proto_tx_additional_rrm tx_rrm;
  };
};

struct r2s_proto_rx_header {
  std::uint32_t ptt_type;  // 0 to 7
  std::uint32_t squ;
  std::uint32_t ptt_id;    // 0 to 63
  std::uint32_t ptt_mute;
  std::uint32_t ptt_summation;
  std::uint32_t sct;
};

struct r2s_proto_tx_header {
  std::uint32_t ptt_type;
  std::uint32_t ptt_id;
  std::uint32_t ptt_mute;
  std::uint32_t ptt_summation;
  std::uint32_t unused[2];
};

// One payload. The source address and SSRC are not on the wire: the radio
// control fills them from the source of the RTP stream that carried it.
struct r2s_proto {
  in_addr source_addr;
  std::uint32_t source_ssrc;
  std::uint32_t type;  // R2S_PROTO_TX or R2S_PROTO_RX
  union {
    r2s_proto_rx_header rx;
    r2s_proto_tx_header tx;
  };
  std::uint32_t additional_count;  // 0 to 16
  r2s_proto_additional additional[R2S_PROTO_MAX_ADDITIONALS];
};

// Setters: each returns 0 and does nothing for a null record.
int r2s_proto_init(r2s_proto* p, std::uint32_t form);
int r2s_proto_set_type(r2s_proto* p, std::uint32_t form);
int r2s_proto_set_tx_header(r2s_proto* p, std::uint32_t ptt_type, std::uint32_t ptt_id, std::uint32_t ptt_mute,
                            std::uint32_t ptt_summation);
int r2s_proto_set_rx_header(r2s_proto* p, std::uint32_t ptt_type, std::uint32_t squ, std::uint32_t ptt_id,
                            std::uint32_t ptt_mute, std::uint32_t ptt_summation, std::uint32_t sct);
int r2s_proto_reset_additionals(r2s_proto* p);

// Element adders: append one element to the next free slot. They return 0;
// a null record, a null element or a full record is left unchanged.
int r2s_proto_add_rx_sqi(r2s_proto* p, const r2s_proto_rx_additional_sqi* e);
int r2s_proto_add_rx_sqi(r2s_proto* p, std::uint32_t quality, std::uint32_t method);
int r2s_proto_add_rx_rrc(r2s_proto* p, const r2s_proto_rx_additional_rrc* e);
int r2s_proto_add_rx_mam(r2s_proto* p, const r2s_proto_rx_additional_mam* e);
int r2s_proto_add_tx_time_delay(r2s_proto* p, const r2s_proto_tx_additional_climax_time_delay* e);
int r2s_proto_add_tx_rrc(r2s_proto* p, const r2s_proto_tx_additional_rrc* e);
int r2s_proto_add_tx_rrm(r2s_proto* p, const r2s_proto_tx_additional_rrm* e);

// Packing writes the form's payload into buf (cleared over all of size
// first) and returns the number of bytes written: 4 without elements, else
// the header and the elements with no padding. 0 for a null record or
// buffer; -9 when the buffer is too small: each element must find its room,
// an RX RRC counting 5 bytes even in its 2-byte short form. Elements of a
// type the form does not know are skipped.
int r2s_proto_pack(const r2s_proto* p, std::uint8_t* buf, int size);  // by form; -7 null record, -8 other form
int r2s_proto_pack_rx(const r2s_proto* p, std::uint8_t* buf, int size);
int r2s_proto_pack_tx(const r2s_proto* p, std::uint8_t* buf, int size);

// Unpacking sets the form and the header and decodes up to 16 known
// elements into the record (which the caller initialises); unknown elements
// are skipped whole. 0 on success; -7 for null arguments; -9 for fewer than
// 2 bytes or an element that runs past the end, keeping the elements before
// it (the count says how many).
int r2s_proto_unpack_rx(r2s_proto* p, const std::uint8_t* data, int len);
int r2s_proto_unpack_tx(r2s_proto* p, const std::uint8_t* data, int len);

// -1 when either is null; else 0 for the same form from the same source,
// otherwise b's form, SSRC or address minus a's (the first that differs).
int cmp_r2s_proto_source(const r2s_proto* a, const r2s_proto* b);
