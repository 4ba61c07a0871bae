// Simulated backend of the packet socket (see platform/sim/netif.h).
#include "platform/sim/netif.h"

#include "platform/netif.h"
#include "platform/sim/control_words.h"
#include "platform/sim/device_model.h"

#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace sim {

namespace {

// Interface indexes the board code asks about.
const int max_index = 15;

}  // namespace

std::map<int, NetIfs::Interface>& NetIfs::table() {
  if (loaded_) return table_;
  loaded_ = true;
  table_.clear();
  // Names come from the host; the flags through an ordinary datagram
  // socket, which needs no privilege.
  const int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  for (int index = 0; index <= max_index; ++index) {
    char name[IF_NAMESIZE + 1] = {0};
    if (!if_indextoname(static_cast<unsigned int>(index), name)) continue;
    Interface itf{name, 0};
    if (sock >= 0) {
      struct ifreq req;
      std::memset(&req, 0, sizeof req);
      std::memcpy(req.ifr_name, name, strnlen(name, sizeof req.ifr_name - 1));
      if (::ioctl(sock, SIOCGIFFLAGS, &req) == 0) itf.flags = static_cast<unsigned short>(req.ifr_flags);
    }
    table_[index] = itf;
  }
  if (sock >= 0) ::close(sock);
  return table_;
}

bool NetIfs::set_running(int index, bool running) {
  auto it = table().find(index);
  if (it == table_.end()) return false;
  if (running)
    it->second.flags |= IFF_RUNNING;
  else
    it->second.flags &= ~static_cast<unsigned int>(IFF_RUNNING);
  return true;
}

void NetIfs::fail(Kind kind, int err, long long count) { failures_.set(kind, err, count); }

void NetIfs::reset() {
  loaded_ = false;
  failures_.clear();
  table();
}

NetIfs& netifs() {
  static NetIfs n;
  return n;
}

namespace {

bool kind_of(const std::string& word, NetIfs::Kind& kind) {
  if (word == "socket")
    kind = NetIfs::Kind::socket;
  else if (word == "name")
    kind = NetIfs::Kind::name;
  else if (word == "flags")
    kind = NetIfs::Kind::flags;
  else
    return false;
  return true;
}

std::string netif_words(const Args& args, std::ostream& out) {
  NetIfs& n = netifs();
  long long v = 0;
  if (args.size() == 1 && args[0] == "list") {
    for (const auto& i : n.table())
      out << i.first << " " << i.second.name << " " << ((i.second.flags & IFF_RUNNING) ? "up" : "down") << "\n";
    return "";
  }
  if (args.size() == 3 && args[0] == "set") {
    if (!parse_int(args[1], v) || (args[2] != "up" && args[2] != "down")) return "usage: netif set IDX up|down";
    if (v < 0 || v > max_index || !n.set_running(static_cast<int>(v), args[2] == "up")) return "no interface " + args[1];
    return "";
  }
  if (!args.empty() && args[0] == "fail") {
    NetIfs::Kind kind;
    long long count = -1;
    if (args.size() < 3 || args.size() > 4 || !kind_of(args[1], kind) || !parse_int(args[2], v) || v < 0 ||
        (args.size() == 4 && (!parse_int(args[3], count) || count < 1)))
      return "usage: netif fail socket|name|flags ERRNO [COUNT]";
    n.fail(kind, static_cast<int>(v), count);
    return "";
  }
  return "usage: netif list | netif set IDX up|down | netif fail socket|name|flags E [N]";
}

Words words("netif", netif_words);

}  // namespace
}  // namespace sim

int packet_socket(int) {
  sim::board_ready();
  if (int e = sim::netifs().take_failure(sim::NetIfs::Kind::socket)) {
    errno = e;
    return -1;
  }
  sim::netifs().table();
  return ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

int netif_ioctl(int, unsigned long request, struct ifreq* req) {
  if (!req) {
    errno = EFAULT;
    return -1;
  }
  auto& n = sim::netifs();
  if (request == NETIF_GET_NAME) {
    if (int e = n.take_failure(sim::NetIfs::Kind::name)) {
      errno = e;
      return -1;
    }
    auto it = n.table().find(req->ifr_ifindex);
    if (it == n.table().end()) {
      errno = ENODEV;
      return -1;
    }
    std::memset(req->ifr_name, 0, sizeof req->ifr_name);
    std::strncpy(req->ifr_name, it->second.name.c_str(), IF_NAMESIZE - 1);
    return 0;
  }
  if (request == NETIF_GET_FLAGS) {
    if (int e = n.take_failure(sim::NetIfs::Kind::flags)) {
      errno = e;
      return -1;
    }
    char name[IF_NAMESIZE + 1] = {0};
    std::memcpy(name, req->ifr_name, IF_NAMESIZE);
    for (const auto& i : n.table()) {
      if (i.second.name == name) {
        req->ifr_flags = static_cast<short>(i.second.flags);
        return 0;
      }
    }
    errno = ENODEV;
    return -1;
  }
  errno = ENOTTY;
  return -1;
}

int netif_close(int fd) { return ::close(fd); }

}  // namespace platform
