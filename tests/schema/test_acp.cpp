// ACP trunk and link status records as they go to the controller, and the
// extension alternatives of the board protocol family.

#include <gtest/gtest.h>

#include <string>

#include "schema/acp/ACP.h"
#include "tests/support/per_image.h"

using testsupport::decode;
using testsupport::per;
using testsupport::round_trip;

TEST(AcpTrunkStatus, AllTenFieldsGoEvenWhenOnlyTrunkAndStateAreSet)
{
    ACP::TrunkStatus ts;
    ts.set_trunk(1);
    ts.set_state(ACP::TrunkState::disabled);
    // disabled is 6 in three bits with no extension bit in front (C0);
    // five zero counters, the empty name, clockMaster false and e1.
    std::string const image = "00 01 01 C0 01 00 01 00 01 00 01 00 01 00 00 00";
    EXPECT_EQ(image, per(ts));

    ACP::TrunkStatus back;
    ASSERT_TRUE(decode(image, back));
    EXPECT_EQ(1, back.get_trunk().getValue());
    EXPECT_TRUE(back.get_state().is_disabled());
    EXPECT_EQ("", std::string(back.get_name()));
    EXPECT_FALSE(back.get_clockMaster());
    EXPECT_TRUE(back.get_type().is_e1());
}

TEST(AcpTrunkStatus, TypeFollowsItsExtensionBit)
{
    ACP::TrunkStatus ts;
    ts.set_trunk(1);
    ts.set_state(ACP::TrunkState::disabled);
    ts.set_type(ACP::TrunkType::bri);
    EXPECT_EQ("00 01 01 C0 01 00 01 00 01 00 01 00 01 00 00 20", per(ts));
    ts.set_clockMaster(true);
    EXPECT_EQ("00 01 01 C0 01 00 01 00 01 00 01 00 01 00 00 A0", per(ts));

    ts.set_state(ACP::TrunkState::lossCarrier);
    ts.set_slips(-1);
    ts.set_lossBF(70000);
    ts.set_name() = "E1-0";
    ACP::TrunkStatus back;
    std::string image;
    ASSERT_TRUE(round_trip(ts, &image));
    ASSERT_TRUE(decode(image, back));
    EXPECT_EQ(ACP::TrunkState::lossCarrier, static_cast<ACP::TrunkState::NamedNumber>(back.get_state()));
    EXPECT_EQ(-1, back.get_slips().getValue());
    EXPECT_EQ("E1-0", std::string(back.get_name()));

    ACP::TrunkStatus unknownType = ts;
    unknownType.set_type().setFromInt(2);  // a later trunk kind: extension value
    ASSERT_TRUE(round_trip(unknownType));
}

TEST(AcpLinkInfo, IsdnStatisticsRoundTrip)
{
    ACP::IsdnLinkInfo info;
    EXPECT_TRUE(info.get_side().is_user());  // nobody sets it
    info.set_msuTxCount(12);
    info.set_msuRxCount(34);
    info.set_mT200(1000);
    info.set_mT203(10000);
    info.set_rejected(1);
    info.set_lapdState(ACP::LAPDState::timer_recovery);
    info.set_rc(3);
    info.set_peerBusy(true);
    info.set_t203run(true);
    info.set_vs(127);
    info.set_va(126);
    info.set_vr(5);
    info.set_queueAck(2);

    std::string image;
    ASSERT_TRUE(round_trip(info, &image));
    ACP::IsdnLinkInfo back;
    ASSERT_TRUE(decode(image, back));
    EXPECT_TRUE(back.get_lapdState().is_timer_recovery());
    EXPECT_TRUE(back.get_peerBusy());
    EXPECT_FALSE(back.get_ownBusy());
    EXPECT_EQ(127, back.get_vs().getValue());

    // Not extensible: the side is the first bit, the state 3 bits.
    info.set_side(ACP::IsdnSide::network);
    EXPECT_EQ("80", per(info).substr(0, 2));
}

TEST(AcpLinkInfo, Ss7StatisticsRoundTrip)
{
    ACP::SS7LinkInfo info;
    info.set_msuTxCount(1);
    info.set_octetsTx(0x7FFFFFFF);
    info.set_speedRx(64000);
    info.set_badSeqCntr(-5);
    info.set_ss7state(ACP::SS7State::worked);
    std::string image;
    ASSERT_TRUE(round_trip(info, &image));
    EXPECT_EQ("A0", image.substr(image.size() - 2));  // worked = 5 in 3 bits

    ACP::SS7LinkInfo back;
    ASSERT_TRUE(decode(image, back));
    EXPECT_TRUE(back.get_ss7state().is_worked());
    EXPECT_EQ(-5, back.get_badSeqCntr().getValue());
}

TEST(AcpLinkInfo, VersionInfoRoundTrip)
{
    ACP::VersionInfo v;
    v.set_type(ACP::BuildType::snapshot);
    v.set_version("1.0.0");
    v.set_date("2024-01-01");
    v.set_revision(42);
    EXPECT_TRUE(round_trip(v));
}

TEST(AcpProtocol, ExtensionAlternativesGoAsOpenTypes)
{
    ACP::TrunkNotification tn;
    tn.set_trunk(1);
    tn.set_timeslot(2);
    tn.set_state(ACP::NotifierState::busy);
    ACP::AcpPDU pdu;
    pdu.select_command().select_notification().select_trunk(tn);
    // command (2 bits), extension bit, index 16 - 6 as a small number, the
    // open type's length and its six octets.
    EXPECT_EQ("22 80 06 00 01 01 01 02 40", per(pdu));

    ACP::AcpPDU back;
    ASSERT_TRUE(decode("22 80 06 00 01 01 01 02 40", back));
    ASSERT_TRUE(back.command_isSelected());
    EXPECT_EQ(16, back.get_command().currentSelection());
    ASSERT_TRUE(back.get_command().get_notification().trunk_isSelected());
    EXPECT_EQ(pdu, back);

    ACP::AcpPDU response;
    ACP::AcpResult& r = response.select_response().select_notification();
    r.set_fail().set_code(5);
    ASSERT_TRUE(round_trip(response));
    EXPECT_EQ("00 01 05", per(r));  // a SEQUENCE: success and fail both go
}

TEST(AcpProtocol, SignalsWithListsAndBoardRecordsRoundTrip)
{
    ACP::AcpPDU link;
    ACP::LinkInfo& li = link.select_signal().select_link();
    li.set_trunk(2);
    li.set_timeslot(16);
    li.set_group().push_back(ASN1::INTEGER(7));
    li.ref_group().push_back(ASN1::INTEGER(-8));
    li.set_state(ACP::LinkState::inactive);
    li.set_ext_info().select_ss7().set_ss7state(ACP::SS7State::proving);
    ASSERT_TRUE(round_trip(link));

    ACP::AcpPDU board;
    ACP::BoardInfo& b = board.select_signal().select_board();
    b.set_state(ACP::BoardState::blocked);
    b.set_name("gw");
    b.set_host().set_iaddr("10.0.0.1");
    b.ref_host().set_port(20001u);
    b.set_modem_hdlc().set_availible(4);
    b.set_board_version().set_major(2);
    b.ref_board_version().set_minor(7);
    b.set_driver_version().set_version("3.1");
    ASSERT_TRUE(round_trip(board));

    ACP::AcpPDU assoc;
    ACP::GroupAssociation& g = assoc.select_signal().select_group_association();
    g.set_group(1);
    for (int t = 0; t < 4; ++t)
        g.set_trunks().push_back(ASN1::INTEGER(t));
    ASSERT_TRUE(round_trip(assoc));

    EXPECT_EQ("encode failed", per(ACP::AcpPDU()));
}
