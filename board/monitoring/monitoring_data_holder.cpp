#include "board/monitoring/monitoring_data_holder.h"

#include "asn1/asn1.h"
#include "control/trace_ctl.h"
#include "platform/netif.h"
#include "platform/paths.h"
#include "runtime/net.h"
#include "runtime/proc.h"

#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <iostream>
#include <iterator>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char mon_dir[] = "/var/monitoring/";
const char term_cnts_dir[] = "/var/monitoring/term_cnts/";
const char controller_dir[] = "/var/monitoring/controller/";
const char framer_dir[] = "/proc/driver/hdlc/peb22554/";
// The status tree must be readable by the board's other programs.
const mode_t dir_mode = 0755;
// Readers may be anyone; writers only the server, whatever umask it was
// started with.
const mode_t file_mode = 0644;
const int packet_protocol = 255;

bool in_private_range(const INet4::Addr& a) {
  const auto* sin = reinterpret_cast<const sockaddr_in*>(static_cast<const sockaddr*>(a));
  const std::uint32_t ip = ntohl(sin->sin_addr.s_addr);
  return (ip >> 24) == 10 || (ip >> 20) == ((172u << 4) | 1u) || (ip >> 16) == ((192u << 8) | 168u);
}

std::string octets(const ASN1::OCTET_STRING& o) { return std::string(o.begin(), o.end()); }

}  // namespace

std::string host2str(TERM::HostAddress const& host) { return host.get_iaddr(); }

bool MonitoringDataHolder::IsPathComponent(const std::string& text) {
  return !text.empty() && text != "." && text != ".." && text.find('/') == std::string::npos &&
         text.find('\0') == std::string::npos;
}

bool MonitoringDataHolder::IsStatusFileName(const std::string& text) {
  std::string base = text;
  if (base.size() > 4 && base.compare(base.size() - 4, 4, "_tmp") == 0) base.resize(base.size() - 4);
  if (base == "dip" || base == "powerstatus" || base == "config_version") return true;
  // "board" and "emphone" with a number as the display commands write it.
  for (const std::string head : {"board", "emphone"}) {
    if (base.compare(0, head.size(), head) != 0 || base.size() == head.size()) continue;
    const std::string number = base.substr(head.size());
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(number.c_str(), &end, 10);
    if (errno == 0 && *end == '\0' && n >= INT_MIN && n <= INT_MAX && std::to_string(n) == number) return true;
  }
  return false;
}

bool MonitoringDataHolder::IsControllerAddress(const std::string& text) {
  // "self" (the link to the gateway's own directory) would overwrite the
  // own status; a name, a port or a short or octal form names a directory
  // other than the one made for it, and no file is ever written.
  INet4::Addr a;
  if (text.find(':') != std::string::npos || !INet4::Addr::Parse(text, a)) return false;
  return text == std::string(a.GetStrAddr());
}

bool MonitoringDataHolder::IsStorable(LGCP::DisplayParams const& p) {
  if (p.controller_isSelected()) return IsControllerAddress(host2str(p.get_controller().get_host()));
  if (p.snmp_set_isSelected()) {
    // The values go to the agents again at every push. One with an id
    // alternative or an extension this side does not know decodes but does
    // not encode, and would take every stored value down with it.
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    std::vector<char> out;
    if (!ASN1::encode(p.get_snmp_set(), &env, std::back_inserter(out))) return false;
    for (const auto& c : p.get_snmp_set().get_commands()) {
      if (!c.get_id().name_isSelected()) continue;
      const auto& n = c.get_id().get_name();
      if (!IsPathComponent(n.get_section()) || !IsPathComponent(n.get_name())) return false;
      // A value's directory under the name of a status file would keep
      // that file from being written for good: the directory is never
      // emptied, and outlives a restart.
      if (IsStatusFileName(n.get_section())) return false;
    }
  }
  return true;
}

MonitoringDataHolder::MonitoringDataHolder() {
  ClearMonitorFiles();
  power_ = LGCP::POWERStatus::unknown;
  self_status_ = HSP::ControllerStatus::unknown;

  std::list<INet4::Addr> addrs;
  Net::ifconfig(addrs, Net::if_private);
  self_addr_ = std::string("127.0.0.1");
  for (const auto& a : addrs) {
    if (in_private_range(a)) {
      self_addr_ = a;
      break;
    }
  }
  self_addr_.port(0);

  for (int n = 0; n < 4; ++n) {
    const std::string path = framer_dir + std::to_string(n);
    struct stat st;
    if (::stat(platform::board_path(path).c_str(), &st) == 0) framers_.emplace_back(n + 1, path);
  }

  const int fd = platform::packet_socket(packet_protocol);
  if (fd >= 1) {
    for (int index = 0; index <= 15; ++index) {
      struct ifreq req;
      std::memset(&req, 0, sizeof req);
      req.ifr_ifindex = index;
      if (platform::netif_ioctl(fd, platform::NETIF_GET_NAME, &req) == 0) {
        char name[IF_NAMESIZE + 1] = {0};
        std::memcpy(name, req.ifr_name, IF_NAMESIZE);
        netifs_.emplace_back(index, name);
      }
    }
    platform::netif_close(fd);
  }

  CheckForMonDir(mon_dir);
  CheckForMonDir(term_cnts_dir);
}

bool MonitoringDataHolder::setText(std::string& field, const std::string& v) {
  if (field == v) return false;
  field = v;
  return true;
}

bool MonitoringDataHolder::KnownBoard(LGCP::BoardStatusParams const& p) const {
  for (const auto& b : boards_)
    if (b.get_position().getValue() == p.get_position().getValue()) return true;
  return false;
}

bool MonitoringDataHolder::KnownPhone(LGCP::EmPhoneStatusParams const& p) const {
  for (const auto& e : phones_)
    if (e.get_id().getValue() == p.get_id().getValue()) return true;
  return false;
}

const LGCP::TermCounter* MonitoringDataHolder::FindCounter(LGCP::TermCounter const& c) const {
  // An extension board's counter is the row of its ownerId: one without an
  // id, which no row shows, must not take in the counts of the boards named
  // after it. The other owners have one file and one item each, with no id:
  // their counter is one row whatever ids come with it, or an older row sent
  // to the agents after the current one would undo its count.
  const bool board = c.get_owner().asInt() == LGCP::TermCounterOwner::extBoard;
  const bool keyed = board && c.ownerId_isPresent();
  for (const auto& stored : counters_) {
    if (stored.get_owner().asInt() != c.get_owner().asInt()) continue;
    if (!board) return &stored;
    if (!stored.ownerId_isPresent()) {
      if (!keyed) return &stored;
    } else if (c.ownerId_isPresent() && stored.get_ownerId().getValue() == c.get_ownerId().getValue()) {
      return &stored;
    }
  }
  return nullptr;
}

const LGCP::ControllerInfo* MonitoringDataHolder::FindController(TERM::HostAddress const& host) const {
  for (const auto& c : controllers_) {
    const auto& h = c.get_host();
    if (std::string(h.get_iaddr()) == std::string(host.get_iaddr()) &&
        h.get_port().getValue() == host.get_port().getValue())
      return &c;
  }
  return nullptr;
}

namespace {

// The texts of a string value, compared without a copy: a list of values
// is looked through for every value that comes.
const std::string& text(const std::string& s) { return s; }

bool same_id(MON::SnmpSetCommand const& a, MON::SnmpSetCommand const& b) {
  const auto& id = a.get_id();
  const auto& eid = b.get_id();
  if (id.oid_isSelected() && eid.oid_isSelected()) return text(id.get_oid()) == text(eid.get_oid());
  if (id.name_isSelected() && eid.name_isSelected())
    return id.get_name().get_index().getValue() == eid.get_name().get_index().getValue() &&
           text(id.get_name().get_section()) == text(eid.get_name().get_section()) &&
           text(id.get_name().get_name()) == text(eid.get_name().get_name());
  return false;
}

// One text per id, equal exactly when same_id holds (the texts of a name
// hold no NUL: IsStorable refuses them).
std::string id_key(MON::SnmpSetCommand const& c) {
  const auto& id = c.get_id();
  if (id.oid_isSelected()) return "o" + std::string(id.get_oid());
  if (!id.name_isSelected()) return std::string();
  const auto& n = id.get_name();
  return "n" + std::string(n.get_section()) + '\0' + std::string(n.get_name()) + '\0' +
         std::to_string(n.get_index().getValue());
}

}  // namespace

const MON::SnmpSetCommand* MonitoringDataHolder::FindValue(MON::SnmpSetCommand const& c) const {
  for (const auto& e : snmp_commands_.get_commands())
    if (same_id(c, e)) return &e;
  return nullptr;
}

bool MonitoringDataHolder::HasRoomFor(LGCP::DisplayParams const& p) const {
  if (p.board_isSelected() && p.get_board().boardStatus_isSelected())
    return boards_.size() < max_entries || KnownBoard(p.get_board().get_boardStatus());
  if (p.emPhone_isSelected() && p.get_emPhone().phoneStatus_isSelected())
    return phones_.size() < max_entries || KnownPhone(p.get_emPhone().get_phoneStatus());
  if (p.termCounter_isSelected()) return counters_.size() < max_entries || FindCounter(p.get_termCounter());
  if (p.controller_isSelected())
    return controllers_.size() < max_entries || FindController(p.get_controller().get_host());
  if (p.snmp_set_isSelected()) {
    std::set<std::string> added;
    const std::size_t stored = snmp_commands_.get_commands().size();
    for (const auto& c : p.get_snmp_set().get_commands()) {
      if (FindValue(c)) continue;
      added.insert(id_key(c));
      if (stored + added.size() > max_values) return false;
    }
  }
  return true;
}

// These files are written when their value changes. One that could not be
// written (a full or read-only disk) is written again at the next check even
// though the value has not changed since: else the readers would see the old
// value for the rest of the run. Only a change is reported, and only the
// failure to write a change is logged: not one line per check while the
// disk stays full.
bool MonitoringDataHolder::setDipValue(int v) {
  const bool changed = v != dip_;
  if (!changed && !dip_unwritten_) return false;
  dip_ = v;
  SaveStatusArg arg;
  arg.count = v;
  retrying_ = !changed;
  dip_unwritten_ = !SaveStatusToFile(std::string(mon_dir) + "dip", &MonitoringDataHolder::DipStatusSaver, &arg, false);
  retrying_ = false;
  return changed;
}

bool MonitoringDataHolder::setPowerStatus(LGCP::POWERStatus const& s) {
  const bool changed = s.asInt() != power_.asInt();
  if (!changed && !power_unwritten_) return false;
  power_ = s;
  SaveStatusArg arg;
  arg.ptr = &power_;
  retrying_ = !changed;
  power_unwritten_ = !SaveStatusToFile(std::string(mon_dir) + "powerstatus", &MonitoringDataHolder::PowerStatusSaver,
                                       &arg, false);
  retrying_ = false;
  return changed;
}

bool MonitoringDataHolder::setConfigVersion(unsigned long version, unsigned long long build) {
  const auto v = static_cast<std::uint32_t>(version);
  const auto b = static_cast<std::uint64_t>(build);
  const bool changed = v != config_version_ || b != config_build_;
  if (!changed && !config_unwritten_) return false;
  config_version_ = v;
  config_build_ = b;
  retrying_ = !changed;
  config_unwritten_ = !SaveStatusToFile(std::string(mon_dir) + "config_version",
                                        &MonitoringDataHolder::ConfigVersionSaver, nullptr, false);
  retrying_ = false;
  return changed;
}

void MonitoringDataHolder::setDisplayStatus(LGCP::DisplayParams const& p) {
  if (p.emPhone_isSelected())
    setEmPhoneInfo(p.get_emPhone());
  else if (p.board_isSelected())
    setBoardStatus(p.get_board());
  else if (p.snmpTrapReceivers_isSelected())
    setSnmpTrapReceivers(p.get_snmpTrapReceivers());
  else if (p.framer_isSelected())
    setFramerStatusChanged(p.get_framer());
  else if (p.controller_isSelected())
    setControllerStatus(p.get_controller());
  else if (p.termCounter_isSelected())
    setTermCounter(p.get_termCounter());
  else if (p.snmp_set_isSelected())
    setSnmpCommands(p.get_snmp_set());
}

void MonitoringDataHolder::setBoardStatus(LGCP::BoardInfo const& b) {
  if (!b.boardStatus_isSelected()) return;
  const auto& p = b.get_boardStatus();
  if (!KnownBoard(p) && boards_.size() >= max_entries) return;
  SaveStatusArg arg;
  arg.ptr = &p;
  SaveStatusToFile(std::string(mon_dir) + "board" + std::to_string(p.get_position().getValue()),
                   &MonitoringDataHolder::BoardStatusSaver, &arg, false);
}

void MonitoringDataHolder::setEmPhoneInfo(LGCP::EmPhoneInfo const& e) {
  if (!e.phoneStatus_isSelected()) return;
  const auto& p = e.get_phoneStatus();
  if (!KnownPhone(p) && phones_.size() >= max_entries) return;
  SaveStatusArg arg;
  arg.ptr = &p;
  SaveStatusToFile(std::string(mon_dir) + "emphone" + std::to_string(p.get_id().getValue()),
                   &MonitoringDataHolder::PhoneStatusSaver, &arg, false);
}

void MonitoringDataHolder::setTermCounter(LGCP::TermCounter const& c) {
  if (!FindCounter(c) && counters_.size() >= max_entries) return;
  std::string path;
  switch (c.get_owner().asInt()) {
    case LGCP::TermCounterOwner::controller:
      path = std::string(term_cnts_dir) + "controller";
      break;
    case LGCP::TermCounterOwner::router:
      path = std::string(term_cnts_dir) + "router";
      break;
    case LGCP::TermCounterOwner::server:
      path = std::string(term_cnts_dir) + "server";
      break;
    case LGCP::TermCounterOwner::extBoard:
      if (c.ownerId_isPresent()) path = std::string(term_cnts_dir) + "board" + std::to_string(c.get_ownerId().getValue());
      break;
    default:
      break;
  }
  if (!path.empty()) {
    SaveStatusArg arg;
    arg.count = c.get_cnt().getValue();
    SaveStatusToFile(path, &MonitoringDataHolder::TermCounterSaver, &arg, false);
  }
  if (const LGCP::TermCounter* stored = FindCounter(c))
    const_cast<LGCP::TermCounter*>(stored)->set_cnt(c.get_cnt());
  else
    counters_.push_back(c);
}

bool MonitoringDataHolder::setControllerStatus(LGCP::ControllerInfo const& info) {
  const std::string addr = host2str(info.get_host());
  const bool own = addr == self_addr_.GetStrAddr();
  if (!FindController(info.get_host()) && controllers_.size() >= max_entries) return false;
  if (own) self_status_ = info.get_status();
  bool changed = true;
  if (const LGCP::ControllerInfo* found = FindController(info.get_host())) {
    auto* c = const_cast<LGCP::ControllerInfo*>(found);
    changed = c->get_status().asInt() != info.get_status().asInt();
    c->set_status(info.get_status());
  } else {
    controllers_.push_back(info);
  }
  // A status file (or the own "self" link) that could not be written is
  // written again when the same status comes again, as the files above.
  const bool unwritten = controllers_unwritten_.count(addr) != 0;
  if (!changed && !unwritten) return false;
  if (changed && traces.monitoring.internal)
    std::clog << "New controller " << addr << " status - " << info.get_status() << std::endl;
  INet4::Addr a;
  a.Assign(addr);
  retrying_ = !changed;
  const bool dir = CheckForMonControllerDir(a);
  SaveStatusArg arg;
  arg.count = info.get_status().asInt();
  const bool written = SaveStatusToFile(std::string(controller_dir) + addr + "/status",
                                        &MonitoringDataHolder::ControllerStatusSaver, &arg, false);
  retrying_ = false;
  if (dir && written)
    controllers_unwritten_.erase(addr);
  else
    controllers_unwritten_.insert(addr);
  return changed && own;
}

void MonitoringDataHolder::setSnmpTrapReceivers(LGCP::DisplayParams::snmpTrapReceivers::value_type const& list) {
  trap_hosts_.clear();
  for (const auto& t : list) trap_hosts_.push_back(t);
  if (traces.monitoring.internal) std::clog << "Trap receivers:" << list << std::endl;
}

void MonitoringDataHolder::setSnmpCommands(MON::SnmpSetCommands const& list) {
  auto& stored = snmp_commands_.ref_commands();
  for (const auto& c : list.get_commands()) {
    const auto& id = c.get_id();
    if (const MON::SnmpSetCommand* e = FindValue(c))
      const_cast<MON::SnmpSetCommand*>(e)->set_value(c.get_value());
    else if (stored.size() >= max_values)
      continue;  // a new key of a full list: neither kept nor written
    else
      stored.push_back(c);
    if (!id.name_isSelected()) continue;
    const auto& n = id.get_name();
    const std::string section = std::string(mon_dir) + std::string(n.get_section());
    const std::string index = section + "/" + std::to_string(n.get_index().getValue());
    CheckForMonDir(section.c_str());
    CheckForMonDir(index.c_str());
    last_value_ = c.get_value();
    SaveStatusArg arg;
    arg.ptr = &last_value_;
    SaveStatusToFile(index + "/" + std::string(n.get_name()), &MonitoringDataHolder::StringParamSaver, &arg, false);
  }
}

int MonitoringDataHolder::updateControllerPID() {
  controller_pid_ = find_proc_by_name("controller", controller_pid_);
  return controller_pid_;
}

void MonitoringDataHolder::ClearMonitorFiles() {
  const std::string dir = platform::board_path(mon_dir);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  while (struct dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    std::remove((dir + e->d_name).c_str());
  }
  ::closedir(d);
}

void MonitoringDataHolder::ClearControllerFiles() {
  const std::string dir = platform::board_path(mon_dir);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  while (struct dirent* e = ::readdir(d)) {
    if (std::strncmp(e->d_name, "board", 5) != 0) continue;
    if (traces.monitoring.internal) std::clog << "remove monitoring info: " << e->d_name << std::endl;
    std::remove((dir + e->d_name).c_str());
  }
  ::closedir(d);
  boards_.clear();
}

bool MonitoringDataHolder::CheckForMonDir(char const* path) {
  const std::string p = platform::board_path(path);
  if (DIR* d = ::opendir(p.c_str())) {
    ::closedir(d);
    return true;
  }
  if (::mkdir(p.c_str(), dir_mode) != 0) {
    if (!retrying_) std::clog << "FAIL create monitoring catalog <" << path << "> with code=" << errno << std::endl;
    return false;
  }
  return true;
}

bool MonitoringDataHolder::CheckForMonControllerDir(INet4::Addr const& addr) {
  if (!CheckForMonDir(controller_dir)) return false;
  std::string dir = std::string(controller_dir) + addr.GetStrAddr();
  if (dir.size() > 254) dir.resize(254);
  const std::string p = platform::board_path(dir);
  // Both texts come from one shared buffer: each is copied before the
  // other is asked for, or the comparison would see one text twice.
  const std::string text = addr.GetStrAddr();
  const std::string own = self_addr_.GetStrAddr();
  const std::string self = platform::board_path(std::string(controller_dir) + "self");
  if (DIR* d = ::opendir(p.c_str())) {
    ::closedir(d);
    // The directory may have been made by a call whose link failed (a full
    // disk): the link is made when it is not the one this directory needs.
    if (text != own) return true;
    char target[PATH_MAX];
    const ssize_t n = ::readlink(self.c_str(), target, sizeof target);
    if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == p) return true;
  } else if (::mkdir(p.c_str(), dir_mode) != 0) {
    if (!retrying_) std::clog << "FAIL create monitoring catalog <" << dir << "> with code=" << errno << std::endl;
    return false;
  }
  if (text != own) return true;
  // The link names the board path; on the simulator the target is the
  // directory under the board root, so readers there resolve it too.
  // A link left by a run with another own address would name the wrong
  // controller: the new link is made aside and renamed over it.
  const std::string aside = self + "_tmp";
  ::unlink(aside.c_str());
  if (::symlink(p.c_str(), aside.c_str()) != 0 || ::rename(aside.c_str(), self.c_str()) != 0) {
    const int error = errno;
    ::unlink(aside.c_str());
    if (!retrying_) std::clog << "FAIL create symlink to monitoring catalog <" << dir << "> with code=" << error << std::endl;
    return false;
  }
  return true;
}

bool MonitoringDataHolder::SaveStatusToFile(const std::string& path, Saver saver, SaveStatusArg const* arg,
                                            bool temporary) {
  // The agents and scripts that read these files may open one at any time:
  // the content is written whole under the "_tmp" name and renamed over the
  // file, so a reader sees the old content or the new, never a part of it,
  // and a write that fails (a full disk) leaves the old content in place.
  const std::string p = platform::board_path(path);
  const std::string target = temporary ? p + "_cmp" : p;
  // The name aside is one name too: for a file whose own name is near the
  // longest a directory takes, it is cut so that the file is still written.
  std::string name = p;
  const std::size_t base = name.size() - (name.rfind('/') + 1);
  if (base + 4 > NAME_MAX) name.resize(name.size() - (base + 4 - NAME_MAX));
  name += "_tmp";
  if (temporary) std::remove(target.c_str());
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, file_mode);
  FILE* f = fd < 0 ? nullptr : ::fdopen(fd, "w");
  if (!f) {
    if (fd >= 0) {
      const int error = errno;
      ::close(fd);
      errno = error;
    }
    if (!retrying_) std::clog << "FAIL create temporary file <" << path << "_tmp> with code=" << errno << std::endl;
    return false;
  }
  errno = 0;
  (this->*saver)(f, arg);
  int error = std::ferror(f) ? (errno ? errno : EIO) : 0;
  if (std::fclose(f) != 0 && error == 0) error = errno ? errno : EIO;
  if (error == 0 && std::rename(name.c_str(), target.c_str()) != 0) error = errno;
  if (error == 0) return true;
  std::remove(name.c_str());
  if (!retrying_) std::clog << "FAIL write status file <" << path << "> with code=" << error << std::endl;
  return false;
}

void MonitoringDataHolder::DipStatusSaver(FILE* f, SaveStatusArg const* arg) { std::fprintf(f, "%ld", arg->count); }

void MonitoringDataHolder::PowerStatusSaver(FILE* f, SaveStatusArg const* arg) {
  std::fprintf(f, "%d", static_cast<const LGCP::POWERStatus*>(arg->ptr)->asInt());
}

void MonitoringDataHolder::ConfigVersionSaver(FILE* f, SaveStatusArg const*) {
  std::fprintf(f, "%08" PRIx32 "-%016" PRIx64, config_version_, config_build_);
}

void MonitoringDataHolder::BoardStatusSaver(FILE* f, SaveStatusArg const* arg) {
  const auto& p = *static_cast<const LGCP::BoardStatusParams*>(arg->ptr);
  std::fprintf(f, "%d\n%s\n%d\n", p.get_status().asInt(), octets(p.get_version()).c_str(), p.get_type().asInt());
  for (auto& b : boards_) {
    if (b.get_position().getValue() == p.get_position().getValue()) {
      b.set_type(p.get_type());
      b.set_version(p.get_version());
      b.set_status(p.get_status());
      return;
    }
  }
  boards_.push_back(p);
}

void MonitoringDataHolder::PhoneStatusSaver(FILE* f, SaveStatusArg const* arg) {
  const auto& p = *static_cast<const LGCP::EmPhoneStatusParams*>(arg->ptr);
  std::fprintf(f, "%s\n%s\n%s\n%d\n%d\n%d\n%d\n%d\n", octets(p.get_panelSV()).c_str(), octets(p.get_ctrlSV()).c_str(),
               octets(p.get_fpgaSV()).c_str(), p.get_status().asInt(), p.get_powerStatus().asInt(),
               p.get_mode().asInt(), p.get_hookStatus().asInt(), p.get_baseStatus().asInt());
  for (auto& e : phones_) {
    if (e.get_id().getValue() == p.get_id().getValue()) {
      e = p;
      return;
    }
  }
  phones_.push_back(p);
}

void MonitoringDataHolder::TermCounterSaver(FILE* f, SaveStatusArg const* arg) { std::fprintf(f, "%ld", arg->count); }

void MonitoringDataHolder::ControllerStatusSaver(FILE* f, SaveStatusArg const* arg) {
  std::fprintf(f, "%ld", arg->count);
}

void MonitoringDataHolder::StringParamSaver(FILE* f, SaveStatusArg const* arg) {
  const auto& s = *static_cast<const std::string*>(arg->ptr);
  std::fwrite(s.data(), 1, s.size(), f);
}

void MonitoringDataHolder::BoardChannelStatusSaver(FILE*, SaveStatusArg const*) {}
