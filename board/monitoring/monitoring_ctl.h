#pragma once
// MonitoringCtl: the control service that watches the board. On its own
// timers it reads the versions, the configuration version, the E1 framers,
// the power supply, the DIP switches, the network interfaces and the
// controller's state into the monitoring state (and its status files), and
// pushes each change to the SNMP agents. From the controller it takes the
// "display" command; to it it sends the "power" signal. Whenever an agent
// link connects, the whole state goes to the agents once.
#include "board/monitoring/monitoring_data_holder.h"
#include "board/snmp/isnmp_agent_notify.h"
#include "board/snmp/snmp_agent_ctrl.h"
#include "control/ctrl_service.h"
#include "runtime/dpc.h"
#include "runtime/packet_drops.h"
#include "runtime/timer.h"

#include <cstdint>
#include <iosfwd>

namespace IniFile {
class File;
}

class MonitoringCtl : public CtrlSrv::Service, public ISnmpAgentNotify {
 public:
  static constexpr unsigned int bkg_first_ms = 1000, bkg_period_ms = 60000;
  static constexpr unsigned int power_period_ms = 2000;
  static constexpr unsigned int controller_period_ms = 5000;

  static MonitoringCtl& instance();
  // For tests: a fresh service with its own timers (the singleton is the
  // server's).
  MonitoringCtl();
  ~MonitoringCtl() override;

  bool Configure(IniFile::File& config);

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(LGCP::Command const& cmd) override;
  void OnSnmpAgentConnect(std::string const& name) override;

  // False when the framer LEDs it asked for could not be written.
  bool OnDisplayCMD(LGCP::DisplayParams const& p);
  void OnDpcSend();
  void onBkgCheckTimer(Timer*);
  void onPowerCheckTimer(Timer*);
  void onControllerCheckTimer(Timer*);

  void doVersionsCheck();
  void doConfigCheck();
  void doFramerCheck();
  void doPowerCheck();
  void doDipCheck();
  void doNetIfCheck();
  void doControllerCheck();

  void sendPowerStatus();
  // False when the board did not take the pattern (the byte stays as it was).
  bool setFramerLed(LGCP::FramerInfo const& f);
  bool IsOpen();
  void PutHeader(std::ostream& os) const;

  MonitoringDataHolder& state() { return state_; }
  SnmpAgentCtrl& agents() { return agents_; }
  std::uint8_t led_byte() const { return led_; }
  // Display commands refused because a monitoring list was full.
  std::uint32_t refused_displays() const { return refused_.count(); }

 private:
  void sendSnmpDriverBuild();
  void sendSnmpSoftwareBuild();
  void sendSnmpPowerStatus();
  void sendSnmpControllerStatus();
  void sendSnmpGatewayDip();
  void sendSnmpGatewayConfigVersion();
  void sendSnmpBoardStatus(LGCP::BoardStatusParams const& b);
  void sendSnmpBoardStatuses();
  void sendSnmpEmPhoneStatus(LGCP::EmPhoneStatusParams const& p);
  void sendSnmpEmPhoneStatuses();
  void sendSnmpTermCnt(int owner, int item);
  void sendSnmpRouterTermCnt();
  void sendSnmpControllerTermCnt();
  void sendSnmpServerTermCnt();
  void sendSnmpBoardTermCnt();
  void sendSnmpFramerStatus(FramerDataHolder const& f);
  void sendSnmpFramerStatus();
  void sendSnmpStatusBuildVersion();
  void sendSnmpStatusFPGAVersion();
  void sendSnmpStatusBootVersion();
  void sendSnmpStatusBoardVersion();
  void sendSnmpNetIfStatus(NetIfDataHolder const& n);
  void sendSnmpNetIfStatus();
  void sendSnmpTrapReceivers();
  void sendSnmpCommands();
  void sendSnmpCommands(MON::SnmpSetCommands const& list);
  void send(int item, int index, std::string value) { agents_.Send(item, index, value); }
  bool ioctlByte(unsigned long request, std::uint8_t& value);

  int hal_ = -1;
  MonitoringDataHolder state_;
  SnmpAgentCtrl agents_;
  Timer bkg_timer_, power_timer_, controller_timer_;
  std::uint8_t led_ = 0;
  // Counted and logged as dropped packets are (its pool is not used).
  PacketDrops refused_;
  Dpc push_;
};
