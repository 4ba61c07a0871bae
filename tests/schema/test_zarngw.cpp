// ZARNGW radio packets as a controller may send them inside a protoZarn
// command: identifiers coded by value, payload alternatives by position.

#include <gtest/gtest.h>

#include <string>

#include "schema/zarngw/ZARNGW.h"
#include "tests/support/per_image.h"

using testsupport::bytes;
using testsupport::decode;
using testsupport::per;
using testsupport::round_trip;

namespace {

using namespace ZARNGW;

ProtoZarnPacket header(ProtoZarnMsgID::NamedNumber id)
{
    ProtoZarnPacket p;
    p.set_msgLength(10);
    p.set_msgSeqNum(1);
    p.set_msgID(id);
    p.set_stateProtocol(ProtoZarnProtocol::protocol_v2);
    p.set_stateMode(ProtoZarnMode::radio);
    p.set_stateMaster(0);
    p.set_srcAddr(ProtoZarnAddress::dli);
    p.set_srcChannel(1);
    p.set_dstAddr(ProtoZarnAddress::lgw);
    p.set_dstChannel(0);
    return p;
}

// An acknowledgement of a file block from the analog line interface.
ProtoZarnPackets serverAck()
{
    ProtoZarnPacket p = header(ProtoZarnMsgID::ali_server_p1);
    ProtoZarnPacketP1ServerPacket& s = p.set_payload().select_ali_server_p1();
    s.set_command(ProtoZarnPacketP1ServerCommand::p1_srv_ack);
    s.set_session(7);
    ProtoZarnPacketP1SrvAckPacket& ack = s.set_payload().select_p1_srv_ack();
    ack.set_result(ProtoZarnPacketP1SrvAckResult::p1_srv_sts_success);
    ack.set_ack_command(ProtoZarnPacketP1ClientCommand::p1_cln_file_load);
    ProtoZarnPackets list;
    list.set_packets().push_back(p);
    return list;
}

std::string const serverAckImage =
    "00 01 00 01 0A 01 01 00 33 00 44 01 00 40 01 01 00 01 00 7E 00 20 01 01 07 40 10 03 00";

} // namespace

TEST(ZarnPackets, EmptyListRoundTrips)
{
    ProtoZarnPackets empty;
    EXPECT_EQ("00 00", per(empty));
    ProtoZarnPackets back;
    ASSERT_TRUE(decode("00 00", back));
    EXPECT_TRUE(back.get_packets().empty());
}

TEST(ZarnPackets, IdentifierAndPayloadIndexAreNotCompared)
{
    // msgID 13056 in two aligned octets (33 00); the payload is alternative
    // 63 in six bits (7E with the next extension bit).
    ProtoZarnPackets list = serverAck();
    EXPECT_EQ(serverAckImage, per(list));

    ProtoZarnPackets back;
    ASSERT_TRUE(decode(serverAckImage, back));
    ASSERT_EQ(1u, back.get_packets().size());
    ProtoZarnPacket const& p = back.get_packets()[0];
    EXPECT_TRUE(p.get_msgID().is_ali_server_p1());
    EXPECT_EQ(63, p.get_payload().currentSelection());
    EXPECT_TRUE(p.get_payload().get_ali_server_p1().get_payload().get_p1_srv_ack()
                    .get_ack_command().is_p1_cln_file_load());
    EXPECT_EQ(list, back);

    // The identifier of another message with this payload is sent as it is.
    list.set_packets().begin()->set_msgID(ProtoZarnMsgID::gw_get_id);
    EXPECT_TRUE(round_trip(list));
}

TEST(ZarnPackets, TruncatedPacketDoesNotDecode)
{
    std::vector<char> image = bytes(serverAckImage);
    for (std::size_t n = 1; n < image.size(); ++n) {
        ProtoZarnPackets back;
        EXPECT_FALSE(decode(std::vector<char>(image.begin(), image.begin() + n), back)) << n << " octets";
    }
}

TEST(ZarnPackets, AckPayloadHasTheOnlyOptionalFields)
{
    ProtoZarnPacketP1SrvAckPayload none;
    EXPECT_EQ("00", per(none));  // extension bit and two clear optional bits

    ProtoZarnPacketP1SrvAckPayload start;
    start.set_p1_file_start().set_block_size(512);
    start.ref_p1_file_start().set_block_delay(20);
    EXPECT_EQ("40 02 02 00 01 14", per(start));
    ProtoZarnPacketP1SrvAckPayload back;
    ASSERT_TRUE(decode("40 02 02 00 01 14", back));
    EXPECT_TRUE(back.p1_file_start_isPresent());
    EXPECT_FALSE(back.p1_file_load_isPresent());
}

TEST(ZarnPackets, CommandNumberAndPayloadPositionDiffer)
{
    // bssScore is 64 in seven bits (40); its payload is alternative 1.
    ProtoZarnPacketPayloadDigitalRadCommand c;
    c.set_channel(1);
    c.set_command(ProtoZarnDigitalRadioCommand::bssScore);
    c.set_payload().select_bssScore().set_snr("9.5");
    EXPECT_EQ("00 01 01 40 20 03 39 2E 35", per(c));

    ProtoZarnPacketPayloadDigitalRadCommand back;
    ASSERT_TRUE(decode("00 01 01 40 20 03 39 2E 35", back));
    EXPECT_TRUE(back.get_command().is_bssScore());
    EXPECT_TRUE(back.get_payload().bssScore_isSelected());

    EXPECT_EQ("70", per(ProtoZarnGwRadioState(ProtoZarnGwRadioState::selCh)));  // 14 of 0..14
}

TEST(ZarnPackets, GainNamesShareNumbers)
{
    EXPECT_EQ("00 FF", per(ProtoZarnAnalogGainIDV1(ProtoZarnAnalogGainIDV1::fake)));
    EXPECT_EQ("00 0A", per(ProtoZarnAnalogGainIDV1(ProtoZarnAnalogGainIDV1::max)));
    ProtoZarnAnalogGainIDV1 back;
    ASSERT_TRUE(decode("00 0A", back));
    EXPECT_TRUE(back.is_rsh());
    EXPECT_TRUE(back.is_max());

    EXPECT_EQ("00 0B", per(ProtoZarnAnalogGainIDV2(ProtoZarnAnalogGainIDV2::min)));
}

TEST(ZarnPackets, ConfigurationAndStatePacketsRoundTrip)
{
    ProtoZarnPackets list;

    ProtoZarnPacket config = header(ProtoZarnMsgID::gw_set_config);
    ProtoZarnPacketPayloadRadioAnalogV1& analog =
        config.set_payload().select_gw_set_config().select_radio_analog_v1();
    ProtoZarnPacketPayloadRadioChannelAnalogV1 ch;
    ch.set_radio_type(2);
    ch.set_agc2_rx(true);
    ch.set_uart_config().set_baud(9600);
    ch.ref_uart_config().set_data_bits(ProtoZarnUartDataBits::bits8);
    ch.ref_uart_config().set_parity_bit(ProtoZarnUartParityBit::even);
    ch.ref_uart_config().set_mode(ProtoZarnUartMode::rs232);
    analog.set_channels().push_back(ch);
    analog.ref_channels().push_back(ch);
    analog.set_gain_id().push_back(ProtoZarnAnalogGainIDV1(ProtoZarnAnalogGainIDV1::fake));
    analog.ref_gain_id().push_back(ProtoZarnAnalogGainIDV1(ProtoZarnAnalogGainIDV1::spi));
    analog.set_gain_values().push_back(ASN1::INTEGER(-6));
    list.set_packets().push_back(config);

    ProtoZarnPacket keep = header(ProtoZarnMsgID::dli_keep_alive);
    ProtoZarnPacketPayloadRadioDigitalKeepAliveV1& ka =
        keep.set_payload().select_dli_keep_alive().select_radio_v1();
    ka.set_id(3);
    ProtoZarnPacketPayloadRadioChannelDigitalKeepAliveV1 state;
    state.set_ptt(true);
    state.set_rc_line_state(true);
    ka.set_channels().push_back(state);
    list.ref_packets().push_back(keep);

    ProtoZarnPacket rs485 = header(ProtoZarnMsgID::ali_rad_command);
    ProtoZarnPacketPayloadAnalogRadCommand& rc = rs485.set_payload().select_ali_rad_command();
    rc.set_channel(2);
    rc.set_command(ProtoZarnAnalogRadioCommand::rs485Cmd);
    rc.set_payload().select_rs485Cmd().set_payload().push_back(ASN1::INTEGER(0x55));
    list.ref_packets().push_back(rs485);

    ProtoZarnPacket ggs = header(ProtoZarnMsgID::dli_set_config);
    ProtoZarnPacketPayloadGgsDigitalV2& g = ggs.set_payload().select_dli_set_config().select_ggs_v2();
    ProtoZarnPacketPayloadGgsChannelDigitalV2 gch;
    gch.set_ggs_type_call(ProtoZarnGgsTypeControl::fxs);
    gch.set_channel().select_fxs().set_dtmf_detector_mark_max_time(80);
    g.set_channels().push_back(gch);
    ProtoZarnPacketPayloadLineDigital line;
    line.set_line_echo_threshold("-30");
    g.set_lines().set_lines().push_back(line);
    list.ref_packets().push_back(ggs);

    ASSERT_TRUE(round_trip(list));

    ProtoZarnPackets copy(list);  // the copy a signal would carry
    EXPECT_EQ(list, copy);
    ASSERT_EQ(4u, copy.get_packets().size());
    EXPECT_TRUE(copy.get_packets()[3].get_payload().get_dli_set_config().ggs_v2_isSelected());
}
