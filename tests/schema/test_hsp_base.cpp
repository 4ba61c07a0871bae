// HSP and BASE: enumerations numbered with gaps are coded by their number,
// and 64-bit counters travel as two signed 32-bit halves.

#include <gtest/gtest.h>

#include <cstdint>

#include "schema/base/BASE.h"
#include "schema/hsp/HSP.h"
#include "tests/support/per_image.h"

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

} // namespace

TEST(HspEnumerations, GappedValuesAreStoredAndCodedByTheirNumber)
{
    HSP::StandbyCommand cmd(HSP::StandbyCommand::standby);
    EXPECT_EQ(8, cmd.asInt());
    EXPECT_EQ("20", per(cmd));  // extension bit 0, then 8 in five bits
    cmd = HSP::StandbyCommand::active;
    EXPECT_EQ("40", per(cmd));

    HSP::StandbyState state;
    state.set_speak();
    EXPECT_EQ(4, state.asInt());
    EXPECT_TRUE(state.is_speak());
    EXPECT_EQ("speak=4", state.asValueNotation());
    EXPECT_TRUE(round_trip(state));

    // Extensible: a number above the root is coded as an extension value.
    HSP::StandbyState later;
    later.setFromInt(17);
    EXPECT_NE("encode failed", per(later));
}

TEST(HspEnumerations, ControllerStatusAsTheMonitoringKeepsIt)
{
    HSP::ControllerStatus s;
    EXPECT_TRUE(s == HSP::ControllerStatus::unknown);
    s = HSP::ControllerStatus::standby;
    EXPECT_EQ("60", per(s));  // not extensible: 3 in three bits
    HSP::ControllerStatus copy(s);
    copy.set_unknown();
    EXPECT_EQ(HSP::ControllerStatus::standby, static_cast<HSP::ControllerStatus::NamedNumber>(s));
    s.setFromInt(6);  // above the largest value of a closed enumeration
    EXPECT_EQ("encode failed", per(s));
}

TEST(HspTypes, UnusedTypesStillRoundTrip)
{
    HSP::HspPDU pdu;
    HSP::HspCommand& cmd = pdu.select_command();
    cmd.set_address().set_host_id(4294967295u);
    HSP::RadioChannelCommandRadioStateExt& ext = cmd.set_state().select_radio_channel_command().select_radio_state_ext();
    ext.set_command(HSP::StandbyCommand::standby);
    ext.set_receiver_state(HSP::StandbyCommand::active);
    EXPECT_TRUE(round_trip(pdu));

    HSP::HspSignal sig;
    HSP::RadioChannelState& st = sig.select_radio_channel_state();
    st.set_session_addr("10.0.0.1");
    st.set_session_ssrc(0x80000000u);
    st.set_tx_vad_duration(-5);
    pdu.select_signal(sig);
    EXPECT_TRUE(round_trip(pdu));
}

TEST(Base64BitCounters, TravelAsTwoSignedHalves)
{
    BASE::INTEGER64Bits small = counter(4000000000ull - 1000000000ull);  // 3000000000
    EXPECT_EQ(0, small.get_high().getValue());
    EXPECT_EQ(-1294967296, small.get_low().getValue());
    EXPECT_EQ("04 B2 D0 5E 00 01 00", per(small));

    BASE::INTEGER64Bits big = counter((std::uint64_t(5) << 32) | 7u);
    EXPECT_EQ(5, big.get_high().getValue());
    EXPECT_EQ(7, big.get_low().getValue());

    BASE::INTEGER64Bits copy;
    ASSERT_TRUE(testsupport::decode(per(small), copy));
    EXPECT_EQ(-1294967296, copy.get_low().getValue());
    EXPECT_EQ(small, copy);
}

TEST(BaseEnumerations, StreamAndLinkSpec)
{
    EXPECT_EQ("C0", per(BASE::Stream(BASE::Stream::both)));       // 3 in two bits
    EXPECT_EQ("80", per(BASE::TermLinkSpec(BASE::TermLinkSpec::cross)));  // 1 in one bit
}
