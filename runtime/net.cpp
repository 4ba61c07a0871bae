#include "runtime/net.h"

#include "runtime/fd.h"

#include <arpa/inet.h>
#include <cstring>
#include <net/if.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace Net {

std::string hostname() {
  char buf[512];
  if (::gethostname(buf, sizeof buf) != 0) return std::string();
  buf[sizeof buf - 1] = '\0';
  return buf;
}

int hostname(const std::string& name) { return ::sethostname(name.data(), name.size()); }

namespace {

bool selected(const char* name, std::uint32_t host_addr, ifconfig_mode_t mode) {
  if (mode == 0) return true;
  if ((mode & if_not_loopback) && ::strcasecmp(name, "lo") != 0) return true;
  if ((mode & if_link_local) && (host_addr & 0xFFFF0000u) == 0xA9FE0000u) return true;
  if (mode & if_private) {
    if ((host_addr & 0xFF000000u) == 0x0A000000u) return true;
    if ((host_addr & 0xFFF00000u) == 0xAC100000u) return true;
    if ((host_addr & 0xFFFF0000u) == 0xC0A80000u) return true;
  }
  return false;
}

// Walks the selected IPv4 interface records, calling f(socket, address,
// request) for each whose address query succeeds; -1 when the list cannot
// be obtained. The address is the record's own: the query answers with the
// interface's first address, which differs from the record's when the
// interface has several.
template <class F>
int for_each_selected(ifconfig_mode_t mode, F f) {
  Fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!sock.is_valid()) return -1;
  struct ifreq records[16];
  std::memset(records, 0, sizeof records);
  struct ifconf conf;
  conf.ifc_len = sizeof records;
  conf.ifc_req = records;
  if (::ioctl(sock.lowlevel_fd(), SIOCGIFCONF, &conf) != 0) return -1;
  int n = conf.ifc_len / static_cast<int>(sizeof(struct ifreq));
  if (n > 16) n = 16;
  int appended = 0;
  for (int i = 0; i < n; ++i) {
    struct ifreq& r = records[i];
    r.ifr_name[IFNAMSIZ - 1] = '\0';
    if (r.ifr_addr.sa_family != AF_INET) continue;
    sockaddr_in sin;
    std::memcpy(&sin, &r.ifr_addr, sizeof sin);
    if (!selected(r.ifr_name, ntohl(sin.sin_addr.s_addr), mode)) continue;
    struct ifreq q;
    std::memset(&q, 0, sizeof q);
    std::memcpy(q.ifr_name, r.ifr_name, IFNAMSIZ);
    if (::ioctl(sock.lowlevel_fd(), SIOCGIFADDR, &q) != 0) continue;
    if (f(sock.lowlevel_fd(), sin, q)) ++appended;
  }
  return appended;
}

}  // namespace

int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode) {
  return for_each_selected(mode, [&](int, const sockaddr_in& sin, struct ifreq&) {
    out.push_back(INet4::Addr(sin));
    return true;
  });
}

int ifconfig(std::list<std::string>& out, ifconfig_mode_t mode, unsigned int flags) {
  return for_each_selected(mode, [&](int sock, const sockaddr_in&, struct ifreq& q) {
    if (::ioctl(sock, SIOCGIFFLAGS, &q) != 0) return false;
    unsigned int have = static_cast<unsigned short>(q.ifr_flags);
    if ((have & flags) != flags) return false;
    out.push_back(std::string(q.ifr_name, ::strnlen(q.ifr_name, IFNAMSIZ)));
    return true;
  });
}

}  // namespace Net
