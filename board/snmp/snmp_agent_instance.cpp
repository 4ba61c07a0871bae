#include "board/snmp/snmp_agent_instance.h"

#include "asn1/asn1.h"
#include "runtime/ini_file.h"
#include "runtime/ini_reader.h"
#include "runtime/mux_time.h"

#include <iostream>
#include <iterator>
#include <sstream>
#include <vector>

namespace {

const IniFile::Symbol<SnmpAgentInstance::MonitoringAddressType> monitoringAddressTypes[] = {
    {"zarngw", SnmpAgentInstance::zarngw},
    {"zarngw.tvr", SnmpAgentInstance::zarngw_tvr},
    {"dovr", SnmpAgentInstance::dovr},
    {nullptr, SnmpAgentInstance::none},
};

std::uint32_t now_ms() { return static_cast<std::uint32_t>(Mux::milliseconds()); }

}  // namespace

SnmpAgentInstance::~SnmpAgentInstance() {
  ping_timer_.reset();
  if (conn_) {
    conn_->UnBind();
    conn_->Deactivate();
  }
}

void SnmpAgentInstance::Activate(IniFile::SubSection& block) {
  std::string host;
  IniFile::Reader reader("snmpagent: ", std::cerr);
  reader.required.add(&host, "host");
  reader.required.add(&name_, "name");
  reader.required.add(&type_, "name", monitoringAddressTypes);
  if (!reader(block)) return;
  int port = -1;
  addr_.Assign(host, &port);
  if (port < 0) return;

  state_ = activated;
  conn_.reset(new Control::ConnectorNet(addr_.GetStrAddr(), addr_.port()));
  std::ostringstream log_name;
  log_name << "snmpagent." << name_ << " " << addr_;
  log_name_ = log_name.str();
  conn_->service_name(log_name_);
  conn_->Bind(this);
  conn_->Activate();
}

void SnmpAgentInstance::Command(MON::Command const& cmd) {
  MON::Message msg;
  msg.set_pdu().select_command(cmd);
  Send(msg);
}

bool SnmpAgentInstance::Encode(MON::Message const& msg, std::vector<char>& out) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  return ASN1::encode(msg, &env, std::back_inserter(out));
}

void SnmpAgentInstance::Send(MON::Message const& msg) {
  if (!conn_ || !conn_->IsConnected()) return;
  std::vector<char> out;
  if (!Encode(msg, out)) {
    std::clog << log_name_ << ": encode MON message fail!!!" << std::endl;
    return;
  }
  conn_->Send(out.data(), static_cast<int>(out.size()));
  SetPingTimer();
  // A signed difference of the wrapping 32-bit stamps.
  const std::uint32_t now = now_ms();
  if (static_cast<std::int32_t>(now - last_receive_) > silence_limit_ms) {
    std::clog << log_name_ << ": ping timeout !!!" << " now=" << now << " stamp=" << last_receive_ << std::endl;
    conn_->Disconnect();
  }
}

void SnmpAgentInstance::SetPingTimer() { ping_timer_.set(ping_ms, &SnmpAgentInstance::OnPingTimer, this); }

void SnmpAgentInstance::OnPingTimer(Timer*) {
  MON::Command cmd;
  cmd.select_ping();
  Command(cmd);
}

void SnmpAgentInstance::OnConnect() {
  state_ = connected;
  std::clog << log_name_ << ": connected." << std::endl;
  last_receive_ = now_ms();
  if (notify_) notify_->OnSnmpAgentConnect(name_);
}

void SnmpAgentInstance::OnDisconnect() {
  std::clog << log_name_ << ": connection lost, reset snmpagent instance" << std::endl;
  ping_timer_.reset();
  if (state_ == connected) state_ = lost;
}

void SnmpAgentInstance::OnMessage(char const* data, int len) {
  last_receive_ = now_ms();
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  MON::Message msg;
  if (len < 0 || !ASN1::decode(data, data + len, &env, msg, true)) {
    std::cerr << log_name_ << ": receive : decode error!" << std::endl;
    return;
  }
  if (msg.get_pdu().command_isSelected()) std::cerr << log_name_ << ": receive unknown message type" << std::endl;
}
