#pragma once
// An SNMPv2c trap message built in BER into a fixed buffer: the message
// header (version, community), the SNMPv2-Trap PDU header (request id, error
// status, error index), one variable binding per trap_pack_add, then the
// lengths filled in by trap_pack_end. Every SEQUENCE header, the PDU's too,
// takes the 4-byte form (tag, 0x82, two length bytes) so it can be written
// before its content is known. The functions build bytes only.
//
//   trap_context t;
//   snmp_session_seed(&t, seed);
//   trap_init(&t, "public");
//   trap_pack_begin(&t);
//   trap_pack_add(&t, oid, n, ASN_TIMETICKS, &ticks, 4);
//   trap_pack_end(&t);          // t.buffer, t.length
#include <cstdint>

constexpr std::uint8_t ASN_SEQUENCE = 0x30;
constexpr std::uint8_t ASN_INTEGER = 0x02;
constexpr std::uint8_t ASN_BIT_STR = 0x03;
constexpr std::uint8_t ASN_OCTET_STR = 0x04;
constexpr std::uint8_t ASN_NULL = 0x05;
constexpr std::uint8_t ASN_OBJECT_ID = 0x06;
constexpr std::uint8_t ASN_IPADDRESS = 0x40;
constexpr std::uint8_t ASN_COUNTER = 0x41;
constexpr std::uint8_t ASN_GAUGE = 0x42;
constexpr std::uint8_t ASN_TIMETICKS = 0x43;
constexpr std::uint8_t ASN_OPAQUE = 0x44;
constexpr std::uint8_t ASN_NSAP = 0x45;
constexpr std::uint8_t ASN_UINTEGER = 0x47;

constexpr std::int32_t SNMP_VERSION_2C = 1;
constexpr std::int32_t SNMP_TRAP2_PDU = 0xA7;
constexpr std::uint32_t trap_buffer_size = 2048;
constexpr std::uint32_t max_oid_len = 128;

struct trap_context {
  std::int32_t version;
  std::int32_t pdu_type;
  std::int32_t request_id;
  std::int32_t error_status;
  std::int32_t error_index;
  char community[32];
  std::int32_t state;  // 0 fresh, 1 headers built, 2 variables added, 3 finished
  std::uint8_t buffer[trap_buffer_size];
  std::uint32_t room;    // bytes still free
  std::uint32_t length;  // total, once finished
  std::uint8_t* msg_start;  // content of the message SEQUENCE
  std::uint8_t* pdu_header;
  std::uint8_t* pdu_start;
  std::uint8_t* vb_header;
  std::uint8_t* vb_start;
  std::uint8_t* pos;  // where the next byte goes
};

int snmp_session_seed(trap_context* ctx, std::int32_t seed);
// A new odd positive request id from the previous one; community at most 31
// characters, "kobalt" when null.
int trap_init(trap_context* ctx, const char* community);
int trap_pack_begin(trap_context* ctx);
int trap_pack_add(trap_context* ctx, const std::uint32_t* oid, std::uint32_t oid_len, std::uint8_t tag,
                  const void* value, std::uint32_t value_len);
int trap_pack_end(trap_context* ctx);

// System up-time in hundredths of a second.
std::uint32_t get_uptime();
// Splits a dotted identifier ("1.3.6.1") into at most `capacity` numbers;
// the count stored.
int parse_oid(std::uint32_t* oid, int capacity, const char* text);

// Builders: each writes at `data`, lowers *room by what it wrote and returns
// the position after it, or null when it does not fit or is refused.
std::uint8_t* asn_build_length(std::uint8_t* data, std::uint32_t* room, std::uint32_t length);
std::uint8_t* asn_build_header(std::uint8_t* data, std::uint32_t* room, std::uint8_t tag, std::uint32_t length);
// The value is a 32-bit int; any other size is refused.
std::uint8_t* asn_build_int(std::uint8_t* data, std::uint32_t* room, std::uint8_t tag, const void* value,
                            std::uint32_t size);
std::uint8_t* asn_build_unsigned_int(std::uint8_t* data, std::uint32_t* room, std::uint8_t tag, const void* value,
                                     std::uint32_t size);
std::uint8_t* asn_build_sequence(std::uint8_t* data, std::uint32_t* room, std::uint8_t tag, std::uint32_t length);
std::uint8_t* asn_build_null(std::uint8_t* data, std::uint32_t* room, std::uint8_t tag);
std::uint8_t* asn_build_string(std::uint8_t* data, std::uint32_t* room, std::uint8_t tag, const void* src,
                               std::uint32_t len);
std::uint8_t* asn_build_bitstring(std::uint8_t* data, std::uint32_t* room, std::uint8_t tag, const void* src,
                                  std::uint32_t len);
std::uint8_t* asn_build_objid(std::uint8_t* data, std::uint32_t* room, std::uint8_t tag, const std::uint32_t* oid,
                              std::uint32_t count);
std::uint8_t* snmp_build_var_op(std::uint8_t* data, const std::uint32_t* oid, std::uint32_t oid_len, std::uint8_t tag,
                                std::uint32_t value_len, const void* value, std::uint32_t* room);
