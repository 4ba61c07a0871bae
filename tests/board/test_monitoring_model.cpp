// A seeded walk of the board monitoring service in-process, on the virtual
// clock: each step one random action (time passing, the hal's bytes and
// failures, the framer, version, driver and configuration files, the
// interfaces, the controller and its process, display commands, the agent
// links), after which an independent model says what the controller, the
// LED byte, the status files and the agents must show.
//
// The moments at which the agent links (re)connect are the connector's and
// the kernel's; the model learns of a full push from the agent that got it
// and then expects its last value of every item sent since.
#include "board/monitoring/monitoring_ctl.h"
#include "control/acceptor_net_check_connection.h"
#include "control/ctrl_server.h"
#include "platform/paths.h"
#include "platform/sim/hal.h"
#include "platform/sim/hal_board.h"
#include "platform/sim/netif.h"
#include "runtime/ini_file.h"
#include "runtime/version.h"
#include "tests/board/board_fixture.h"
#include "tests/board/snmp_test_agent.h"
#include "tests/support/model_walk.h"
#include "tests/support/stream_capture.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>

namespace {

// The entry `same` finds takes the new value; with none, it is added last.
template <class T, class Same>
void replace_or_add(std::vector<T>& list, const T& value, Same same) {
  auto it = std::find_if(list.begin(), list.end(), same);
  if (it != list.end())
    *it = value;
  else
    list.push_back(value);
}

using boardtest::command_image;
using boardtest::Strings;

const char* const item_names[34][2] = {
    {"gatewayCommon", "driverBuild"},          {"gatewayCommon", "softwareBuild"},
    {"gatewayCommon", "powerStatus"},          {"gatewayCommon", "controllerStatus"},
    {"gatewayCommon", "gatewayDip"},           {"gatewayCommon", "gatewayConfigVersion"},
    {"extBoardTable", "extBoardStatus"},       {"extBoardTable", "extBoardSoftVer"},
    {"extBoardTable", "extBoardType"},         {"emPhoneTable", "emPhonePanelSoftVer"},
    {"emPhoneTable", "emPhoneCtrlSoftVer"},    {"emPhoneTable", "emPhoneFpgaSoftVer"},
    {"emPhoneTable", "emPhoneStatus"},         {"emPhoneTable", "emPhonePowerStatus"},
    {"emPhoneTable", "emPhoneMode"},           {"emPhoneTable", "emPhoneHookStatus"},
    {"emPhoneTable", "emPhoneBaseStatus"},     {"gatewayTermCounters", "routerTermCnt"},
    {"gatewayTermCounters", "controllerTermCnt"}, {"gatewayTermCounters", "serverTermCnt"},
    {"extBoardTermCntTable", "extBoardTermCnt"}, {"e1Table", "e1Connected"},
    {"e1Table", "e1StatusDsc"},                {"e1Table", "e1SignalLoss"},
    {"e1Table", "e1FrameAlignLoss"},           {"e1Table", "e1NegSlipCount"},
    {"e1Table", "e1PosSlipCount"},             {"statusGeneral", "sgBuildVersion"},
    {"statusGeneral", "sgFPGAVersion"},        {"statusGeneral", "sgBootVersion"},
    {"statusGeneral", "sgBoardVersion"},       {"ifTable", "ifDescr"},
    {"ifTable", "ifAdminStatus"},              {"ifTable", "ifOperStatus"},
};
const int item_mask[34] = {6, 6, 6, 6, 6, 6, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 6, 6, 6, 2, 2, 2, 2, 2, 2, 2, 4, 4, 4, 4, 6, 6, 6};

std::string name_key(const std::string& section, const std::string& name, long index) {
  return "n|" + section + "|" + name + "|" + std::to_string(index);
}
std::string udec(long v) { return std::to_string(static_cast<unsigned int>(v)); }

const char* const version_files[4] = {"/var/version", "/var/u-boot-version", "/var/fpga-version",
                                      "/var/board-version"};
// The order the check reads them in, and the item each is sent as.
const int version_items[4] = {27, 29, 28, 30};
const char framer_dir[] = "/proc/driver/hdlc/peb22554/";
const char etc_dir[] = "/usr/local/etc/";

std::string board(const std::string& p) { return platform::board_path(p); }

bool write_file(const std::string& path, const std::string& text) {
  std::ofstream f(board(path), std::ios::binary | std::ios::trunc);
  f << text;
  return bool(f);
}

// A process named "controller" on the machine other than `mine` (the
// walk's own), as the process table shows it.
bool other_controller_process(pid_t mine) {
  DIR* d = ::opendir("/proc");
  if (!d) return false;
  bool found = false;
  while (struct dirent* e = ::readdir(d)) {
    const int pid = std::atoi(e->d_name);
    if (pid <= 0 || pid == mine) continue;
    // Read plainly: a process that ends meanwhile fails the read.
    const int fd = ::open((std::string("/proc/") + e->d_name + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    char buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    if (n <= 0) continue;
    const std::string text(buf, static_cast<std::size_t>(n));
    const auto open = text.find('('), close = text.rfind(')');
    if (open != std::string::npos && close != std::string::npos && close > open &&
        text.substr(open + 1, close - open - 1) == "controller") {
      found = true;
      break;
    }
  }
  ::closedir(d);
  return found;
}

// Files and symbolic links below a directory: relative path -> content,
// or "-> target" for a link.
void tree(const std::string& dir, const std::string& rel, std::map<std::string, std::string>& out) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  while (struct dirent* e = ::readdir(d)) {
    const std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    const std::string p = dir + "/" + n;
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      tree(p, rel + n + "/", out);
    } else if (S_ISLNK(st.st_mode)) {
      char buf[4096];
      const ssize_t len = ::readlink(p.c_str(), buf, sizeof buf);
      out[rel + n] = "-> " + std::string(buf, len > 0 ? static_cast<std::size_t>(len) : 0);
    } else {
      std::ifstream f(p, std::ios::binary);
      out[rel + n] = std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    }
  }
  ::closedir(d);
}

void remove_tree(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    if (DIR* d = ::opendir(path.c_str())) {
      while (struct dirent* e = ::readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
          remove_tree(path + "/" + e->d_name);
      ::closedir(d);
    }
    ::rmdir(path.c_str());
  } else {
    ::unlink(path.c_str());
  }
}

// ---------------------------------------------------------------- model

struct Model {
  // What the test set on the board.
  int power_byte = 2, dip_byte = 0;
  int open_fail = 0, power_fail = 0, dip_fail = 0, led_fail = 0, socket_fail = 0;
  bool ctl_connected = false;
  bool controller_process = false;  // the walk's own
  long unconnected_checks = 0;
  std::string own;  // the gateway's own dotted address

  // What the service holds.
  bool open = false;
  int led = 0;
  std::vector<int> led_writes;
  int power = 0, dip = -1;
  std::uint32_t cfg_v = 0xffffffffu;
  std::uint64_t cfg_b = ~0ull;
  std::string versions[4];  // build, boot, FPGA, board (the check's order)
  int own_status = 0;
  struct Controller {
    std::string addr;
    int port, status;
  };
  std::vector<Controller> controllers;
  bool own_dir = false;
  struct Board {
    long pos;
    std::string version;
    int status, type;
  };
  std::vector<Board> boards;
  struct Phone {
    long id;
    std::string sv[3];
    int v[5];  // status, powerStatus, mode, hookStatus, baseStatus
  };
  std::vector<Phone> phones;
  struct Counter {
    int owner;
    bool has_id;
    long id, cnt;
  };
  std::vector<Counter> counters;
  std::vector<std::string> traps;
  struct Free {
    bool oid;
    std::string key_text, section, name;
    long index;
    std::string value;
    long uniq;
  };
  std::vector<Free> free;
  struct Framer {
    int number;
    std::string path;
    bool connected = false;
    std::string state = "absent";
    bool los = true, lofa = true;
    long neg = 0, pos = 0;
  };
  std::vector<Framer> framers;
  struct NetIf {
    int index;
    std::string name;
    bool running;
    int status = -1, oper = 2;
    std::deque<int> samples;
  };
  std::vector<NetIf> netifs;
  std::map<std::string, std::string> files;  // below /var/monitoring/

  // What went out.
  Strings to_controller;
  long serial = 0;
  std::map<std::string, std::pair<std::string, long>> emitted;
  std::vector<std::string> trapsink;
  long trapsink_serial = -1;

  // Timers, relative to construction.
  long long t = 0, next_bkg = 1000, next_power = 2000, next_ctl = 5000;

  void emit(int item, long index, const std::string& value) {
    emitted[name_key(item_names[item][0], item_names[item][1], index)] = {value, serial++};
  }
  void emit_free(const Free& f) { emitted[f.key_text] = {f.value, serial++}; }

  // ---- the hal
  bool is_open() {
    if (open) return true;
    led = 0;
    if (open_fail > 0) {
      --open_fail;
      return false;
    }
    open = true;
    led_write(0);
    return true;
  }
  bool led_write(int v) {
    if (led_fail > 0) {
      --led_fail;
      return false;
    }
    led_writes.push_back(v);
    return true;
  }

  // ---- checks
  void power_check() {
    if (!is_open()) return;
    if (power_fail > 0) {
      --power_fail;
      return;
    }
    const int s = power_byte == 0 ? 3 : power_byte <= 3 ? power_byte : 0;
    if (s == power) return;
    power = s;
    files["powerstatus"] = std::to_string(s);
    power_signal();
    emit(2, 0, udec(power));
  }
  void power_signal() {
    if (ctl_connected) to_controller.push_back("power " + std::to_string(power));
  }
  void dip_check() {
    if (!is_open()) return;
    if (dip_fail > 0) {
      --dip_fail;
      return;
    }
    if (dip_byte == dip) return;
    dip = dip_byte;
    files["dip"] = std::to_string(dip);
    emit(4, 0, udec(dip));
  }
  void netif_check() {
    for (auto& n : netifs) {
      if (socket_fail > 0) {
        --socket_fail;
        continue;
      }
      n.samples.push_back(n.running ? 1 : 0);
      while (n.samples.size() > 3) n.samples.pop_front();
      int sum = 0;
      for (int s : n.samples) sum += s;
      const int status = sum >= 2 ? 1 : 0;
      const bool changed = status != n.status;
      n.status = status;
      n.oper = status == 1 ? 1 : 2;
      if (changed) emit_netif(n);
    }
  }
  void emit_netif(const NetIf& n) {
    emit(33, n.index, std::to_string(n.oper));
    emit(32, n.index, std::to_string(n.oper));
    emit(31, n.index, n.name);
  }
  static bool first_line(const std::string& path, std::string& line, std::size_t limit) {
    std::ifstream f(board(path), std::ios::binary);
    if (!f) return false;
    std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const auto nl = all.find('\n');
    line = all.substr(0, nl == std::string::npos ? all.size() : nl + 1);
    if (line.size() > limit) line.resize(limit);
    return true;
  }
  void versions_check() {
    for (int i = 0; i < 4; ++i) {
      const int file = version_items[i] == 27 ? 0 : version_items[i] == 29 ? 1 : version_items[i] == 28 ? 2 : 3;
      std::string text;
      if (!first_line(version_files[file], text, 254)) continue;
      // The line end is not part of the version text.
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      if (text == versions[i]) continue;
      versions[i] = text;
      emit(version_items[i], 0, text);
    }
  }
  static bool hex_part(const std::string& s, unsigned long long& v) {
    if (s.empty() || !std::isxdigit(static_cast<unsigned char>(s[0]))) return false;
    v = 0;
    for (char c : s) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) break;
      v = v * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10));
    }
    return true;
  }
  void config_check() {
    const std::string dir = board(etc_dir);
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    std::uint32_t v = 0;
    std::uint64_t b = 0;
    while (struct dirent* e = ::readdir(d)) {
      const std::string n = e->d_name;
      struct stat st;
      if (::lstat((dir + n).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
      if (n.compare(0, 7, "config.") != 0 || n.compare(0, 20, "config.2save.tar.bz2") == 0) continue;
      const std::string rest = n.substr(7, 25);
      unsigned long long x;
      if (hex_part(rest.substr(0, 8), x)) v = static_cast<std::uint32_t>(x);
      if (rest.size() > 9 && hex_part(rest.substr(9, 16), x)) b = x;
      if (v == cfg_v && b == cfg_b) continue;
      cfg_v = v;
      cfg_b = b;
      char text[40];
      std::snprintf(text, sizeof text, "%08x-%016llx", static_cast<unsigned>(v), static_cast<unsigned long long>(b));
      files["config_version"] = text;
      emit(5, 0, udec(static_cast<long>(cfg_v)));
    }
    ::closedir(d);
  }
  void framer_check() {
    static const char* const prefixes[5] = {"Current state           : ", "Loss of Signal          : ",
                                            "Loss of Frame Alignment : ", "Receive Slip Negative   : ",
                                            "Receive Slip Positive   : "};
    for (auto& f : framers) {
      std::ifstream in(board(f.path), std::ios::binary);
      if (!in) continue;
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (text.size() > 1024) text.resize(1024);
      if (text.empty()) continue;
      bool changed = false;
      std::istringstream lines(text);
      std::string line;
      while (std::getline(lines, line)) {
        for (int p = 0; p < 5; ++p) {
          const auto at = line.find(prefixes[p]);
          if (at == std::string::npos) continue;
          const std::string value = line.substr(at + 26);
          if (p == 0 && value != f.state) {
            f.state = value;
            f.connected = value != "No Carrier";
            changed = true;
          }
          if (p == 1 && (value == "yes") != f.los) f.los = !f.los, changed = true;
          if (p == 2 && (value == "yes") != f.lofa) f.lofa = !f.lofa, changed = true;
          long* n = p == 3 ? &f.neg : p == 4 ? &f.pos : nullptr;
          if (n && std::atol(value.c_str()) != *n) *n = std::atol(value.c_str()), changed = true;
        }
      }
      if (changed) emit_framer(f);
    }
  }
  void emit_framer(const Framer& f) {
    emit(21, f.number, f.connected ? "1" : "0");
    emit(22, f.number, f.state);
    emit(23, f.number, f.los ? "1" : "0");
    emit(24, f.number, f.lofa ? "1" : "0");
    emit(25, f.number, std::to_string(f.neg));
    emit(26, f.number, std::to_string(f.pos));
  }
  // Returns whether the gateway's own entry changed.
  bool set_controller(const std::string& addr, int port, int status) {
    const bool is_own = addr == own;
    if (is_own) own_status = status;
    bool changed = true;
    auto it = std::find_if(controllers.begin(), controllers.end(),
                           [&](const Controller& c) { return c.addr == addr && c.port == port; });
    if (it != controllers.end()) {
      changed = it->status != status;
      it->status = status;
    } else {
      controllers.push_back({addr, port, status});
    }
    if (!changed) return false;
    if (is_own && !own_dir) {
      own_dir = true;
      files["controller/self"] = "-> " + board("/var/monitoring/controller/" + own);
    }
    files["controller/" + addr + "/status"] = std::to_string(status);
    return is_own;
  }
  void controller_check() {
    int status = own_status;
    if (!ctl_connected) {
      status = controller_process ? 4 : 5;
      ++unconnected_checks;
    }
    if (set_controller(own, 0, status)) emit(3, 0, udec(own_status));
  }

  void advance(long long dt) {
    const long long end = t + dt;
    for (;;) {
      const long long next = std::min(next_bkg, std::min(next_power, next_ctl));
      if (next >= end) break;
      t = next;
      if (next_bkg == next) {
        versions_check();
        config_check();
        framer_check();
        next_bkg = t + 60000;
      }
      if (next_power == next) {
        power_check();
        dip_check();
        netif_check();
        next_power = t + 2000;
      }
      if (next_ctl == next) {
        controller_check();
        next_ctl = t + 5000;
      }
    }
    t = end;
  }
  // A run of about `dt` that ends clear of every expiry, so that the model
  // and the loop agree on which checks ran.
  long long clear_of_timers(long long dt) const {
    // The timers keep their periods from construction on: 1000 ms + every
    // 60000, every 2000, every 5000.
    auto near = [](long long at, long long first, long long period) {
      if (at < first - 3) return false;
      const long long off = (at - first) % period;
      return off <= 3 || off >= period - 3;
    };
    while (near(t + dt, 1000, 60000) || near(t + dt, 2000, 2000) || near(t + dt, 5000, 5000)) dt += 7;
    return dt;
  }

  // ---- controller
  void on_connect() {
    ctl_connected = true;
    power_check();
    power_signal();
    controller_check();
  }
  void on_disconnect() {
    ctl_connected = false;
    for (auto it = files.begin(); it != files.end();)
      it = it->first.compare(0, 5, "board") == 0 && it->first.find('/') == std::string::npos ? files.erase(it) : ++it;
    boards.clear();
    controller_check();
  }

  // ---- full push
  std::string driver;  // the driver text, "" when none is sent
  void full_push() {
    if (!traps.empty()) trapsink = traps, trapsink_serial = serial++;
    if (!driver.empty()) emit(0, 0, driver);
    emit(1, 0, Version::current.tag());
    emit(2, 0, udec(power));
    emit(3, 0, udec(own_status));
    emit(4, 0, udec(dip));
    emit(5, 0, udec(static_cast<long>(cfg_v)));
    emit(27, 0, versions[0]);
    emit(28, 0, versions[2]);
    emit(29, 0, versions[1]);
    emit(30, 0, versions[3]);
    for (const auto& b : boards) emit_board(b);
    for (const auto& p : phones) emit_phone(p);
    emit_counters();
    for (const auto& f : framers) emit_framer(f);
    for (const auto& n : netifs) emit_netif(n);
    for (const auto& f : free) emit_free(f);
  }
  // The (item, index) sequence of the batched part of a push.
  std::vector<std::pair<int, long>> push_order() const {
    std::vector<std::pair<int, long>> o;
    if (!driver.empty()) o.push_back({0, 0});
    for (int i : {1, 2, 3, 4, 5, 27, 28, 29, 30}) o.push_back({i, 0});
    for (const auto& b : boards)
      for (int i : {6, 7, 8}) o.push_back({i, b.pos});
    for (const auto& p : phones)
      for (int i = 9; i <= 16; ++i) o.push_back({i, p.id + 1});
    for (int owner = 1; owner <= 4; ++owner)
      for (const auto& c : counters)
        if (c.owner == owner && (owner != 4 || c.has_id)) o.push_back({16 + owner, owner == 4 ? c.id : 0});
    for (const auto& f : framers)
      for (int i = 21; i <= 26; ++i) o.push_back({i, f.number});
    for (const auto& n : netifs)
      for (int i : {33, 32, 31}) o.push_back({i, n.index});
    return o;
  }
  void emit_board(const Board& b) {
    emit(6, b.pos, std::to_string(b.status));
    emit(7, b.pos, b.version);
    emit(8, b.pos, std::to_string(b.type));
  }
  void emit_phone(const Phone& p) {
    for (int i = 0; i < 3; ++i) emit(9 + i, p.id + 1, p.sv[i]);
    for (int i = 0; i < 5; ++i) emit(12 + i, p.id + 1, std::to_string(p.v[i]));
  }
  void emit_counters() {
    for (int owner = 1; owner <= 4; ++owner)
      for (const auto& c : counters) {
        if (c.owner != owner) continue;
        if (owner == 4) {
          if (c.has_id) emit(20, c.id, udec(c.cnt));
        } else {
          emit(16 + owner, 0, udec(c.cnt));
        }
      }
  }
};

// ---------------------------------------------------------------- agents

// The last value per key, and the last trapsink list, of an agent's current
// connection; the (uniq, key) of its batched values.
struct AgentView {
  std::map<std::string, std::string> last;
  std::vector<std::string> trapsink;
  bool has_trapsink = false;
  int pushes = 0;
  std::vector<std::pair<long, std::string>> batched;  // uniq, "item|index"
};

std::string item_of(const std::string& section, const std::string& name) {
  for (int i = 0; i < 34; ++i)
    if (section == item_names[i][0] && name == item_names[i][1]) return std::to_string(i);
  return "";
}

const long free_uniq_base = 1000000;

AgentView view_of(const testsupport::SnmpTestAgent& a) {
  AgentView v;
  for (const auto& f : a.frames) {
    if (f.connection != a.connections() || !f.decoded || !f.msg->get_pdu().command_isSelected()) continue;
    const auto& cmd = f.msg->get_pdu().get_command();
    if (cmd.snmp_trapsink_set_isSelected()) {
      v.trapsink.clear();
      for (const auto& s : cmd.get_snmp_trapsink_set().get_trapsinks()) v.trapsink.push_back(s.get_host());
      v.has_trapsink = true;
    }
    if (!cmd.snmp_set_isSelected()) continue;
    for (const auto& c : cmd.get_snmp_set().get_commands()) {
      std::string key;
      std::string item;
      long index = 0;
      if (c.get_id().name_isSelected()) {
        const auto& n = c.get_id().get_name();
        index = n.get_index().getValue();
        key = name_key(n.get_section(), n.get_name(), index);
        item = item_of(n.get_section(), n.get_name());
      } else if (c.get_id().oid_isSelected()) {
        key = "o|" + std::string(c.get_id().get_oid());
      }
      v.last[key] = c.get_value();
      const long uniq = c.get_uniq().getValue();
      if (uniq < free_uniq_base && !item.empty()) {
        v.batched.push_back({uniq, item + "|" + std::to_string(index)});
        if (item == "1") ++v.pushes;  // twice a push: both batches
      }
    }
  }
  v.pushes /= 2;
  std::sort(v.batched.begin(), v.batched.end());
  return v;
}

// ---------------------------------------------------------------- the walk

class MonitoringModel : public testsupport::VirtualClockTest {
 protected:
  void SetUp() override {
    VirtualClockTest::SetUp();
    boardtest::reset_board();
    platform::sim::netifs().reset();
    ::mkdir(board("/link").c_str(), 0755);
  }
  void TearDown() override {
    stop_controller_process();
    boardtest::reset_board();
    platform::sim::netifs().reset();
    VirtualClockTest::TearDown();
  }

  // A process named "controller": a sleeping program started under that
  // name, with none of this process's descriptors.
  void start_controller_process() {
    if (child_ > 0) return;
    const std::string link = board("/link/controller");
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink("/bin/sleep", link.c_str()), 0);
    const pid_t parent = ::getpid();
    child_ = ::fork();
    ASSERT_GE(child_, 0);
    if (child_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
      if (::getppid() != parent) ::_exit(0);
      for (int fd = 3; fd < 4096; ++fd) ::close(fd);
      ::execl(link.c_str(), "controller", "600", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // Named once it has started the program.
    for (int i = 0; i < 500; ++i) {
      std::ifstream f("/proc/" + std::to_string(child_) + "/comm");
      std::string comm;
      std::getline(f, comm);
      if (comm == "controller") return;
      ::usleep(2000);
    }
    FAIL() << "the controller process did not start";
  }
  void stop_controller_process() {
    if (child_ <= 0) return;
    ::kill(child_, SIGKILL);
    ::waitpid(child_, nullptr, 0);
    child_ = -1;
  }

  pid_t child_ = -1;
  testsupport::StreamCapture cap;
};

std::string hal_word(const std::string& w) { return boardtest::sim(w); }

std::string describe(const std::string& hex) {
  LGCP::Message m;
  if (testsupport::decode(hex, m) && m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().power_isSelected())
    return "power " + std::to_string(m.get_pdu().get_signal().get_power().asInt());
  return boardtest::describe(hex);
}

std::string framer_text(std::mt19937& rng) {
  static const char* const states[] = {"No Carrier", "Connected", "Loss of Frame", "Connected "};
  std::string s;
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  if (pick(6) == 0) return "";
  if (pick(2)) s += "Framer status\n";
  // Only the first 1024 bytes are read: a long head cuts the lines after it.
  if (pick(10) == 0) s += std::string(900 + static_cast<std::size_t>(pick(200)), '.') + "\n";
  if (pick(4)) s += std::string("Current state           : ") + states[pick(4)] + "\n";
  if (pick(4)) s += std::string("Loss of Signal          : ") + (pick(2) ? "yes" : "no") + "\n";
  if (pick(4)) s += std::string("  Loss of Frame Alignment : ") + (pick(2) ? "yes" : "YES") + "\n";
  if (pick(4)) s += "Receive Slip Negative   : " + std::to_string(pick(5)) + "\n";
  if (pick(4)) s += "Receive Slip Positive   : " + std::to_string(pick(3) * 1000);
  if (pick(8) == 0) s += "\r\nCurrent state           : Connected\r\n";
  return s;
}

TEST_F(MonitoringModel, WalkWithControllerProcessMatchesTheModel) {
  int first = 1, last = 6, steps = 200;
  testsupport::walk_range(first, last, steps);
  for (int seed = first; seed <= last; ++seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    std::string walked;
    int step = 0;
    auto where = [&] { return "seed " + std::to_string(seed) + " step " + std::to_string(step) + ", steps:\n" + walked; };

    // The board as this seed finds it.
    boardtest::reset_board();
    platform::sim::hal_board().clear();
    platform::sim::netifs().reset();
    stop_controller_process();
    // Now and then the status tree of the seed before stays, as after a
    // restart: its first level goes, what lies deeper stays. (So a failing
    // seed is walked again from the seed before it.)
    std::map<std::string, std::string> left;
    const bool keep = pick(3) == 0;
    if (seed == first || !keep) {
      remove_tree(board("/var/monitoring"));
      ::mkdir(board("/var/monitoring").c_str(), 0755);
    } else {
      tree(board("/var/monitoring"), "", left);
      for (auto it = left.begin(); it != left.end();) it = it->first.find('/') == std::string::npos ? left.erase(it) : ++it;
    }
    remove_tree(board(framer_dir));
    ::mkdir(board("/proc/driver").c_str(), 0755);
    ::mkdir(board("/proc/driver/hdlc").c_str(), 0755);
    ::mkdir(board(framer_dir).c_str(), 0755);
    ::mkdir(board("/proc/voice").c_str(), 0755);
    for (const char* v : version_files) ::unlink(board(v).c_str());
    if (DIR* d = ::opendir(board(etc_dir).c_str())) {
      std::vector<std::string> names;
      while (struct dirent* e = ::readdir(d))
        if (std::strncmp(e->d_name, "config.", 7) == 0) names.push_back(e->d_name);
      ::closedir(d);
      for (const auto& n : names) remove_tree(board(etc_dir) + n);
    }

    Model m;
    for (int n = 0; n < 4; ++n) {
      if (pick(3) == 0) continue;
      const std::string path = framer_dir + std::to_string(n);
      write_file(path, framer_text(rng));
      m.framers.push_back({n + 1, path});
    }
    static const char* const drivers[] = {"drv 1.4.2 2009-03-01 10:15\n", "drv 1.4.2 r5\n", "drv 1.4.2\n",
                                          "drv  2.0   b7\tx\n", ""};
    const int drv = pick(6);
    ::unlink(board("/proc/voice/version").c_str());
    if (drv < 5) write_file("/proc/voice/version", drivers[drv]);
    static const char* const driver_texts[] = {"1.4.2 [2009-03-01 10:15]", "1.4.2 [r5]", "none", "2.0 [b7\tx]",
                                               ""};
    m.driver = drv < 5 ? driver_texts[drv] : "";
    for (auto& kv : platform::sim::netifs().table()) {
      if (kv.first < 0 || kv.first > 15) continue;
      const bool running = pick(3) != 0;
      platform::sim::netifs().set_running(kv.first, running);
      Model::NetIf n;
      n.index = kv.first;
      n.name = kv.second.name;
      n.running = running;
      m.netifs.push_back(n);
    }
    m.power_byte = pick(4) ? 2 : pick(8);
    m.dip_byte = pick(256);
    platform::sim::hal_board().power = static_cast<std::uint8_t>(m.power_byte);
    platform::sim::hal_board().dip = static_cast<std::uint8_t>(m.dip_byte);
    if (pick(3) == 0) {
      m.open_fail = 1 + pick(4);
      hal_word("hal fail open 2 " + std::to_string(m.open_fail));
    }

    testsupport::SnmpTestAgent agent_a(true), agent_b(true);
    testsupport::SnmpTestAgent* agents[2] = {&agent_a, &agent_b};
    std::unique_ptr<CtrlSrv::Server> srv(new CtrlSrv::Server);
    std::unique_ptr<MonitoringCtl> mon(new MonitoringCtl);
    const std::uint32_t t0 = now_ms();
    m.own = mon->state().getSelfHostAddress().GetStrAddr();
    m.files = left;
    struct stat own_st;
    m.own_dir = ::stat(board("/var/monitoring/controller/" + m.own).c_str(), &own_st) == 0;
    {
      IniFile::File config;
      std::istringstream text("[snmpagent]\nhost = 127.0.0.1:" + std::to_string(agent_a.port()) +
                              "\nname = zarngw\n[snmpagent]\nhost = 127.0.0.1:" + std::to_string(agent_b.port()) +
                              "\nname = dovr\n");
      text >> config;
      ASSERT_TRUE(mon->Configure(config));
    }
    srv->Bind(mon.get());
    auto* acc = new Control::AcceptorNetCheckConnection(0);
    srv->Activate(acc);
    const std::uint16_t port = acc->GetBoundPort();
    testsupport::ControllerClient ctl;
    ctl.keep_power_signals = true;

    struct Seen {
      int connection = 0, pushes = 0;
      long since = LONG_MAX;
    } seen[2];
    auto sync_clock = [&] {
      EXPECT_EQ(m.t, static_cast<long long>(static_cast<std::uint32_t>(now_ms() - t0))) << where();
    };
    // Runs the loop for `dt` (or a little more), in slices that let the
    // agents answer, the model alongside.
    bool sliced = false;
    auto run = [&](long long dt) {
      dt = m.clear_of_timers(dt);
      while (dt > 0) {
        // Every slice ends clear of the timers too.
        const long long slice = sliced && dt > 900 ? std::min(dt, m.clear_of_timers(900)) : dt;
        run_for(static_cast<unsigned>(slice));
        m.advance(slice);
        dt -= slice;
        for (auto* a : agents)
          for (int i = 0; i < 3; ++i) a->pump(0);
      }
    };

    // Checks what the model says can be seen now.
    bool quiet_step = true;  // no display or controller change: the push order can be checked
    auto check = [&]() -> bool {
      for (auto* a : agents)
        for (int i = 0; i < 3; ++i) a->pump(0);
      // The controller.
      Strings got;
      for (const auto& f : ctl.frames()) got.push_back(describe(f));
      EXPECT_EQ(got, m.to_controller) << where();
      m.to_controller.clear();
      // The LED byte.
      std::vector<int> leds;
      for (auto b : platform::sim::hal_board().take_leds()) leds.push_back(b);
      EXPECT_EQ(leds, m.led_writes) << where();
      m.led_writes.clear();
      EXPECT_EQ(static_cast<int>(mon->led_byte()), m.led) << where();
      // The status files.
      std::map<std::string, std::string> files;
      tree(board("/var/monitoring"), "", files);
      EXPECT_EQ(files, m.files) << where();
      // The agents: a push seen in the current connection, then every value
      // sent since.
      bool pushed = false;
      AgentView views[2];
      for (int i = 0; i < 2; ++i) {
        views[i] = view_of(*agents[i]);
        if (!agents[i]->connected()) {
          seen[i] = Seen{agents[i]->connections(), 0, LONG_MAX};
          continue;
        }
        if (agents[i]->connections() != seen[i].connection) seen[i] = Seen{agents[i]->connections(), 0, LONG_MAX};
        if (views[i].pushes > seen[i].pushes) pushed = true;
      }
      const long before = m.serial;
      if (pushed) m.full_push();
      for (int i = 0; i < 2; ++i) {
        if (!agents[i]->connected()) continue;
        const AgentView& v = views[i];
        if (v.pushes > seen[i].pushes) {
          seen[i].pushes = v.pushes;
          if (seen[i].since == LONG_MAX) seen[i].since = before;
          // The batched part of the last push, in the order a full push sends.
          if (quiet_step) {
            std::size_t at = v.batched.size();
            for (std::size_t k = v.batched.size(); k-- > 0;)
              if (v.batched[k].second == "1|0" && (k == 0 || v.batched[k - 1].second != "1|0")) {
                at = k;
                break;
              }
            if (at < v.batched.size() && !m.driver.empty()) at = at >= 2 ? at - 2 : 0;
            std::vector<std::string> got_order, want_order;
            for (const auto& e : m.push_order())
              for (int copy = 0; copy < (item_mask[e.first] == 6 ? 2 : 1); ++copy)
                want_order.push_back(std::to_string(e.first) + "|" + std::to_string(e.second));
            for (std::size_t k = at; k < v.batched.size() && got_order.size() < want_order.size(); ++k)
              got_order.push_back(v.batched[k].second);
            EXPECT_EQ(got_order, want_order) << "agent " << i << " push order, " << where();
          }
        }
        if (seen[i].since == LONG_MAX) continue;
        for (const auto& kv : m.emitted) {
          if (kv.second.second < seen[i].since) continue;
          auto it = v.last.find(kv.first);
          EXPECT_TRUE(it != v.last.end() && it->second == kv.second.first)
              << "agent " << i << " " << kv.first << " want '" << kv.second.first << "' got '"
              << (it == v.last.end() ? std::string("<none>") : it->second) << "', " << where();
        }
        if (m.trapsink_serial >= seen[i].since) {
          EXPECT_EQ(v.trapsink, m.trapsink) << "agent " << i << ", " << where();
        }
      }
      return !::testing::Test::HasFailure();
    };

    // The controller comes.
    ASSERT_TRUE(ctl.connect(port));
    m.on_connect();
    run(10);
    sync_clock();
    walked += "connect\n";
    ASSERT_TRUE(check());
    sliced = true;

    int seq = 1;
    bool cut = false;
    for (step = 1; step <= steps; ++step) {
      quiet_step = true;
      // Another program's "controller" process (a test beside this one)
      // is seen by the service too, at moments the model cannot know: the
      // seed ends where one shows while the controller is away.
      const long unconnected_checks = m.unconnected_checks;
      const bool other_before = !m.ctl_connected && other_controller_process(child_);
      std::string what;
      auto display = [&](const std::function<void(LGCP::DisplayParams&)>& fill, const std::string& answer) {
        quiet_step = false;
        const int s = seq++;
        ctl.send(command_image(s, [&](LGCP::Command& c) { fill(c.select_display()); }));
        m.to_controller.push_back(answer);
      };
      const int a = pick(100);
      if (a < 22) {
        static const long long spans[] = {300, 1000, 2000, 5000, 12000, 30000, 61000, 65000};
        long long dt = 1 + pick(static_cast<int>(spans[pick(8)]));
        what = "time " + std::to_string(dt);
        run(dt);
      } else if (a < 27) {
        m.power_byte = pick(3) ? pick(4) : pick(256);
        platform::sim::hal_board().power = static_cast<std::uint8_t>(m.power_byte);
        what = "power byte " + std::to_string(m.power_byte);
        run(10);
      } else if (a < 31) {
        m.dip_byte = pick(256);
        platform::sim::hal_board().dip = static_cast<std::uint8_t>(m.dip_byte);
        what = "dip byte " + std::to_string(m.dip_byte);
        run(10);
      } else if (a < 34) {
        static const char* const kinds[] = {"power", "dip", "led"};
        const int k = pick(3), n = 1 + pick(3);
        (k == 0 ? m.power_fail : k == 1 ? m.dip_fail : m.led_fail) += n;
        what = std::string("hal fail ") + kinds[k] + " " + std::to_string(n);
        // The count is replaced: the model's whole remainder.
        const int left = k == 0 ? m.power_fail : k == 1 ? m.dip_fail : m.led_fail;
        hal_word("hal fail " + std::string(kinds[k]) + " 5 " + std::to_string(left));
        run(10);
      } else if (a < 38) {
        if (m.framers.empty()) continue;
        const auto& f = m.framers[static_cast<std::size_t>(pick(static_cast<int>(m.framers.size())))];
        const int how = pick(8);
        if (how == 0) {
          ::unlink(board(f.path).c_str());
          what = "framer file gone " + f.path;
        } else {
          write_file(f.path, framer_text(rng));
          what = "framer file " + f.path;
        }
        run(10);
      } else if (a < 40) {
        const int i = pick(4);
        const int how = pick(5);
        std::string text;
        if (how == 0) {
          ::unlink(board(version_files[i]).c_str());
        } else {
          text = how == 1 ? std::string(300, 'v') : "V" + std::to_string(pick(3)) + (pick(2) ? "\n" : "") +
                                                          (pick(2) ? "more\n" : "");
          write_file(version_files[i], text);
        }
        what = std::string("version file ") + version_files[i] + " " + std::to_string(how);
        run(10);
      } else if (a < 42) {
        // The driver's version text, read at each full push.
        const int drv2 = pick(6);
        ::unlink(board("/proc/voice/version").c_str());
        if (drv2 < 5) write_file("/proc/voice/version", drivers[drv2]);
        m.driver = drv2 < 5 ? driver_texts[drv2] : "";
        what = "driver file " + std::to_string(drv2);
        run(10);
      } else if (a < 44) {
        // The configuration directory: one name more or less.
        static const char* const names[] = {"config.0000002a-00000000000000ff", "config.0000abcd-0123456789abcdef",
                                            "config.00000007",                 "config.2save.tar.bz2",
                                            "config.xyz",                      "config.2save.tar.bz2.old",
                                            "configx.00000009"};
        const int n = pick(8);
        if (n == 7) {
          const std::string dir = board(etc_dir) + "config.00000003-0000000000000003";
          if (::rmdir(dir.c_str()) != 0) ::mkdir(dir.c_str(), 0755);
          what = "config dir";
        } else {
          const std::string p = board(etc_dir) + names[n];
          if (::unlink(p.c_str()) != 0) write_file(etc_dir + std::string(names[n]), "x");
          what = std::string("config name ") + names[n];
        }
        run(10);
      } else if (a < 47) {
        if (m.netifs.empty()) continue;
        if (pick(4) == 0) {
          const int n = 1 + pick(3);
          m.socket_fail += n;
          platform::sim::netifs().fail(platform::sim::NetIfs::Kind::socket, 24, m.socket_fail);
          what = "netif socket fail " + std::to_string(n);
        } else {
          auto& n = m.netifs[static_cast<std::size_t>(pick(static_cast<int>(m.netifs.size())))];
          n.running = !n.running;
          platform::sim::netifs().set_running(n.index, n.running);
          what = "netif " + n.name + (n.running ? " up" : " down");
        }
        run(10);
      } else if (a < 52) {
        quiet_step = false;
        if (m.ctl_connected) {
          ctl.close();
          m.on_disconnect();
          run(10);
          what = "controller leaves";
        } else {
          ASSERT_TRUE(ctl.connect(port));
          m.on_connect();
          run(10);
          what = "controller comes";
        }
      } else if (a < 55) {
        if (child_ > 0) {
          stop_controller_process();
          m.controller_process = false;
          what = "controller process ends";
        } else {
          start_controller_process();
          m.controller_process = true;
          what = "controller process starts";
        }
        run(10);
      } else if (a < 60) {
        const int i = pick(2);
        if (pick(3) == 0) {
          agents[i]->close_peer();
          what = "agent " + std::to_string(i) + " closes";
        } else {
          agents[i]->set_answer(!agents[i]->answering());
          what = "agent " + std::to_string(i) + (agents[i]->answering() ? " answers" : " goes silent");
        }
        run(10);
      } else {
        if (!m.ctl_connected) {
          ASSERT_TRUE(ctl.connect(port));
          m.on_connect();
          run(10);
          what = "controller comes; ";
        }
        const int d = pick(12);
        if (d == 0) {
          // Framer LEDs.
          const int e1 = pick(4);
          const bool line = pick(2), on = pick(2);
          bool ok = m.is_open();
          if (ok) {
            int led = m.led;
            const int A = 1 << (2 * e1), B = 1 << (2 * e1 + 1);
            if (!line)
              led = on ? (led & ~A) : (led | A);
            else if (on)
              led = ((led & B) ? led : (led | A)) | B;
            else
              led &= ~(A | B);
            ok = m.led_write(led);
            if (ok) m.led = led;
          }
          display(
              [&](LGCP::DisplayParams& p) {
                auto& f = p.select_framer();
                f.set_e1(e1);
                if (line)
                  f.set_info().select_line(on);
                else
                  f.set_info().select_link(on);
              },
              ok ? "success" : "error internal");
          what += "framer " + std::to_string(e1) + (line ? " line " : " link ") + (on ? "on" : "off");
        } else if (d == 1) {
          Model::Board b{pick(3) == 0 ? -1 - pick(2) : pick(5), "V" + std::to_string(pick(20)), pick(4), pick(4)};
          display(
              [&](LGCP::DisplayParams& p) {
                auto& s = p.select_board().select_boardStatus();
                s.set_position(b.pos);
                s.set_version(std::vector<char>(b.version.begin(), b.version.end()));
                s.set_status(static_cast<LGCP::ExtBoardStatus::NamedNumber>(b.status));
                s.set_type(static_cast<LGCP::ExtBoardType::NamedNumber>(b.type));
              },
              "success");
          m.files["board" + std::to_string(b.pos)] = std::to_string(b.status) + "\n" + b.version + "\n" +
                                                     std::to_string(b.type) + "\n";
          replace_or_add(m.boards, b, [&](const Model::Board& x) { return x.pos == b.pos; });
          m.emit_board(b);
          what += "board " + std::to_string(b.pos);
        } else if (d == 2) {
          Model::Phone ph{pick(3) == 0 ? -1 : pick(4), {"P" + std::to_string(pick(9)), "C" + std::to_string(pick(9)), "F"},
                          {pick(3), pick(4), pick(3), pick(3), pick(3)}};
          display(
              [&](LGCP::DisplayParams& p) {
                auto& s = p.select_emPhone().select_phoneStatus();
                s.set_id(ph.id);
                s.set_panelSV(std::vector<char>(ph.sv[0].begin(), ph.sv[0].end()));
                s.set_ctrlSV(std::vector<char>(ph.sv[1].begin(), ph.sv[1].end()));
                s.set_fpgaSV(std::vector<char>(ph.sv[2].begin(), ph.sv[2].end()));
                s.set_status(static_cast<LGCP::EmPhoneStatus::NamedNumber>(ph.v[0]));
                s.set_powerStatus(static_cast<LGCP::POWERStatus::NamedNumber>(ph.v[1]));
                s.set_mode(static_cast<LGCP::EmPhoneMode::NamedNumber>(ph.v[2]));
                s.set_hookStatus(static_cast<LGCP::EmPhoneConnectionStatus::NamedNumber>(ph.v[3]));
                s.set_baseStatus(static_cast<LGCP::EmPhoneConnectionStatus::NamedNumber>(ph.v[4]));
              },
              "success");
          std::string text = ph.sv[0] + "\n" + ph.sv[1] + "\n" + ph.sv[2] + "\n";
          for (int v : ph.v) text += std::to_string(v) + "\n";
          m.files["emphone" + std::to_string(ph.id)] = text;
          replace_or_add(m.phones, ph, [&](const Model::Phone& x) { return x.id == ph.id; });
          m.emit_phone(ph);
          what += "phone " + std::to_string(ph.id);
        } else if (d == 3) {
          // Channel states: stored nowhere, sent nowhere.
          const bool phone = pick(2);
          display(
              [&](LGCP::DisplayParams& p) {
                if (phone) {
                  auto& c = p.select_emPhone().select_phoneChannelStatus();
                  c.set_phoneId(1);
                  c.set_channel(2);
                } else {
                  auto& c = p.select_board().select_boardChannelStatus();
                  c.set_position(1);
                  c.set_channel(3);
                  c.set_status().set_callerID(std::vector<char>{'1'});
                  c.set_status().set_calledID(std::vector<char>{'2'});
                }
              },
              "success");
          what += phone ? "phone channel" : "board channel";
        } else if (d == 4) {
          std::vector<std::string> list;
          for (int n = pick(4); n > 0; --n) list.push_back("10.0.0." + std::to_string(pick(9)));
          display(
              [&](LGCP::DisplayParams& p) {
                auto& t = p.select_snmpTrapReceivers();
                for (const auto& h : list) t.push_back(ASN1::IA5String(h));
              },
              "success");
          m.traps = list;
          if (!list.empty()) m.trapsink = list, m.trapsink_serial = m.serial++;
          what += "traps " + std::to_string(list.size());
        } else if (d == 5 || d == 6) {
          static const char* const hosts[] = {"", "10.1.2.3", "192.168.5.5", "self", "10.1.2", "a/b"};
          const int h = pick(6);
          const std::string host = h == 0 ? m.own : hosts[h];
          // The own address under another port is an entry of its own.
          const int hport = h <= 1 && pick(3) == 0 ? 7 : 0;
          const int status = pick(6);
          const bool good = h < 3;
          display(
              [&](LGCP::DisplayParams& p) {
                auto& c = p.select_controller();
                c.set_host().set_iaddr(host);
                c.set_host().set_port(hport);
                c.set_status(static_cast<HSP::ControllerStatus::NamedNumber>(status));
              },
              good ? "success" : "error invalidParams");
          if (good) {
            m.set_controller(host, hport, status);
            m.emit(3, 0, udec(m.own_status));
          }
          what += "controller " + host + ":" + std::to_string(hport) + " " + std::to_string(status);
        } else if (d == 7 || d == 8) {
          Model::Counter c{pick(5), pick(2) == 0, pick(4), pick(3) ? pick(50) : -pick(3)};
          display(
              [&](LGCP::DisplayParams& p) {
                auto& t = p.select_termCounter();
                t.set_owner(static_cast<LGCP::TermCounterOwner::NamedNumber>(c.owner));
                if (c.has_id) t.set_ownerId(c.id);
                t.set_cnt(c.cnt);
              },
              "success");
          static const char* const owner_files[] = {"", "router", "controller", "server"};
          if (c.owner >= 1 && c.owner <= 3) m.files["term_cnts/" + std::string(owner_files[c.owner])] = std::to_string(c.cnt);
          if (c.owner == 4 && c.has_id) m.files["term_cnts/board" + std::to_string(c.id)] = std::to_string(c.cnt);
          // One row per owner; an extension board's per ownerId (and one
          // row for those without).
          auto it = std::find_if(m.counters.begin(), m.counters.end(), [&](const Model::Counter& x) {
            if (x.owner != c.owner) return false;
            if (c.owner != 4) return true;
            return x.has_id ? (c.has_id && x.id == c.id) : !c.has_id;
          });
          if (it != m.counters.end())
            it->cnt = c.cnt;
          else
            m.counters.push_back(c);
          m.emit_counters();
          what += "counter " + std::to_string(c.owner) + (c.has_id ? " id " + std::to_string(c.id) : "") + " " +
                  std::to_string(c.cnt);
        } else {
          // Free-form values, now and then one whose name would leave the
          // status tree (the whole list is refused).
          static const char* const sections[] = {"custom", "gwExtra", "boards"};
          static const char* const names[] = {"alpha", "beta", "status"};
          static const long indexes[] = {0, 1, 7, -2};
          std::vector<Model::Free> list;
          bool bad = false;
          for (int n = 1 + pick(3); n > 0; --n) {
            Model::Free f;
            f.oid = pick(5) == 0;
            f.uniq = free_uniq_base + pick(1000);
            f.value = "v" + std::to_string(pick(100));
            if (f.oid) {
              f.key_text = "o|1.3.6.1.4.1." + std::to_string(pick(3));
              f.section = f.key_text.substr(2);
            } else {
              f.section = sections[pick(3)];
              static const char* const refused[] = {"..", "x/y", "dip", "board1", "emphone-1_tmp", "config_version"};
              if (pick(25) == 0) f.section = refused[pick(6)], bad = true;
              f.name = names[pick(3)];
              f.index = indexes[pick(4)];
              f.key_text = name_key(f.section, f.name, f.index);
            }
            list.push_back(f);
          }
          display(
              [&](LGCP::DisplayParams& p) {
                auto& cmds = p.select_snmp_set().ref_commands();
                for (const auto& f : list) {
                  MON::SnmpSetCommand c;
                  c.set_uniq(f.uniq);
                  if (f.oid) {
                    c.set_id().select_oid(f.section);
                  } else {
                    auto& n = c.set_id().select_name();
                    n.set_section(f.section);
                    n.set_name(f.name);
                    n.set_index(f.index);
                  }
                  c.set_value(f.value);
                  cmds.push_back(c);
                }
              },
              bad ? "error invalidParams" : "success");
          if (!bad) {
            for (const auto& f : list) {
              auto it = std::find_if(m.free.begin(), m.free.end(),
                                     [&](const Model::Free& x) { return x.key_text == f.key_text; });
              if (it != m.free.end())
                it->value = f.value;
              else
                m.free.push_back(f);
              if (!f.oid) m.files[f.section + "/" + std::to_string(f.index) + "/" + f.name] = f.value;
            }
            for (const auto& f : list) m.emit_free(f);
          }
          what += "free-form " + std::to_string(list.size()) + (bad ? " (bad)" : "");
        }
        run(10);
      }
      walked += std::to_string(step) + " " + what + "\n";
      sync_clock();
      if (m.unconnected_checks != unconnected_checks && (other_before || other_controller_process(child_))) {
        cut = true;
        break;
      }
      if (!check()) break;
    }
    srv->Deactivate();
    mon.reset();
    srv.reset();
    stop_controller_process();
    if (::testing::Test::HasFailure()) return;
    if (cut) std::fprintf(stderr, "seed %d cut at step %d: another controller process\n", seed, step);
  }
}

// A free-form value's section becomes a directory beside the board's own
// status files: one named like such a file would keep it from being
// written for good (the directory is never emptied and outlives a
// restart), so the list is refused, and the file is written as before.
class MonitoringStatusNames : public boardtest::BoardTest {
 protected:
  std::unique_ptr<MonitoringCtl> mon;  // outlives the server's last call, in TearDown
};

TEST_F(MonitoringStatusNames, SectionsNamedLikeStatusFilesAreRefused) {
  for (const char* name : {"dip", "powerstatus", "config_version", "board3", "board-1", "emphone0", "dip_tmp",
                           "board12_tmp", "emphone2147483647"})
    EXPECT_TRUE(MonitoringDataHolder::IsStatusFileName(name)) << name;
  for (const char* name : {"board", "boards", "board03", "board+3", "emphone", "dipx", "tmp", "_tmp", "controller",
                           "term_cnts", "gatewayCommon", "board99999999999"})
    EXPECT_FALSE(MonitoringDataHolder::IsStatusFileName(name)) << name;

  mon.reset(new MonitoringCtl);
  start({mon.get()});
  auto value = [](int seq, const std::string& section) {
    return command_image(seq, [&](LGCP::Command& c) {
      MON::SnmpSetCommand v;
      v.set_uniq(1);
      auto& n = v.set_id().select_name();
      n.set_section(section);
      n.set_name("x");
      n.set_index(0);
      v.set_value("1");
      c.select_display().select_snmp_set().ref_commands().push_back(v);
    });
  };
  EXPECT_EQ(ask(value(1, "dip")), Strings{"error invalidParams"});
  EXPECT_EQ(ask(value(2, "dips")), Strings{"success"});
  platform::sim::hal_board().dip = 9;
  run_for(2500);
  EXPECT_EQ(testsupport::file_text(board("/var/monitoring/dip")), "9");
  EXPECT_EQ(testsupport::file_text(board("/var/monitoring/dips/0/x")), "1");
  EXPECT_EQ(mon->state().GetSnmpCommands().get_commands().size(), 1u);
}

}  // namespace
