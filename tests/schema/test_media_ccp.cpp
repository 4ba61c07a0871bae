// The MEDIA and CCP envelopes over the termination and board protocols: no
// link carries them, but their definitions must stay codable end to end.

#include <gtest/gtest.h>

#include <string>

#include "schema/ccp/CCP.h"
#include "schema/media/MEDIA.h"
#include "tests/support/per_image.h"

using testsupport::decode;
using testsupport::per;
using testsupport::round_trip;

namespace {

CCP::Message envelope(int seq)
{
    CCP::Message m;
    ASN1::OBJECT_IDENTIFIER& oid = m.set_protocolIdentifier();
    oid.append(1);
    oid.append(2);
    oid.append(3);
    m.set_seq(seq);
    return m;
}

TERM::TermParams rtpTermination()
{
    TERM::TermParams t;
    TERM::RtpParams& rtp = t.set_type().select_rtp();
    rtp.set_payload(TERM::Payload::ptG729);
    rtp.set_dhost().set_iaddr("10.0.0.9");
    rtp.ref_dhost().set_port(6000u);
    t.set_echo(true);
    TERM::DTMFParams& dtmf = t.set_dtmf_params();
    dtmf.set_threshold().set_twist(65535u);
    dtmf.set_level().set_silence(12u);
    // Known extension additions travel as open types.
    t.set_traceLevel(2);
    t.set_request_mode().select_variants().push_back(TERM::RequestModeVariant());
    t.set_vad_v2_params().set_voice_th_msec(40);
    t.set_mute(true);
    return t;
}

} // namespace

TEST(CcpMessage, EnvelopeWithObjectIdentifier)
{
    CCP::Message m = envelope(5);
    MEDIA::MediaPDU& media = m.set_body().select_media();
    media.set_ref(12u);
    media.set_pdu().select_command().select_destroy();
    // OID 1.2.3 as a counted block, seq 5, media (2 bits), ref in two
    // aligned octets, command and destroy in two bits each.
    EXPECT_EQ("02 2A 03 01 05 00 00 0C 10", per(m));

    CCP::Message back;
    ASSERT_TRUE(decode("02 2A 03 01 05 00 00 0C 10", back));
    ASSERT_EQ(3u, back.get_protocolIdentifier().levels());
    EXPECT_EQ(3u, back.get_protocolIdentifier()[2]);
    EXPECT_TRUE(back.get_body().get_media().get_pdu().get_command().destroy_isSelected());
    EXPECT_EQ(m, back);
}

TEST(CcpMessage, TerminationAndBoardBodiesRoundTrip)
{
    CCP::Message term = envelope(1);
    TERM::TermPDU& pdu = term.set_body().select_term();
    pdu.set_ref().select_outgoing(4095u);
    pdu.set_pdu().select_command().select_create(rtpTermination());
    std::string image;
    ASSERT_TRUE(round_trip(term, &image));
    CCP::Message back;
    ASSERT_TRUE(decode(image, back));
    TERM::TermParams const& params = back.get_body().get_term().get_pdu().get_command().get_create();
    EXPECT_TRUE(params.mute_isPresent());
    EXPECT_FALSE(params.sd_isPresent());
    EXPECT_EQ(65535u, params.get_dtmf_params().get_threshold().get_twist().getValue());

    pdu.set_ref().select_outgoing(4096u);
    EXPECT_EQ("encode failed", per(term));

    CCP::Message signal = envelope(2);
    TERM::TermInformation& info =
        signal.set_body().select_term().set_pdu().select_signal().select_info();
    info.set_state().select_active().select_manual().select_channelGap(
        TERM::ManualGapReason(TERM::ManualGapReason::trunk_fail));
    info.set_stream(BASE::Stream::both);
    info.set_allowedStreams().push_back(BASE::Stream(BASE::Stream::input));
    info.set_params(rtpTermination());
    info.set_cref(2047u);
    signal.ref_body().ref_term().set_ref().select_incoming(1u);
    ASSERT_TRUE(round_trip(signal));

    CCP::Message acp = envelope(3);
    ACP::TrunkStatus& ts = acp.set_body().select_acp().select_signal().select_trunk();
    ts.set_trunk(0);
    ts.set_state(ACP::TrunkState::ais);
    ASSERT_TRUE(round_trip(acp));
}

TEST(MediaPdu, ContextListsRoundTrip)
{
    MEDIA::MediaPDU pdu;
    pdu.set_ref(2047u);
    MEDIA::ContextUnit unit;
    unit.set_ref().select_incoming(7u);
    unit.set_params(rtpTermination());
    unit.set_stream(BASE::Stream::output);
    unit.set_gain(-6);
    unit.set_link_spec(BASE::TermLinkSpec::cross);
    MEDIA::MediaCommand& create = pdu.set_pdu().select_command();
    create.select_create().push_back(unit);
    create.ref_create().push_back(MEDIA::ContextUnit());
    create.ref_create()[1].set_ref().select_outgoing(0u);
    ASSERT_TRUE(round_trip(pdu));

    MEDIA::MediaPDU response;
    response.set_ref(1u);
    MEDIA::MediaTermError err;
    err.set_ref().select_incoming(7u);
    err.set_cause().set_code(TERM::TermErrorCode::ed137_radio_no_permissions);
    response.set_pdu().select_response().select_add().select_fail().select_termination().push_back(err);
    ASSERT_TRUE(round_trip(response));

    pdu.set_ref(2048u);
    EXPECT_EQ("encode failed", per(pdu));
}

TEST(MediaPdu, AbortSignalCodesItsError)
{
    MEDIA::MediaPDU pdu;
    pdu.set_ref(1u);
    pdu.set_pdu().select_signal().select_abort(
        MEDIA::MediaError(MEDIA::MediaError::insufficientResources));
    // ref, signal (2 bits), the error's extension bit and 4 in 3 bits.
    EXPECT_EQ("00 01 90", per(pdu));

    MEDIA::MediaPDU back;
    ASSERT_TRUE(decode("00 01 90", back));
    EXPECT_TRUE(back.get_pdu().get_signal().get_abort().is_insufficientResources());
}
