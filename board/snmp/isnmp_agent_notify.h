#pragma once
// ISnmpAgentNotify: how an SNMP agent link tells its owner that it has
// connected, so that the owner can push its whole state.
#include <string>

class ISnmpAgentNotify {
 public:
  virtual ~ISnmpAgentNotify() = default;
  virtual void OnSnmpAgentConnect(std::string const& name) { (void)name; }
};
