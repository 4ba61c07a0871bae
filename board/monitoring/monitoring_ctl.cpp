#include "board/monitoring/monitoring_ctl.h"

#include "control/trace_ctl.h"
#include "platform/device.h"
#include "platform/hal.h"
#include "platform/paths.h"
#include "runtime/ini_file.h"
#include "runtime/version.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <iostream>
#include <limits>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char etc_dir[] = "/usr/local/etc/";
const char driver_version_file[] = "/proc/voice/version";

// Items of the monitoring table (see SnmpAgentCtrl).
enum Item {
  driverBuild = 0,
  softwareBuild = 1,
  powerStatus = 2,
  controllerStatus = 3,
  gatewayDip = 4,
  gatewayConfigVersion = 5,
  extBoardStatus = 6,
  emPhonePanelSoftVer = 9,
  routerTermCnt = 17,
  controllerTermCnt = 18,
  serverTermCnt = 19,
  extBoardTermCnt = 20,
  e1Connected = 21,
  sgBuildVersion = 27,
  sgFPGAVersion = 28,
  sgBootVersion = 29,
  sgBoardVersion = 30,
  ifDescr = 31,
  ifAdminStatus = 32,
  ifOperStatus = 33,
};

std::string udec(long v) { return std::to_string(static_cast<unsigned int>(v)); }
std::string octets(const ASN1::OCTET_STRING& o) { return std::string(o.begin(), o.end()); }

// The first line of a board file, at most 254 characters; false when the
// file does not open. The line end is not part of the version text.
bool first_line(const char* path, std::string& line) {
  FILE* f = std::fopen(platform::board_path(path).c_str(), "r");
  if (!f) return false;
  char buf[256];
  std::memset(buf, 0, sizeof buf);
  if (!std::fgets(buf, 255, f)) buf[0] = '\0';
  std::fclose(f);
  line = buf;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return true;
}

}  // namespace

MonitoringCtl& MonitoringCtl::instance() {
  static MonitoringCtl service;
  return service;
}

MonitoringCtl::MonitoringCtl() {
  bkg_timer_.set(bkg_first_ms, &MonitoringCtl::onBkgCheckTimer, this);
  power_timer_.set(power_period_ms, &MonitoringCtl::onPowerCheckTimer, this);
  controller_timer_.set(controller_period_ms, &MonitoringCtl::onControllerCheckTimer, this);
  push_.Bind(this, &MonitoringCtl::OnDpcSend);
}

MonitoringCtl::~MonitoringCtl() {
  push_.Deactivate();
  if (hal_ >= 0) {
    std::uint8_t off = 0;
    platform::dev_ioctl(hal_, hal::HAL_LED_WRITE, &off);
    platform::dev_close(hal_);
    hal_ = -1;
  }
}

bool MonitoringCtl::Configure(IniFile::File& config) {
  agents_.CreateInstances(config["snmpagent"]);
  return agents_.Bind(this);
}

void MonitoringCtl::PutHeader(std::ostream& os) const { os << "monitoring: "; }

void MonitoringCtl::OnConnect() {
  doPowerCheck();
  sendPowerStatus();
  doControllerCheck();
}

void MonitoringCtl::OnDisconnect() {
  state_.ClearControllerFiles();
  doControllerCheck();
}

bool MonitoringCtl::OnCommand(LGCP::Command const& cmd) {
  if (!cmd.display_isSelected()) return false;
  const auto& p = cmd.get_display();
  // Controller texts that are not plain names would reach outside the
  // status tree: refused before anything is stored, written or sent.
  if (!MonitoringDataHolder::IsStorable(p)) {
    Error(LGCP::ErrorCause::invalidParams);
    return true;
  }
  // A new key for a list that is full is refused the same way, and told to
  // the controller rather than answered as kept.
  if (!state_.HasRoomFor(p)) {
    refused_.Count();
    if (refused_.ShouldLog())
      std::cerr << "display: monitoring list full, new entry refused (" << refused_.count() << " refused)" << std::endl;
    Error(LGCP::ErrorCause::insufficientResources);
    return true;
  }
  // Trap receivers the agents could not be sent in one message would be
  // lost at every push while the controller believes them told.
  if (p.snmpTrapReceivers_isSelected()) {
    const auto& given = p.get_snmpTrapReceivers();
    if (!SnmpAgentCtrl::TrapsinkFits(std::list<std::string>(given.begin(), given.end()))) {
      std::cerr << "display: " << given.size() << " trap receivers do not fit one message to the agents, refused"
                << std::endl;
      Error(LGCP::ErrorCause::insufficientResources);
      return true;
    }
  }
  // Framer LEDs the board did not take are not answered as shown.
  if (OnDisplayCMD(p))
    Success();
  else
    Error(LGCP::ErrorCause::internal);
  return true;
}

bool MonitoringCtl::OnDisplayCMD(LGCP::DisplayParams const& p) {
  state_.setDisplayStatus(p);
  if (p.framer_isSelected()) return setFramerLed(p.get_framer());
  if (p.board_isSelected() && p.get_board().boardStatus_isSelected())
    sendSnmpBoardStatus(p.get_board().get_boardStatus());
  if (p.emPhone_isSelected()) {
    if (p.get_emPhone().phoneStatus_isSelected()) sendSnmpEmPhoneStatus(p.get_emPhone().get_phoneStatus());
    return true;
  }
  if (p.snmpTrapReceivers_isSelected()) {
    sendSnmpTrapReceivers();
  } else if (p.controller_isSelected()) {
    sendSnmpControllerStatus();
  } else if (p.termCounter_isSelected()) {
    sendSnmpRouterTermCnt();
    sendSnmpControllerTermCnt();
    sendSnmpServerTermCnt();
    sendSnmpBoardTermCnt();
  } else if (p.snmp_set_isSelected()) {
    sendSnmpCommands(p.get_snmp_set());
  }
  return true;
}

void MonitoringCtl::OnSnmpAgentConnect(std::string const&) { push_.Activate(); }

void MonitoringCtl::OnDpcSend() {
  sendSnmpTrapReceivers();
  sendSnmpDriverBuild();
  sendSnmpSoftwareBuild();
  sendSnmpPowerStatus();
  sendSnmpControllerStatus();
  sendSnmpGatewayDip();
  sendSnmpGatewayConfigVersion();
  sendSnmpStatusBuildVersion();
  sendSnmpStatusFPGAVersion();
  sendSnmpStatusBootVersion();
  sendSnmpStatusBoardVersion();
  sendSnmpBoardStatuses();
  sendSnmpEmPhoneStatuses();
  sendSnmpRouterTermCnt();
  sendSnmpControllerTermCnt();
  sendSnmpServerTermCnt();
  sendSnmpBoardTermCnt();
  sendSnmpFramerStatus();
  sendSnmpNetIfStatus();
  sendSnmpCommands();
  push_.Deactivate();
}

void MonitoringCtl::onBkgCheckTimer(Timer*) {
  doVersionsCheck();
  doConfigCheck();
  doFramerCheck();
  bkg_timer_.set(bkg_period_ms, &MonitoringCtl::onBkgCheckTimer, this);
}

void MonitoringCtl::onPowerCheckTimer(Timer*) {
  doPowerCheck();
  doDipCheck();
  doNetIfCheck();
  power_timer_.set(power_period_ms, &MonitoringCtl::onPowerCheckTimer, this);
}

void MonitoringCtl::onControllerCheckTimer(Timer*) {
  doControllerCheck();
  controller_timer_.set(controller_period_ms, &MonitoringCtl::onControllerCheckTimer, this);
}

void MonitoringCtl::doVersionsCheck() {
  struct Row {
    const char* path;
    const char* label;
    bool (MonitoringDataHolder::*set)(const std::string&);
    void (MonitoringCtl::*send)();
  };
  static const Row rows[] = {
      {"/var/version", "BuildVersion - ", &MonitoringDataHolder::setBuildVersion,
       &MonitoringCtl::sendSnmpStatusBuildVersion},
      {"/var/u-boot-version", "BootVersion - ", &MonitoringDataHolder::setBootVersion,
       &MonitoringCtl::sendSnmpStatusBootVersion},
      {"/var/fpga-version", "FPGAVersion - ", &MonitoringDataHolder::setFPGAVersion,
       &MonitoringCtl::sendSnmpStatusFPGAVersion},
      {"/var/board-version", "BoardVersion - ", &MonitoringDataHolder::setBoardVersion,
       &MonitoringCtl::sendSnmpStatusBoardVersion},
  };
  for (const auto& r : rows) {
    std::string text;
    if (!first_line(r.path, text)) continue;
    if (traces.monitoring.internal) std::clog << r.label << text << std::endl;
    if ((state_.*r.set)(text)) (this->*r.send)();
  }
}

void MonitoringCtl::doConfigCheck() {
  const std::string dir = platform::board_path(etc_dir);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  if (::chdir(dir.c_str()) != 0) {
    ::closedir(d);
    return;
  }
  std::uint32_t version = 0;
  unsigned long long build = 0;
  while (struct dirent* e = ::readdir(d)) {
    struct stat st;
    if (::lstat(e->d_name, &st) != 0 || S_ISDIR(st.st_mode)) continue;
    static const char prefix[] = "config.";
    static const char archive[] = "config.2save.tar.bz2";
    if (std::strncmp(e->d_name, prefix, sizeof prefix - 1) != 0) continue;
    if (std::strncmp(e->d_name, archive, sizeof archive - 1) == 0) continue;
    const std::string rest = std::string(e->d_name + sizeof prefix - 1).substr(0, 25);
    const std::string v_text = rest.substr(0, 8);
    const std::string b_text = rest.size() > 9 ? rest.substr(9, 16) : std::string();
    unsigned int v = 0;
    unsigned long long b = 0;
    if (std::sscanf(v_text.c_str(), "%x", &v) == 1) version = v;
    if (std::sscanf(b_text.c_str(), "%llx", &b) == 1) build = b;
    if (state_.setConfigVersion(version, build)) sendSnmpGatewayConfigVersion();
  }
  ::closedir(d);
}

void MonitoringCtl::doFramerCheck() {
  for (auto& f : state_.GetFramers()) {
    const std::string path = platform::board_path(f.path());
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      if (traces.monitoring.internal)
        std::clog << "Error open file: \"" << f.path() << "\" errno=\"" << std::strerror(errno) << "\"" << std::endl;
      continue;
    }
    std::vector<unsigned char> bytes(1024);
    const ssize_t n = ::read(fd, bytes.data(), bytes.size());
    const int err = errno;
    ::close(fd);
    if (n <= 0) {
      if (traces.monitoring.internal)
        std::clog << "Error read file: \"" << f.path() << "\" errno=\"" << std::strerror(err) << "\"" << std::endl;
      continue;
    }
    bytes.resize(static_cast<std::size_t>(n));
    if (f.setFramerStatus(bytes)) sendSnmpFramerStatus(f);
  }
}

bool MonitoringCtl::ioctlByte(unsigned long request, std::uint8_t& value) {
  return IsOpen() && platform::dev_ioctl(hal_, request, &value) == 0;
}

void MonitoringCtl::doPowerCheck() {
  std::uint8_t byte = 0;
  if (!ioctlByte(hal::HAL_POWER_READ, byte)) return;
  LGCP::POWERStatus status;
  if (byte == 0)
    status = LGCP::POWERStatus::both;
  else if (byte <= 3)
    status = static_cast<LGCP::POWERStatus::NamedNumber>(byte);
  else
    status = LGCP::POWERStatus::unknown;
  if (!state_.setPowerStatus(status)) return;
  if (traces.monitoring.internal) std::clog << "New power status - " << status << std::endl;
  sendPowerStatus();
  sendSnmpPowerStatus();
}

void MonitoringCtl::doDipCheck() {
  std::uint8_t byte = 0;
  if (!ioctlByte(hal::HAL_DIP_READ, byte)) return;
  if (!state_.setDipValue(byte)) return;
  if (traces.monitoring.internal) std::clog << "New dip - " << static_cast<char>(byte) << std::endl;
  sendSnmpGatewayDip();
}

void MonitoringCtl::doNetIfCheck() {
  for (auto& n : state_.GetNetIfs())
    if (n.updateNetIf()) sendSnmpNetIfStatus(n);
}

void MonitoringCtl::doControllerCheck() {
  bool connected = false;
  const bool known = CheckServerConnection(connected);
  LGCP::ControllerInfo info;
  info.set_host().set_iaddr(state_.getSelfHostAddress().GetStrAddr());
  if (!known || !connected)
    info.set_status(state_.updateControllerPID() > 0 ? HSP::ControllerStatus::notconnection
                                                     : HSP::ControllerStatus::notrun);
  else
    info.set_status(state_.getSelfControllerStatus());
  if (state_.setControllerStatus(info)) sendSnmpControllerStatus();
}

void MonitoringCtl::sendPowerStatus() {
  LGCP::Signal sig;
  sig.select_power(state_.getPowerStatus());
  SendSignal(sig);
}

bool MonitoringCtl::setFramerLed(LGCP::FramerInfo const& f) {
  if (!IsOpen()) return false;
  const int n = f.get_e1().getValue();
  if (n < 0 || n > 3) return false;
  // Worked on a copy: a pattern the board refused must not ride along with
  // the next write, which would light LEDs nobody was told of.
  std::uint8_t led = led_;
  const std::uint8_t a = static_cast<std::uint8_t>(1u << (2 * n));
  const std::uint8_t b = static_cast<std::uint8_t>(1u << (2 * n + 1));
  const auto& info = f.get_info();
  if (info.link_isSelected()) {
    if (info.get_link())
      led &= static_cast<std::uint8_t>(~a);
    else
      led |= a;
  } else if (info.line_isSelected()) {
    if (info.get_line()) {
      if (!(led & b)) led |= a;
      led |= b;
    } else {
      led &= static_cast<std::uint8_t>(~(a | b));
    }
  }
  const std::uint8_t written = led;
  if (platform::dev_ioctl(hal_, hal::HAL_LED_WRITE, &led) != 0) return false;
  led_ = written;
  return true;
}

bool MonitoringCtl::IsOpen() {
  if (hal_ >= 0) return true;
  led_ = 0;
  hal_ = platform::dev_open("/dev/hal", O_RDWR);
  if (hal_ >= 0) {
    platform::dev_ioctl(hal_, hal::HAL_LED_WRITE, &led_);
    ::fcntl(hal_, F_SETFD, FD_CLOEXEC);
  }
  return hal_ >= 0;
}

void MonitoringCtl::sendSnmpDriverBuild() {
  FILE* f = std::fopen(platform::board_path(driver_version_file).c_str(), "r");
  if (!f) return;
  char buf[128];
  std::memset(buf, 0, sizeof buf);
  if (!std::fgets(buf, 127, f) || buf[0] == '\0') {
    std::fclose(f);
    return;
  }
  // Pieces between blanks (runs count as one), each stripped of white space.
  std::vector<std::string> pieces;
  std::istringstream words(buf);
  std::string w;
  while (std::getline(words, w, ' ')) {
    const auto first = w.find_first_not_of(" \t\n\r\f\v");
    if (first == std::string::npos) continue;
    pieces.push_back(w.substr(first, w.find_last_not_of(" \t\n\r\f\v") - first + 1));
  }
  std::string text = "none";
  if (pieces.size() >= 4)
    text = pieces[1] + " [" + pieces[2] + " " + pieces[3] + "]";
  else if (pieces.size() == 3)
    text = pieces[1] + " [" + pieces[2] + "]";
  send(driverBuild, 0, text);
  std::fclose(f);
}

void MonitoringCtl::sendSnmpSoftwareBuild() { send(softwareBuild, 0, Version::current.tag()); }
void MonitoringCtl::sendSnmpPowerStatus() { send(powerStatus, 0, udec(state_.getPowerStatus().asInt())); }
void MonitoringCtl::sendSnmpControllerStatus() {
  send(controllerStatus, 0, udec(state_.getSelfControllerStatus().asInt()));
}
void MonitoringCtl::sendSnmpGatewayDip() { send(gatewayDip, 0, udec(state_.getDipValue())); }
void MonitoringCtl::sendSnmpGatewayConfigVersion() {
  send(gatewayConfigVersion, 0, std::to_string(state_.getConfigVersion()));
}

void MonitoringCtl::sendSnmpBoardStatus(LGCP::BoardStatusParams const& b) {
  const int index = b.get_position().getValue();
  send(extBoardStatus, index, std::to_string(b.get_status().asInt()));
  send(extBoardStatus + 1, index, octets(b.get_version()));
  send(extBoardStatus + 2, index, std::to_string(b.get_type().asInt()));
}

void MonitoringCtl::sendSnmpBoardStatuses() {
  for (const auto& b : state_.GetBoardStatus()) sendSnmpBoardStatus(b);
}

void MonitoringCtl::sendSnmpEmPhoneStatus(LGCP::EmPhoneStatusParams const& p) {
  const int id = p.get_id().getValue();
  // The row is one past the id: the largest id has no row to go to.
  if (id == std::numeric_limits<int>::max()) return;
  const int index = id + 1;
  send(emPhonePanelSoftVer, index, octets(p.get_panelSV()));
  send(emPhonePanelSoftVer + 1, index, octets(p.get_ctrlSV()));
  send(emPhonePanelSoftVer + 2, index, octets(p.get_fpgaSV()));
  send(emPhonePanelSoftVer + 3, index, std::to_string(p.get_status().asInt()));
  send(emPhonePanelSoftVer + 4, index, std::to_string(p.get_powerStatus().asInt()));
  send(emPhonePanelSoftVer + 5, index, std::to_string(p.get_mode().asInt()));
  send(emPhonePanelSoftVer + 6, index, std::to_string(p.get_hookStatus().asInt()));
  send(emPhonePanelSoftVer + 7, index, std::to_string(p.get_baseStatus().asInt()));
}

void MonitoringCtl::sendSnmpEmPhoneStatuses() {
  for (const auto& p : state_.GetEmPhoneStatus()) sendSnmpEmPhoneStatus(p);
}

void MonitoringCtl::sendSnmpTermCnt(int owner, int item) {
  for (const auto& c : state_.GetTermCounters()) {
    if (c.get_owner().asInt() != owner) continue;
    if (owner == LGCP::TermCounterOwner::extBoard) {
      if (c.ownerId_isPresent()) send(item, c.get_ownerId().getValue(), udec(c.get_cnt().getValue()));
    } else {
      send(item, 0, udec(c.get_cnt().getValue()));
    }
  }
}

void MonitoringCtl::sendSnmpRouterTermCnt() { sendSnmpTermCnt(LGCP::TermCounterOwner::router, routerTermCnt); }
void MonitoringCtl::sendSnmpControllerTermCnt() {
  sendSnmpTermCnt(LGCP::TermCounterOwner::controller, controllerTermCnt);
}
void MonitoringCtl::sendSnmpServerTermCnt() { sendSnmpTermCnt(LGCP::TermCounterOwner::server, serverTermCnt); }
void MonitoringCtl::sendSnmpBoardTermCnt() { sendSnmpTermCnt(LGCP::TermCounterOwner::extBoard, extBoardTermCnt); }

void MonitoringCtl::sendSnmpFramerStatus(FramerDataHolder const& f) {
  const int index = f.number();
  send(e1Connected, index, std::to_string(f.connected() ? 1 : 0));
  send(e1Connected + 1, index, f.state());
  send(e1Connected + 2, index, std::to_string(f.lossOfSignal() ? 1 : 0));
  send(e1Connected + 3, index, std::to_string(f.lossOfFrameAlignment() ? 1 : 0));
  send(e1Connected + 4, index, std::to_string(f.negativeSlips()));
  send(e1Connected + 5, index, std::to_string(f.positiveSlips()));
}

void MonitoringCtl::sendSnmpFramerStatus() {
  for (const auto& f : state_.GetFramers()) sendSnmpFramerStatus(f);
}

void MonitoringCtl::sendSnmpStatusBuildVersion() { send(sgBuildVersion, 0, state_.getBuildVersion()); }
void MonitoringCtl::sendSnmpStatusFPGAVersion() { send(sgFPGAVersion, 0, state_.getFPGAVersion()); }
void MonitoringCtl::sendSnmpStatusBootVersion() { send(sgBootVersion, 0, state_.getBootVersion()); }
void MonitoringCtl::sendSnmpStatusBoardVersion() { send(sgBoardVersion, 0, state_.getBoardVersion()); }

void MonitoringCtl::sendSnmpNetIfStatus(NetIfDataHolder const& n) {
  send(ifOperStatus, n.index(), std::to_string(n.operStatus()));
  send(ifAdminStatus, n.index(), std::to_string(n.adminStatus()));
  send(ifDescr, n.index(), n.name());
}

void MonitoringCtl::sendSnmpNetIfStatus() {
  for (const auto& n : state_.GetNetIfs()) sendSnmpNetIfStatus(n);
}

void MonitoringCtl::sendSnmpTrapReceivers() { agents_.SendTrapsink(state_.GetTrapHosts()); }
void MonitoringCtl::sendSnmpCommands() { agents_.Send(state_.GetSnmpCommands()); }
void MonitoringCtl::sendSnmpCommands(MON::SnmpSetCommands const& list) { agents_.Send(list); }
