#pragma once
// Zarn radio packet codec: one radio signalling packet (the payload of one
// RTP header extension) in decoded form, and the functions between it and the
// wire bytes. Plain functions over a plain record; nothing here allocates.
//
// Results: a byte count or 0 on success; -7 for a null argument, -8 for a
// type without a layout, -9 for bytes too short or a buffer too small.
//
// Wire multi-byte values are big-endian and are built byte by byte, floats
// through their 32-bit pattern, so the bytes are the same on either host
// byte order. Session addresses travel with their octets reversed (the last
// octet of the dotted form first).
#include <cstdint>
#include <netinet/in.h>

// Packet types. GW_* go from the workstation to the radio gateway, WM_* back.
enum sig_proto_type : std::uint32_t {
  GW_FLAG = 1,
  GW_ADJUST_CHAN = 2,
  GW_FLAG_PTT = 3,
  GW_FLAG_BSS = 4,
  GW_FLAG_RV = 5,
  GW_FLAG_SH = 6,
  GW_FLAG_PW = 7,
  GW_FLAG_RS = 8,
  GW_SEL_CALL = 9,
  GW_SELECT_RC_CHAN = 10,
  GW_ADJUST_SQUELSHE = 11,
  GW_ADJUST_RTE = 12,
  GW_ADJUST_STANDBY = 13,
  WM_FLAG = 129,
  WM_TRANS = 130,
  WM_RADIO_QUALITY = 131,
  WM_CHAN = 132,
  WM_SEL_CALL_TRANS = 133,
  WM_SELECT_RC_CHAN = 134,
  WM_STANDBY = 135,
};

constexpr int SIG_PROTO_ERR_NULL = -7;
constexpr int SIG_PROTO_ERR_TYPE = -8;
constexpr int SIG_PROTO_ERR_SHORT = -9;

// Longest caller identity a packet can carry (its length is one byte); the
// record keeps one spare byte so a copied text can always be terminated.
constexpr int SIG_PROTO_CALLER_ID_MAX = 255;
constexpr int SIG_PROTO_CALLER_ID_AREA = 256;

struct sig_proto_gw_adjust_chan {
  std::uint32_t id;
  float freq;
};
struct sig_proto_gw_sel_call {
  std::uint8_t callerID_length;
  std::uint8_t callerID[SIG_PROTO_CALLER_ID_AREA];
};
struct sig_proto_select_rc_chan {
  std::uint8_t interface;
  std::uint8_t channel;
};
struct sig_proto_gw_adjust_squelsh {
  std::uint8_t squelsh;
};
struct sig_proto_gw_adjust_rte {
  std::uint8_t rte;
};
struct sig_proto_gw_adjust_standby {
  std::uint8_t state;
};
struct sig_proto_wm_trans {
  in_addr session_addr;
  std::uint32_t ssrc;
};
struct sig_proto_wm_radio_quality {
  float radio_quality;
};
struct sig_proto_wm_chan {
  std::uint32_t id;
  float freq;
  std::uint8_t squelsh;
  std::uint8_t rte;
};
struct sig_proto_wm_sel_call_trans {
  in_addr session_addr;
  std::uint32_t ssrc;
  std::uint8_t callerID_length;
  std::uint8_t callerID[SIG_PROTO_CALLER_ID_AREA];
};
struct sig_proto_wm_standby {
  std::uint8_t state;
  std::uint8_t group;
  std::uint8_t receiver_state;
};

// One packet. The source address and SSRC are not on the wire: the radio
// controls fill them from the source of the RTP stream that carried it.
struct sig_proto {
  in_addr source_addr;
  std::uint32_t source_ssrc;
  std::uint32_t type;
  std::uint32_t priority;  // 0 to 15
  std::uint32_t flag_t;    // voice activity on transmit
  std::uint32_t flag_p;    // push-to-talk
  std::uint32_t flag_r;    // voice activity on receive
  std::uint32_t flag_s;    // squelch open
  std::uint32_t flag_b;    // BSS
  std::uint32_t flag_rv;
  std::uint32_t flag_sh;
  std::uint32_t flag_rs;   // reserve
  std::uint32_t flag_pw;   // power
  std::uint32_t flag_c;    // selective-call state, 0 to 3
  std::uint32_t status;    // 0 to 511
  // Payload, one layout per type; layouts that share a field share its place.
  union {
    sig_proto_gw_adjust_chan gw_adjust_chan;
    sig_proto_gw_sel_call gw_sel_call;
    sig_proto_select_rc_chan gw_select_rc_chan;
    sig_proto_gw_adjust_squelsh gw_adjust_squelsh;
    sig_proto_gw_adjust_rte gw_adjust_rte;
    sig_proto_gw_adjust_standby gw_adjust_standby;
    sig_proto_wm_trans wm_trans;
    sig_proto_wm_radio_quality wm_radio_quality;
    sig_proto_wm_chan wm_chan;
    sig_proto_wm_sel_call_trans wm_sel_call_trans;
    sig_proto_select_rc_chan wm_select_rc_chan;
    sig_proto_wm_standby wm_standby;
  };
};

int sig_proto_init(sig_proto* p);
// Writes the packet into buf (cleared over all of size first); returns its
// length, 0 for a null record or buffer, -9 when size is too small. Texts
// need room for their length plus 12 (GW_SEL_CALL) or plus 20
// (WM_SEL_CALL_TRANS) bytes, a little more than they write.
int sig_proto_pack(const sig_proto* p, std::uint8_t* buf, int size);
// Decodes one packet of len bytes into p. On success the header and payload
// are stored (payload bytes the type does not carry keep their values, the
// source address and SSRC are untouched) and 0 returned. A type without a
// layout stores only the type and gives -8; too few bytes give -9 and leave
// p as it was. Bytes beyond what the type reads are ignored.
int sig_proto_unpack(sig_proto* p, const std::uint8_t* data, int len);

bool is_little_endian();
// Packet types that claim push-to-talk.
bool sig_proto_is_ptt_type(std::uint32_t type);
// A packet of such a type; a null record claims nothing.
bool sig_proto_is_ptt_command(const sig_proto* p);

// Comparisons: -1 when either record is null, else 0 for equal, otherwise
// a non-zero value from b's side minus a's.
int cmp_sig_proto_header(const sig_proto* a, const sig_proto* b);  // type, SSRC, address
int cmp_sig_proto(const sig_proto* a, const sig_proto* b);         // full text dumps
int cmp_sig_proto_flags(const sig_proto* a, const sig_proto* b);   // the ten flags

// Setters; each returns 0 and does nothing for a null record. They leave the
// type alone. A negative argument to the base setters keeps the field.
int sig_proto_set_base(sig_proto* p, int priority, int flag_t, int flag_p, int flag_r, int flag_s, int flag_b,
                       int flag_rv, int flag_sh, int flag_pw, int flag_rs, int flag_c, int status);
int sig_proto_set_ptt(sig_proto* p, int flag_p);
int sig_proto_set_gw_adjust_chan(sig_proto* p, std::uint32_t id, float freq);
int sig_proto_set_gw_adjust_squelsh(sig_proto* p, std::uint8_t squelsh);
int sig_proto_set_gw_adjust_rte(sig_proto* p, std::uint8_t rte);
int sig_proto_set_gw_adjust_standby(sig_proto* p, std::uint8_t state);
// Texts: at most 255 bytes are kept; a null text gives an empty one.
int sig_proto_set_gw_selcall(sig_proto* p, const char* text, int length);
int sig_proto_set_gw_select_rc_chan(sig_proto* p, std::uint8_t interface, std::uint8_t channel);
int sig_proto_set_wm_select_rc_chan(sig_proto* p, std::uint8_t interface, std::uint8_t channel);
int sig_proto_set_wm_radio_quality(sig_proto* p, float quality);
int sig_proto_set_wm_transmite(sig_proto* p, in_addr addr, std::uint32_t ssrc);
int sig_proto_set_wm_selcall_transmite(sig_proto* p, in_addr addr, std::uint32_t ssrc, const char* text, int length);
int sig_proto_set_wm_chan(sig_proto* p, std::uint32_t id, float freq, std::uint8_t squelsh, std::uint8_t rte);
int sig_proto_set_wm_standby(sig_proto* p, std::uint8_t state, std::uint8_t group, std::uint8_t receiver_state);

// Packet-type names: rows in ascending order of type, ended by {-1, ""}.
struct s_sig_proto_table_name {
  int id;
  const char* name;
};
constexpr int SIG_PROTO_NAME_ROWS = 128;
extern const s_sig_proto_table_name sig_proto_packet_const_name[SIG_PROTO_NAME_ROWS];
// Both scan at most 128 rows and stop at the first negative id.
const char* sig_proto_find_name_by_id(const s_sig_proto_table_name* table, int id);
int sig_proto_find_id_by_name(const s_sig_proto_table_name* table, const char* name);

// Text dump options (bits): type in hexadecimal, type by name, flags only.
constexpr int SIG_PROTO_PRINT_TYPE_HEX = 1;
constexpr int SIG_PROTO_PRINT_TYPE_NAME = 2;
constexpr int SIG_PROTO_PRINT_FLAGS_ONLY = 4;

using sig_proto_printer = int (*)(char* buf, int size, const sig_proto* p, int options);
struct s_sig_proto_sprintf {
  std::uint32_t type;
  sig_proto_printer print;
};
constexpr int SIG_PROTO_PRINTER_ROWS = 21;
extern const s_sig_proto_sprintf sig_proto_sprintf_table[SIG_PROTO_PRINTER_ROWS];

// Writes the record as text (the buffer is cleared first; at most size - 1
// characters); returns the number of characters written, 0 for a null
// buffer or record, a size below 1 or a type without a printer.
int sprintf_sig_proto(char* buf, int size, const sig_proto* p, int options);

int sprintf_base(char* buf, int size, const sig_proto* p, int options);
int sprintf_gw_adjust_chan(char* buf, int size, const sig_proto* p, int options);
int sprintf_gw_selcall(char* buf, int size, const sig_proto* p, int options);
int sprintf_gw_select_rc_chan(char* buf, int size, const sig_proto* p, int options);
int sprintf_gw_adjust_squelsh(char* buf, int size, const sig_proto* p, int options);
int sprintf_gw_adjust_rte(char* buf, int size, const sig_proto* p, int options);
int sprintf_gw_adjust_standby(char* buf, int size, const sig_proto* p, int options);
int sprintf_wm_trans(char* buf, int size, const sig_proto* p, int options);
int sprintf_wm_radio_qulity(char* buf, int size, const sig_proto* p, int options);
int sprintf_wm_chan(char* buf, int size, const sig_proto* p, int options);
int sprintf_wm_selcall(char* buf, int size, const sig_proto* p, int options);
int sprintf_wm_select_rc_chan(char* buf, int size, const sig_proto* p, int options);
int sprintf_wm_standby(char* buf, int size, const sig_proto* p, int options);

// A queue of records kept for the radio controls' start-up: record i takes
// the type of row i of init_sig_proto_type, the rest type -1.
constexpr int SIG_PROTO_INIT_TYPES = 17;
extern const int init_sig_proto_type[SIG_PROTO_INIT_TYPES];
struct sig_proto_queue {
  sig_proto records[32];
  std::uint8_t spare[128];
};
int init_sig_proto_queue(sig_proto_queue* q);
