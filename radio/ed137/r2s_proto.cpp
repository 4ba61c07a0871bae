#include "radio/ed137/r2s_proto.h"

#include <cstring>

namespace {

// Element bytes: type in bits 7-4, value length in bits 3-0.
constexpr std::uint8_t RX_SQI = 0x11;
constexpr std::uint8_t RX_RRC_SHORT = 0x31;
constexpr std::uint8_t RX_RRC_LONG = 0x34;
constexpr std::uint8_t RX_MAM = 0x4C;
constexpr std::uint8_t TX_TIME_DELAY = 0x21;
constexpr std::uint8_t TX_RRC = 0x31;
constexpr std::uint8_t TX_RRM = 0x43;

// Room an RX RRC claims whatever its form: that of the long form. The bytes
// written, and so the place of the next element, follow the actual form.
constexpr int RX_RRC_ROOM = 5;

std::uint8_t bit(std::uint32_t v, int pos) { return static_cast<std::uint8_t>((v & 1) << pos); }

void put16(std::uint8_t* b, std::uint32_t v) {
  b[0] = static_cast<std::uint8_t>(v >> 8);
  b[1] = static_cast<std::uint8_t>(v);
}

std::uint32_t get16(const std::uint8_t* b) { return (std::uint32_t(b[0]) << 8) | b[1]; }

// A flag in bit 7 and a 23-bit value in the rest of three bytes.
void put_flag23(std::uint8_t* b, std::uint32_t flag, std::uint32_t v) {
  b[0] = static_cast<std::uint8_t>(bit(flag, 7) | ((v >> 16) & 0x7F));
  b[1] = static_cast<std::uint8_t>(v >> 8);
  b[2] = static_cast<std::uint8_t>(v);
}

void get_flag23(const std::uint8_t* b, std::uint32_t& flag, std::uint32_t& v) {
  flag = b[0] >> 7;
  v = (std::uint32_t(b[0] & 0x7F) << 16) | (std::uint32_t(b[1]) << 8) | b[2];
}

// The eight RRC flags, the first in bit 7; the RX and TX layouts agree.
template <typename Rrc>
std::uint8_t rrc_flags(const Rrc& r) {
  return static_cast<std::uint8_t>(bit(r.mstxf1, 7) | bit(r.msrxf1, 6) | bit(r.mstxf2, 5) | bit(r.msrxf2, 4) |
                                   bit(r.seltxf1, 3) | bit(r.seltxf2, 2) | bit(r.murxf1, 1) | bit(r.murxf2, 0));
}

template <typename Rrc>
void read_rrc_flags(std::uint8_t b, Rrc& r) {
  r.mstxf1 = (b >> 7) & 1;
  r.msrxf1 = (b >> 6) & 1;
  r.mstxf2 = (b >> 5) & 1;
  r.msrxf2 = (b >> 4) & 1;
  r.seltxf1 = (b >> 3) & 1;
  r.seltxf2 = (b >> 2) & 1;
  r.murxf1 = (b >> 1) & 1;
  r.murxf2 = b & 1;
}

std::uint32_t element_count(const r2s_proto& p) {
  return p.additional_count > R2S_PROTO_MAX_ADDITIONALS ? R2S_PROTO_MAX_ADDITIONALS : p.additional_count;
}

// Writes one RX element at out (room already checked); returns the bytes
// written, or -8 for an RRC of an unknown form.
int write_rx_element(const r2s_proto_additional& e, std::uint8_t* out) {
  switch (e.type) {
    case R2S_PROTO_ELEMENT_SQI:
      out[0] = RX_SQI;
      out[1] = static_cast<std::uint8_t>(((e.rx_sqi.quality & 0x1F) << 3) | (e.rx_sqi.method & 7));
      return 2;
    case R2S_PROTO_ELEMENT_RRC:
      if (e.rx_rrc.form == R2S_PROTO_RRC_SHORT) {
        out[0] = RX_RRC_SHORT;
        out[1] = rrc_flags(e.rx_rrc);
        return 2;
      }
      if (e.rx_rrc.form == R2S_PROTO_RRC_LONG) {
        out[0] = RX_RRC_LONG;
        out[1] = rrc_flags(e.rx_rrc);
        out[2] = static_cast<std::uint8_t>(bit(e.rx_rrc.ext_flag1, 7) | bit(e.rx_rrc.ext_flag2, 6));
        out[3] = static_cast<std::uint8_t>(e.rx_rrc.ext_value1);
        out[4] = static_cast<std::uint8_t>(e.rx_rrc.ext_value2);
        return 5;
      }
      return R2S_PROTO_ERR_FORM;
    default: {  // MAM
      const r2s_proto_rx_additional_mam& m = e.rx_mam;
      out[0] = RX_MAM;
      put_flag23(out + 1, m.tqg, m.t1);
      put_flag23(out + 4, m.nmr, m.t2);
      put16(out + 7, m.tsd);
      put16(out + 9, m.tj1);
      put16(out + 11, m.tid);
      return 13;
    }
  }
}

int write_tx_element(const r2s_proto_additional& e, std::uint8_t* out) {
  switch (e.type) {
    case R2S_PROTO_ELEMENT_TIME_DELAY:
      out[0] = TX_TIME_DELAY;
      out[1] = static_cast<std::uint8_t>(e.tx_time_delay.delay);
      return 2;
    case R2S_PROTO_ELEMENT_RRC:
      out[0] = TX_RRC;
      out[1] = rrc_flags(e.tx_rrc);
      return 2;
    default:  // RRM
      out[0] = TX_RRM;
      put_flag23(out + 1, e.tx_rrm.tqv, e.tx_rrm.t1);
      return 4;
  }
}

// Room an element claims in its form, 0 for a type the form does not know.
int room(bool rx, std::uint32_t type) {
  if (rx) {
    switch (type) {
      case R2S_PROTO_ELEMENT_SQI: return 2;
      case R2S_PROTO_ELEMENT_RRC: return RX_RRC_ROOM;
      case R2S_PROTO_ELEMENT_MAM: return 13;
      default: return 0;
    }
  }
  switch (type) {
    case R2S_PROTO_ELEMENT_TIME_DELAY: return 2;
    case R2S_PROTO_ELEMENT_RRC: return 2;
    case R2S_PROTO_ELEMENT_RRM: return 4;
    default: return 0;
  }
}

int pack(const r2s_proto* p, std::uint8_t* buf, int size, bool rx) {
  if (!p || !buf) return 0;
  if (size < 2) return R2S_PROTO_ERR_SHORT;
  std::memset(buf, 0, static_cast<std::size_t>(size));
  const std::uint32_t n = element_count(*p);
  if (rx) {
    const r2s_proto_rx_header& h = p->rx;
    buf[0] = static_cast<std::uint8_t>(((h.ptt_type & 7) << 5) | bit(h.squ, 4) | ((h.ptt_id >> 2) & 0x0F));
    buf[1] = static_cast<std::uint8_t>(((h.ptt_id & 3) << 6) | bit(h.ptt_mute, 5) | bit(h.ptt_summation, 4) |
                                       bit(h.sct, 3) | (n ? 1 : 0));
  } else {
    const r2s_proto_tx_header& h = p->tx;
    buf[0] = static_cast<std::uint8_t>(((h.ptt_type & 7) << 5) | ((h.ptt_id >> 2) & 0x0F));
    buf[1] = static_cast<std::uint8_t>(((h.ptt_id & 3) << 6) | bit(h.ptt_mute, 5) | bit(h.ptt_summation, 4) |
                                       (n ? 1 : 0));
  }
  if (n == 0) return size < 4 ? R2S_PROTO_ERR_SHORT : 4;

  int claimed = 2;  // room counted so far
  int pos = 2;      // bytes written so far
  for (std::uint32_t i = 0; i < n; ++i) {
    const r2s_proto_additional& e = p->additional[i];
    const int need = room(rx, e.type);
    if (need == 0) continue;
    claimed += need;
    if (claimed > size) return R2S_PROTO_ERR_SHORT;
    const int w = rx ? write_rx_element(e, buf + pos) : write_tx_element(e, buf + pos);
    if (w < 0) return w;
    pos += w;
  }
  return pos;
}

int unpack(r2s_proto* p, const std::uint8_t* data, int len, bool rx) {
  if (!p || !data) return R2S_PROTO_ERR_NULL;
  if (len < 2) return R2S_PROTO_ERR_SHORT;
  const std::uint8_t b0 = data[0];
  const std::uint8_t b1 = data[1];
  if (rx) {
    p->type = R2S_PROTO_RX;
    p->rx.ptt_type = b0 >> 5;
    p->rx.squ = (b0 >> 4) & 1;
    p->rx.ptt_id = (std::uint32_t(b0 & 0x0F) << 2) | (b1 >> 6);
    p->rx.ptt_mute = (b1 >> 5) & 1;
    p->rx.ptt_summation = (b1 >> 4) & 1;
    p->rx.sct = (b1 >> 3) & 1;
  } else {
    p->type = R2S_PROTO_TX;
    p->tx.ptt_type = b0 >> 5;
    p->tx.ptt_id = (std::uint32_t(b0 & 0x0F) << 2) | (b1 >> 6);
    p->tx.ptt_mute = (b1 >> 5) & 1;
    p->tx.ptt_summation = (b1 >> 4) & 1;
  }
  p->additional_count = 0;
  if (!(b1 & 1)) return 0;

  int result = 0;
  int pos = 2;
  std::uint32_t count = 0;
  while (pos < len && count < R2S_PROTO_MAX_ADDITIONALS) {
    const std::uint8_t kind = data[pos];
    const int value_len = kind & 0x0F;
    if (value_len > len - pos - 1) {
      result = R2S_PROTO_ERR_SHORT;
      break;
    }
    const std::uint8_t* v = data + pos + 1;
    r2s_proto_additional& e = p->additional[count];
    bool known = true;
    if (rx && kind == RX_SQI) {
      std::memset(&e, 0, sizeof e);
      e.type = R2S_PROTO_ELEMENT_SQI;
      e.rx_sqi.quality = v[0] >> 3;
      e.rx_sqi.method = v[0] & 7;
    } else if (rx && (kind == RX_RRC_SHORT || kind == RX_RRC_LONG)) {
      std::memset(&e, 0, sizeof e);
      e.type = R2S_PROTO_ELEMENT_RRC;
      read_rrc_flags(v[0], e.rx_rrc);
      if (kind == RX_RRC_LONG) {
        e.rx_rrc.form = R2S_PROTO_RRC_LONG;
        e.rx_rrc.ext_flag1 = v[1] >> 7;
        e.rx_rrc.ext_flag2 = (v[1] >> 6) & 1;
        e.rx_rrc.ext_value1 = v[2];
        e.rx_rrc.ext_value2 = v[3];
      }
    } else if (rx && kind == RX_MAM) {
      std::memset(&e, 0, sizeof e);
      e.type = R2S_PROTO_ELEMENT_MAM;
      get_flag23(v, e.rx_mam.tqg, e.rx_mam.t1);
      get_flag23(v + 3, e.rx_mam.nmr, e.rx_mam.t2);
      e.rx_mam.tsd = get16(v + 6);
      e.rx_mam.tj1 = get16(v + 8);
      e.rx_mam.tid = get16(v + 10);
    } else if (!rx && kind == TX_TIME_DELAY) {
      std::memset(&e, 0, sizeof e);
      e.type = R2S_PROTO_ELEMENT_TIME_DELAY;
      e.tx_time_delay.delay = v[0];
    } else if (!rx && kind == TX_RRC) {
      std::memset(&e, 0, sizeof e);
      e.type = R2S_PROTO_ELEMENT_RRC;
      read_rrc_flags(v[0], e.tx_rrc);
    } else if (!rx && kind == TX_RRM) {
      std::memset(&e, 0, sizeof e);
      e.type = R2S_PROTO_ELEMENT_RRM;
      get_flag23(v, e.tx_rrm.tqv, e.tx_rrm.t1);
    } else {
      known = false;
    }
    if (known) ++count;
    pos += 1 + value_len;
  }
  p->additional_count = count;
  return result;
}

// Appends a slot of the given type, its value words copied from the element
// record and the rest cleared.
template <typename Element>
int add(r2s_proto* p, std::uint32_t type, const Element* e) {
  static_assert(sizeof(Element) <= sizeof(r2s_proto_additional::value), "element too large for a slot");
  if (!p || !e || p->additional_count >= R2S_PROTO_MAX_ADDITIONALS) return 0;
  r2s_proto_additional& slot = p->additional[p->additional_count++];
  std::memset(&slot, 0, sizeof slot);
  slot.type = type;
  std::memcpy(slot.value, e, sizeof *e);
  return 0;
}

}  // namespace

int r2s_proto_init(r2s_proto* p, std::uint32_t form) {
  if (!p) return 0;
  std::memset(p, 0, sizeof *p);
  p->type = form;
  return 0;
}

int r2s_proto_set_type(r2s_proto* p, std::uint32_t form) {
  if (p) p->type = form;
  return 0;
}

int r2s_proto_set_tx_header(r2s_proto* p, std::uint32_t ptt_type, std::uint32_t ptt_id, std::uint32_t ptt_mute,
                            std::uint32_t ptt_summation) {
  if (!p) return 0;
  p->type = R2S_PROTO_TX;
  p->tx.ptt_type = ptt_type;
  p->tx.ptt_id = ptt_id;
  p->tx.ptt_mute = ptt_mute;
  p->tx.ptt_summation = ptt_summation;
  return 0;
}

int r2s_proto_set_rx_header(r2s_proto* p, std::uint32_t ptt_type, std::uint32_t squ, std::uint32_t ptt_id,
                            std::uint32_t ptt_mute, std::uint32_t ptt_summation, std::uint32_t sct) {
  if (!p) return 0;
  p->type = R2S_PROTO_RX;
  p->rx.ptt_type = ptt_type;
  p->rx.squ = squ;
  p->rx.ptt_id = ptt_id;
  p->rx.ptt_mute = ptt_mute;
  p->rx.ptt_summation = ptt_summation;
  p->rx.sct = sct;
  return 0;
}

int r2s_proto_reset_additionals(r2s_proto* p) {
  if (p) p->additional_count = 0;
  return 0;
}

int r2s_proto_add_rx_sqi(r2s_proto* p, const r2s_proto_rx_additional_sqi* e) {
  return add(p, R2S_PROTO_ELEMENT_SQI, e);
}

int r2s_proto_add_rx_sqi(r2s_proto* p, std::uint32_t quality, std::uint32_t method) {
  const r2s_proto_rx_additional_sqi e{quality, method};
  return add(p, R2S_PROTO_ELEMENT_SQI, &e);
}

int r2s_proto_add_rx_rrc(r2s_proto* p, const r2s_proto_rx_additional_rrc* e) {
  return add(p, R2S_PROTO_ELEMENT_RRC, e);
}

int r2s_proto_add_rx_mam(r2s_proto* p, const r2s_proto_rx_additional_mam* e) {
  return add(p, R2S_PROTO_ELEMENT_MAM, e);
}

int r2s_proto_add_tx_time_delay(r2s_proto* p, const r2s_proto_tx_additional_climax_time_delay* e) {
  return add(p, R2S_PROTO_ELEMENT_TIME_DELAY, e);
}

int r2s_proto_add_tx_rrc(r2s_proto* p, const r2s_proto_tx_additional_rrc* e) {
  return add(p, R2S_PROTO_ELEMENT_RRC, e);
}

int r2s_proto_add_tx_rrm(r2s_proto* p, const r2s_proto_tx_additional_rrm* e) {
  return add(p, R2S_PROTO_ELEMENT_RRM, e);
}

int r2s_proto_pack(const r2s_proto* p, std::uint8_t* buf, int size) {
  if (!p) return R2S_PROTO_ERR_NULL;
  if (p->type == R2S_PROTO_TX) return r2s_proto_pack_tx(p, buf, size);
  if (p->type == R2S_PROTO_RX) return r2s_proto_pack_rx(p, buf, size);
  return R2S_PROTO_ERR_FORM;
}

int r2s_proto_pack_rx(const r2s_proto* p, std::uint8_t* buf, int size) { return pack(p, buf, size, true); }

int r2s_proto_pack_tx(const r2s_proto* p, std::uint8_t* buf, int size) { return pack(p, buf, size, false); }

int r2s_proto_unpack_rx(r2s_proto* p, const std::uint8_t* data, int len) { return unpack(p, data, len, true); }

int r2s_proto_unpack_tx(r2s_proto* p, const std::uint8_t* data, int len) { return unpack(p, data, len, false); }

int cmp_r2s_proto_source(const r2s_proto* a, const r2s_proto* b) {
  if (!a || !b) return -1;
  if (int d = static_cast<int>(b->type - a->type)) return d;
  if (int d = static_cast<int>(b->source_ssrc - a->source_ssrc)) return d;
  return static_cast<int>(b->source_addr.s_addr - a->source_addr.s_addr);
}
