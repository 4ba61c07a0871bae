// MON monitoring-link messages: the images of what the gateway sends to the
// SNMP agents, and one value of every alternative through encode and decode.

#include <gtest/gtest.h>

#include <set>

#include "schema/mon/MON.h"
#include "tests/support/per_image.h"

using testsupport::per;
using testsupport::round_trip;

namespace {

MON::Message commandMessage(MON::Command const& c)
{
    MON::Message m;
    m.set_pdu().select_command() = c;
    return m;
}

MON::IniName iniName()
{
    MON::IniName n;
    n.set_section("traps");
    n.set_name("host");
    n.set_index(-1);
    return n;
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
    std::vector<MON::Message> all;
    std::set<std::string> seen;
    auto add = [&](MON::PDU const& pdu) {
        MON::Message m;
        m.set_pdu(pdu);
        all.push_back(m);
    };

    MON::SnmpSetCommand byOid;
    byOid.set_uniq(7);
    byOid.set_id().select_oid("1.3.6.1");
    byOid.set_value("x");
    MON::SnmpSetCommand byName(byOid);
    byName.set_id().select_name() = iniName();
    MON::PDU p;
    MON::SnmpSetCommands& cmds = p.select_command().select_snmp_set();
    cmds.set_commands().push_back(byOid);
    cmds.set_commands().push_back(byName);
    add(p);

    MON::SnmpTrapsink sink;
    sink.set_host("10.0.0.9");
    sink.set_port(162);
    p.select_command().select_snmp_trapsink_set().set_trapsinks().push_back(sink);
    add(p);

    MON::SnmpTrap byTrapOid, byTrapName;
    byTrapOid.set_trap().select_oid("1.3.6.1.6.3.1.1.5.1");
    byTrapName.set_trap().select_name("coldStart");
    MON::SnmpTraps& traps = p.select_command().select_snmp_trap_send();
    traps.set_traps().push_back(byTrapOid);
    traps.set_traps().push_back(byTrapName);
    add(p);

    p.select_command().select_ping();
    add(p);

    MON::CommonResponse success, error;
    success.select_success();
    error.select_error(MON::ErrorCause::wrongValue);
    MON::SnmpSetResponse answer;
    answer.set_uniq(7);
    answer.set_response(error);
    p.select_response().select_snmp_set().set_responses().push_back(answer);
    add(p);
    p.select_response().select_snmp_trapsink_set(success);
    add(p);
    p.select_response().select_snmp_trap_send(error);
    add(p);
    p.select_response().select_ping(success);
    add(p);

    MON::SnmpSetSignal sig;
    sig.set_oid("1.3.6.1.4.1");
    sig.set_name(iniName());
    sig.set_value("42");
    p.select_signal().select_snmp_set(sig);
    add(p);

    for (MON::Message const& m : all) {
        std::string image;
        EXPECT_TRUE(round_trip(m, &image)) << m.asValueNotation() << "\n" << image;
        seen.insert(m.asValueNotation().substr(0, 40));
    }
    EXPECT_EQ(9u, seen.size());
}
