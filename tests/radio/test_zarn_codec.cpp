// Zarn radio packets: byte images both ways, the failure results, the name
// table, the text dumps and the comparisons.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "radio/zarn/sig_proto.h"
#include "tests/radio/radio_bytes.h"
#include "tests/radio/radio_records.h"

using radio_test::Bytes;
using radio_test::hex;

namespace {

in_addr addr(const char* dotted) {
  in_addr a;
  a.s_addr = inet_addr(dotted);
  return a;
}

sig_proto make(std::uint32_t type, const std::function<void(sig_proto&)>& fill = nullptr) {
  sig_proto p;
  sig_proto_init(&p);
  p.type = type;
  if (fill) fill(p);
  return p;
}

Bytes pack(const sig_proto& p, int size = 1024) {
  std::uint8_t buf[1024];
  int n = sig_proto_pack(&p, buf, size);
  if (n < 0) return {};
  return Bytes(buf, buf + n);
}

struct Image {
  const char* what;
  sig_proto record;
  const char* bytes;
};

// One image per packet type, and the header bit layout.
std::vector<Image> images() {
  return {
      {"WM_FLAG all bits set", make(WM_FLAG, [](sig_proto& p) {
         sig_proto_set_base(&p, 15, 1, 1, 1, 1, 1, 1, 1, 1, 1, 3, 511);
       }), "81 FF FF FF"},
      {"WM_FLAG priority 1, ptt, status 33", make(WM_FLAG, [](sig_proto& p) {
         p.priority = 1;
         p.flag_p = 1;
         p.status = 33;
       }), "81 14 01 08"},
      {"GW_FLAG t r", make(GW_FLAG, [](sig_proto& p) { p.flag_t = p.flag_r = 1; }), "01 0A 00 00"},
      {"GW_FLAG_PTT s", make(GW_FLAG_PTT, [](sig_proto& p) { p.flag_s = 1; }), "03 01 00 00"},
      {"GW_FLAG_BSS b", make(GW_FLAG_BSS, [](sig_proto& p) { p.flag_b = 1; }), "04 00 80 00"},
      {"GW_FLAG_RV rv", make(GW_FLAG_RV, [](sig_proto& p) { p.flag_rv = 1; }), "05 00 40 00"},
      {"GW_FLAG_SH sh", make(GW_FLAG_SH, [](sig_proto& p) { p.flag_sh = 1; }), "06 00 20 00"},
      {"GW_FLAG_PW pw", make(GW_FLAG_PW, [](sig_proto& p) { p.flag_pw = 1; }), "07 00 10 00"},
      {"GW_FLAG_RS rs, selcall 2", make(GW_FLAG_RS, [](sig_proto& p) {
         p.flag_rs = 1;
         p.flag_c = 2;
       }), "08 00 00 05"},
      {"GW_ADJUST_CHAN", make(GW_ADJUST_CHAN, [](sig_proto& p) {
         sig_proto_set_gw_adjust_chan(&p, 0x01020304, 118.5f);
       }), "02 00 00 00 01 02 03 04 42 ED 00 00"},
      {"GW_SEL_CALL 3 bytes", make(GW_SEL_CALL, [](sig_proto& p) { sig_proto_set_gw_selcall(&p, "abc", 3); }),
       "09 00 00 00 03 61 62 63"},
      {"GW_SEL_CALL 4 bytes", make(GW_SEL_CALL, [](sig_proto& p) { sig_proto_set_gw_selcall(&p, "abcd", 4); }),
       "09 00 00 00 04 61 62 63 64 00 00 00"},
      {"GW_SEL_CALL empty", make(GW_SEL_CALL), "09 00 00 00 00 00 00 00"},
      {"GW_SELECT_RC_CHAN", make(GW_SELECT_RC_CHAN, [](sig_proto& p) {
         sig_proto_set_gw_select_rc_chan(&p, 7, 9);
       }), "0A 00 00 00 07 09 00 00"},
      {"GW_ADJUST_SQUELSHE", make(GW_ADJUST_SQUELSHE, [](sig_proto& p) { sig_proto_set_gw_adjust_squelsh(&p, 5); }),
       "0B 00 00 00 05 00 00 00"},
      {"GW_ADJUST_RTE", make(GW_ADJUST_RTE, [](sig_proto& p) { sig_proto_set_gw_adjust_rte(&p, 6); }),
       "0C 00 00 00 06 00 00 00"},
      {"GW_ADJUST_STANDBY", make(GW_ADJUST_STANDBY, [](sig_proto& p) { sig_proto_set_gw_adjust_standby(&p, 255); }),
       "0D 00 00 00 FF 00 00 00"},
      {"WM_TRANS 10.1.2.3 SSRC 258", make(WM_TRANS, [](sig_proto& p) {
         sig_proto_set_wm_transmite(&p, addr("10.1.2.3"), 258);
       }), "82 00 00 00 03 02 01 0A 00 00 01 02"},
      {"WM_RADIO_QUALITY", make(WM_RADIO_QUALITY, [](sig_proto& p) { sig_proto_set_wm_radio_quality(&p, 0.75f); }),
       "83 00 00 00 3F 40 00 00"},
      {"WM_CHAN", make(WM_CHAN, [](sig_proto& p) {
         p.priority = 3;
         sig_proto_set_wm_chan(&p, 3, -1.5f, 2, 1);
       }), "84 30 00 00 00 00 00 03 BF C0 00 00 02 01 00 00"},
      {"WM_SEL_CALL_TRANS 8 bytes", make(WM_SEL_CALL_TRANS, [](sig_proto& p) {
         sig_proto_set_wm_selcall_transmite(&p, addr("192.168.1.20"), 0xDEADBEEF, "12345678", 8);
       }), "85 00 00 00 14 01 A8 C0 DE AD BE EF 08 31 32 33 34 35 36 37 38 00 00 00"},
      {"WM_SEL_CALL_TRANS 3 bytes", make(WM_SEL_CALL_TRANS, [](sig_proto& p) {
         sig_proto_set_wm_selcall_transmite(&p, addr("1.2.3.4"), 1, "xyz", 3);
       }), "85 00 00 00 04 03 02 01 00 00 00 01 03 78 79 7A"},
      {"WM_SELECT_RC_CHAN", make(WM_SELECT_RC_CHAN, [](sig_proto& p) {
         sig_proto_set_wm_select_rc_chan(&p, 1, 2);
       }), "86 00 00 00 01 02 00 00"},
      {"WM_STANDBY", make(WM_STANDBY, [](sig_proto& p) { sig_proto_set_wm_standby(&p, 1, 2, 3); }),
       "87 00 00 00 01 02 03 00"},
  };
}

}  // namespace

TEST(ZarnCodec, ByteImagesBothWays) {
  for (const Image& im : images()) {
    SCOPED_TRACE(im.what);
    const Bytes want = hex(im.bytes);
    EXPECT_EQ(hex(pack(im.record)), hex(want));

    sig_proto back;
    sig_proto_init(&back);
    ASSERT_EQ(sig_proto_unpack(&back, want.data(), static_cast<int>(want.size())), 0);
    EXPECT_TRUE(radio_test::same_packet(back, im.record));
  }
  // Only the low bits of each field go out: no value spills into its
  // neighbour's bits.
  const sig_proto wide = make(WM_FLAG, [](sig_proto& p) { sig_proto_set_base(&p, 16, 2, 2, 2, 2, 2, 2, 2, 2, 2, 4, 512); });
  EXPECT_EQ(hex(pack(wide)), "81 00 00 00");
}

TEST(ZarnCodec, PackNeedsItsRoomAndClearsTheBuffer) {
  // Room needed by type: the texts ask for more than they write.
  struct Case {
    sig_proto record;
    int needed;
    int length;
  } cases[] = {
      {make(GW_FLAG), 4, 4},
      {make(GW_ADJUST_CHAN), 12, 12},
      {make(GW_SEL_CALL, [](sig_proto& p) { sig_proto_set_gw_selcall(&p, "abc", 3); }), 15, 8},
      {make(GW_SEL_CALL, [](sig_proto& p) { sig_proto_set_gw_selcall(&p, "abcd", 4); }), 16, 12},
      {make(GW_SELECT_RC_CHAN), 8, 8},
      {make(GW_ADJUST_SQUELSHE), 8, 8},
      {make(GW_ADJUST_RTE), 8, 8},
      {make(GW_ADJUST_STANDBY), 8, 8},
      {make(WM_TRANS), 12, 12},
      {make(WM_RADIO_QUALITY), 8, 8},
      {make(WM_CHAN), 16, 16},
      {make(WM_SEL_CALL_TRANS, [](sig_proto& p) {
         sig_proto_set_wm_selcall_transmite(&p, addr("1.2.3.4"), 1, "12345678", 8);
       }), 28, 24},
      {make(WM_SELECT_RC_CHAN), 8, 8},
      {make(WM_STANDBY), 8, 8},
      {make(14), 4, 4},   // no layout: the header alone
      {make(200), 4, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.record.type));
    std::uint8_t buf[64];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(sig_proto_pack(&c.record, buf, c.needed - 1), SIG_PROTO_ERR_SHORT);
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(sig_proto_pack(&c.record, buf, c.needed), c.length);
    for (int i = c.length; i < c.needed; ++i) EXPECT_EQ(buf[i], 0) << "byte " << i;
    EXPECT_EQ(buf[c.needed], 0xEE) << "wrote past the buffer";
  }

  sig_proto p = make(WM_FLAG);
  std::uint8_t buf[8];
  EXPECT_EQ(sig_proto_pack(nullptr, buf, 8), 0);
  EXPECT_EQ(sig_proto_pack(&p, nullptr, 8), 0);
  EXPECT_EQ(sig_proto_pack(&p, buf, -1), SIG_PROTO_ERR_SHORT);
}

TEST(ZarnCodec, UnpackRejectsShortAndUnknownPackets) {
  sig_proto before = make(WM_CHAN, [](sig_proto& p) {
    sig_proto_set_base(&p, 9, 1, 0, 1, 0, 1, 0, 1, 0, 1, 2, 300);
    sig_proto_set_wm_chan(&p, 77, 146.025f, 4, 5);
    p.source_addr = addr("10.0.0.9");
    p.source_ssrc = 99;
  });
  const Bytes b4 = hex("02 00 00 00");

  sig_proto p;
  EXPECT_EQ(sig_proto_unpack(nullptr, b4.data(), 4), SIG_PROTO_ERR_NULL);
  EXPECT_EQ(sig_proto_unpack(&p, nullptr, 4), SIG_PROTO_ERR_NULL);
  EXPECT_EQ(sig_proto_unpack(&p, b4.data(), 3), SIG_PROTO_ERR_SHORT);
  const Bytes flag3 = hex("01 00 00");  // a header-only type one byte short
  EXPECT_EQ(sig_proto_unpack(&p, flag3.data(), 3), SIG_PROTO_ERR_SHORT);
  // Empty caller identities at exactly their length decode.
  for (const char* exact : {"09 00 00 00 00", "85 00 00 00 04 03 02 01 00 00 00 01 00"}) {
    const Bytes b = hex(exact);
    EXPECT_EQ(sig_proto_unpack(&p, b.data(), static_cast<int>(b.size())), 0) << exact;
  }

  // Each packet one byte short of what its type reads, and texts whose
  // length byte promises more than is there: -9, the record untouched.
  const char* shorts[] = {
      "02 00 00 00",
      "02 00 00 00 01 02 03 04 42 ED 00",
      "09 00 00 00",
      "09 00 00 00 05 61 62 63 64",
      "09 FF FF FF FF",
      "0A 00 00 00 01 02 00",
      "0B 00 00 00 01 00 00",
      "0C 00 00 00 01 00 00",
      "0D 00 00 00 01 00 00",
      "82 00 00 00 03 02 01 0A 00 00 01",
      "83 00 00 00 3F 40 00",
      "84 00 00 00 00 00 00 03 BF C0 00 00 02 01 00",
      "85 00 00 00 03 02 01 0A 00 00 01 02",
      "85 00 00 00 03 02 01 0A 00 00 01 02 02 61",
      "86 00 00 00 01 02 00",
      "87 00 00 00 01 02 03",
  };
  for (const char* s : shorts) {
    SCOPED_TRACE(s);
    const Bytes b = hex(s);
    std::memcpy(&p, &before, sizeof p);
    EXPECT_EQ(sig_proto_unpack(&p, b.data(), static_cast<int>(b.size())), SIG_PROTO_ERR_SHORT);
    EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0);
  }

  // A type without a layout takes only the type.
  for (int type : {0, 14, 128, 136, 200, 255}) {
    SCOPED_TRACE(type);
    Bytes b = hex("00 FF FF FF 01 02 03 04 05 06 07 08 09 0A 0B 0C");
    b[0] = static_cast<std::uint8_t>(type);
    std::memcpy(&p, &before, sizeof p);
    EXPECT_EQ(sig_proto_unpack(&p, b.data(), static_cast<int>(b.size())), SIG_PROTO_ERR_TYPE);
    EXPECT_EQ(p.type, static_cast<std::uint32_t>(type));
    p.type = before.type;
    EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0);
  }
}

TEST(ZarnCodec, UnpackKeepsSourceAndUncarriedPayloadAndIgnoresTrailingBytes) {
  sig_proto p = make(WM_CHAN, [](sig_proto& r) {
    sig_proto_set_wm_chan(&r, 5, 1.0f, 8, 9);
    r.source_addr = addr("172.16.0.1");
    r.source_ssrc = 0xCAFE;
  });
  // A GW_ADJUST_CHAN replaces id and frequency; the bytes after them, where
  // WM_CHAN keeps squelch and RTE, stay. Padding and extra bytes are ignored.
  const Bytes b = hex("02 14 01 08 00 00 00 2A 42 ED 00 00 77 77 77 77");
  ASSERT_EQ(sig_proto_unpack(&p, b.data(), static_cast<int>(b.size())), 0);
  EXPECT_EQ(p.type, GW_ADJUST_CHAN);
  EXPECT_EQ(p.priority, 1u);
  EXPECT_EQ(p.flag_p, 1u);
  EXPECT_EQ(p.status, 33u);
  EXPECT_EQ(p.gw_adjust_chan.id, 42u);
  EXPECT_EQ(radio_test::bits(p.gw_adjust_chan.freq), 0x42ED0000u);
  EXPECT_EQ(p.wm_chan.squelsh, 8);
  EXPECT_EQ(p.wm_chan.rte, 9);
  EXPECT_EQ(p.source_addr.s_addr, addr("172.16.0.1").s_addr);
  EXPECT_EQ(p.source_ssrc, 0xCAFEu);
}

TEST(ZarnCodec, NameTableAndPttCommands) {
  const char* names[] = {"GW_FLAG", "GW_ADJUST_CHAN", "GW_FLAG_PTT", "GW_FLAG_BSS", "GW_FLAG_RV",
                         "GW_FLAG_SH", "GW_FLAG_PW", "GW_FLAG_RS", "GW_SEL_CALL", "GW_SELECT_RC_CHAN",
                         "GW_ADJUST_SQUELSHE", "GW_ADJUST_RTE", "GW_ADJUST_STANDBY", "WM_FLAG", "WM_TRANS",
                         "WM_RADIO_QUALITY", "WM_CHAN", "WM_SEL_CALL_TRANS", "WM_SELECT_RC_CHAN", "WM_STANDBY"};
  const int ids[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 129, 130, 131, 132, 133, 134, 135};
  const auto* t = sig_proto_packet_const_name;
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(t[i].id, ids[i]);
    EXPECT_STREQ(sig_proto_find_name_by_id(t, ids[i]), names[i]);
    EXPECT_EQ(sig_proto_find_id_by_name(t, names[i]), ids[i]);
  }
  EXPECT_EQ(t[20].id, -1);
  EXPECT_STREQ(t[20].name, "");
  EXPECT_EQ(sig_proto_find_name_by_id(t, 14), nullptr);
  EXPECT_STREQ(sig_proto_find_name_by_id(t, 135), "WM_STANDBY");
  EXPECT_EQ(sig_proto_find_name_by_id(t, -1), nullptr);  // the end row is not a name
  EXPECT_EQ(sig_proto_find_name_by_id(nullptr, 1), nullptr);
  EXPECT_EQ(sig_proto_find_id_by_name(t, "wm_standby"), -1);
  EXPECT_EQ(sig_proto_find_id_by_name(t, "WM_STAND"), -1);
  EXPECT_EQ(sig_proto_find_id_by_name(t, ""), -1);
  EXPECT_EQ(sig_proto_find_id_by_name(t, nullptr), -1);
  EXPECT_EQ(sig_proto_find_id_by_name(nullptr, "GW_FLAG"), -1);

  // A table without an end row is scanned no further than 128 rows.
  s_sig_proto_table_name full[SIG_PROTO_NAME_ROWS];
  for (int i = 0; i < SIG_PROTO_NAME_ROWS; ++i) full[i] = {i + 1000, "X"};
  EXPECT_EQ(sig_proto_find_name_by_id(full, 999), nullptr);
  EXPECT_STREQ(sig_proto_find_name_by_id(full, 1127), "X");
  // Only a negative id ends a table; 0 is a name like any other.
  const s_sig_proto_table_name zero[] = {{0, "NONE"}, {7, "SEVEN"}, {-1, ""}};
  EXPECT_STREQ(sig_proto_find_name_by_id(zero, 7), "SEVEN");
  EXPECT_EQ(sig_proto_find_id_by_name(zero, "SEVEN"), 7);

  for (int type = 0; type < 256; ++type) {
    sig_proto p = make(static_cast<std::uint32_t>(type));
    bool ptt = type == 1 || type == 3 || type == 9 || type == 129 || type == 130 || type == 133;
    EXPECT_EQ(sig_proto_is_ptt_command(&p), ptt) << type;
  }
  EXPECT_FALSE(sig_proto_is_ptt_command(nullptr));
}

TEST(ZarnCodec, TextDumps) {
  char buf[1024];
  const sig_proto chan = make(WM_CHAN, [](sig_proto& p) {
    sig_proto_set_base(&p, 3, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 100);
    sig_proto_set_wm_chan(&p, 7, 118.5f, 2, 1);
  });
  const std::string flags_chan =
      "flag_t   : 0,\nflag_p   : 1,\nflag_r   : 0,\nflag_s   : 1,\nflag_b   : 0,\n"
      "flag_rv  : 0,\nflag_sh  : 0,\nflag_rs  : 0,\nflag_pw  : 0,\nflag_c   : 0,\n";
  std::string want = "type      : WM_CHAN,\n" + flags_chan +
                     "priority : 3,\nstatus   : 100,\n"
                     "wm_chan.id   : 7,\nwm_chan.freq : 118.5000,\nwm_chan.squelsh : 2,\nwm_chan.rte     : 1,\n";
  EXPECT_EQ(sprintf_sig_proto(buf, sizeof buf, &chan, 2), static_cast<int>(want.size()));
  EXPECT_EQ(buf, want);
  EXPECT_EQ(sprintf_sig_proto(buf, sizeof buf, &chan, 4), static_cast<int>(flags_chan.size()));
  EXPECT_EQ(buf, flags_chan);

  const sig_proto call = make(GW_SEL_CALL, [](sig_proto& p) {
    sig_proto_set_base(&p, 15, 1, 1, 1, 1, 1, 1, 1, 1, 1, 3, 511);
    sig_proto_set_gw_selcall(&p, "A\xff", 2);
  });
  want =
      "type      : 0x00000009,\n"
      "flag_t   : 1,\nflag_p   : 1,\nflag_r   : 1,\nflag_s   : 1,\nflag_b   : 1,\n"
      "flag_rv  : 1,\nflag_sh  : 1,\nflag_rs  : 1,\nflag_pw  : 1,\nflag_c   : 3,\n"
      "priority : 15,\nstatus   : 511,\n"
      "gw_sel_call.callerID_length: 2,\ngw_sel_call.callerID : \n[0] : 0x41,\n[1] : 0xFF,\n";
  EXPECT_EQ(sprintf_sig_proto(buf, sizeof buf, &call, 1), static_cast<int>(want.size()));
  EXPECT_EQ(buf, want);

  const std::string zero_flags =
      "flag_t   : 0,\nflag_p   : 0,\nflag_r   : 0,\nflag_s   : 0,\nflag_b   : 0,\n"
      "flag_rv  : 0,\nflag_sh  : 0,\nflag_rs  : 0,\nflag_pw  : 0,\nflag_c   : 0,\n"
      "priority : 0,\nstatus   : 0,\n";
  struct Golden {
    sig_proto record;
    int options;
    std::string text;
  } goldens[] = {
      {make(WM_SEL_CALL_TRANS, [](sig_proto& p) {
         sig_proto_set_wm_selcall_transmite(&p, addr("10.1.2.3"), 0xAB, "z", 1);
       }), 2, "type      : WM_SEL_CALL_TRANS,\n" + zero_flags +
                  "wm_sel_call_trans.session_addr : 10.1.2.3,\nwm_sel_call_trans.ssrc         : 0x000000AB,\n"
                  "wm_sel_call_trans.callerID_length: 1,\nwm_sel_call_trans.callerID : \n[0] : 0x7A,\n"},
      {make(WM_TRANS, [](sig_proto& p) { sig_proto_set_wm_transmite(&p, addr("10.1.2.3"), 258); }), 0,
       zero_flags + "wm_trans.session_addr : 10.1.2.3,\nwm_trans.ssrc         : 0x00000102,\n"},
      {make(WM_RADIO_QUALITY, [](sig_proto& p) { sig_proto_set_wm_radio_quality(&p, 0.75f); }), 2,
       "type      : WM_RADIO_QUALITY,\n" + zero_flags + "wm_radio_quality.radio_quality : 0.75000,\n"},
      {make(GW_ADJUST_CHAN, [](sig_proto& p) { sig_proto_set_gw_adjust_chan(&p, 12, 146.025f); }), 2,
       "type      : GW_ADJUST_CHAN,\n" + zero_flags + "gw_adjust_chan.id   : 12,\ngw_adjust_chan.freq : 146.0250,\n"},
      {make(GW_SELECT_RC_CHAN, [](sig_proto& p) { sig_proto_set_gw_select_rc_chan(&p, 3, 4); }), 0,
       zero_flags + "gw_select_rc_chan.interface : 3,\ngw_select_rc_chan.channel   : 4,\n"},
      {make(WM_SELECT_RC_CHAN, [](sig_proto& p) { sig_proto_set_wm_select_rc_chan(&p, 250, 251); }), 0,
       zero_flags + "wm_select_rc_chan.interface : 250,\nwm_select_rc_chan.channel   : 251,\n"},
      {make(GW_ADJUST_SQUELSHE, [](sig_proto& p) { sig_proto_set_gw_adjust_squelsh(&p, 200); }), 0,
       zero_flags + "gw_adjust_squelsh.squelsh   : 200,\n"},
      {make(GW_ADJUST_RTE, [](sig_proto& p) { sig_proto_set_gw_adjust_rte(&p, 1); }), 0,
       zero_flags + "gw_adjust_rte.rte   : 1,\n"},
      {make(GW_ADJUST_STANDBY, [](sig_proto& p) { sig_proto_set_gw_adjust_standby(&p, 2); }), 0,
       zero_flags + "gw_adjust_standby.state   : 2,\n"},
      {make(WM_STANDBY, [](sig_proto& p) { sig_proto_set_wm_standby(&p, 1, 2, 3); }), 0,
       zero_flags + "wm_standby.state           : 1,\nwm_standby.group           : 2,\n"
                    "wm_standby.receiver_state  : 3,\n"},
      {make(GW_FLAG_BSS), 2, "type      : GW_FLAG_BSS,\n" + zero_flags},
      {make(0), 2, "type      : 0x00000000,\n" + zero_flags},  // a printer but no name
      {make(14), 2, ""},                                         // neither
  };
  for (const Golden& g : goldens) {
    SCOPED_TRACE(g.record.type);
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(sprintf_sig_proto(buf, sizeof buf, &g.record, g.options), static_cast<int>(g.text.size()));
    EXPECT_EQ(buf, g.text);
  }

  // A small buffer takes size - 1 characters and stays terminated.
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(sprintf_sig_proto(buf, 30, &chan, 2), 29);
  EXPECT_EQ(std::string(buf), ("type      : WM_CHAN,\n" + flags_chan).substr(0, 29));
  EXPECT_EQ(buf[30], 'x');
  EXPECT_EQ(sprintf_sig_proto(buf, 1, &chan, 2), 0);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(sprintf_sig_proto(buf, 0, &chan, 2), 0);
  EXPECT_EQ(sprintf_sig_proto(nullptr, 10, &chan, 2), 0);
  EXPECT_EQ(sprintf_sig_proto(buf, 10, nullptr, 2), 0);
  // Every printer of the table, called on its own, refuses the same.
  for (const s_sig_proto_sprintf& row : sig_proto_sprintf_table) {
    EXPECT_EQ(row.print(nullptr, 10, &chan, 2), 0) << row.type;
    EXPECT_EQ(row.print(buf, 10, nullptr, 2), 0) << row.type;
  }

  // The longest dump fits the comparison buffers.
  const sig_proto longest = make(WM_SEL_CALL_TRANS, [](sig_proto& p) {
    std::string text(255, '\x7f');
    sig_proto_set_wm_selcall_transmite(&p, addr("255.255.255.255"), 0xFFFFFFFF, text.data(), 1000);
    EXPECT_EQ(p.wm_sel_call_trans.callerID_length, 255);
  });
  static char big[8192];
  EXPECT_LT(sprintf_sig_proto(big, sizeof big, &longest, 1), 8191);
}

TEST(ZarnCodec, Comparisons) {
  const sig_proto a = make(WM_FLAG, [](sig_proto& p) {
    p.source_addr.s_addr = 10;
    p.source_ssrc = 100;
  });
  sig_proto b = a;
  EXPECT_EQ(cmp_sig_proto_header(&a, &b), 0);
  EXPECT_EQ(cmp_sig_proto_header(nullptr, &b), -1);
  EXPECT_EQ(cmp_sig_proto_header(&a, nullptr), -1);
  b.source_addr.s_addr = 13;
  EXPECT_EQ(cmp_sig_proto_header(&a, &b), 3);
  b.source_ssrc = 90;
  EXPECT_EQ(cmp_sig_proto_header(&a, &b), -10);
  b.type = WM_TRANS;
  EXPECT_EQ(cmp_sig_proto_header(&a, &b), 1);
  b = a;
  b.flag_p = 1;  // flags and payload do not take part
  EXPECT_EQ(cmp_sig_proto_header(&a, &b), 0);

  // Full comparison sees every header field and the payload; the flag
  // comparison only the ten flags.
  const sig_proto c = make(WM_CHAN, [](sig_proto& p) { sig_proto_set_wm_chan(&p, 1, 2.0f, 3, 4); });
  sig_proto d = c;
  EXPECT_EQ(cmp_sig_proto(&c, &d), 0);
  EXPECT_EQ(cmp_sig_proto_flags(&c, &d), 0);
  d.source_ssrc = 5;  // the source is not in the text
  EXPECT_EQ(cmp_sig_proto(&c, &d), 0);
  d.wm_chan.rte = 5;  // equal lengths: a's text against b's
  EXPECT_LT(cmp_sig_proto(&c, &d), 0);
  EXPECT_EQ(cmp_sig_proto_flags(&c, &d), 0);
  d = c;
  d.priority = 12;  // one more character
  EXPECT_EQ(cmp_sig_proto(&c, &d), 1);
  EXPECT_EQ(cmp_sig_proto_flags(&c, &d), 0);
  d = c;
  d.flag_sh = 1;
  EXPECT_NE(cmp_sig_proto(&c, &d), 0);
  EXPECT_LT(cmp_sig_proto_flags(&c, &d), 0);
  EXPECT_GT(cmp_sig_proto_flags(&d, &c), 0);
  d = c;
  d.type = WM_FLAG;
  EXPECT_NE(cmp_sig_proto(&c, &d), 0);
  EXPECT_EQ(cmp_sig_proto_flags(&c, &d), 0);
  EXPECT_EQ(cmp_sig_proto(nullptr, &d), -1);
  EXPECT_EQ(cmp_sig_proto_flags(&c, nullptr), -1);
}

TEST(ZarnCodec, SettersAndQueue) {
  sig_proto p = make(GW_FLAG);
  sig_proto_set_base(&p, 4, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 77);
  sig_proto_set_base(&p, -1, 0, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);  // only flag_t changes
  EXPECT_EQ(p.priority, 4u);
  EXPECT_EQ(p.flag_t, 0u);
  EXPECT_EQ(p.flag_p, 1u);
  EXPECT_EQ(p.flag_c, 2u);
  EXPECT_EQ(p.status, 77u);
  sig_proto_set_ptt(&p, -1);
  EXPECT_EQ(p.flag_p, 1u);
  sig_proto_set_ptt(&p, 0);
  EXPECT_EQ(p.flag_p, 0u);
  EXPECT_EQ(p.type, GW_FLAG);  // setters leave the type alone

  // Texts: stale bytes cleared, at most 255 kept, a null text is empty.
  sig_proto_set_gw_selcall(&p, "abcdef", 6);
  sig_proto_set_gw_selcall(&p, "xy", 2);
  EXPECT_EQ(p.gw_sel_call.callerID_length, 2);
  EXPECT_EQ(std::memcmp(p.gw_sel_call.callerID, "xy\0\0\0\0", 6), 0);
  std::string long_text(300, 'q');
  sig_proto_set_gw_selcall(&p, long_text.data(), 300);
  EXPECT_EQ(p.gw_sel_call.callerID_length, 255);
  EXPECT_EQ(p.gw_sel_call.callerID[254], 'q');
  EXPECT_EQ(p.gw_sel_call.callerID[255], 0);
  sig_proto_set_gw_selcall(&p, nullptr, 5);
  EXPECT_EQ(p.gw_sel_call.callerID_length, 0);
  EXPECT_EQ(p.gw_sel_call.callerID[0], 0);

  // Shared places: the three adjust types and the selective call's length.
  sig_proto_set_gw_adjust_rte(&p, 9);
  EXPECT_EQ(p.gw_adjust_squelsh.squelsh, 9);
  EXPECT_EQ(p.gw_adjust_standby.state, 9);
  EXPECT_EQ(p.wm_standby.state, 9);

  EXPECT_EQ(sig_proto_set_base(nullptr, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1), 0);
  EXPECT_EQ(sig_proto_set_gw_selcall(nullptr, "a", 1), 0);
  EXPECT_EQ(sig_proto_init(nullptr), 0);

  static sig_proto_queue q;
  std::memset(&q, 0x5A, sizeof q);
  EXPECT_EQ(init_sig_proto_queue(&q), 0);
  const std::uint32_t types[] = {1, 3, 4, 5, 6, 7, 8, 2, 9, 10, 13, 129, 130, 132, 131, 133, 135};
  for (int i = 0; i < 32; ++i)
    EXPECT_EQ(q.records[i].type, i < 17 ? types[i] : 0xFFFFFFFFu) << i;
  EXPECT_EQ(q.records[5].status, 0u);
  EXPECT_EQ(q.spare[127], 0);
  EXPECT_EQ(init_sig_proto_queue(nullptr), 0);
  EXPECT_EQ(is_little_endian(), __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);
}
