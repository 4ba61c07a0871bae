// LGCP control messages: construction through the generated accessors, the
// value notation of the logs, and the aligned PER images of the control link.

#include <gtest/gtest.h>

#include <sstream>

#include <set>

#include "schema/lgcp/LGCP.h"
#include "tests/support/per_image.h"

using testsupport::per;
using testsupport::round_trip;

namespace {

LGCP::Message command(LGCP::Command const& c)
{
    LGCP::Message m;
    m.set_pdu().select_command(c);
    return m;
}

LGCP::Message ping(int seq = -1, int slot = -1)
{
    LGCP::Message m = command(LGCP::Command(LGCP::Command::ping::index, ASN1::Null()));
    if (seq >= 0)
        m.set_seq(seq);
    if (slot >= 0)
        m.set_slot(static_cast<unsigned>(slot));
    return m;
}

} // namespace

TEST(LgcpMessage, DefaultHasNoSeqNoSlotAndNothingSelected)
{
    LGCP::Message m;
    EXPECT_FALSE(m.seq_isPresent());
    EXPECT_FALSE(m.slot_isPresent());
    EXPECT_EQ(-1, m.get_pdu().currentSelection());
    std::ostringstream os;
    os << m;  // a CHOICE without selection cannot be printed
    EXPECT_TRUE(os.fail());
}

TEST(LgcpMessage, OmittedFieldKeepsItsValueForTheNextSet)
{
    LGCP::Message m = ping();
    m.set_seq(5);
    m.omit_seq();
    EXPECT_FALSE(m.seq_isPresent());
    EXPECT_EQ(5, m.ref_seq().getValue());
    m.set_seq();  // present again, with the old value
    EXPECT_EQ(5, m.get_seq().getValue());
}

TEST(LgcpMessage, ReselectingReplacesTheAlternativeWithAFreshValue)
{
    LGCP::Command c(LGCP::Command::connect::index, 7u);
    ASSERT_TRUE(c.connect_isSelected());
    EXPECT_EQ(7u, c.get_connect().getValue());
    c.select_userData(std::vector<char>{1, 2});
    c.select_connect();
    EXPECT_EQ(2, c.currentSelection());
    EXPECT_EQ(0u, c.get_connect().getValue());
}

TEST(LgcpMessage, CopiesAreDeepAndOfTheGeneratedClass)
{
    LGCP::Message a = ping(1, 5);
    LGCP::Message b(a);
    b.set_seq(2);
    b.set_pdu().select_response().select_success();
    EXPECT_EQ(1, a.get_seq().getValue());
    EXPECT_TRUE(a.get_pdu().get_command().ping_isSelected());
    EXPECT_NE(a, b);

    std::unique_ptr<LGCP::Message> c(a.clone());
    EXPECT_EQ(a, *c);
    EXPECT_TRUE(c->get_pdu().get_command().ping_isSelected());
}

TEST(LgcpMessage, NestedValuesPrintWithTheirNames)
{
    LGCP::CreateParams p;
    LGCP::TrunkParams& t = p.select_trunk_bri();
    t.set_trunk(1u);
    t.set_timeslot(2u);
    EXPECT_EQ("trunk_bri : {\n  trunk 1,\n  timeslot 2\n}", p.asValueNotation());

    LGCP::IoctlParams i;
    i.select_tone_filter().set_duration_th_msec(40);
    EXPECT_EQ("tone-filter : {\n  freq 0,\n  enable FALSE,\n  duration-th-msec 40,\n  det-level-dB 0\n}",
              i.asValueNotation());
}

// ------------------------------------------------------------------ wire images

TEST(LgcpImages, PingAndItsAnswers)
{
    EXPECT_EQ("06 00", per(ping()));
    EXPECT_EQ("40 00 05 18", per(ping(-1, 5)));
    EXPECT_EQ("C0 01 01 00 05 18", per(ping(1, 5)));

    LGCP::Message ok;
    ok.set_seq(1);
    ok.set_slot(5u);
    ok.set_pdu().select_response().select_success();
    EXPECT_EQ("C0 01 01 00 05 40", per(ok));

    LGCP::Message error(ok);
    error.set_pdu().select_response().select_error(LGCP::ErrorCause::unexpectedMsgType);
    EXPECT_EQ("C0 01 01 00 05 64", per(error));
}

TEST(LgcpImages, AnswerToACommandWithoutSeqAndSlotCarriesNeither)
{
    LGCP::Message m;
    m.set_pdu().select_response().select_error(LGCP::ErrorCause::destroyInProgress);
    EXPECT_EQ("1B 00", per(m));  // 00 presence, 01 response, 1 error, 0 1100
}

TEST(LgcpImages, DtmfDoneIsAnExtensionAlternativeCarriedAsAnOpenType)
{
    LGCP::TonecEvent e;
    e.set_event().select_dtmfDone();
    LGCP::Message m;
    m.set_pdu().select_signal(LGCP::Signal(LGCP::Signal::tonec::index, e));
    // signal 10, root alternative 1 of 23, timestamp 01 00, extension bit,
    // small number 0, open type of one zero octet.
    EXPECT_EQ("20 40 01 00 80 01 00", per(m));
    std::string image;
    EXPECT_TRUE(round_trip(m, &image));
}

TEST(LgcpImages, PresenceBitsOfEmptyOptionalsAndLists)
{
    EXPECT_EQ("00", per(LGCP::MapParams()));
    EXPECT_EQ("00 00", per(LGCP::TranslateDtmfParams()));  // four clear bits, zero digits

    LGCP::IoctlParams tonec;
    tonec.select_activateTonec();
    EXPECT_EQ("04 00", per(tonec));  // extension bit, index 2 of 38, zero count

    LGCP::TermCounter counter;
    EXPECT_EQ("00 01 00", per(counter));  // extension bit, clear ownerId bit, owner 0, cnt 0

    LGCP::Signal query(LGCP::Signal::query::index, LGCP::Resources());
    std::string image = per(query);
    EXPECT_EQ("00 01 00 01 00", image.substr(0, 14));  // drvVersion absent
}

TEST(LgcpImages, ValuesOutsideTheirRangesCannotBeEncoded)
{
    LGCP::TrunkParams trunk;
    trunk.set_timeslot(31u);
    trunk.set_trunk(255u);
    EXPECT_EQ("FF F8", per(trunk));
    trunk.set_timeslot(32u);
    EXPECT_EQ("encode failed", per(trunk));
    trunk.set_timeslot(0u);
    trunk.set_trunk(256u);
    EXPECT_EQ("encode failed", per(trunk));

    LGCP::AtsQsigBParams b;  // subslot 1..3 holds 0 until set
    EXPECT_EQ("encode failed", per(b));
    b.set_subslot(3u);
    EXPECT_NE("encode failed", per(b));
    b.set_subslot(4u);
    EXPECT_EQ("encode failed", per(b));

    LGCP::IvaCode iva(LGCP::IvaCode::code::index, 21u);
    EXPECT_NE("encode failed", per(iva));
    iva.select_code(22u);
    EXPECT_EQ("encode failed", per(iva));
    iva.select_code(0u);
    EXPECT_EQ("encode failed", per(iva));

    EXPECT_NE("encode failed", per(LGCP::TonecCode(LGCP::TonecCode::dtmf::index, 127u)));
    EXPECT_EQ("encode failed", per(LGCP::TonecCode(LGCP::TonecCode::dtmf::index, 128u)));

    LGCP::FramerInfo framer;
    framer.set_info().select_line(true);
    framer.set_e1(3u);
    EXPECT_NE("encode failed", per(framer));
    framer.set_e1(4u);
    EXPECT_EQ("encode failed", per(framer));

    EXPECT_EQ("encode failed", per(LGCP::Message()));
}

TEST(LgcpImages, UnknownCommandAfterTheExtensionMarkerDecodesUnselected)
{
    // presence 00, command 00, extension bit, small number 0, open type 01 00.
    LGCP::Message m;
    ASSERT_TRUE(testsupport::decode("08 00 01 00", m));
    ASSERT_TRUE(m.get_pdu().command_isSelected());
    EXPECT_EQ(-2, m.get_pdu().get_command().currentSelection());
}

TEST(LgcpImages, DecodedMessageKeepsSeqSlotAndPrintsAsLogged)
{
    LGCP::Message connect = command(LGCP::Command(LGCP::Command::connect::index, 5u));
    connect.set_seq(7);
    connect.set_slot(3u);
    LGCP::Message decoded;
    ASSERT_TRUE(testsupport::decode(per(connect), decoded));
    EXPECT_EQ(7, decoded.get_seq().getValue());
    EXPECT_EQ(3u, decoded.get_slot().getValue());
    EXPECT_EQ("{\n  seq 7,\n  slot 3,\n  pdu command : connect : 5\n}", decoded.asValueNotation());
}

// ------------------------------------------------------------------ round trips

namespace {

std::vector<LGCP::Command> oneCommandOfEachKind()
{
    typedef LGCP::Command C;
    std::vector<C> v;
    ASN1::Null null;
    v.push_back(C(C::query::index, null));

    LGCP::BpcTestParams bpc;
    bpc.set_bus(15u);
    bpc.set_seed(-12345);
    bpc.set_mode().select_write();
    bpc.set_timeslot_start(1u);
    bpc.set_timeslot_length(127u);
    v.push_back(C(C::testBpc::index, bpc));

    v.push_back(C(C::connect::index, 1023u));
    v.push_back(C(C::disconnect::index, null));

    LGCP::CreateParams create;
    LGCP::CreateRtpParams& rtp = create.select_rtp();
    rtp.set_codecRTP().set_payload(TERM::Payload::ptR2S);
    rtp.set_codecRTP().set_dhost().set_iaddr("10.1.2.3");
    rtp.set_codecRTP().set_dhost().set_port(65535u);
    rtp.set_codecRTP().set_ssrc(4294967295u);
    rtp.set_txPayload(TERM::Payload::ptG729);
    rtp.set_rxPayload(TERM::Payload::ptG711_Alaw);
    v.push_back(C(C::create::index, create));

    v.push_back(C(C::destroy::index, null));

    TERM::TermActivateParams act;
    TERM::ModemUserParameters& user = act.select_modem();
    user.set_remoteAddr("10.0.0.2");
    user.set_netmask("255.255.255.0");
    user.set_gateway("10.0.0.1");
    user.set_dns("10.0.0.53");
    user.set_mtu(1500);
    v.push_back(C(C::activate::index, act));

    v.push_back(C(C::deactivate::index, null));
    v.push_back(C(C::userData::index, std::vector<char>{0, 0x7F, char(0x80), char(0xFF)}));

    LGCP::IoctlParams ioctl;
    LGCP::TranslateDtmfParams& dtmf = ioctl.select_translateDTMF();
    LGCP::DualTone tone;
    tone.set_freq1(697);
    tone.set_freq2(1209);
    dtmf.set_digits().push_back(tone);
    dtmf.set_amp1(-10);
    dtmf.set_pauseDuration(50);
    v.push_back(C(C::ioctl::index, ioctl));

    LGCP::TrunkCfg trunk;
    trunk.set_trunk(1);
    trunk.set_mode(LGCP::TrunkMode::master);
    v.push_back(C(C::trunkCfg::index, trunk));

    LGCP::ClockCfg clock;
    clock.set_clkSel0(LGCP::ClkSel0::internal);
    clock.set_bextEn(LGCP::BExtEn::disabled);
    clock.set_source(3);
    v.push_back(C(C::clockCfg::index, clock));

    v.push_back(C(C::ping::index, null));

    LGCP::DisplayParams display;
    MON::SnmpSetCommand set;
    set.set_uniq(1);
    MON::IniName& name = set.set_id().select_name();
    name.set_section("snmp");
    name.set_name("community");
    name.set_index(2);
    set.set_value("public");
    display.select_snmp_set().set_commands().push_back(set);
    v.push_back(C(C::display::index, display));

    v.push_back(C(C::protoZarn::index, ZARNGW::ProtoZarnPackets()));
    return v;
}

TERM::RtpRadioRequest radioRequest()
{
    TERM::RtpRadioRequest req;
    TERM::ZarnRadioStatus& st = req.set_status().select_zarn();
    st.set_flags().set_prio(15);
    st.set_flags().set_ptt(true);
    st.set_flags().set_li(511u);
    st.set_freq().set_frequency("118.500000");
    st.set_squelshe(TERM::RadioSquelshe::on);
    st.set_standby_state_channel(TERM::RadioStandby::active);
    st.set_standby_group(255u);
    st.set_standby_state_receiver(TERM::RadioStandby::standby);
    req.set_rx_delay(20);
    return req;
}

std::vector<LGCP::Signal> oneSignalOfEachKind()
{
    typedef LGCP::Signal S;
    std::vector<S> v;
    ASN1::Null null;

    LGCP::Resources res;
    res.set_rtp_g711(120);
    res.set_mux(true);
    LGCP::MixerResources_subtype unit;
    unit.set_unit(0);
    unit.set_tdm_inputs(32);
    res.set_mixer().push_back(unit);
    res.set_echoBus().push_back(ASN1::INTEGER(7));
    v.push_back(S(S::query::index, res));

    LGCP::TonecEvent tonec;
    tonec.set_timestamp(1000);
    tonec.set_event().select_iva().select_ringoff();
    v.push_back(S(S::tonec::index, tonec));

    v.push_back(S(S::number::index, "0612345678"));

    TERM::ModemProceeding proceeding;
    proceeding.select_auth().set_username("user");
    v.push_back(S(S::modemProceeding::index, proceeding));

    TERM::ModemInformation info;
    info.set_rxSpeed(33600);
    info.set_txSpeed(31200);
    info.set_carrier(TERM::MdmCarrier::v34);
    v.push_back(S(S::modemInformation::index, info));

    v.push_back(S(S::activated::index, null));
    v.push_back(S(S::deactivated::index, LGCP::DeactivateCause::otherError));
    v.push_back(S(S::abort::index, -1));
    v.push_back(S(S::userData::index, std::vector<char>(300, 'x')));
    v.push_back(S(S::receiver::index, LGCP::Stream(LGCP::Stream::active::index, 8224)));
    v.push_back(S(S::transmitter::index, LGCP::Stream(LGCP::Stream::inactive::index, null)));

    S trunk;
    ACP::TrunkStatus& ts = trunk.select_trunkStatus();
    ts.set_trunk(1);
    ts.set_state(ACP::TrunkState::lossCarrier);
    ts.set_slips(-2);
    ts.set_name("E1-1");
    ts.set_clockMaster(true);
    ts.set_type(ACP::TrunkType::bri);
    v.push_back(trunk);

    LGCP::IoctlResponse ioctl;
    ioctl.select_hdlcLinkInfo().set_rxSU(2147483647);
    v.push_back(S(S::ioctl::index, ioctl));

    LGCP::LoadAverage load;
    load.set_cpuIdlage(97);
    v.push_back(S(S::loadAvg::index, load));

    S cas;
    LGCP::CasSignalling& sig = cas.select_cas();
    sig.set_channel().set_path(1);
    sig.set_channel().set_timeslot(16);
    sig.set_rx(5);
    sig.set_tx(10);
    v.push_back(cas);

    v.push_back(S(S::rtpExt::index, radioRequest()));

    LGCP::VADEvent vad;
    vad.set_vad_rx(true);
    v.push_back(S(S::vad::index, vad));

    S power;
    power.select_power(LGCP::POWERStatus::both);
    v.push_back(power);

    v.push_back(S(S::protoZarn::index, ZARNGW::ProtoZarnPackets()));

    LGCP::SDEvent sd;
    sd.set_sd_rx(false);
    v.push_back(S(S::sd::index, sd));

    LGCP::BSSEvent bss;
    bss.set_score("0.750000");
    v.push_back(S(S::bss::index, bss));

    LGCP::RtpEvent rtpEvent;
    rtpEvent.select_pd().set_timeout(200);
    v.push_back(S(S::rtp::index, rtpEvent));

    LGCP::SelcalEvent selcal;
    selcal.set_in_progress(true);
    v.push_back(S(S::selcal::index, selcal));
    return v;
}

} // namespace

TEST(LgcpRoundTrip, EveryCommandSurvivesEncodeAndDecode)
{
    std::set<int> kinds;
    int seq = 0;
    for (LGCP::Command const& c : oneCommandOfEachKind()) {
        LGCP::Message m = command(c);
        m.set_seq(++seq * 1000);
        m.set_slot(1023u);
        std::string image;
        EXPECT_TRUE(round_trip(m, &image)) << m.asValueNotation() << "\n" << image;
        kinds.insert(c.currentSelection());
    }
    EXPECT_EQ(15u, kinds.size());
}

TEST(LgcpRoundTrip, EverySignalSurvivesEncodeAndDecode)
{
    std::set<int> kinds;
    for (LGCP::Signal const& s : oneSignalOfEachKind()) {
        LGCP::Message m;
        m.set_slot(5u);
        m.set_pdu().select_signal(s);
        std::string image;
        EXPECT_TRUE(round_trip(m, &image)) << m.asValueNotation() << "\n" << image;
        kinds.insert(s.currentSelection());
    }
    EXPECT_EQ(23u, kinds.size());
}

TEST(LgcpRoundTrip, UnusedCreateKindsStillDecode)
{
    LGCP::CreateParams spi;
    spi.select_spi_tdm().set_channel(3);
    LGCP::CreateParams mixer;
    LGCP::RtpOnMixerParams& p = mixer.select_rtpOnMixer();
    p.set_params().set_dhost().set_iaddr("1.2.3.4");
    for (LGCP::CreateParams const& c : {spi, mixer}) {
        LGCP::Message m = command(LGCP::Command(LGCP::Command::create::index, c));
        m.set_slot(7u);
        EXPECT_TRUE(round_trip(m)) << m.asValueNotation();
    }
}

// A radio status whose standby state is "not-use" (-1) lies outside the
// coded range 0..1 and cannot go on the link: the whole message is refused.
TEST(LgcpRoundTrip, RadioStatusWithNotUseStandbyCannotBeSent)
{
    TERM::RtpRadioRequest req = radioRequest();
    LGCP::Message m;
    m.set_slot(5u);
    m.set_pdu().select_signal(LGCP::Signal(LGCP::Signal::rtpExt::index, req));
    EXPECT_NE("encode failed", per(m));

    req.set_status().ref_zarn().set_standby_state_receiver(TERM::RadioStandby::not_use);
    m.set_pdu().select_signal(LGCP::Signal(LGCP::Signal::rtpExt::index, req));
    EXPECT_EQ("encode failed", per(m));
}
