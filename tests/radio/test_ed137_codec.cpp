// ED-137 header extensions: byte images of both forms and every element both
// ways, buffer room, skipped and truncated elements, and the failure results.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "radio/ed137/r2s_proto.h"
#include "tests/radio/radio_bytes.h"
#include "tests/radio/radio_records.h"

using radio_test::Bytes;
using radio_test::hex;

namespace {

r2s_proto rx(const std::function<void(r2s_proto&)>& elements = nullptr) {
  r2s_proto p;
  r2s_proto_init(&p, R2S_PROTO_RX);
  r2s_proto_set_rx_header(&p, 1, 1, 5, 0, 1, 0);
  if (elements) elements(p);
  return p;
}

r2s_proto tx(const std::function<void(r2s_proto&)>& elements = nullptr) {
  r2s_proto p;
  r2s_proto_init(&p, R2S_PROTO_TX);
  r2s_proto_set_tx_header(&p, 1, 5, 0, 1);
  if (elements) elements(p);
  return p;
}

r2s_proto_rx_additional_rrc short_rrc() {
  r2s_proto_rx_additional_rrc r{};
  r.mstxf1 = r.msrxf2 = r.murxf2 = 1;
  return r;
}

r2s_proto_rx_additional_rrc long_rrc() {
  r2s_proto_rx_additional_rrc r{1, 1, 1, 1, 1, 1, 1, 1, R2S_PROTO_RRC_LONG, 1, 0, 0x12, 0x34};
  return r;
}

r2s_proto_rx_additional_mam mam() { return {1, 0x123456, 0, 0x7FFFFF, 0x0102, 0xFFFF, 0}; }

Bytes pack(const r2s_proto& p, int size = 1024) {
  std::uint8_t buf[1024];
  int n = r2s_proto_pack(&p, buf, size);
  if (n < 0) return {};
  return Bytes(buf, buf + n);
}

struct Image {
  const char* what;
  r2s_proto record;
  const char* bytes;
};

}  // namespace

TEST(Ed137Codec, ByteImagesBothWays) {
  const Image images[] = {
      {"RX header", rx(), "31 50 00 00"},
      {"TX header", tx(), "21 50 00 00"},
      {"RX with SQI", rx([](r2s_proto& p) { r2s_proto_add_rx_sqi(&p, 31, 2); }), "31 51 11 FA"},
      {"RX high header bits", [] {
         r2s_proto p;
         r2s_proto_init(&p, R2S_PROTO_RX);
         r2s_proto_set_rx_header(&p, 7, 0, 63, 1, 0, 1);
         return p;
       }(), "EF E8 00 00"},
      {"TX high header bits", [] {
         r2s_proto p;
         r2s_proto_init(&p, R2S_PROTO_TX);
         r2s_proto_set_tx_header(&p, 4, 0x2A, 1, 1);
         return p;
       }(), "8A B0 00 00"},
      // A short RRC writes 2 bytes and the next element follows them.
      {"RX short RRC then SQI", rx([](r2s_proto& p) {
         const auto r = short_rrc();
         r2s_proto_add_rx_rrc(&p, &r);
         r2s_proto_add_rx_sqi(&p, 3, 1);
       }), "31 51 31 91 11 19"},
      {"RX long RRC", rx([](r2s_proto& p) {
         const auto r = long_rrc();
         r2s_proto_add_rx_rrc(&p, &r);
       }), "31 51 34 FF 80 12 34"},
      {"RX MAM", rx([](r2s_proto& p) {
         const auto m = mam();
         r2s_proto_add_rx_mam(&p, &m);
       }), "31 51 4C 92 34 56 7F FF FF 01 02 FF FF 00 00"},
      {"TX time delay, RRC, RRM", tx([](r2s_proto& p) {
         const r2s_proto_tx_additional_climax_time_delay d{7};
         r2s_proto_tx_additional_rrc r{};
         r.seltxf1 = 1;
         const r2s_proto_tx_additional_rrm m{1, 0x000102};
         r2s_proto_add_tx_time_delay(&p, &d);
         r2s_proto_add_tx_rrc(&p, &r);
         r2s_proto_add_tx_rrm(&p, &m);
       }), "21 51 21 07 31 08 43 80 01 02"},
  };
  for (const Image& im : images) {
    SCOPED_TRACE(im.what);
    const Bytes want = hex(im.bytes);
    EXPECT_EQ(hex(pack(im.record)), hex(want));

    r2s_proto back;
    r2s_proto_init(&back, 0);
    const int len = static_cast<int>(want.size());
    ASSERT_EQ(im.record.type == R2S_PROTO_RX ? r2s_proto_unpack_rx(&back, want.data(), len)
                                              : r2s_proto_unpack_tx(&back, want.data(), len),
              0);
    EXPECT_TRUE(radio_test::same_payload(back, im.record));
  }
}

TEST(Ed137Codec, PackRoom) {
  std::uint8_t buf[64];
  const r2s_proto plain = rx();
  const r2s_proto sqi = rx([](r2s_proto& p) { r2s_proto_add_rx_sqi(&p, 31, 2); });
  const r2s_proto rrc = rx([](r2s_proto& p) {
    const auto r = short_rrc();
    r2s_proto_add_rx_rrc(&p, &r);
  });
  const r2s_proto rrc_sqi = rx([](r2s_proto& p) {
    const auto r = short_rrc();
    r2s_proto_add_rx_rrc(&p, &r);
    r2s_proto_add_rx_sqi(&p, 3, 1);
  });
  const r2s_proto tx_plain = tx();

  struct Case {
    const char* what;
    const r2s_proto* record;
    int size;
    int result;
  } cases[] = {
      {"RX 3 bytes", &plain, 3, R2S_PROTO_ERR_SHORT},
      {"TX 3 bytes", &tx_plain, 3, R2S_PROTO_ERR_SHORT},
      {"SQI 3 bytes", &sqi, 3, R2S_PROTO_ERR_SHORT},
      {"SQI 4 bytes", &sqi, 4, 4},
      {"RX 1 byte", &plain, 1, R2S_PROTO_ERR_SHORT},
      // An RX RRC claims 5 bytes even when it writes 2.
      {"short RRC 4 bytes", &rrc, 4, R2S_PROTO_ERR_SHORT},
      {"short RRC 6 bytes", &rrc, 6, R2S_PROTO_ERR_SHORT},
      {"short RRC 7 bytes", &rrc, 7, 4},
      {"short RRC, SQI 8 bytes", &rrc_sqi, 8, R2S_PROTO_ERR_SHORT},
      {"short RRC, SQI 9 bytes", &rrc_sqi, 9, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(r2s_proto_pack(c.record, buf, c.size), c.result);
    if (c.result > 0) {
      for (int i = c.result; i < c.size; ++i) EXPECT_EQ(buf[i], 0) << "byte " << i;
    }
    EXPECT_EQ(buf[c.size], 0xEE) << "wrote past the buffer";
  }

  EXPECT_EQ(r2s_proto_pack(nullptr, buf, 4), R2S_PROTO_ERR_NULL);
  EXPECT_EQ(r2s_proto_pack_rx(nullptr, buf, 4), 0);
  EXPECT_EQ(r2s_proto_pack_tx(&tx_plain, nullptr, 4), 0);
  r2s_proto odd = plain;
  for (std::uint32_t form : {0u, 3u, 0xFFFFFFFFu}) {
    odd.type = form;
    EXPECT_EQ(r2s_proto_pack(&odd, buf, 32), R2S_PROTO_ERR_FORM) << form;
  }

  // An RX RRC of an unknown form fails the pack.
  r2s_proto bad = rx([](r2s_proto& p) {
    r2s_proto_add_rx_sqi(&p, 1, 1);
    auto r = short_rrc();
    r.form = 2;
    r2s_proto_add_rx_rrc(&p, &r);
  });
  EXPECT_EQ(r2s_proto_pack(&bad, buf, 32), R2S_PROTO_ERR_FORM);

  // Elements the form does not know are skipped; the header still says X.
  const r2s_proto mixed = rx([](r2s_proto& p) {
    const r2s_proto_tx_additional_climax_time_delay d{9};
    r2s_proto_add_tx_time_delay(&p, &d);
    r2s_proto_add_rx_sqi(&p, 31, 2);
    p.additional[p.additional_count++].type = 7;
  });
  EXPECT_EQ(hex(pack(mixed)), "31 51 11 FA");
  r2s_proto tx_mixed = tx([](r2s_proto& p) { r2s_proto_add_rx_sqi(&p, 31, 2); });
  EXPECT_EQ(hex(pack(tx_mixed)), "21 51");

  // A count beyond the sixteen slots is taken as sixteen.
  r2s_proto many = rx();
  for (int i = 0; i < 16; ++i) r2s_proto_add_rx_sqi(&many, static_cast<std::uint32_t>(i), 0);
  many.additional_count = 1000;
  EXPECT_EQ(r2s_proto_pack(&many, buf, 64), 2 + 16 * 2);
}

TEST(Ed137Codec, UnpackElements) {
  struct Case {
    const char* what;
    bool rx;
    const char* bytes;
    int result;
    std::uint32_t count;
  } cases[] = {
      {"unknown 0x52 skipped before a time delay", false, "21 51 52 AA BB 21 07", 0, 1},
      {"RRM truncated after a time delay", false, "21 51 21 05 43 01 02", R2S_PROTO_ERR_SHORT, 1},
      {"truncated unknown element", false, "21 51 21 05 5F 00", R2S_PROTO_ERR_SHORT, 1},
      {"X = 0 ignores what follows", true, "31 50 11 FA 11 FA", 0, 0},
      {"X = 1 and nothing follows", true, "31 51", 0, 0},
      {"RX SQI of length 2 is not an SQI", true, "31 51 12 FA 00 11 08", 0, 1},
      {"TX reads no RX elements", false, "21 51 11 FA 34 01 02 03 04 4C 00 00 00 00 00 00 00 00 00 00 00 00", 0, 0},
      {"RX reads no TX elements", true, "31 51 21 07 43 00 00 00", 0, 0},
      {"zero padding is skipped", true, "31 51 11 FA 00 00", 0, 1},
      {"MAM one byte short", true, "31 51 11 FA 4C 00 00 00 00 00 00 00 00 00 00 00", R2S_PROTO_ERR_SHORT, 1},
      {"one byte", true, "31", R2S_PROTO_ERR_SHORT, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes b = hex(c.bytes);
    r2s_proto p;
    r2s_proto_init(&p, 0);
    const int len = static_cast<int>(b.size());
    EXPECT_EQ(c.rx ? r2s_proto_unpack_rx(&p, b.data(), len) : r2s_proto_unpack_tx(&p, b.data(), len), c.result);
    EXPECT_EQ(p.additional_count, c.count);
  }

  // The decoded elements of the cases above, looked at closely.
  Bytes b = hex("21 51 52 AA BB 21 07");
  r2s_proto p;
  r2s_proto_init(&p, 0);
  ASSERT_EQ(r2s_proto_unpack_tx(&p, b.data(), static_cast<int>(b.size())), 0);
  EXPECT_EQ(p.type, R2S_PROTO_TX);
  EXPECT_EQ(p.additional[0].type, R2S_PROTO_ELEMENT_TIME_DELAY);
  EXPECT_EQ(p.additional[0].tx_time_delay.delay, 7u);
  b = hex("21 51 21 05 43 01 02");
  r2s_proto_init(&p, 0);
  EXPECT_EQ(r2s_proto_unpack_tx(&p, b.data(), static_cast<int>(b.size())), R2S_PROTO_ERR_SHORT);
  EXPECT_EQ(p.additional[0].tx_time_delay.delay, 5u);
  EXPECT_EQ(p.tx.ptt_id, 5u);

  // Elements past the sixteenth are ignored.
  b = hex("31 51");
  for (int i = 0; i < 20; ++i) {
    b.push_back(0x11);
    b.push_back(static_cast<std::uint8_t>(i << 3));
  }
  r2s_proto_init(&p, 0);
  ASSERT_EQ(r2s_proto_unpack_rx(&p, b.data(), static_cast<int>(b.size())), 0);
  EXPECT_EQ(p.additional_count, 16u);
  EXPECT_EQ(p.additional[15].rx_sqi.quality, 15u);

  EXPECT_EQ(r2s_proto_unpack_rx(nullptr, b.data(), 4), R2S_PROTO_ERR_NULL);
  EXPECT_EQ(r2s_proto_unpack_tx(&p, nullptr, 4), R2S_PROTO_ERR_NULL);
  EXPECT_EQ(r2s_proto_unpack_tx(&p, b.data(), 0), R2S_PROTO_ERR_SHORT);
  EXPECT_EQ(r2s_proto_unpack_tx(&p, b.data(), -5), R2S_PROTO_ERR_SHORT);
}

TEST(Ed137Codec, SettersAndSourceComparison) {
  r2s_proto p;
  r2s_proto_init(&p, R2S_PROTO_RX);
  const r2s_proto_rx_additional_sqi s{4, 3};
  for (int i = 0; i < 17; ++i) r2s_proto_add_rx_sqi(&p, &s);
  EXPECT_EQ(p.additional_count, 16u);  // a full record takes no more
  r2s_proto_add_rx_sqi(&p, nullptr);
  r2s_proto_reset_additionals(&p);
  EXPECT_EQ(p.additional_count, 0u);
  r2s_proto_add_rx_sqi(&p, static_cast<const r2s_proto_rx_additional_sqi*>(nullptr));
  EXPECT_EQ(p.additional_count, 0u);
  const auto m = mam();
  r2s_proto_add_rx_mam(&p, &m);
  EXPECT_EQ(p.additional[0].type, R2S_PROTO_ELEMENT_MAM);
  EXPECT_EQ(p.additional[0].rx_mam.t2, 0x7FFFFFu);
  EXPECT_EQ(p.additional[0].value[7], 0u);  // the slot's other words cleared

  r2s_proto_set_tx_header(&p, 2, 3, 1, 0);
  EXPECT_EQ(p.type, R2S_PROTO_TX);
  r2s_proto_set_rx_header(&p, 2, 1, 3, 1, 0, 1);
  EXPECT_EQ(p.type, R2S_PROTO_RX);
  r2s_proto_set_type(&p, 0);
  EXPECT_EQ(p.type, 0u);
  EXPECT_EQ(r2s_proto_init(nullptr, 1), 0);
  EXPECT_EQ(r2s_proto_set_rx_header(nullptr, 0, 0, 0, 0, 0, 0), 0);
  EXPECT_EQ(r2s_proto_add_tx_rrm(nullptr, nullptr), 0);

  r2s_proto a, b;
  r2s_proto_init(&a, R2S_PROTO_TX);
  a.source_addr.s_addr = 100;
  a.source_ssrc = 50;
  b = a;
  b.tx.ptt_type = 3;  // the payload does not take part
  EXPECT_EQ(cmp_r2s_proto_source(&a, &b), 0);
  b.source_addr.s_addr = 99;
  EXPECT_EQ(cmp_r2s_proto_source(&a, &b), -1);
  b.source_ssrc = 52;
  EXPECT_EQ(cmp_r2s_proto_source(&a, &b), 2);
  b.type = R2S_PROTO_RX;
  EXPECT_EQ(cmp_r2s_proto_source(&a, &b), 1);
  EXPECT_EQ(cmp_r2s_proto_source(nullptr, &b), -1);
  EXPECT_EQ(cmp_r2s_proto_source(&a, nullptr), -1);
}
