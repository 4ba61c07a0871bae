#ifndef TESTS_SCHEMA_LGCP_SAMPLES_H
#define TESTS_SCHEMA_LGCP_SAMPLES_H

// LGCP messages of every kind the tests build: one command of each kind,
// one signal of each kind, the create kinds and the answers.

#include <vector>

#include "schema/lgcp/LGCP.h"

namespace lgcp_samples {


inline LGCP::Message command(LGCP::Command const& c)
{
    LGCP::Message m;
    m.set_pdu().select_command(c);
    return m;
}

inline LGCP::Message ping(int seq = -1, int slot = -1)
{
    LGCP::Message m = command(LGCP::Command(LGCP::Command::ping::index, ASN1::Null()));
    if (seq >= 0)
        m.set_seq(seq);
    if (slot >= 0)
        m.set_slot(static_cast<unsigned>(slot));
    return m;
}



inline std::vector<LGCP::Command> oneCommandOfEachKind()
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

inline TERM::RtpRadioRequest radioRequest()
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

inline std::vector<LGCP::Signal> oneSignalOfEachKind()
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

} // namespace lgcp_samples

#endif
