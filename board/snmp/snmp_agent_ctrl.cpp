#include "board/snmp/snmp_agent_ctrl.h"

#include "runtime/ini_file.h"

namespace {

struct ItemRow {
  int mask;
  const char* section;
  const char* name;
};

// The monitoring items, numbered from 0 in this order.
const ItemRow item_rows[] = {
    {6, "gatewayCommon", "driverBuild"},
    {6, "gatewayCommon", "softwareBuild"},
    {6, "gatewayCommon", "powerStatus"},
    {6, "gatewayCommon", "controllerStatus"},
    {6, "gatewayCommon", "gatewayDip"},
    {6, "gatewayCommon", "gatewayConfigVersion"},
    {2, "extBoardTable", "extBoardStatus"},
    {2, "extBoardTable", "extBoardSoftVer"},
    {2, "extBoardTable", "extBoardType"},
    {2, "emPhoneTable", "emPhonePanelSoftVer"},
    {2, "emPhoneTable", "emPhoneCtrlSoftVer"},
    {2, "emPhoneTable", "emPhoneFpgaSoftVer"},
    {2, "emPhoneTable", "emPhoneStatus"},
    {2, "emPhoneTable", "emPhonePowerStatus"},
    {2, "emPhoneTable", "emPhoneMode"},
    {2, "emPhoneTable", "emPhoneHookStatus"},
    {2, "emPhoneTable", "emPhoneBaseStatus"},
    {6, "gatewayTermCounters", "routerTermCnt"},
    {6, "gatewayTermCounters", "controllerTermCnt"},
    {6, "gatewayTermCounters", "serverTermCnt"},
    {2, "extBoardTermCntTable", "extBoardTermCnt"},
    {2, "e1Table", "e1Connected"},
    {2, "e1Table", "e1StatusDsc"},
    {2, "e1Table", "e1SignalLoss"},
    {2, "e1Table", "e1FrameAlignLoss"},
    {2, "e1Table", "e1NegSlipCount"},
    {2, "e1Table", "e1PosSlipCount"},
    {4, "statusGeneral", "sgBuildVersion"},
    {4, "statusGeneral", "sgFPGAVersion"},
    {4, "statusGeneral", "sgBootVersion"},
    {4, "statusGeneral", "sgBoardVersion"},
    {6, "ifTable", "ifDescr"},
    {6, "ifTable", "ifAdminStatus"},
    {6, "ifTable", "ifOperStatus"},
};

}  // namespace

SnmpAgentCtrl::SnmpAgentCtrl() {
  int n = 0;
  for (const auto& row : item_rows) items_.push_back(MonitoringItem{n++, row.mask, row.section, row.name});
  flush_.Bind(this, &SnmpAgentCtrl::OnDpcSend);
  batches_[0] = nullptr;
  batches_[1] = nullptr;
  for (int key : {2, 4}) {
    std::unique_ptr<MON::Command> cmd(new MON::Command);
    cmd->select_snmp_set();
    batches_[key] = std::move(cmd);
  }
}

SnmpAgentCtrl::~SnmpAgentCtrl() { flush_.Deactivate(); }

void SnmpAgentCtrl::CreateInstances(IniFile::Section& section) {
  for (IniFile::SubSection* block : section) {
    links_.emplace_back(new SnmpAgentInstance);
    links_.back()->Activate(*block);
  }
}

bool SnmpAgentCtrl::Bind(ISnmpAgentNotify* n) {
  notify_ = n;
  for (auto& l : links_) l->Bind(n);
  return true;
}

void SnmpAgentCtrl::UnBind() {
  notify_ = nullptr;
  for (auto& l : links_) l->UnBind();
}

void SnmpAgentCtrl::Send(MonitoringItemType item, int index, std::string& value) {
  const MonitoringItem* found = nullptr;
  for (const auto& i : items_) {
    if (i.item == item) {
      found = &i;
      break;
    }
  }
  if (!found) return;
  for (auto& b : batches_) {
    if (!(b.first & found->mask) || !b.second || !b.second->snmp_set_isSelected()) continue;
    MON::SnmpSetCommand c;
    c.set_uniq(take_uniq(uniq_));
    MON::IniName& name = c.set_id().select_name();
    name.set_section(found->section);
    name.set_name(found->name);
    name.set_index(index);
    c.set_value(value);
    b.second->ref_snmp_set().ref_commands().push_back(c);
    flush_.Activate();
  }
}

void SnmpAgentCtrl::Send(MON::SnmpSetCommands const& list) {
  if (list.get_commands().empty()) return;
  SendSlices(list.get_commands());
}

MON::Command SnmpAgentCtrl::TrapsinkCommand(const std::list<std::string>& hosts) {
  MON::Command cmd;
  auto& sinks = cmd.select_snmp_trapsink_set().ref_trapsinks();
  for (const auto& h : hosts) {
    MON::SnmpTrapsink s;
    s.set_host(h);
    sinks.push_back(s);
  }
  return cmd;
}

bool SnmpAgentCtrl::TrapsinkFits(const std::list<std::string>& hosts) {
  MON::Message msg;
  msg.set_pdu().select_command(TrapsinkCommand(hosts));
  std::vector<char> out;
  return SnmpAgentInstance::Encode(msg, out) && out.size() <= max_message;
}

void SnmpAgentCtrl::SendTrapsink(const std::list<std::string>& hosts) {
  if (hosts.empty()) return;
  SendCommand(TrapsinkCommand(hosts));
}

void SnmpAgentCtrl::OnDpcSend() {
  for (auto& b : batches_) {
    if (!b.second || !b.second->snmp_set_isSelected()) continue;
    auto& list = b.second->ref_snmp_set().ref_commands();
    if (list.empty()) continue;
    SendSlices(list);
    list.clear();
  }
  flush_.Deactivate();
}

void SnmpAgentCtrl::SendSlices(MON::SnmpSetCommands::commands::value_type const& list) {
  // An agent refuses a message of more values than it decodes, and a frame
  // holds at most 64 KB: a full push of many boards and phones, or of long
  // free-form values, goes in slices, in order.
  std::size_t at = 0;
  while (at < list.size()) {
    MON::Command slice;
    auto& part = slice.select_snmp_set().ref_commands();
    std::size_t octets = 0;
    for (; at < list.size() && part.size() < max_commands; ++at) {
      const auto& c = list[at];
      const auto& id = c.get_id();
      std::size_t n = command_overhead + c.get_value().size();
      if (id.oid_isSelected()) n += id.get_oid().size();
      if (id.name_isSelected()) n += id.get_name().get_section().size() + id.get_name().get_name().size();
      // A value always goes: one alone fits, its texts being below 16 KB.
      if (!part.empty() && octets + n > max_octets) break;
      octets += n;
      part.push_back(c);
    }
    SendCommand(slice);
  }
}

void SnmpAgentCtrl::SendCommand(MON::Command const& cmd) {
  for (auto& l : links_) l->Command(cmd);
}
