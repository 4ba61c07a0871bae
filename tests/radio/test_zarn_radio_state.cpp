// Zarn radio state: the translations between packets, the state and the
// controller's TERM types, both ways for every packet type and every request
// alternative, and the values the TERM types cannot carry.
#include "radio/zarn/zarn_radio_state.h"
#include "tests/radio/radio_bytes.h"
#include "tests/radio/zarn_values.h"
#include "tests/support/per_image.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

using namespace RTPSignalling;
using radio_test::hex;
using radio_test::zarn_flags;
using radio_test::zarn_modifier;
using radio_test::zarn_status_s;
using testsupport::per;

namespace {

in_addr addr(const char* dotted) {
  in_addr a;
  a.s_addr = inet_addr(dotted);
  return a;
}

// S's flags here: receive VAD, squelch, power and reserve on, selective
// call 2.
TERM::RadioFlags flags(int prio, bool ptt, int li = 0) {
  TERM::RadioFlags f = zarn_flags(prio, ptt);
  f.set_vad_rx(true);
  f.set_sql(true);
  f.set_pwr(true);
  f.set_resv(true);
  f.set_selcall(2u);
  f.set_li(static_cast<unsigned>(li));
  return f;
}

TERM::ZarnRadioModifier modifier(const char* from, unsigned ssrc,
                                 const std::function<void(TERM::ZarnRadioModifierParams&)>& fill) {
  return zarn_modifier(std::string(from), ssrc, fill);
}

TERM::ZarnRadioStatus status_s() { return zarn_status_s(flags(5, false)); }

// The PER image of a request that a state and a received state give.
std::string report(ZarnRadioState const& radio, ZarnRadioState const& r) {
  TERM::RtpRadioRequest req;
  EXPECT_EQ(EncodeASN(radio, r, req), 0);
  return per(req);
}

}  // namespace

// Every request alternative goes into the state and back out as the same
// request: a crossed field or alternative (gw-set-rv is type 5, gw-set-sh 6,
// though the choice lists sh first) shows as a different image.
TEST(ZarnRadioState, EveryRequestAlternativeComesBackUnchanged) {
  typedef TERM::ZarnRadioModifierParams P;
  struct Case {
    int type;
    std::function<void(P&)> fill;
  };
  const Case cases[] = {
      {1, [](P& p) { p.select_gw_set_flags().set_flags(flags(3, true, 1)); }},
      {2, [](P& p) {
         TERM::RadioFrequency& f = p.select_gw_set_freq().set_freq();
         f.set_channel(12);
         f.set_frequency(std::string("121.125000"));
       }},
      {3, [](P& p) { p.select_gw_set_ptt().set_flags(flags(4, true, 2)); }},
      {4, [](P& p) { p.select_gw_set_bss().set_flags(flags(5, false, 3)); }},
      {6, [](P& p) { p.select_gw_set_sh().set_flags(flags(6, false, 4)); }},
      {7, [](P& p) { p.select_gw_set_pwr().set_flags(flags(7, true, 5)); }},
      {5, [](P& p) { p.select_gw_set_rv().set_flags(flags(8, false, 6)); }},
      {8, [](P& p) { p.select_gw_set_resv().set_flags(flags(9, true, 7)); }},
      {9, [](P& p) {
         TERM::RadioCommandGWSetSelCall& c = p.select_gw_set_selcall();
         c.set_flags(flags(2, true, 8));
         c.set_ip(std::string("10.1.2.3"));
         c.set_ssrc(4000000000u);
         c.set_cid(std::string("CALLER-42"));
       }},
      {10, [](P& p) {
         TERM::RadioRemote& r = p.select_gw_set_remote().set_remote();
         r.set_no(4u);
         r.set_ch(200u);
       }},
      {11, [](P& p) { p.select_gw_set_squelshe().set_squelshe(TERM::RadioSquelshe::off); }},
      {12, [](P& p) { p.select_gw_set_rte().set_rte(TERM::RadioRTE::j3e); }},
      {13, [](P& p) { p.select_gw_set_standby().set_state(TERM::RadioStandby::standby); }},
      {129, [](P& p) { p.select_wm_flags().set_flags(flags(1, false, 511)); }},
      {130, [](P& p) {
         TERM::RadioCommandWMTrans& c = p.select_wm_trans();
         c.set_flags(flags(5, true));
         c.set_ip(std::string("10.0.0.9"));
         c.set_ssrc(153u);
       }},
      {131, [](P& p) { p.select_wm_quality().set_bss_val(std::string("0.750000")); }},
      {132, [](P& p) {
         TERM::RadioCommandWMChan& c = p.select_wm_chan();
         c.set_freq().set_channel(3);
         c.set_freq().set_frequency(std::string("118.500000"));
         c.set_squelshe(TERM::RadioSquelshe::on);
         c.set_rte(TERM::RadioRTE::a1b);
       }},
      {133, [](P& p) {
         TERM::RadioCommandWMSelCall& c = p.select_wm_selcall();
         c.set_flags(flags(0, true));
         c.set_ip(std::string("192.168.7.1"));
         c.set_ssrc(1u);
         c.set_cid(std::string("X"));
       }},
      {134, [](P& p) {
         TERM::RadioRemote& r = p.select_wm_remote().set_remote();
         r.set_no(255u);
         r.set_ch(7u);
       }},
      {135, [](P& p) {
         TERM::RadioCommandWMStandby& c = p.select_wm_standby();
         c.set_state_channel(TERM::RadioStandby::standby);
         c.set_group(200u);
         c.set_state_receiver(TERM::RadioStandby::active);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    const TERM::ZarnRadioModifier m = modifier("172.16.0.5", 99, c.fill);
    ZarnRadioState s;
    ASSERT_EQ(DecodeASN(m, s), 0);
    EXPECT_EQ(s.type, c.type);
    EXPECT_EQ(s.source_addr.s_addr, addr("172.16.0.5").s_addr);
    EXPECT_EQ(s.source_ssrc, 99u);
    if (c.type == 2) { EXPECT_EQ(s.channel, 12); }
    if (c.type == 10) { EXPECT_EQ(s.remote_ch, 200); }

    TERM::RtpRadioRequest req;
    EncodeASN(ZarnRadioState(), s, req);
    ASSERT_TRUE(req.request_isPresent());
    EXPECT_EQ(per(req.get_request()), per(TERM::RadioModifier(TERM::RadioModifier::zarn::index, m)));
  }
}

// Each packet type goes from a state out through the kind that sends it, over
// the wire and back into a state with the same values.
TEST(ZarnRadioState, EveryPacketTypeComesBackThroughTheWire) {
  ZarnRadioState s;
  s.priority = 6;
  s.ptt = 1;
  s.sql = 1;
  s.selcall = 3;
  s.li = 300;
  s.session_addr = addr("10.0.0.9");
  s.session_ssrc = 0xCAFEF00D;
  std::strcpy(s.text, "ZARN-7");
  s.remote_no = 9;
  s.remote_ch = 17;
  s.channel = 70000;
  s.frequency = 156.8f;
  s.squelshe = 2;
  s.rte = 6;
  s.standby_state_channel = 1;
  s.standby_group = 250;
  s.standby_state_receiver = 1;
  s.quality = 0.5f;

  const int gw_side[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
  const int wm_side[] = {129, 130, 131, 132, 133, 134, 135};
  const auto through = [&](int type, int (*encode)(ZarnRadioState const&, sig_proto&)) {
    SCOPED_TRACE(type);
    s.type = type;
    sig_proto out;
    ASSERT_EQ(encode(s, out), 0);
    std::uint8_t wire[1024];
    const int n = sig_proto_pack(&out, wire, sizeof wire);
    ASSERT_GT(n, 0);
    sig_proto in;
    sig_proto_init(&in);
    ASSERT_EQ(sig_proto_unpack(&in, wire, n), 0);
    ZarnRadioState back;
    EXPECT_EQ(DecodeProto(in, back), 0);
    EXPECT_EQ(back.type, type);
    EXPECT_EQ(back.priority, 6);
    EXPECT_EQ(back.ptt, 1);
    EXPECT_EQ(back.sql, 1);
    EXPECT_EQ(back.selcall, 3);
    EXPECT_EQ(back.li, 300);
    switch (type) {
      case 2:
        EXPECT_EQ(back.channel, 70000);
        EXPECT_EQ(back.frequency, 156.8f);
        break;
      case 9:
        EXPECT_STREQ(back.text, "ZARN-7");
        break;
      case 10:
      case 134:
        EXPECT_EQ(back.remote_no, 9);
        EXPECT_EQ(back.remote_ch, 17);
        break;
      case 11:
        EXPECT_EQ(back.squelshe, 2);
        break;
      case 12:
        EXPECT_EQ(back.rte, 6);
        break;
      case 13:
        EXPECT_EQ(back.standby_state_channel, 1);
        break;
      case 130:
      case 133:
        EXPECT_EQ(back.session_addr.s_addr, s.session_addr.s_addr);
        EXPECT_EQ(back.session_ssrc, 0xCAFEF00Du);
        if (type == 133) { EXPECT_STREQ(back.text, "ZARN-7"); }
        break;
      case 131:
        EXPECT_EQ(back.quality, 0.5f);
        break;
      case 132:
        EXPECT_EQ(back.channel, 70000);
        EXPECT_EQ(back.frequency, 156.8f);
        EXPECT_EQ(back.squelshe, 2);
        EXPECT_EQ(back.rte, 6);
        break;
      case 135:
        EXPECT_EQ(back.standby_state_channel, 1);
        EXPECT_EQ(back.standby_group, 250);
        EXPECT_EQ(back.standby_state_receiver, 1);
        break;
    }
  };
  for (int t : gw_side) through(t, EncodeProtoWS);
  for (int t : wm_side) through(t, EncodeProtoGW);

  // Each kind refuses what the other side sends.
  sig_proto p;
  s.type = 2;
  EXPECT_EQ(EncodeProtoGW(s, p), -1);
  s.type = 130;
  EXPECT_EQ(EncodeProtoWS(s, p), -1);
  s.type = 0;
  EXPECT_EQ(EncodeProtoGW(s, p), -1);
  EXPECT_EQ(EncodeProtoWS(s, p), -1);
}

TEST(ZarnRadioState, StatusTranslation) {
  // A default state reports priority 15, nothing set, frequency 0.000000;
  // its never-given squelch, RTE (-1) and standby settings go as the neutral
  // values instead of failing the encoder.
  {
    TERM::RtpRadioRequest req;
    EncodeStatusASN(ZarnRadioState(), req);
    ASSERT_TRUE(req.get_status().zarn_isSelected());
    const TERM::ZarnRadioStatus& st = req.get_status().get_zarn();
    EXPECT_EQ(st.get_flags().get_prio().getValue(), 15);
    EXPECT_FALSE(st.get_flags().get_ptt());
    EXPECT_EQ(st.get_freq().get_frequency(), "0.000000");
    EXPECT_TRUE(st.get_squelshe() == TERM::RadioSquelshe::no_config);
    EXPECT_TRUE(st.get_rte() == TERM::RadioRTE::no_config);
    EXPECT_TRUE(st.get_standby_state_channel() == TERM::RadioStandby::active);
    EXPECT_EQ(st.get_standby_group().getValue(), 0u);
    EXPECT_FALSE(req.request_isPresent());
    EXPECT_NE(per(req), "encode failed");
  }
  // A status read into a working copy: everything it carries, nothing else.
  {
    ZarnRadioState s;
    s.ptt = 1;
    s.session_addr = addr("10.0.0.9");
    s.session_ssrc = 153;
    std::strcpy(s.text, "HOLDER");
    ASSERT_EQ(DecodeASN(status_s(), s), 0);
    EXPECT_EQ(s.type, 0);
    EXPECT_EQ(s.priority, 5);
    EXPECT_EQ(s.ptt, 0);
    EXPECT_EQ(s.channel, 3);
    EXPECT_EQ(s.frequency, 118.5f);
    EXPECT_EQ(s.remote_no, 1);
    EXPECT_EQ(s.remote_ch, 2);
    EXPECT_EQ(s.squelshe, 2);
    EXPECT_EQ(s.rte, 2);
    EXPECT_EQ(s.standby_state_channel, 0);
    EXPECT_EQ(s.standby_group, 7);
    EXPECT_EQ(s.standby_state_receiver, 1);
    EXPECT_EQ(s.session_addr.s_addr, addr("10.0.0.9").s_addr);
    EXPECT_EQ(s.session_ssrc, 153u);
    EXPECT_STREQ(s.text, "HOLDER");
    // ... and the same status comes back out.
    TERM::RtpRadioRequest req;
    EncodeStatusASN(s, req);
    EXPECT_EQ(per(req.get_status().get_zarn()), per(status_s()));
  }
  // Values the enumerations or ranges cannot hold (a squelch the 2-bit
  // decoder kept as 3, a group from a wide integer) are sent as neutral ones.
  {
    ZarnRadioState s;
    s.squelshe = 3;
    s.rte = 9;
    s.standby_state_channel = 5;
    s.standby_group = 300;
    s.standby_state_receiver = -1;
    TERM::RtpRadioRequest req;
    EncodeStatusASN(s, req);
    const TERM::ZarnRadioStatus& st = req.get_status().get_zarn();
    EXPECT_TRUE(st.get_squelshe() == TERM::RadioSquelshe::no_config);
    EXPECT_TRUE(st.get_rte() == TERM::RadioRTE::no_config);
    EXPECT_TRUE(st.get_standby_state_channel() == TERM::RadioStandby::active);
    EXPECT_TRUE(st.get_standby_state_receiver() == TERM::RadioStandby::active);
    EXPECT_EQ(st.get_standby_group().getValue(), 0u);
    EXPECT_NE(per(req), "encode failed");
    EXPECT_EQ(s.standby_state_receiver, -1);
  }
}

TEST(ZarnRadioState, ReceivedPacketsReportTheirSender) {
  // WM_TRANS from 10.0.0.7, SSRC 0x1234, naming the holder 10.0.0.9.
  const radio_test::Bytes wire = radio_test::hex("82 34 00 00 09 00 00 0A 00 00 00 99");
  sig_proto p;
  sig_proto_init(&p);
  ASSERT_EQ(sig_proto_unpack(&p, wire.data(), static_cast<int>(wire.size())), 0);
  p.source_addr = addr("10.0.0.7");
  p.source_ssrc = 0x1234;
  ZarnRadioState r;
  ASSERT_EQ(DecodeProto(p, r), 0);
  TERM::RtpRadioRequest req;
  EncodeASN(ZarnRadioState(), r, req);
  const TERM::ZarnRadioModifier& m = req.get_request().get_zarn();
  EXPECT_EQ(m.get_addr().get_session_addr(), "10.0.0.7");
  EXPECT_EQ(m.get_addr().get_session_ssrc().getValue(), 4660u);
  ASSERT_TRUE(m.get_params().wm_trans_isSelected());
  EXPECT_EQ(m.get_params().get_wm_trans().get_ip(), "10.0.0.9");
  EXPECT_EQ(m.get_params().get_wm_trans().get_ssrc().getValue(), 153u);
  EXPECT_EQ(m.get_params().get_wm_trans().get_flags().get_prio().getValue(), 3);
  EXPECT_TRUE(m.get_params().get_wm_trans().get_flags().get_ptt());
  // The flags the packet leaves clear stay clear.
  const TERM::RadioFlags& f = m.get_params().get_wm_trans().get_flags();
  for (bool set : {f.get_bss(), f.get_vad_rx(), f.get_vad_tx(), f.get_sql(), f.get_sh(), f.get_pwr(), f.get_rv(),
                   f.get_resv()})
    EXPECT_FALSE(set);

  // A type without a layout still takes its header.
  sig_proto odd;
  sig_proto_init(&odd);
  odd.type = 14;
  odd.priority = 2;
  ZarnRadioState o;
  EXPECT_EQ(DecodeProto(odd, o), -1);
  EXPECT_EQ(o.type, 14);
  EXPECT_EQ(o.priority, 2);

  // A caller identity of full length is terminated in the state.
  sig_proto sc;
  sig_proto_init(&sc);
  sc.type = GW_SEL_CALL;
  sc.gw_sel_call.callerID_length = 255;
  std::memset(sc.gw_sel_call.callerID, 'A', sizeof sc.gw_sel_call.callerID);
  ZarnRadioState t;
  DecodeProto(sc, t);
  EXPECT_EQ(std::strlen(t.text), 255u);
  EXPECT_NE(report(ZarnRadioState(), t), "encode failed");
}

TEST(ZarnRadioState, RequestsNamingNoDottedQuadAreRefused) {
  typedef TERM::ZarnRadioModifierParams P;
  const auto trans = [](const char* ip) {
    return [ip](P& p) {
      TERM::RadioCommandWMTrans& c = p.select_wm_trans();
      c.set_flags(flags(5, true));
      c.set_ip(std::string(ip));
      c.set_ssrc(1u);
    };
  };
  ZarnRadioState s;
  EXPECT_EQ(DecodeASN(modifier("10.0.0.1", 1, trans("10.0.0.9")), s), 0);
  EXPECT_EQ(DecodeASN(modifier("radio-host", 1, trans("10.0.0.9")), s), -1);
  EXPECT_EQ(DecodeASN(modifier("10.0.0.1", 1, trans("10.0.9")), s), -1);
  EXPECT_EQ(DecodeASN(modifier("10.0.0.1", 1, trans("")), s), -1);
  EXPECT_EQ(DecodeASN(modifier("10.0.0.1", 1,
                               [](P& p) {
                                 TERM::RadioCommandWMSelCall& c = p.select_wm_selcall();
                                 c.set_flags(flags(5, true));
                                 c.set_ip(std::string("10.0.0.256"));
                                 c.set_ssrc(1u);
                                 c.set_cid(std::string("A"));
                               }),
                      s),
            -1);
}

TEST(ZarnRadioState, OutOfRangeReceivedValues) {
  const struct {
    const char* bytes;
    bool ok;
  } cases[] = {
      {"0B 00 00 00 02 00 00 00", true},   {"0B 00 00 00 03 00 00 00", false},
      {"0C 00 00 00 07 00 00 00", true},   {"0C 00 00 00 08 00 00 00", false},
      {"0D 00 00 00 01 00 00 00", true},   {"0D 00 00 00 02 00 00 00", false},
      {"84 00 00 00 00 00 00 01 42 ED 00 00 02 07 00 00", true},
      {"84 00 00 00 00 00 00 01 42 ED 00 00 05 07 00 00", false},
      {"84 00 00 00 00 00 00 01 42 ED 00 00 02 09 00 00", false},
      {"84 00 00 00 00 00 00 01 42 ED 00 00 03 07 00 00", false},  // each bound, just past
      {"84 00 00 00 00 00 00 01 42 ED 00 00 02 08 00 00", false},
      {"87 00 00 00 01 FF 00 00", true},   {"87 00 00 00 01 07 04 00", false},
      {"87 00 00 00 02 00 00 00", false},  {"87 00 00 00 00 00 01 00", true},
      {"87 00 00 00 00 00 02 00", false},
      {"01 00 00 00", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    const radio_test::Bytes b = radio_test::hex(c.bytes);
    sig_proto p;
    sig_proto_init(&p);
    ASSERT_EQ(sig_proto_unpack(&p, b.data(), static_cast<int>(b.size())), 0);
    EXPECT_EQ(ProtoValuesInRange(p), c.ok);
  }
}

// Random headers and payloads of every type the receive path lets through
// become reports the control link can encode.
TEST(ZarnRadioState, EveryAcceptedPacketMakesAnEncodableReport) {
  const int types[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 129, 130, 131, 132, 133, 134, 135};
  std::uint32_t seed = 12345;
  const auto next = [&seed]() {
    seed = seed * 1103515245u + 12345u;
    return static_cast<std::uint8_t>(seed >> 16);
  };
  int accepted = 0;
  for (int round = 0; round < 200; ++round) {
    for (int type : types) {
      std::uint8_t wire[300];
      for (std::uint8_t& b : wire) b = next();
      wire[0] = static_cast<std::uint8_t>(type);
      sig_proto p;
      sig_proto_init(&p);
      if (sig_proto_unpack(&p, wire, sizeof wire) != 0 || !ProtoValuesInRange(p)) continue;
      ++accepted;
      ZarnRadioState r;
      DecodeProto(p, r);
      ZarnRadioState radio;
      radio.squelshe = next();
      radio.standby_group = -next();
      ASSERT_NE(report(radio, r), "encode failed") << hex(wire, 16);
    }
  }
  EXPECT_GT(accepted, 2000);
}
