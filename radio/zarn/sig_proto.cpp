#include "radio/zarn/sig_proto.h"

#include <cstring>

namespace {

void put32(std::uint8_t* b, std::uint32_t v) {
  b[0] = static_cast<std::uint8_t>(v >> 24);
  b[1] = static_cast<std::uint8_t>(v >> 16);
  b[2] = static_cast<std::uint8_t>(v >> 8);
  b[3] = static_cast<std::uint8_t>(v);
}

std::uint32_t get32(const std::uint8_t* b) {
  return (std::uint32_t(b[0]) << 24) | (std::uint32_t(b[1]) << 16) | (std::uint32_t(b[2]) << 8) | b[3];
}

void put_float(std::uint8_t* b, float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  put32(b, bits);
}

float get_float(const std::uint8_t* b) {
  std::uint32_t bits = get32(b);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

// in_addr holds its octets in network order in memory on every host; the
// wire wants them reversed.
void put_addr(std::uint8_t* b, in_addr a) {
  const auto* o = reinterpret_cast<const std::uint8_t*>(&a.s_addr);
  b[0] = o[3];
  b[1] = o[2];
  b[2] = o[1];
  b[3] = o[0];
}

in_addr get_addr(const std::uint8_t* b) {
  in_addr a;
  auto* o = reinterpret_cast<std::uint8_t*>(&a.s_addr);
  o[0] = b[3];
  o[1] = b[2];
  o[2] = b[1];
  o[3] = b[0];
  return a;
}

// Length of header plus fields plus text, rounded up to whole 32-bit words.
int padded(int n) { return (n + 3) & ~3; }

bool header_only(std::uint32_t type) {
  return type == GW_FLAG || (type >= GW_FLAG_PTT && type <= GW_FLAG_RS) || type == WM_FLAG;
}

struct header {
  std::uint32_t type, priority, flag_t, flag_p, flag_r, flag_s, flag_b, flag_rv, flag_sh, flag_pw, status, flag_c,
      flag_rs;
};

header read_header(const std::uint8_t* b) {
  header h;
  h.type = b[0];
  h.priority = b[1] >> 4;
  h.flag_t = (b[1] >> 3) & 1;
  h.flag_p = (b[1] >> 2) & 1;
  h.flag_r = (b[1] >> 1) & 1;
  h.flag_s = b[1] & 1;
  h.flag_b = b[2] >> 7;
  h.flag_rv = (b[2] >> 6) & 1;
  h.flag_sh = (b[2] >> 5) & 1;
  h.flag_pw = (b[2] >> 4) & 1;
  h.status = (std::uint32_t(b[2] & 0x0F) << 5) | (b[3] >> 3);
  h.flag_c = (b[3] >> 1) & 3;
  h.flag_rs = b[3] & 1;
  return h;
}

void write_header(const sig_proto& p, std::uint8_t* b) {
  b[0] = static_cast<std::uint8_t>(p.type);
  b[1] = static_cast<std::uint8_t>(((p.priority & 0x0F) << 4) | ((p.flag_t & 1) << 3) | ((p.flag_p & 1) << 2) |
                                   ((p.flag_r & 1) << 1) | (p.flag_s & 1));
  b[2] = static_cast<std::uint8_t>(((p.flag_b & 1) << 7) | ((p.flag_rv & 1) << 6) | ((p.flag_sh & 1) << 5) |
                                   ((p.flag_pw & 1) << 4) | ((p.status >> 5) & 0x0F));
  b[3] = static_cast<std::uint8_t>(((p.status & 0x1F) << 3) | ((p.flag_c & 3) << 1) | (p.flag_rs & 1));
}

void store_header(sig_proto& p, const header& h) {
  p.type = h.type;
  p.priority = h.priority;
  p.flag_t = h.flag_t;
  p.flag_p = h.flag_p;
  p.flag_r = h.flag_r;
  p.flag_s = h.flag_s;
  p.flag_b = h.flag_b;
  p.flag_rv = h.flag_rv;
  p.flag_sh = h.flag_sh;
  p.flag_pw = h.flag_pw;
  p.status = h.status;
  p.flag_c = h.flag_c;
  p.flag_rs = h.flag_rs;
}

// Copies a caller's text into a 256-byte area: cleared, at most 255 bytes.
void set_text(std::uint8_t* length, std::uint8_t* area, const char* text, int n) {
  std::memset(area, 0, SIG_PROTO_CALLER_ID_AREA);
  if (!text || n <= 0) {
    *length = 0;
    return;
  }
  if (n > SIG_PROTO_CALLER_ID_MAX) n = SIG_PROTO_CALLER_ID_MAX;
  std::memcpy(area, text, static_cast<std::size_t>(n));
  *length = static_cast<std::uint8_t>(n);
}

}  // namespace

int sig_proto_init(sig_proto* p) {
  if (p) std::memset(p, 0, sizeof *p);
  return 0;
}

int sig_proto_pack(const sig_proto* p, std::uint8_t* buf, int size) {
  if (!p || !buf) return 0;
  if (size < 4) return SIG_PROTO_ERR_SHORT;
  std::memset(buf, 0, static_cast<std::size_t>(size));
  write_header(*p, buf);
  std::uint8_t* b = buf + 4;
  switch (p->type) {
    case GW_ADJUST_CHAN:
      if (size < 12) return SIG_PROTO_ERR_SHORT;
      put32(b, p->gw_adjust_chan.id);
      put_float(b + 4, p->gw_adjust_chan.freq);
      return 12;
    case GW_SEL_CALL: {
      int n = p->gw_sel_call.callerID_length;
      if (size < n + 12) return SIG_PROTO_ERR_SHORT;
      b[0] = p->gw_sel_call.callerID_length;
      std::memcpy(b + 1, p->gw_sel_call.callerID, static_cast<std::size_t>(n));
      return padded(5 + n);
    }
    case GW_SELECT_RC_CHAN:
    case WM_SELECT_RC_CHAN: {
      if (size < 8) return SIG_PROTO_ERR_SHORT;
      const sig_proto_select_rc_chan& rc = p->type == GW_SELECT_RC_CHAN ? p->gw_select_rc_chan : p->wm_select_rc_chan;
      b[0] = rc.interface;
      b[1] = rc.channel;
      return 8;
    }
    case GW_ADJUST_SQUELSHE:
    case GW_ADJUST_RTE:
    case GW_ADJUST_STANDBY:
      // The three share the first payload byte.
      if (size < 8) return SIG_PROTO_ERR_SHORT;
      b[0] = p->gw_adjust_squelsh.squelsh;
      return 8;
    case WM_TRANS:
      if (size < 12) return SIG_PROTO_ERR_SHORT;
      put_addr(b, p->wm_trans.session_addr);
      put32(b + 4, p->wm_trans.ssrc);
      return 12;
    case WM_RADIO_QUALITY:
      if (size < 8) return SIG_PROTO_ERR_SHORT;
      put_float(b, p->wm_radio_quality.radio_quality);
      return 8;
    case WM_CHAN:
      if (size < 16) return SIG_PROTO_ERR_SHORT;
      put32(b, p->wm_chan.id);
      put_float(b + 4, p->wm_chan.freq);
      b[8] = p->wm_chan.squelsh;
      b[9] = p->wm_chan.rte;
      return 16;
    case WM_SEL_CALL_TRANS: {
      int n = p->wm_sel_call_trans.callerID_length;
      if (size < n + 20) return SIG_PROTO_ERR_SHORT;
      put_addr(b, p->wm_sel_call_trans.session_addr);
      put32(b + 4, p->wm_sel_call_trans.ssrc);
      b[8] = p->wm_sel_call_trans.callerID_length;
      std::memcpy(b + 9, p->wm_sel_call_trans.callerID, static_cast<std::size_t>(n));
      return padded(13 + n);
    }
    case WM_STANDBY:
      if (size < 8) return SIG_PROTO_ERR_SHORT;
      b[0] = p->wm_standby.state;
      b[1] = p->wm_standby.group;
      b[2] = p->wm_standby.receiver_state;
      return 8;
    default:
      // Header-only types, and types without a layout, are the header alone.
      return 4;
  }
}

int sig_proto_unpack(sig_proto* p, const std::uint8_t* data, int len) {
  if (!p || !data) return SIG_PROTO_ERR_NULL;
  if (len < 4) return SIG_PROTO_ERR_SHORT;
  const header h = read_header(data);
  const std::uint8_t* b = data + 4;
  sig_proto next = *p;  // payload bytes this type does not carry keep their values
  switch (h.type) {
    case GW_ADJUST_CHAN:
      if (len < 12) return SIG_PROTO_ERR_SHORT;
      next.gw_adjust_chan.id = get32(b);
      next.gw_adjust_chan.freq = get_float(b + 4);
      break;
    case GW_SEL_CALL: {
      if (len < 5) return SIG_PROTO_ERR_SHORT;
      int n = b[0];
      if (len < 5 + n) return SIG_PROTO_ERR_SHORT;
      next.gw_sel_call.callerID_length = b[0];
      std::memcpy(next.gw_sel_call.callerID, b + 1, static_cast<std::size_t>(n));
      break;
    }
    case GW_SELECT_RC_CHAN:
    case WM_SELECT_RC_CHAN: {
      if (len < 8) return SIG_PROTO_ERR_SHORT;
      sig_proto_select_rc_chan& rc = h.type == GW_SELECT_RC_CHAN ? next.gw_select_rc_chan : next.wm_select_rc_chan;
      rc.interface = b[0];
      rc.channel = b[1];
      break;
    }
    case GW_ADJUST_SQUELSHE:
    case GW_ADJUST_RTE:
    case GW_ADJUST_STANDBY:
      if (len < 8) return SIG_PROTO_ERR_SHORT;
      next.gw_adjust_squelsh.squelsh = b[0];
      break;
    case WM_TRANS:
      if (len < 12) return SIG_PROTO_ERR_SHORT;
      next.wm_trans.session_addr = get_addr(b);
      next.wm_trans.ssrc = get32(b + 4);
      break;
    case WM_RADIO_QUALITY:
      if (len < 8) return SIG_PROTO_ERR_SHORT;
      next.wm_radio_quality.radio_quality = get_float(b);
      break;
    case WM_CHAN:
      if (len < 16) return SIG_PROTO_ERR_SHORT;
      next.wm_chan.id = get32(b);
      next.wm_chan.freq = get_float(b + 4);
      next.wm_chan.squelsh = b[8];
      next.wm_chan.rte = b[9];
      break;
    case WM_SEL_CALL_TRANS: {
      if (len < 13) return SIG_PROTO_ERR_SHORT;
      int n = b[8];
      if (len < 13 + n) return SIG_PROTO_ERR_SHORT;
      next.wm_sel_call_trans.session_addr = get_addr(b);
      next.wm_sel_call_trans.ssrc = get32(b + 4);
      next.wm_sel_call_trans.callerID_length = b[8];
      std::memcpy(next.wm_sel_call_trans.callerID, b + 9, static_cast<std::size_t>(n));
      break;
    }
    case WM_STANDBY:
      if (len < 8) return SIG_PROTO_ERR_SHORT;
      next.wm_standby.state = b[0];
      next.wm_standby.group = b[1];
      next.wm_standby.receiver_state = b[2];
      break;
    default:
      if (!header_only(h.type)) {
        p->type = h.type;
        return SIG_PROTO_ERR_TYPE;
      }
      break;
  }
  // The source address and SSRC came along unchanged in the copy.
  store_header(next, h);
  *p = next;
  return 0;
}

bool is_little_endian() {
  const std::uint32_t probe = 0x01234567;
  std::uint8_t first;
  std::memcpy(&first, &probe, 1);
  return first == 0x67;
}

bool sig_proto_is_ptt_type(std::uint32_t type) {
  switch (type) {
    case GW_FLAG:
    case GW_FLAG_PTT:
    case GW_SEL_CALL:
    case WM_FLAG:
    case WM_TRANS:
    case WM_SEL_CALL_TRANS:
      return true;
    default:
      return false;
  }
}

bool sig_proto_is_ptt_command(const sig_proto* p) { return p && sig_proto_is_ptt_type(p->type); }

int cmp_sig_proto_header(const sig_proto* a, const sig_proto* b) {
  if (!a || !b) return -1;
  if (int d = static_cast<int>(b->type - a->type)) return d;
  if (int d = static_cast<int>(b->source_ssrc - a->source_ssrc)) return d;
  return static_cast<int>(b->source_addr.s_addr - a->source_addr.s_addr);
}

namespace {

int cmp_dumps(const sig_proto* a, const sig_proto* b, int options) {
  if (!a || !b) return -1;
  char ta[8192];
  char tb[8192];
  int na = sprintf_sig_proto(ta, sizeof ta, a, options);
  int nb = sprintf_sig_proto(tb, sizeof tb, b, options);
  if (nb != na) return nb - na;
  return std::memcmp(ta, tb, static_cast<std::size_t>(na));
}

}  // namespace

int cmp_sig_proto(const sig_proto* a, const sig_proto* b) { return cmp_dumps(a, b, SIG_PROTO_PRINT_TYPE_HEX); }

int cmp_sig_proto_flags(const sig_proto* a, const sig_proto* b) {
  return cmp_dumps(a, b, SIG_PROTO_PRINT_FLAGS_ONLY);
}

int sig_proto_set_base(sig_proto* p, int priority, int flag_t, int flag_p, int flag_r, int flag_s, int flag_b,
                       int flag_rv, int flag_sh, int flag_pw, int flag_rs, int flag_c, int status) {
  if (!p) return 0;
  auto set = [](std::uint32_t& field, int v) {
    if (v >= 0) field = static_cast<std::uint32_t>(v);
  };
  set(p->priority, priority);
  set(p->flag_t, flag_t);
  set(p->flag_p, flag_p);
  set(p->flag_r, flag_r);
  set(p->flag_s, flag_s);
  set(p->flag_b, flag_b);
  set(p->flag_rv, flag_rv);
  set(p->flag_sh, flag_sh);
  set(p->flag_pw, flag_pw);
  set(p->flag_rs, flag_rs);
  set(p->flag_c, flag_c);
  set(p->status, status);
  return 0;
}

int sig_proto_set_ptt(sig_proto* p, int flag_p) {
  if (p && flag_p >= 0) p->flag_p = static_cast<std::uint32_t>(flag_p);
  return 0;
}

int sig_proto_set_gw_adjust_chan(sig_proto* p, std::uint32_t id, float freq) {
  if (!p) return 0;
  p->gw_adjust_chan.id = id;
  p->gw_adjust_chan.freq = freq;
  return 0;
}

int sig_proto_set_gw_adjust_squelsh(sig_proto* p, std::uint8_t squelsh) {
  if (p) p->gw_adjust_squelsh.squelsh = squelsh;
  return 0;
}

int sig_proto_set_gw_adjust_rte(sig_proto* p, std::uint8_t rte) {
  if (p) p->gw_adjust_rte.rte = rte;
  return 0;
}

int sig_proto_set_gw_adjust_standby(sig_proto* p, std::uint8_t state) {
  if (p) p->gw_adjust_standby.state = state;
  return 0;
}

int sig_proto_set_gw_selcall(sig_proto* p, const char* text, int length) {
  if (p) set_text(&p->gw_sel_call.callerID_length, p->gw_sel_call.callerID, text, length);
  return 0;
}

int sig_proto_set_gw_select_rc_chan(sig_proto* p, std::uint8_t interface, std::uint8_t channel) {
  if (!p) return 0;
  p->gw_select_rc_chan.interface = interface;
  p->gw_select_rc_chan.channel = channel;
  return 0;
}

int sig_proto_set_wm_select_rc_chan(sig_proto* p, std::uint8_t interface, std::uint8_t channel) {
  if (!p) return 0;
  p->wm_select_rc_chan.interface = interface;
  p->wm_select_rc_chan.channel = channel;
  return 0;
}

int sig_proto_set_wm_radio_quality(sig_proto* p, float quality) {
  if (p) p->wm_radio_quality.radio_quality = quality;
  return 0;
}

int sig_proto_set_wm_transmite(sig_proto* p, in_addr addr, std::uint32_t ssrc) {
  if (!p) return 0;
  p->wm_trans.session_addr = addr;
  p->wm_trans.ssrc = ssrc;
  return 0;
}

int sig_proto_set_wm_selcall_transmite(sig_proto* p, in_addr addr, std::uint32_t ssrc, const char* text,
                                       int length) {
  if (!p) return 0;
  p->wm_sel_call_trans.session_addr = addr;
  p->wm_sel_call_trans.ssrc = ssrc;
  set_text(&p->wm_sel_call_trans.callerID_length, p->wm_sel_call_trans.callerID, text, length);
  return 0;
}

int sig_proto_set_wm_chan(sig_proto* p, std::uint32_t id, float freq, std::uint8_t squelsh, std::uint8_t rte) {
  if (!p) return 0;
  p->wm_chan.id = id;
  p->wm_chan.freq = freq;
  p->wm_chan.squelsh = squelsh;
  p->wm_chan.rte = rte;
  return 0;
}

int sig_proto_set_wm_standby(sig_proto* p, std::uint8_t state, std::uint8_t group, std::uint8_t receiver_state) {
  if (!p) return 0;
  p->wm_standby.state = state;
  p->wm_standby.group = group;
  p->wm_standby.receiver_state = receiver_state;
  return 0;
}

const int init_sig_proto_type[SIG_PROTO_INIT_TYPES] = {1, 3, 4, 5, 6, 7, 8, 2, 9, 10, 13, 129, 130, 132, 131, 133, 135};

int init_sig_proto_queue(sig_proto_queue* q) {
  if (!q) return 0;
  std::memset(q, 0, sizeof *q);
  for (int i = 0; i < 32; ++i)
    q->records[i].type = i < SIG_PROTO_INIT_TYPES ? static_cast<std::uint32_t>(init_sig_proto_type[i])
                                                   : static_cast<std::uint32_t>(-1);
  return 0;
}
