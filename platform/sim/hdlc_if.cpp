// Simulated "hdlc%d" interfaces of the board's HDLC controller, answered to
// the interface requests of the modem slots; other interface names go to
// the system. hdlc0 and hdlc1 are there at start: point-to-point and up.
//
// Control-socket words:
//   net add NAME FLAGS  -> adds (or replaces) an interface with these flags
//   net del NAME        -> removes it
//   net get NAME        -> "flags 0xF protocol 0xP"
//   net fail ppp E [N]  -> switching an interface to PPP fails with errno
//                          E: the next N times, or all until "net fail ppp 0"
//   net fail flags E [N] -> setting an interface's flags fails alike
#include "platform/hdlc_if.h"
#include "platform/program.h"
#include "platform/paths.h"
#include "platform/sim/control_words.h"
#include "platform/sim/device_model.h"
#include "platform/sim/failures.h"

#include <linux/if.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace platform {
namespace {

struct Iface {
  unsigned flags = 0;
  unsigned protocol = 0;
  int index = 0;
  int channel = 0;
};

bool hdlc_name(const std::string& name, int& n) {
  if (name.compare(0, 4, "hdlc") != 0 || name.size() == 4 || name.size() > 7) return false;
  n = 0;
  for (std::size_t i = 4; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
    n = n * 10 + (name[i] - '0');
  }
  return true;
}

Iface make_iface(int n, unsigned flags) {
  Iface i;
  i.flags = flags;
  i.protocol = IF_PROTO_HDLC;
  i.index = 100 + n;
  i.channel = 1824 + n;  // the controller's switch channel of the interface
  return i;
}

std::map<std::string, Iface>& ifaces() {
  static std::map<std::string, Iface> m = {{"hdlc0", make_iface(0, IFF_UP | IFF_POINTOPOINT)},
                                           {"hdlc1", make_iface(1, IFF_UP | IFF_POINTOPOINT)}};
  return m;
}

int fail(int e) {
  errno = e;
  return -1;
}

sim::Failures<std::string>& failures() {
  static sim::Failures<std::string> f;
  return f;
}

int wandev(Iface& i, ifreq& r) {
  if_settings& s = r.ifr_settings;
  switch (s.type) {
    case IF_GET_IFACE: {
      const unsigned size = 128;
      if (s.size < size) {
        s.size = size;
        return fail(ENOBUFS);
      }
      if (!s.ifs_ifsu.raw_hdlc) return fail(EFAULT);
      unsigned char* out = reinterpret_cast<unsigned char*>(s.ifs_ifsu.raw_hdlc);
      std::memset(out, 0, size);
      const std::int32_t words[4] = {0, 0, 0, i.channel};
      std::memcpy(out, words, sizeof words);
      s.size = size;
      return 0;
    }
    case IF_PROTO_PPP:
      if (int e = failures().take("ppp")) return fail(e);
      i.protocol = IF_PROTO_PPP;
      return 0;
    case IF_PROTO_HDLC:
      if (!s.ifs_ifsu.raw_hdlc || s.size < sizeof(raw_hdlc_proto)) return fail(EINVAL);
      i.protocol = IF_PROTO_HDLC;
      return 0;
    default:
      return fail(EINVAL);
  }
}

std::string net_words(const sim::Args& args, std::ostream& out) {
  if (args.size() == 3 && args[0] == "add") {
    int n = 0;
    char* end = nullptr;
    const unsigned long flags = std::strtoul(args[2].c_str(), &end, 0);
    if (!hdlc_name(args[1], n) || !end || *end != '\0') return "usage: net add hdlcN FLAGS";
    ifaces()[args[1]] = make_iface(n, static_cast<unsigned>(flags));
    return "";
  }
  if (args.size() == 2 && args[0] == "del") {
    if (!ifaces().erase(args[1])) return "no interface " + args[1];
    return "";
  }
  if (args.size() == 2 && args[0] == "get") {
    auto it = ifaces().find(args[1]);
    if (it == ifaces().end()) return "no interface " + args[1];
    char line[64];
    std::snprintf(line, sizeof line, "flags 0x%X protocol 0x%X\n", it->second.flags, it->second.protocol);
    out << line;
    return "";
  }
  if ((args.size() == 3 || args.size() == 4) && args[0] == "fail" && (args[1] == "ppp" || args[1] == "flags")) {
    int err = 0;
    long long count = -1;
    if (!sim::parse_errno(args[2], err) || (args.size() == 4 && !sim::parse_int(args[3], count)))
      return "usage: net fail ppp|flags ERRNO [COUNT]";
    failures().set(args[1], err, count);
    return "";
  }
  return "usage: net add NAME FLAGS | net del NAME | net get NAME | net fail ppp|flags ERRNO [COUNT]";
}

sim::Words words("net", net_words);

}  // namespace

int hdlc_ioctl(int sock, unsigned long request, void* arg) {
  sim::board_ready();
  if (request != SIOCGIFINDEX && request != SIOCGIFFLAGS && request != SIOCSIFFLAGS && request != SIOCWANDEV)
    return ::ioctl(sock, request, arg);
  if (!arg) return fail(EFAULT);
  ifreq& r = *static_cast<ifreq*>(arg);
  const std::string name(r.ifr_name, strnlen(r.ifr_name, IFNAMSIZ));
  int n = 0;
  if (!hdlc_name(name, n)) return ::ioctl(sock, request, arg);
  auto it = ifaces().find(name);
  if (it == ifaces().end()) return fail(ENODEV);
  Iface& i = it->second;
  switch (request) {
    case SIOCGIFINDEX:
      r.ifr_ifindex = i.index;
      return 0;
    case SIOCGIFFLAGS:
      r.ifr_flags = static_cast<short>(i.flags);
      return 0;
    case SIOCSIFFLAGS:
      if (int e = failures().take("flags")) return fail(e);
      i.flags = static_cast<unsigned short>(r.ifr_flags);
      return 0;
    default:
      return wandev(i, r);
  }
}

std::string program_file(const std::string& board_program) {
  const std::string own = board_path(board_program);
  if (::access(own.c_str(), F_OK) == 0) return own;
  if (const char* e = std::getenv("GW_STANDIN_PROGRAM")) return from_start_directory(e);
  return GW_STANDIN_PROGRAM;
}

}  // namespace platform
