#pragma once
// SnmpAgentInstance: one monitoring link to an external SNMP agent process:
// a reconnecting TCP client carrying one MON::Message (aligned PER) per
// TPKT frame. A ping goes out after 5000 ms without any sent message, and a
// link that has received nothing for more than 30000 ms when it sends is
// dropped (it reconnects by itself).
#include "board/snmp/isnmp_agent_notify.h"
#include "control/connector_net.h"
#include "runtime/inet4_addr.h"
#include "runtime/timer.h"
#include "schema/mon/MON.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace IniFile {
class SubSection;
}

class SnmpAgentInstance : public Control::Notify {
 public:
  // A fixed type: the "name" key may also give a number outside the kinds.
  enum MonitoringAddressType : int { none = 0, zarngw = 1, dovr = 2, zarngw_tvr = 4 };
  enum State { built = 0, activated = 1, connected = 2, lost = 3 };

  static constexpr unsigned int ping_ms = 5000;
  static constexpr std::int32_t silence_limit_ms = 30000;

  SnmpAgentInstance() = default;
  ~SnmpAgentInstance() override;

  // Reads one "snmpagent" block and starts the link; a block with a missing
  // or bad key leaves the link unconnected.
  void Activate(IniFile::SubSection& block);
  void Command(MON::Command const& cmd);
  void Send(MON::Message const& msg);
  // The octets an agent gets for `msg` (aligned PER); false if it cannot
  // be encoded.
  static bool Encode(MON::Message const& msg, std::vector<char>& out);
  void Bind(ISnmpAgentNotify* n) { notify_ = n; }
  void UnBind() { notify_ = nullptr; }

  void OnConnect() override;
  void OnDisconnect() override;
  void OnMessage(char const* data, int len) override;

  void SetPingTimer();
  void OnPingTimer(Timer*);

  int state() const { return state_; }
  MonitoringAddressType address_type() const { return type_; }
  const std::string& name() const { return name_; }
  const std::string& log_name() const { return log_name_; }
  Control::ConnectorNet* connection() const { return conn_.get(); }

 private:
  std::unique_ptr<Control::ConnectorNet> conn_;
  MonitoringAddressType type_ = none;
  std::string name_;
  std::string log_name_;
  INet4::Addr addr_;
  int state_ = built;
  std::uint32_t last_receive_ = 0;
  Timer ping_timer_;
  ISnmpAgentNotify* notify_ = nullptr;
};
