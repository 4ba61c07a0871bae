// LGCP control messages: construction through the generated accessors, the
// value notation of the logs, and the aligned PER images of the control link.

#include <gtest/gtest.h>

#include <sstream>

#include <set>
#include <string>
#include <vector>

#include "lgcp_samples.h"
#include "schema/lgcp/LGCP.h"
#include "tests/support/per_image.h"

using testsupport::per;
using testsupport::round_trip;

using namespace lgcp_samples;

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

// The controller chooses the alternatives: an accessor of one that is not
// selected (nothing, another one, an unknown extension) would read a null
// or foreign value, and ends the process instead, in every build.
TEST(LgcpMessageDeathTest, AccessorOfAnAlternativeNotSelectedEndsTheProcess)
{
    LGCP::Command none;
    EXPECT_DEATH(none.get_ping(), "CHOICE ASSERTION FAILED!\nalternative ping read while nothing is selected");
    LGCP::Command other(LGCP::Command::connect::index, 7u);
    EXPECT_DEATH(other.get_create(), "alternative create read while connect is selected");
    EXPECT_DEATH(other.ref_ping(), "alternative ping read while connect is selected");
    LGCP::Command unknown;
    unknown.setSelection(ASN1::CHOICE::UnknownSelection, 0);
    EXPECT_DEATH(unknown.get_ioctl(), "alternative ioctl read while an unknown alternative is selected");
    EXPECT_EQ(7u, other.get_connect().getValue());
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

// ------------------------------------------------------------------ wire indices

namespace {

std::vector<std::string> alternatives(ASN1::ChoiceInfo const& info)
{
    return std::vector<std::string>(info.selectionNames, info.selectionNames + info.totalChoices);
}

} // namespace

// The controller and the gateway agree on the alternatives by their index
// alone: a field moved in the module text would silently change the meaning
// of every later alternative. The names below, in wire order, are the
// protocol's; every list is extensible with no known additions.
TEST(LgcpWireIndices, AlternativesAndCausesKeepTheirNumbers)
{
    struct Row {
        char const* type;
        ASN1::ChoiceInfo const& info;
        std::vector<std::string> names;
    };
    Row const rows[] = {
        {"Command", LGCP::Command::theInfo,
         {"query", "testBpc", "connect", "disconnect", "create", "destroy", "activate", "deactivate", "userData",
          "ioctl", "trunkCfg", "clockCfg", "ping", "display", "protoZarn"}},
        {"CreateParams", LGCP::CreateParams::theInfo,
         {"mixerOut", "mixerIn", "rtpOnMixer", "voice", "rtp", "modem", "pstn", "trunk", "trunk_bri", "map", "ext",
          "mcc", "echo", "t38soft", "isdn", "hdlcParams", "spi-tdm", "ats-qsig", "ats-qsig-b"}},
        {"IoctlParams", LGCP::IoctlParams::theInfo,
         {"activateRecord", "deactivateRecord", "activateTonec", "deactivateTonec", "ss7RqBSN", "ss7Log",
          "echoSuppressor", "activateWaitTone", "deactivateWaitTone", "translateDTMF", "dtmf-params", "dtmf-enable",
          "encoder-mode", "decoder-mode", "dtmf-disable", "cas", "rtpExt", "vad-params", "vad-enable", "vad-disable",
          "hdlcPackages", "dtmf-reject-enable", "dtmf-reject-disable", "sd-params", "sd-enable", "sd-disable",
          "mute-enable", "mute-disable", "iva-enable", "iva-params", "pd-enable", "pd-disable", "rx-gain", "delays",
          "tone-filter", "tone-gen-enable", "tone-gen-disable", "selcal"}},
        {"Signal", LGCP::Signal::theInfo,
         {"query", "tonec", "number", "modemProceeding", "modemInformation", "activated", "deactivated", "abort",
          "userData", "receiver", "transmitter", "trunkStatus", "ioctl", "loadAvg", "cas", "rtpExt", "vad", "power",
          "protoZarn", "sd", "bss", "rtp", "selcal"}},
        {"DisplayParams", LGCP::DisplayParams::theInfo,
         {"board", "snmpTrapReceivers", "framer", "emPhone", "controller", "termCounter", "snmp-set"}},
    };
    for (Row const& r : rows) {
        EXPECT_EQ(r.names, alternatives(r.info)) << r.type;
        EXPECT_TRUE(r.info.extendableFlag) << r.type;
        EXPECT_EQ(r.info.numChoices, r.info.totalChoices) << r.type;
    }

    // Not extensible: a bare index after the two presence bits of Message.
    EXPECT_EQ((std::vector<std::string>{"startRecording", "stopRecording", "startPlaying", "ss7BSN", "ss7LinkInfo",
                                        "isdnLinkInfo", "hdlcLinkInfo", "isdnLinkStatus", "hdlcPackages"}),
              alternatives(LGCP::IoctlResponse::theInfo));
    EXPECT_FALSE(LGCP::IoctlResponse::theInfo.extendableFlag);

    ASN1::EnumeratedInfo const& causes = LGCP::ErrorCause::theInfo;
    EXPECT_EQ((std::vector<std::string>{"invalidParams", "insufficientResources", "invalidSlot", "slotNotExists",
                                        "unexpectedMsgType", "internal", "unsupported", "reconnectionFail",
                                        "disconnectFail", "connectFail", "busError", "slotIdBusy",
                                        "destroyInProgress"}),
              std::vector<std::string>(causes.names, causes.names + causes.numNames));
    EXPECT_EQ(12, causes.maximum);
    EXPECT_TRUE(causes.extendableFlag);
}

// An ioctl that no slot class acts on (mute-enable, index 26 of 38) still
// decodes, so the slot can answer it instead of the link dropping it.
TEST(LgcpWireIndices, MuteEnableDecodes)
{
    // presence 01, slot 5; command 0, index 9; ioctl index 26; rx present, true.
    LGCP::Message m;
    ASSERT_TRUE(testsupport::decode("40 00 05 12 6A 80", m));
    ASSERT_TRUE(m.get_pdu().command_isSelected());
    ASSERT_TRUE(m.get_pdu().get_command().ioctl_isSelected());
    LGCP::IoctlParams const& io = m.get_pdu().get_command().get_ioctl();
    ASSERT_TRUE(io.mute_enable_isSelected());
    EXPECT_EQ(26, io.currentSelection());
    ASSERT_TRUE(io.get_mute_enable().rx_isPresent());
    EXPECT_TRUE(io.get_mute_enable().get_rx());
    EXPECT_FALSE(io.get_mute_enable().tx_isPresent());
}
