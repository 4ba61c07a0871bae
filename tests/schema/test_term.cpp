// TERM types on the control link: the aligned PER images of payloads, code
// points, endpoints, modem and radio records, RTP stream parameters, and the
// values the encoder must refuse.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "schema/base/BASE.h"
#include "schema/term/TERM.h"
#include "tests/support/per_image.h"

using testsupport::decode;
using testsupport::per;
using testsupport::round_trip;

namespace {

BASE::INTEGER64Bits counter(std::uint64_t n)
{
    BASE::INTEGER64Bits c;
    c.set_low(static_cast<int>(static_cast<std::uint32_t>(n)));
    c.set_high(static_cast<int>(static_cast<std::uint32_t>(n >> 32)));
    return c;
}

TERM::HostAddress host(std::string const& addr, unsigned port)
{
    TERM::HostAddress h;
    h.set_iaddr(addr);
    h.set_port(port);
    return h;
}

// prio 3, ptt and sql on, selcall 2, li 5; channel 1 at "118.000000";
// remote 2/3; squelch on, class a1b; channel standby in group 7.
TERM::ZarnRadioStatus zarnStatus()
{
    TERM::ZarnRadioStatus s;
    TERM::RadioFlags& f = s.set_flags();
    f.set_prio(3);
    f.set_ptt(true);
    f.set_sql(true);
    f.set_selcall(2u);
    f.set_li(5u);
    s.set_freq().set_channel(1);
    s.ref_freq().set_frequency("118.000000");
    s.set_remote().set_no(2u);
    s.ref_remote().set_ch(3u);
    s.set_squelshe(TERM::RadioSquelshe::on);
    s.set_rte(TERM::RadioRTE::a1b);
    s.set_standby_state_channel(TERM::RadioStandby::standby);
    s.set_standby_group(7u);
    s.set_standby_state_receiver(TERM::RadioStandby::active);
    return s;
}

std::string const zarnStatusImage =
    "00 01 03 88 40 00 05 01 01 0A 31 31 38 2E 30 30 30 30 30 30 02 03 94 07";

TERM::RtpParams rtp()
{
    TERM::RtpParams p;
    p.set_payload(TERM::Payload::ptG711_Ulaw);
    p.set_dhost(host("1.2.3.4", 4000));
    return p;
}

} // namespace

TEST(TermPayloadQuality, PayloadIsCodedByItsNumberInSevenBits)
{
    EXPECT_EQ("F6", per(TERM::Payload(TERM::Payload::ptR2S)));   // 123
    EXPECT_EQ("1A", per(TERM::Payload(TERM::Payload::ptG728)));  // 13, same width
    EXPECT_EQ("00", per(TERM::Payload(TERM::Payload::ptG711_Alaw)));

    TERM::Payload unnamed;  // inside the range though no name stands for it
    unnamed.setFromInt(100);
    EXPECT_EQ("C8", per(unnamed));
    unnamed.setFromInt(124);
    EXPECT_EQ("encode failed", per(unnamed));

    TERM::Payload back;
    ASSERT_TRUE(decode("F6", back));
    EXPECT_TRUE(back.is_ptR2S());
}

TEST(TermPayloadQuality, CodePointsUseTheRangeUpToCs7)
{
    EXPECT_EQ("5C", per(TERM::IpQoSDSCP(TERM::IpQoSDSCP::count)));  // 23 in 6 bits
    EXPECT_EQ("B8", per(TERM::IpQoSDSCP(TERM::IpQoSDSCP::ef)));     // 46
    EXPECT_EQ("E0", per(TERM::IpQoSDSCP(TERM::IpQoSDSCP::cs7)));    // 56
    TERM::IpQoSDSCP beyond;
    beyond.setFromInt(57);
    EXPECT_EQ("encode failed", per(beyond));

    TERM::IpQoSDSCP back;
    ASSERT_TRUE(decode("5C", back));
    EXPECT_TRUE(back.is_count());
    EXPECT_EQ(23, back.asInt());
}

TEST(TermPayloadQuality, HostAddressHasNoExtensionBitAndAPortOfSixteenBits)
{
    EXPECT_EQ("08 31 30 2E 30 2E 30 2E 31 13 8C", per(host("10.0.0.1", 5004)));
    EXPECT_EQ("encode failed", per(host("10.0.0.1", 65536)));

    TERM::HostAddress back;
    ASSERT_TRUE(decode("08 31 30 2E 30 2E 30 2E 31 13 8C", back));
    EXPECT_EQ(host("10.0.0.1", 5004), back);
}

TEST(TermPayloadQuality, VadThresholdsAreSignedIntegers)
{
    TERM::VADParamsV2 v;
    v.set_voice_th_msec(100);
    v.set_silence_th_msec(200);
    v.set_e_th_dB(-30);
    EXPECT_EQ("00 01 64 02 00 C8 01 E2", per(v));

    TERM::VADParamsV2 back;
    ASSERT_TRUE(decode("00 01 64 02 00 C8 01 E2", back));
    EXPECT_EQ(-30, back.get_e_th_dB().getValue());
}

TEST(TermModem, AbsentListsDifferFromPresentEmptyOnes)
{
    TERM::ModemParams m;
    m.set_cid("123");
    m.set_cdid("45");
    EXPECT_EQ("00 03 31 32 33 02 34 35", per(m));  // six clear optional bits

    TERM::ModemParams absent;
    ASSERT_TRUE(decode("00 03 31 32 33 02 34 35", absent));
    EXPECT_FALSE(absent.ddm_isPresent());
    EXPECT_FALSE(absent.dmp_isPresent());
    EXPECT_EQ("123", absent.get_cid());

    m.set_ddm();
    EXPECT_EQ("40 03 31 32 33 02 34 35 00", per(m));
    TERM::ModemParams empty;
    ASSERT_TRUE(decode("40 03 31 32 33 02 34 35 00", empty));
    ASSERT_TRUE(empty.ddm_isPresent());
    EXPECT_TRUE(empty.get_ddm().empty());
    EXPECT_FALSE(empty.dmp_isPresent());
}

TEST(TermModem, OriginateAndFaxAreTheirPresenceOnly)
{
    TERM::ModemParams m;
    m.set_cid("1");
    m.set_cdid("");
    m.set_originate(ASN1::Null());
    EXPECT_EQ("10 01 31 00", per(m));
    m.omit_originate();
    m.set_fax(ASN1::Null());
    EXPECT_EQ("08 01 31 00", per(m));

    TERM::ModemParams back;
    ASSERT_TRUE(decode("08 01 31 00", back));
    EXPECT_TRUE(back.fax_isPresent());
    EXPECT_FALSE(back.originate_isPresent());
}

TEST(TermModem, FullParamsRoundTrip)
{
    TERM::ModemParams m;
    m.set_cid("5551234");
    m.set_cdid("100");
    m.set_ddm().push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::ddmV120));
    m.ref_ddm().push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::ddm8BIT));
    TERM::DDModemParam p;
    p.set_offset(12);
    p.set_value(-7);
    m.set_dmp().push_back(p);
    m.set_originate(ASN1::Null());
    m.set_execfile("/usr/local/sbin/pppd");
    m.set_execargs().push_back(ASN1::IA5String("nodetach"));
    m.ref_execargs().push_back(ASN1::IA5String("debug"));

    std::string image;
    ASSERT_TRUE(round_trip(m, &image));
    EXPECT_EQ("76", image.substr(0, 2));  // every optional field but fax

    TERM::ModemParams back;
    ASSERT_TRUE(decode(image, back));
    ASSERT_EQ(2u, back.get_ddm().size());
    EXPECT_TRUE(back.get_ddm()[0].is_ddmV120());
    EXPECT_EQ(-7, back.get_dmp()[0].get_value().getValue());
    EXPECT_EQ("debug", back.get_execargs()[1]);
}

TEST(TermModem, AccountingCountersKeepAllSixtyFourBits)
{
    TERM::MdmAccounting a;
    a.set_octetsOut(counter(3000000000u));  // low word -1294967296
    a.set_octetsIn(counter(0));
    a.set_packetsOut(counter(0));
    a.set_packetsIn(counter(0));
    a.set_time(counter(0));
    std::string const zeros = " 01 00 01 00 01 00 01 00 01 00 01 00 01 00 01 00";
    EXPECT_EQ("00 04 B2 D0 5E 00 01 00" + zeros, per(a));

    TERM::MdmAccounting back;
    ASSERT_TRUE(decode("00 04 B2 D0 5E 00 01 00" + zeros, back));
    EXPECT_EQ(-1294967296, back.get_octetsOut().get_low().getValue());
    EXPECT_EQ(0, back.get_octetsOut().get_high().getValue());

    a.set_time(counter((std::uint64_t(1) << 32) + 5));
    ASSERT_TRUE(round_trip(a));

    // Reported as the modem's progress: choice bit and index in front.
    TERM::ModemProceeding acct(TERM::ModemProceeding::acct::index, back);
    EXPECT_EQ("40 04 B2 D0 5E 00 01 00" + zeros, per(acct));
    EXPECT_EQ("encode failed", per(TERM::ModemProceeding()));
}

TEST(TermModem, ActivateParamsCodeTheirIndex)
{
    TERM::TermActivateParams empty(TERM::TermActivateParams::empty::index, ASN1::Null());
    EXPECT_EQ("00", per(empty));

    TERM::TermActivateParams modem;
    TERM::ModemUserParameters& u = modem.select_modem();
    u.set_remoteAddr("a");
    u.set_netmask("b");
    u.set_gateway("c");
    u.set_dns("d");
    u.set_mtu(1500);
    EXPECT_EQ("20 01 61 01 62 01 63 01 64 02 05 DC", per(modem));

    TERM::TermActivateParams back;
    ASSERT_TRUE(decode("20 01 61 01 62 01 63 01 64 02 05 DC", back));
    ASSERT_TRUE(back.modem_isSelected());
    EXPECT_EQ(1500, back.get_modem().get_mtu().getValue());
    EXPECT_EQ("encode failed", per(TERM::TermActivateParams()));
}

TEST(TermRadio, ZarnStatusImage)
{
    TERM::RtpRadioRequest r;
    r.set_status().select_zarn(zarnStatus());
    // Only status: five clear optional bits and the choice bits make 00.
    EXPECT_EQ("00 " + zarnStatusImage + " 00", per(r));

    r.set_bss_enable(true);
    EXPECT_EQ("08 " + zarnStatusImage + " 40", per(r));

    TERM::RtpRadioRequest back;
    ASSERT_TRUE(decode("08 " + zarnStatusImage + " 40", back));
    EXPECT_EQ(r, back);
    ASSERT_TRUE(back.get_status().zarn_isSelected());
    EXPECT_TRUE(back.get_status().get_zarn().get_standby_state_channel().is_standby());
    EXPECT_EQ("118.000000", back.get_status().get_zarn().get_freq().get_frequency());
}

TEST(TermRadio, ZarnStatusOutsideItsConstraintsIsRefused)
{
    TERM::RadioStatus status;
    TERM::ZarnRadioStatus& z = status.select_zarn(zarnStatus());
    ASSERT_NE("encode failed", per(status));

    z.set_standby_group(256u);
    EXPECT_EQ("encode failed", per(status));
    z.set_standby_group(255u);
    z.set_standby_state_receiver(TERM::RadioStandby::not_use);
    EXPECT_EQ("encode failed", per(status));
    z.set_standby_state_receiver(TERM::RadioStandby::active);
    z.set_standby_state_channel(TERM::RadioStandby::not_use);
    EXPECT_EQ("encode failed", per(status));

    EXPECT_EQ("80", per(TERM::RadioStandby(TERM::RadioStandby::standby)));
    EXPECT_EQ("00", per(TERM::RadioStandby(TERM::RadioStandby::active)));
    EXPECT_EQ("encode failed", per(TERM::RadioStandby(TERM::RadioStandby::not_use)));
    EXPECT_EQ("encode failed", per(TERM::RadioStatus()));
}

TEST(TermRadio, FlagsFitTheirBitWidths)
{
    TERM::RadioFlags f;
    f.set_prio(0);
    f.set_selcall(3u);
    f.set_li(511u);
    EXPECT_EQ("00 01 00 00 60 01 FF", per(f));
    f.set_li(512u);
    EXPECT_EQ("encode failed", per(f));
    f.set_li(0u);
    f.set_selcall(4u);
    EXPECT_EQ("encode failed", per(f));
}

TEST(TermRadio, Ed137HeaderFillsTwoOctets)
{
    TERM::ED137RadioHeader h;
    h.set_ptt(TERM::ED137RadioPTT::normal_ptt_on);
    h.set_squ(TERM::ED137RadioSQU::squ_on);
    h.set_ptt_id(63u);
    h.set_ptt_summation(true);
    EXPECT_EQ("0B FA", per(h));
    h.set_ptt_id(64u);
    EXPECT_EQ("encode failed", per(h));

    TERM::ED137RadioHeader back;
    ASSERT_TRUE(decode("0B FA", back));
    EXPECT_EQ(63u, back.get_ptt_id().getValue());
    EXPECT_TRUE(back.get_ptt().is_normal_ptt_on());
}

TEST(TermRadio, Ed137CauseCodesUseTheRangeUpTo2099)
{
    EXPECT_EQ("00 08 33", per(TERM::ED137CauseCode(TERM::ED137CauseCode::radio_no_permissions)));
    EXPECT_EQ("00 07 D0", per(TERM::ED137CauseCode(TERM::ED137CauseCode::radio_session_pre_emption)));

    // Extensible: a later code goes as an extension value, not refused.
    TERM::ED137CauseCode later;
    later.setFromInt(2100);
    EXPECT_EQ("C0 02 08 35 08 34", per(later));
    TERM::ED137CauseCode back;
    ASSERT_TRUE(decode("C0 02 08 35 08 34", back));
    EXPECT_EQ(2100, back.asInt());
}

TEST(TermRadio, Ed137StatusRoundTrip)
{
    TERM::RadioStatus s;
    TERM::ED137RadioStatus& e = s.select_ed_137();
    e.set_header().set_ptt(TERM::ED137RadioPTT::emergency_ptt_on);
    e.set_sqi().set_bss_method(TERM::ED137RadioBSSMethod::psd);
    e.ref_sqi().set_bss_quality(31u);
    TERM::ED137RadioResponse& rr = e.set_radio_response();
    rr.set_type(TERM::ED137RadioType::coupling);
    rr.set_txrxmode(TERM::ED137RadioTxRxMode::txrx);
    rr.set_sigtime(50u);
    rr.set_r2s_keepalive_period(1000u);
    rr.set_r2s_keepalive_multiplier(2u);
    rr.set_fid(399975u);
    rr.set_ptt_id(1u);
    rr.set_code(TERM::ED137CauseCode::radio_no_permissions);
    rr.set_qos_dscp(TERM::IpQoSDSCP::ef);
    rr.set_transmission_depend_on_squ(true);
    ASSERT_TRUE(round_trip(s));

    rr.set_fid(111999u);
    EXPECT_EQ("encode failed", per(s));
    rr.set_fid(112000u);
    rr.set_r2s_keepalive_period(19u);
    EXPECT_EQ("encode failed", per(s));
}

TEST(TermRadio, RecorderQualityHasANegativeLowerBound)
{
    TERM::ED137RadioRecorderParams r;
    r.set_bss_quality().setValue(-128);
    EXPECT_EQ("04 00", per(r));
    r.set_bss_quality().setValue(127);
    EXPECT_EQ("04 FF", per(r));
    r.set_bss_quality().setValue(-1);
    EXPECT_EQ("04 7F", per(r));

    TERM::ED137RadioRecorderParams back;
    ASSERT_TRUE(decode("04 7F", back));
    EXPECT_EQ(-1, back.get_bss_quality().ASN1::INTEGER::getValue());
}

TEST(TermRadioCommand, FlagCommandsDifferOnlyInTheirIndex)
{
    TERM::RadioCommandGWSetFlags cmd;
    cmd.set_flags().set_prio(0);
    using P = TERM::ZarnRadioModifierParams;
    EXPECT_EQ("00 01 00 00 00 00 00", per(P(P::gw_set_flags::index, cmd)));
    EXPECT_EQ("08 01 00 00 00 00 00", per(P(P::gw_set_ptt::index, cmd)));

    P back;
    ASSERT_TRUE(decode("08 01 00 00 00 00 00", back));
    EXPECT_TRUE(back.gw_set_ptt_isSelected());
    EXPECT_FALSE(back.gw_set_flags_isSelected());
    EXPECT_EQ("encode failed", per(P()));
}

TEST(TermRadioCommand, StandbyReportIsTheLastRootAlternative)
{
    TERM::RadioCommandWMStandby s;
    s.set_state_channel(TERM::RadioStandby::standby);
    s.set_group(5u);
    s.set_state_receiver(TERM::RadioStandby::active);
    using P = TERM::ZarnRadioModifierParams;
    EXPECT_EQ("4D 05 00", per(P(P::wm_standby::index, s)));  // index 19

    P back;
    ASSERT_TRUE(decode("4D 05 00", back));
    ASSERT_TRUE(back.wm_standby_isSelected());
    EXPECT_EQ(5u, back.get_wm_standby().get_group().getValue());

    s.set_group(256u);
    EXPECT_EQ("encode failed", per(P(P::wm_standby::index, s)));
}

TEST(TermRadioCommand, SsrcTakesTheFullUnsignedRange)
{
    TERM::RadioCommandWMTrans t;
    t.set_flags().set_prio(0);
    t.set_ip("");
    t.set_ssrc(4294967295u);
    EXPECT_EQ("00 01 00 00 00 00 00 00 C0 FF FF FF FF", per(t));

    TERM::RadioCommandWMTrans back;
    ASSERT_TRUE(decode("00 01 00 00 00 00 00 00 C0 FF FF FF FF", back));
    EXPECT_EQ(4294967295u, back.get_ssrc().getValue());
}

TEST(TermRadioCommand, NetworkCommandTravelsInTheRequest)
{
    TERM::RtpRadioRequest r;
    r.set_status().select_zarn(zarnStatus());
    TERM::ZarnRadioModifier& z = r.set_request().select_zarn();
    z.set_addr().set_session_addr("192.168.1.20");
    z.ref_addr().set_session_ssrc(0xDEADBEEFu);
    TERM::RadioCommandWMSelCall& sc = z.set_params().select_wm_selcall();
    sc.set_flags(zarnStatus().get_flags());
    sc.set_ip("192.168.1.20");
    sc.set_ssrc(0xDEADBEEFu);
    sc.set_cid("AB12");
    r.set_rx_delay(-20);
    r.set_tx_delay(40);
    r.set_ng_enable(false);
    ASSERT_TRUE(round_trip(r));

    TERM::RadioModifier m;
    TERM::ED137RadioModifier& e = m.select_ed_137();
    e.set_addr().set_session_addr("10.1.1.1");
    e.set_params().select_tx().set_header().set_ptt_id(9u);
    ASSERT_TRUE(round_trip(m));
}

TEST(TermRadioCommand, SelcalAmplitudeIsTheOnlyOptionalBit)
{
    TERM::SelcalCommand s;
    s.set_signs("1234");
    EXPECT_EQ("00 04 31 32 33 34", per(s));
    s.set_amp(100);
    EXPECT_EQ("80 01 64 04 31 32 33 34", per(s));

    TERM::SelcalCommand back;
    ASSERT_TRUE(decode("00 04 31 32 33 34", back));
    EXPECT_FALSE(back.amp_isPresent());
    EXPECT_EQ("1234", back.get_signs());
}

TEST(TermRtpParams, OnlyPayloadAndDestinationLeaveTwelveClearBits)
{
    EXPECT_EQ("00 00 10 07 31 2E 32 2E 33 2E 34 0F A0", per(rtp()));

    TERM::RtpParams back;
    ASSERT_TRUE(decode("00 00 10 07 31 2E 32 2E 33 2E 34 0F A0", back));
    EXPECT_TRUE(back.get_payload().is_ptG711_Ulaw());
    EXPECT_FALSE(back.shost_isPresent());
    EXPECT_FALSE(back.qos_dscp_isPresent());
    EXPECT_EQ(rtp(), back);
}

TEST(TermRtpParams, DnameTakesOneTo64Characters)
{
    TERM::RtpParams p = rtp();
    p.set_dname("ab");
    EXPECT_EQ("20 00 10 07 31 2E 32 2E 33 2E 34 0F A0 04 61 62", per(p));

    p.set_dname(std::string(64, 'x'));
    std::string image;
    ASSERT_TRUE(round_trip(p, &image));
    EXPECT_EQ("20 00 10 07 31 2E 32 2E 33 2E 34 0F A0 FC 78", image.substr(0, 44));

    p.set_dname(std::string(65, 'x'));
    EXPECT_EQ("encode failed", per(p));
    p.set_dname("");
    EXPECT_EQ("encode failed", per(p));
}

TEST(TermRtpParams, TtlStartsAtOne)
{
    TERM::RtpParams p = rtp();
    p.set_ttl(0u);
    EXPECT_EQ("encode failed", per(p));
    p.set_ttl(255u);
    EXPECT_TRUE(round_trip(p));
}

TEST(TermRtpParams, EveryFieldRoundTrips)
{
    TERM::RtpParams p = rtp();
    p.set_shost(host("10.0.0.2", 5004));
    p.set_dname("radio-1");
    p.set_jitter().set_start(20);
    p.ref_jitter().set_max(200);
    p.set_pfactor(2);
    p.set_crate(1);
    p.set_vad(true);
    p.set_echo().set_canceller(true);
    p.set_radio().set_status().select_zarn(zarnStatus());
    TERM::RtpE2M& e2m = p.set_rtp_e2m();
    e2m.set_slot(3);
    e2m.set_channel(1);
    TERM::RtpExtDescription& d = e2m.set_mode().select_only_rtp();
    d.set_fd(7);
    d.set_pid(1234);
    p.set_ssrc(0x80000000u);
    p.set_ttl(64u);
    p.set_qos_dscp(TERM::IpQoSDSCP::cs7);

    std::string image;
    ASSERT_TRUE(round_trip(p, &image));
    EXPECT_EQ("7F F8 10", image.substr(0, 8));  // twelve optional bits set

    TERM::RtpParams back;
    ASSERT_TRUE(decode(image, back));
    EXPECT_TRUE(back.get_rtp_e2m().get_mode().only_rtp_isSelected());
    EXPECT_EQ(1234, back.get_rtp_e2m().get_mode().get_only_rtp().get_pid().getValue());
    EXPECT_EQ(0x80000000u, back.get_ssrc().getValue());
}

TEST(TermTermination, ParamsCarryKnownExtensionsAsOpenTypes)
{
    TERM::TermParams t;
    t.set_traceLevel(3);
    EXPECT_EQ("80 02 02 01 03", per(t));

    TERM::TermParams back;
    ASSERT_TRUE(decode("80 02 02 01 03", back));
    ASSERT_TRUE(back.traceLevel_isPresent());
    EXPECT_EQ(3, back.get_traceLevel().getValue());
    EXPECT_FALSE(back.radio_command_isPresent());

    // The last of the thirteen additions.
    TERM::TermParams last;
    last.set_radio_command().select_selcal_command().set_signs("12");
    ASSERT_TRUE(round_trip(last));
    TERM::TermParams last2;
    ASSERT_TRUE(decode(per(last), last2));
    EXPECT_TRUE(last2.radio_command_isPresent());
    EXPECT_FALSE(last2.traceLevel_isPresent());
}

TEST(TermTermination, IsdnNumberTypeHasOneExtensionAddition)
{
    TERM::ISDN_NumberType n;
    n.set_type(TERM::ISDN_NumberType_type::national);
    n.set_plan(1u);
    EXPECT_EQ("21", per(n));
    n.set_screeningInd(TERM::ISDN_NumberType_screeningInd::network);
    EXPECT_EQ("A1 01 01 C0", per(n));

    TERM::ISDN_NumberType back;
    ASSERT_TRUE(decode("A1 01 01 C0", back));
    ASSERT_TRUE(back.screeningInd_isPresent());
    EXPECT_TRUE(back.get_screeningInd().is_network());
}
