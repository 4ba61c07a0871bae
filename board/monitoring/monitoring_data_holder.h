#pragma once
// MonitoringDataHolder: the monitoring state of the board. It keeps the last
// known value of everything the monitoring service watches or the
// controller pushes, tells whether a new value is a change, and mirrors the
// values into small status files under "/var/monitoring/", which other
// programs of the board read.
#include "board/monitoring/framer_data_holder.h"
#include "board/monitoring/net_if_data_holder.h"
#include "runtime/inet4_addr.h"
#include "schema/hsp/HSP.h"
#include "schema/lgcp/LGCP.h"
#include "schema/mon/MON.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <list>
#include <set>
#include <string>

// The host's address text; the port is not used.
std::string host2str(TERM::HostAddress const& host);

class MonitoringDataHolder {
 public:
  // The one-word argument of a saver: the value to write, or a count.
  union SaveStatusArg {
    const void* ptr;
    long count;
  };
  typedef void (MonitoringDataHolder::*Saver)(FILE*, SaveStatusArg const*);

  MonitoringDataHolder();
  MonitoringDataHolder(const MonitoringDataHolder&) = delete;
  MonitoringDataHolder& operator=(const MonitoringDataHolder&) = delete;

  bool setDipValue(int v);
  bool setPowerStatus(LGCP::POWERStatus const& s);
  bool setConfigVersion(unsigned long version, unsigned long long build);
  bool setBuildVersion(const std::string& v) { return setText(build_version_, v); }
  bool setFPGAVersion(const std::string& v) { return setText(fpga_version_, v); }
  bool setBootVersion(const std::string& v) { return setText(boot_version_, v); }
  bool setBoardVersion(const std::string& v) { return setText(board_version_, v); }

  // Controller texts become names in the status tree: the section and name
  // of a free-form value must each be one plain path component, and a
  // controller's host the dotted address that names its directory. False
  // when the command names anything else, or holds free-form values that
  // could not be encoded for the agents.
  static bool IsPathComponent(const std::string& text);
  // A first-level name of the board's own status files ("dip", "board3",
  // ...), or the name one is written under before it takes its place.
  static bool IsStatusFileName(const std::string& text);
  static bool IsControllerAddress(const std::string& text);
  static bool IsStorable(LGCP::DisplayParams const& p);

  // The controller adds an entry, and a status file, with every new key it
  // names: a board position, a phone id, a counter owner, a controller
  // address, a free-form value's id. So that it cannot make the gateway
  // keep without end, a list takes no new key once it holds this many; the
  // keys it has go on being updated. The free-form values go to an agent
  // that connects in one message, whose list a peer decodes up to 128 long.
  static constexpr std::size_t max_entries = 128;
  static constexpr std::size_t max_values = 128;
  // False when p names a new key of a list that is full.
  bool HasRoomFor(LGCP::DisplayParams const& p) const;

  void setDisplayStatus(LGCP::DisplayParams const& p);
  void setBoardStatus(LGCP::BoardInfo const& b);
  void setEmPhoneInfo(LGCP::EmPhoneInfo const& e);
  void setTermCounter(LGCP::TermCounter const& c);
  // True when the gateway's own entry changed.
  bool setControllerStatus(LGCP::ControllerInfo const& info);
  void setSnmpTrapReceivers(LGCP::DisplayParams::snmpTrapReceivers::value_type const& list);
  void setSnmpCommands(MON::SnmpSetCommands const& list);
  void setFramerStatusChanged(LGCP::FramerInfo const&) {}
  int updateControllerPID();

  void ClearMonitorFiles();
  void ClearControllerFiles();
  // False when the directory neither opens nor can be made.
  bool CheckForMonDir(char const* path);
  // False when the controller's directory, or for the own address the
  // "self" link to it, is not in place.
  bool CheckForMonControllerDir(INet4::Addr const& addr);
  // False when the file was not written whole (the failure is logged).
  bool SaveStatusToFile(const std::string& path, Saver saver, SaveStatusArg const* arg, bool temporary);

  void DipStatusSaver(FILE* f, SaveStatusArg const* arg);
  void PowerStatusSaver(FILE* f, SaveStatusArg const* arg);
  void ConfigVersionSaver(FILE* f, SaveStatusArg const* arg);
  void BoardStatusSaver(FILE* f, SaveStatusArg const* arg);
  void PhoneStatusSaver(FILE* f, SaveStatusArg const* arg);
  void TermCounterSaver(FILE* f, SaveStatusArg const* arg);
  void ControllerStatusSaver(FILE* f, SaveStatusArg const* arg);
  void StringParamSaver(FILE* f, SaveStatusArg const* arg);
  void BoardChannelStatusSaver(FILE* f, SaveStatusArg const* arg);

  const INet4::Addr& getSelfHostAddress() const { return self_addr_; }
  HSP::ControllerStatus const& getSelfControllerStatus() const { return self_status_; }
  LGCP::POWERStatus const& getPowerStatus() const { return power_; }
  int getDipValue() const { return dip_; }
  std::uint32_t getConfigVersion() const { return config_version_; }
  std::uint64_t getConfigBuild() const { return config_build_; }
  const std::string& getBuildVersion() const { return build_version_; }
  const std::string& getFPGAVersion() const { return fpga_version_; }
  const std::string& getBootVersion() const { return boot_version_; }
  const std::string& getBoardVersion() const { return board_version_; }
  const std::list<LGCP::BoardStatusParams>& GetBoardStatus() const { return boards_; }
  const std::list<LGCP::EmPhoneStatusParams>& GetEmPhoneStatus() const { return phones_; }
  const std::list<LGCP::TermCounter>& GetTermCounters() const { return counters_; }
  const std::list<std::string>& GetTrapHosts() const { return trap_hosts_; }
  MON::SnmpSetCommands const& GetSnmpCommands() const { return snmp_commands_; }
  std::list<FramerDataHolder>& GetFramers() { return framers_; }
  std::list<NetIfDataHolder>& GetNetIfs() { return netifs_; }
  const std::list<LGCP::ControllerInfo>& GetControllers() const { return controllers_; }

 private:
  bool setText(std::string& field, const std::string& v);
  bool KnownBoard(LGCP::BoardStatusParams const& p) const;
  bool KnownPhone(LGCP::EmPhoneStatusParams const& p) const;
  // The stored entry that a new value for this key replaces; null when none.
  const LGCP::TermCounter* FindCounter(LGCP::TermCounter const& c) const;
  const LGCP::ControllerInfo* FindController(TERM::HostAddress const& host) const;
  const MON::SnmpSetCommand* FindValue(MON::SnmpSetCommand const& c) const;

  INet4::Addr self_addr_;
  HSP::ControllerStatus self_status_;
  int controller_pid_ = -1;
  std::list<LGCP::ControllerInfo> controllers_;
  LGCP::POWERStatus power_;
  std::list<LGCP::BoardStatusParams> boards_;
  std::list<LGCP::EmPhoneStatusParams> phones_;
  std::list<LGCP::TermCounter> counters_;
  std::list<std::string> trap_hosts_;
  int dip_ = -1;
  std::uint64_t config_build_ = ~std::uint64_t(0);
  std::uint32_t config_version_ = ~std::uint32_t(0);
  std::string build_version_, fpga_version_, boot_version_, board_version_;
  MON::SnmpSetCommands snmp_commands_;
  std::string last_value_;
  std::list<FramerDataHolder> framers_;
  std::list<NetIfDataHolder> netifs_;
  // Files whose last write failed, written again at the next call with the
  // same value: the DIP, power and configuration version files, and the
  // controllers' (by dotted address).
  bool dip_unwritten_ = false;
  bool power_unwritten_ = false;
  bool config_unwritten_ = false;
  std::set<std::string> controllers_unwritten_;
  bool retrying_ = false;  // writing such a file again: failures not logged
};
