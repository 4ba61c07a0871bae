// Round trips over random records: every Zarn packet type and both ED-137
// forms with up to sixteen elements of every kind. pack -> unpack gives the
// record back, unpack -> pack the bytes back, and the room a pack asks for is
// exactly what it checks.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "radio/ed137/r2s_proto.h"
#include "radio/zarn/sig_proto.h"
#include "tests/radio/radio_bytes.h"
#include "tests/radio/radio_records.h"

namespace {

class Random {
 public:
  explicit Random(std::uint32_t seed) : rng_(seed) {}
  // 0 to max inclusive, from the raw generator so every platform draws alike.
  std::uint32_t upto(std::uint32_t max) {
    const std::uint64_t r = rng_();
    return static_cast<std::uint32_t>(r % (std::uint64_t(max) + 1));
  }
  std::uint32_t word() { return static_cast<std::uint32_t>(rng_()); }
  float any_float() { return radio_test::from_bits(word()); }

 private:
  std::mt19937 rng_;
};

const std::uint32_t zarn_types[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 129, 130, 131, 132, 133, 134, 135};

sig_proto random_packet(Random& r, std::uint32_t type, int* text_length) {
  sig_proto p;
  sig_proto_init(&p);
  p.type = type;
  p.priority = r.upto(15);
  p.flag_t = r.upto(1);
  p.flag_p = r.upto(1);
  p.flag_r = r.upto(1);
  p.flag_s = r.upto(1);
  p.flag_b = r.upto(1);
  p.flag_rv = r.upto(1);
  p.flag_sh = r.upto(1);
  p.flag_rs = r.upto(1);
  p.flag_pw = r.upto(1);
  p.flag_c = r.upto(3);
  p.status = r.upto(511);
  char text[255];
  const int n = static_cast<int>(r.upto(255));
  for (int i = 0; i < n; ++i) text[i] = static_cast<char>(r.upto(255));
  *text_length = n;
  in_addr a;
  a.s_addr = r.word();
  auto byte = [&r] { return static_cast<std::uint8_t>(r.upto(255)); };
  switch (type) {
    case GW_ADJUST_CHAN: sig_proto_set_gw_adjust_chan(&p, r.word(), r.any_float()); break;
    case GW_SEL_CALL: sig_proto_set_gw_selcall(&p, text, n); break;
    case GW_SELECT_RC_CHAN: sig_proto_set_gw_select_rc_chan(&p, byte(), byte()); break;
    case GW_ADJUST_SQUELSHE: sig_proto_set_gw_adjust_squelsh(&p, byte()); break;
    case GW_ADJUST_RTE: sig_proto_set_gw_adjust_rte(&p, byte()); break;
    case GW_ADJUST_STANDBY: sig_proto_set_gw_adjust_standby(&p, byte()); break;
    case WM_TRANS: sig_proto_set_wm_transmite(&p, a, r.word()); break;
    case WM_RADIO_QUALITY: sig_proto_set_wm_radio_quality(&p, r.any_float()); break;
    case WM_CHAN: sig_proto_set_wm_chan(&p, r.word(), r.any_float(), byte(), byte()); break;
    case WM_SEL_CALL_TRANS: sig_proto_set_wm_selcall_transmite(&p, a, r.word(), text, n); break;
    case WM_SELECT_RC_CHAN: sig_proto_set_wm_select_rc_chan(&p, byte(), byte()); break;
    case WM_STANDBY: sig_proto_set_wm_standby(&p, byte(), byte(), byte()); break;
    default: break;
  }
  return p;
}

// Packed length and the room pack asks for, by type.
void sizes(std::uint32_t type, int text, int* length, int* room) {
  switch (type) {
    case GW_ADJUST_CHAN: case WM_TRANS: *length = *room = 12; return;
    case WM_CHAN: *length = *room = 16; return;
    case GW_SELECT_RC_CHAN: case GW_ADJUST_SQUELSHE: case GW_ADJUST_RTE: case GW_ADJUST_STANDBY:
    case WM_RADIO_QUALITY: case WM_SELECT_RC_CHAN: case WM_STANDBY:
      *length = *room = 8;
      return;
    case GW_SEL_CALL: *length = (5 + text + 3) / 4 * 4; *room = text + 12; return;
    case WM_SEL_CALL_TRANS: *length = (13 + text + 3) / 4 * 4; *room = text + 20; return;
    default: *length = *room = 4; return;
  }
}

}  // namespace

TEST(RadioCodecRoundTrip, ZarnEveryType) {
  Random r(0x5A4E);
  for (std::uint32_t type : zarn_types) {
    for (int i = 0; i < 300; ++i) {
      int text = 0;
      const sig_proto p = random_packet(r, type, &text);
      SCOPED_TRACE("type " + std::to_string(type) + " text " + std::to_string(text));
      std::uint8_t bytes[1024];
      const int n = sig_proto_pack(&p, bytes, sizeof bytes);
      int length, room;
      sizes(type, text, &length, &room);
      ASSERT_EQ(n, length);

      sig_proto back;
      sig_proto_init(&back);
      ASSERT_EQ(sig_proto_unpack(&back, bytes, n), 0);
      ASSERT_TRUE(radio_test::same_packet(back, p));

      std::uint8_t again[1024];
      ASSERT_EQ(sig_proto_pack(&back, again, room), n);
      ASSERT_EQ(radio_test::hex(again, n), radio_test::hex(bytes, n));
      ASSERT_EQ(sig_proto_pack(&back, again, room - 1), SIG_PROTO_ERR_SHORT);
    }
  }
}

namespace {

// Adds one random element of a kind the form knows; returns the room it claims.
int add_random_element(Random& r, r2s_proto& p, bool rx) {
  if (rx) {
    switch (r.upto(3)) {
      case 0:
        r2s_proto_add_rx_sqi(&p, r.upto(31), r.upto(7));
        return 2;
      case 1: {
        r2s_proto_rx_additional_rrc e{};
        e.mstxf1 = r.upto(1), e.msrxf1 = r.upto(1), e.mstxf2 = r.upto(1), e.msrxf2 = r.upto(1);
        e.seltxf1 = r.upto(1), e.seltxf2 = r.upto(1), e.murxf1 = r.upto(1), e.murxf2 = r.upto(1);
        e.form = R2S_PROTO_RRC_SHORT;
        r2s_proto_add_rx_rrc(&p, &e);
        return 5;
      }
      case 2: {
        r2s_proto_rx_additional_rrc e{r.upto(1), r.upto(1), r.upto(1), r.upto(1), r.upto(1), r.upto(1), r.upto(1),
                                      r.upto(1), R2S_PROTO_RRC_LONG, r.upto(1), r.upto(1), r.upto(255), r.upto(255)};
        r2s_proto_add_rx_rrc(&p, &e);
        return 5;
      }
      default: {
        r2s_proto_rx_additional_mam e{r.upto(1), r.upto(0x7FFFFF), r.upto(1), r.upto(0x7FFFFF),
                                      r.upto(0xFFFF), r.upto(0xFFFF), r.upto(0xFFFF)};
        r2s_proto_add_rx_mam(&p, &e);
        return 13;
      }
    }
  }
  switch (r.upto(2)) {
    case 0: {
      r2s_proto_tx_additional_climax_time_delay e{r.upto(255)};
      r2s_proto_add_tx_time_delay(&p, &e);
      return 2;
    }
    case 1: {
      r2s_proto_tx_additional_rrc e{r.upto(1), r.upto(1), r.upto(1), r.upto(1),
                                    r.upto(1), r.upto(1), r.upto(1), r.upto(1)};
      r2s_proto_add_tx_rrc(&p, &e);
      return 2;
    }
    default: {
      r2s_proto_tx_additional_rrm e{r.upto(1), r.upto(0x7FFFFF)};
      r2s_proto_add_tx_rrm(&p, &e);
      return 4;
    }
  }
}

}  // namespace

TEST(RadioCodecRoundTrip, Ed137BothForms) {
  Random r(0xED137);
  for (bool rx : {true, false}) {
    for (int i = 0; i < 3000; ++i) {
      r2s_proto p;
      r2s_proto_init(&p, rx ? R2S_PROTO_RX : R2S_PROTO_TX);
      if (rx)
        r2s_proto_set_rx_header(&p, r.upto(7), r.upto(1), r.upto(63), r.upto(1), r.upto(1), r.upto(1));
      else
        r2s_proto_set_tx_header(&p, r.upto(7), r.upto(63), r.upto(1), r.upto(1));
      const std::uint32_t count = r.upto(16);
      int room = 2;
      for (std::uint32_t k = 0; k < count; ++k) room += add_random_element(r, p, rx);
      if (count == 0) room = 4;
      SCOPED_TRACE(std::string(rx ? "RX" : "TX") + " with " + std::to_string(count) + " elements");

      std::uint8_t bytes[1024];
      const int n = r2s_proto_pack(&p, bytes, sizeof bytes);
      ASSERT_GT(n, 0);
      ASSERT_LE(n, room);

      r2s_proto back;
      r2s_proto_init(&back, 0);
      ASSERT_EQ(rx ? r2s_proto_unpack_rx(&back, bytes, n) : r2s_proto_unpack_tx(&back, bytes, n), 0);
      ASSERT_TRUE(radio_test::same_payload(back, p)) << radio_test::hex(bytes, n);

      std::uint8_t again[1024];
      ASSERT_EQ(r2s_proto_pack(&back, again, room), n);
      ASSERT_EQ(radio_test::hex(again, n), radio_test::hex(bytes, n));
      ASSERT_EQ(r2s_proto_pack(&back, again, room - 1), R2S_PROTO_ERR_SHORT);
    }
  }
}
