// MON monitoring-link messages: the images of what the gateway sends to the
// SNMP agents, and one value of every alternative through encode and decode.

#include <gtest/gtest.h>

#include <set>

#include "mon_samples.h"
#include "schema/mon/MON.h"
#include "tests/support/per_image.h"

using testsupport::per;
using testsupport::round_trip;
using mon_samples::iniName;

namespace {

MON::Message commandMessage(MON::Command const& c)
{
    MON::Message m;
    m.set_pdu().select_command() = c;
    return m;
}

} // namespace

TEST(MonImages, PingIsOneOctet)
{
    EXPECT_EQ("18", per(commandMessage(MON::Command(MON::Command::ping::index, ASN1::Null()))));
}

TEST(MonImages, TrapsinkWithoutPortHasOneClearPresenceBitBeforeHost)
{
    MON::Command c;
    MON::SnmpTrapsink sink;
    sink.set_host("h");
    sink.set_port(162);
    sink.omit_port();
    c.select_snmp_trapsink_set().set_trapsinks().push_back(sink);
    // command 00, extension bit 0, index 01, list extension bit 0, count 01;
    // sink extension bit 0, port bit 0, then "h".
    EXPECT_EQ("08 01 00 01 68", per(commandMessage(c)));
}

TEST(MonImages, EmptySetCommandListIsAZeroCount)
{
    MON::Command c;
    c.select_snmp_set();
    EXPECT_EQ("00 00", per(commandMessage(c)));
}

TEST(MonMessages, SetCommandsBuiltAsTheMonitoringDoes)
{
    MON::SnmpSetCommands cmds;
    MON::SnmpSetCommand one;
    one.set_uniq(1);
    one.set_id().select_oid("1.3.6.1.2.1.1.5.0");
    one.set_value("gateway");
    cmds.set_commands().push_back(one);
    one.set_uniq(2);
    one.set_id().select_name() = iniName();
    cmds.set_commands().push_back(one);

    MON::Command c;
    c.select_snmp_set(cmds);
    ASSERT_TRUE(c.snmp_set_isSelected());
    auto const& list = c.get_snmp_set().get_commands();
    ASSERT_EQ(2u, list.size());
    EXPECT_TRUE(list[0].get_id().oid_isSelected());
    EXPECT_EQ("traps", list[1].get_id().get_name().get_section());
    EXPECT_TRUE(round_trip(commandMessage(c)));
}

TEST(MonRoundTrip, EveryAlternativeSurvivesEncodeAndDecode)
{
    std::vector<MON::Message> const all = mon_samples::oneMessageOfEachKind();
    std::set<std::string> seen;
    for (MON::Message const& m : all) {
        std::string image;
        EXPECT_TRUE(round_trip(m, &image)) << m.asValueNotation() << "\n" << image;
        seen.insert(m.asValueNotation().substr(0, 40));
    }
    EXPECT_EQ(9u, seen.size());
}
