#include "tests/support/free_port.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <set>

namespace testsupport {

namespace {

// Whether a socket of the type can have the port on every address now (a
// TCP one listening, as the server's listeners do).
bool bindable(int type, int port) {
  if (port <= 0 || port > 65535) return false;
  const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_ANY);
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  if (ok && type == SOCK_STREAM) ok = ::listen(fd, 1) == 0;
  ::close(fd);
  return ok;
}

bool all_free(int first, int count) {
  for (int p = first; p < first + count; ++p)
    if (!bindable(SOCK_STREAM, p) || !bindable(SOCK_DGRAM, p)) return false;
  return true;
}

// The port picked by the kernel for a listener on port 0 (the fallback when
// there is no room outside its ephemeral range).
int kernel_pick() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
    port = ntohs(sa.sin_port);
  ::close(fd);
  return port;
}

std::set<int>& taken_here() {
  static std::set<int> taken;
  return taken;
}

// The lock file all test processes of this build share; a byte locked in it
// is a port taken. Record locks belong to the process: they go when it ends,
// however it ends, and a forked child (a server about to start) holds none.
int lock_file() {
  static const int fd = ::open(GW_TEST_PORT_LOCKS, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  return fd;
}

}  // namespace

bool reserve_ports(int first, int count) {
  if (first <= 0 || count <= 0 || first + count - 1 > 65535) return false;
  for (int p = first; p < first + count; ++p)
    if (taken_here().count(p)) return false;
  if (lock_file() >= 0) {
    struct flock l {};
    l.l_type = F_WRLCK;
    l.l_whence = SEEK_SET;
    l.l_start = first;
    l.l_len = count;
    // Held by another test process; any other failure leaves the ports to
    // the checks alone.
    if (::fcntl(lock_file(), F_SETLK, &l) != 0 && (errno == EAGAIN || errno == EACCES)) return false;
  }
  for (int p = first; p < first + count; ++p) taken_here().insert(p);
  return true;
}

// Taken outside the kernel's ephemeral range, below it or above it,
// wherever there is more room: the kernel numbers the listeners and clients
// of the tests running beside this one from that range, and cannot hand
// them a port of ours before the server binds it. Each pick is random.
std::uint16_t free_ports(int count) {
  int low = 32768, high = 60999;
  std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> low >> high;
  int first = 10000, last = low - count;
  if (65535 - high > last - first) first = high + 1, last = 65535 - count + 1;
  if (last - first >= 1000) {
    static std::uint32_t state = std::uint32_t(::getpid()) * 2654435761u ^ std::uint32_t(::time(nullptr));
    for (int tries = 0; tries < 1000; ++tries) {
      state = state * 1664525u + 1013904223u;
      const int port = first + int((state >> 8) % std::uint32_t(last - first + 1));
      if (all_free(port, count) && reserve_ports(port, count)) return std::uint16_t(port);
    }
  }
  for (int tries = 0; tries < 1000; ++tries) {
    const int port = kernel_pick();
    if (port > 0 && all_free(port, count) && reserve_ports(port, count)) return std::uint16_t(port);
  }
  return std::uint16_t(kernel_pick());
}

std::uint16_t free_port() { return free_ports(2); }

}  // namespace testsupport
