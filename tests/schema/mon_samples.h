#ifndef TESTS_SCHEMA_MON_SAMPLES_H
#define TESTS_SCHEMA_MON_SAMPLES_H

// MON messages of every alternative the tests build.

#include <vector>

#include "schema/mon/MON.h"

namespace mon_samples {

inline MON::IniName iniName()
{
    MON::IniName n;
    n.set_section("traps");
    n.set_name("host");
    n.set_index(-1);
    return n;
}

inline std::vector<MON::Message> oneMessageOfEachKind()
{
    std::vector<MON::Message> all;
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

    return all;
}

} // namespace mon_samples

#endif
