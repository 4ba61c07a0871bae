#include "board/snmp/snmp_trap.h"

#include "platform/clock.h"

#include <cstdlib>
#include <cstring>
#include <sys/sysinfo.h>

namespace {

// Room check and the bookkeeping of one write.
bool Take(std::uint32_t* room, std::uint32_t n) {
  if (!room || *room < n) return false;
  *room -= n;
  return true;
}

std::uint32_t Read32(const void* value) {
  std::uint32_t v;
  std::memcpy(&v, value, sizeof v);
  return v;
}

// Writes the `size` low bytes of v, most significant first.
std::uint8_t* PutBytes(std::uint8_t* data, std::uint32_t v, int size) {
  for (int i = size - 1; i >= 0; --i) *data++ = static_cast<std::uint8_t>(v >> (8 * i));
  return data;
}

// Bytes of a base-128 identifier value.
int GroupCount(std::uint64_t v) {
  int n = 1;
  while (v >= 128) {
    v >>= 7;
    ++n;
  }
  return n;
}

std::uint8_t* PutGroups(std::uint8_t* data, std::uint64_t v) {
  const int n = GroupCount(v);
  for (int i = n - 1; i >= 0; --i) *data++ = static_cast<std::uint8_t>(((v >> (7 * i)) & 0x7F) | (i ? 0x80 : 0));
  return data;
}

}  // namespace

std::uint8_t* asn_build_length(std::uint8_t* data, std::uint32_t* room, std::uint32_t length) {
  if (!data) return nullptr;
  if (length < 0x80) {
    if (!Take(room, 1)) return nullptr;
    *data++ = static_cast<std::uint8_t>(length);
  } else if (length <= 0xFF) {
    if (!Take(room, 2)) return nullptr;
    *data++ = 0x81;
    *data++ = static_cast<std::uint8_t>(length);
  } else {
    if (length > 0xFFFF || !Take(room, 3)) return nullptr;
    *data++ = 0x82;
    data = PutBytes(data, length, 2);
  }
  return data;
}

std::uint8_t* asn_build_header(std::uint8_t* data, std::uint32_t* room, std::uint8_t tag, std::uint32_t length) {
  if (!data || !Take(room, 1)) return nullptr;
  *data++ = tag;
  return asn_build_length(data, room, length);
}

std::uint8_t* asn_build_int(std::uint8_t* data, std::uint32_t* room, std::uint8_t tag, const void* value,
                            std::uint32_t size) {
  if (!data || !value || size != 4) return nullptr;
  std::uint32_t v = Read32(value);
  int n = 4;
  const std::uint32_t mask = 0xFF800000u;
  while (n > 1 && ((v & mask) == 0 || (v & mask) == mask)) {
    --n;
    v <<= 8;
  }
  data = asn_build_header(data, room, tag, static_cast<std::uint32_t>(n));
  if (!data || !Take(room, static_cast<std::uint32_t>(n))) return nullptr;
  return PutBytes(data, v >> (8 * (4 - n)), n);
}

std::uint8_t* asn_build_unsigned_int(std::uint8_t* data, std::uint32_t* room, std::uint8_t tag, const void* value,
                                     std::uint32_t size) {
  if (!data || !value || size != 4) return nullptr;
  const std::uint32_t v = Read32(value);
  if (v & 0x80000000u) {
    data = asn_build_header(data, room, tag, 5);
    if (!data || !Take(room, 5)) return nullptr;
    *data++ = 0;
    return PutBytes(data, v, 4);
  }
  return asn_build_int(data, room, tag, value, size);
}

std::uint8_t* asn_build_sequence(std::uint8_t* data, std::uint32_t* room, std::uint8_t tag, std::uint32_t length) {
  if (!data || length > 0xFFFF || !Take(room, 4)) return nullptr;
  *data++ = tag;
  *data++ = 0x82;
  return PutBytes(data, length, 2);
}

std::uint8_t* asn_build_null(std::uint8_t* data, std::uint32_t* room, std::uint8_t tag) {
  return asn_build_header(data, room, tag, 0);
}

std::uint8_t* asn_build_string(std::uint8_t* data, std::uint32_t* room, std::uint8_t tag, const void* src,
                               std::uint32_t len) {
  data = asn_build_header(data, room, tag, len);
  if (!data || !Take(room, len)) return nullptr;
  if (src)
    std::memcpy(data, src, len);
  else
    std::memset(data, 0, len);
  return data + len;
}

std::uint8_t* asn_build_bitstring(std::uint8_t* data, std::uint32_t* room, std::uint8_t tag, const void* src,
                                  std::uint32_t len) {
  if (!src || len == 0) return nullptr;
  return asn_build_string(data, room, tag, src, len);
}

std::uint8_t* asn_build_objid(std::uint8_t* data, std::uint32_t* room, std::uint8_t tag, const std::uint32_t* oid,
                              std::uint32_t count) {
  if (!data || count > max_oid_len || (count && !oid)) return nullptr;
  // The first two numbers share one value; under 0 and 1 the second is
  // below 40, or the value would read back as another identifier.
  std::uint64_t first = 0;
  if (count >= 1) {
    if (oid[0] > 2) return nullptr;
    if (count >= 2 && oid[0] < 2 && oid[1] >= 40) return nullptr;
    first = std::uint64_t(oid[0]) * 40 + (count >= 2 ? oid[1] : 0);
  }
  std::uint32_t len = static_cast<std::uint32_t>(GroupCount(first));
  for (std::uint32_t i = 2; i < count; ++i) len += static_cast<std::uint32_t>(GroupCount(oid[i]));
  data = asn_build_header(data, room, tag, len);
  if (!data || !Take(room, len)) return nullptr;
  data = PutGroups(data, first);
  for (std::uint32_t i = 2; i < count; ++i) data = PutGroups(data, oid[i]);
  return data;
}

std::uint8_t* snmp_build_var_op(std::uint8_t* data, const std::uint32_t* oid, std::uint32_t oid_len, std::uint8_t tag,
                                std::uint32_t value_len, const void* value, std::uint32_t* room) {
  if (!data || !room || *room < 4) return nullptr;
  std::uint8_t* const header = data;
  std::uint32_t left = *room - 4;
  std::uint8_t* p = asn_build_objid(data + 4, &left, ASN_OBJECT_ID, oid, oid_len);
  if (!p) return nullptr;
  switch (tag) {
    case ASN_INTEGER:
      p = asn_build_int(p, &left, tag, value, value_len);
      break;
    case ASN_BIT_STR:
      p = asn_build_bitstring(p, &left, tag, value, value_len);
      break;
    case ASN_OCTET_STR:
    case ASN_IPADDRESS:
    case ASN_OPAQUE:
    case ASN_NSAP:
      p = asn_build_string(p, &left, tag, value, value_len);
      break;
    case ASN_NULL:
      p = asn_build_null(p, &left, tag);
      break;
    case ASN_OBJECT_ID:
      p = asn_build_objid(p, &left, tag, static_cast<const std::uint32_t*>(value), value_len / 4);
      break;
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS:
    case ASN_UINTEGER:
      p = asn_build_unsigned_int(p, &left, tag, value, value_len);
      break;
    default:
      return nullptr;
  }
  if (!p) return nullptr;
  std::uint32_t four = 4;
  if (!asn_build_sequence(header, &four, ASN_SEQUENCE, static_cast<std::uint32_t>(p - header - 4))) return nullptr;
  *room = left;
  return p;
}

int snmp_session_seed(trap_context* ctx, std::int32_t seed) {
  if (ctx) ctx->request_id = seed;
  return 0;
}

int trap_init(trap_context* ctx, const char* community) {
  if (!ctx) return 0;
  const std::uint32_t prev = static_cast<std::uint32_t>(ctx->request_id);
  const std::uint32_t next = ((prev * 850009u + 991873u) & 0x7FFFFFFFu) | 1u;
  std::memset(ctx, 0, sizeof *ctx);
  ctx->version = SNMP_VERSION_2C;
  ctx->pdu_type = SNMP_TRAP2_PDU;
  ctx->request_id = static_cast<std::int32_t>(next);
  std::strncpy(ctx->community, community ? community : "kobalt", sizeof ctx->community - 1);
  ctx->room = trap_buffer_size;
  return 0;
}

int trap_pack_begin(trap_context* ctx) {
  if (!ctx || ctx->state != 0) return -1;
  ctx->state = 1;
  std::uint32_t* room = &ctx->room;
  std::uint8_t* p = asn_build_sequence(ctx->buffer, room, ASN_SEQUENCE, 0);
  ctx->msg_start = p;
  p = asn_build_int(p, room, ASN_INTEGER, &ctx->version, 4);
  p = asn_build_string(p, room, ASN_OCTET_STR, ctx->community,
                       static_cast<std::uint32_t>(strnlen(ctx->community, sizeof ctx->community)));
  ctx->pdu_header = p;
  p = asn_build_sequence(p, room, static_cast<std::uint8_t>(ctx->pdu_type), 0);
  ctx->pdu_start = p;
  p = asn_build_int(p, room, ASN_INTEGER, &ctx->request_id, 4);
  p = asn_build_int(p, room, ASN_INTEGER, &ctx->error_status, 4);
  p = asn_build_int(p, room, ASN_INTEGER, &ctx->error_index, 4);
  ctx->vb_header = p;
  p = asn_build_sequence(p, room, ASN_SEQUENCE, 0);
  ctx->vb_start = p;
  ctx->pos = p;
  return p ? 0 : -1;
}

int trap_pack_add(trap_context* ctx, const std::uint32_t* oid, std::uint32_t oid_len, std::uint8_t tag,
                  const void* value, std::uint32_t value_len) {
  if (!ctx || (ctx->state != 1 && ctx->state != 2) || !ctx->pos) return -1;
  std::uint8_t* p = snmp_build_var_op(ctx->pos, oid, oid_len, tag, value_len, value, &ctx->room);
  if (!p) return -1;
  ctx->pos = p;
  ctx->state = 2;
  return 0;
}

int trap_pack_end(trap_context* ctx) {
  if (!ctx || (ctx->state != 1 && ctx->state != 2)) return -1;
  if (!ctx->msg_start || !ctx->pdu_header || !ctx->pdu_start || !ctx->vb_header || !ctx->vb_start || !ctx->pos)
    return -1;
  std::uint32_t four = 4;
  asn_build_sequence(ctx->vb_header, &four, ASN_SEQUENCE, static_cast<std::uint32_t>(ctx->pos - ctx->vb_start));
  four = 4;
  asn_build_sequence(ctx->pdu_header, &four, static_cast<std::uint8_t>(ctx->pdu_type),
                     static_cast<std::uint32_t>(ctx->pos - ctx->pdu_start));
  four = 4;
  asn_build_sequence(ctx->buffer, &four, ASN_SEQUENCE, static_cast<std::uint32_t>(ctx->pos - ctx->msg_start));
  ctx->length = static_cast<std::uint32_t>(ctx->pos - ctx->buffer);
  ctx->state = 3;
  return 0;
}

std::uint32_t get_uptime() {
  struct sysinfo si;
  std::memset(&si, 0, sizeof si);
  sysinfo(&si);
  struct timeval tv;
  platform::gettimeofday(&tv);
  return static_cast<std::uint32_t>(si.uptime) * 100u + static_cast<std::uint32_t>(tv.tv_usec / 10000);
}

int parse_oid(std::uint32_t* oid, int capacity, const char* text) {
  if (!oid || !text || capacity <= 0) return 0;
  char copy[128];
  std::strncpy(copy, text, sizeof copy - 1);
  copy[sizeof copy - 1] = '\0';
  int n = 0;
  char* save = nullptr;
  for (char* part = strtok_r(copy, ".", &save); part && n < capacity; part = strtok_r(nullptr, ".", &save))
    oid[n++] = static_cast<std::uint32_t>(std::strtoul(part, nullptr, 10));
  return n;
}
