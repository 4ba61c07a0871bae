#include "platform/control_socket.h"

#include "platform/paths.h"
#include "platform/sim/control_words.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {
namespace control_socket {
namespace {

// A line longer than this is not a request; the client is dropped. Text
// is read on in one call up to it while no line end has come. Lines that
// carry frame bytes run to several thousand characters, and a client's
// writer may send one in pieces that are read as they come.
const std::size_t max_line = 256 * 1024;

std::int64_t now_ms() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Waits up to limit_ms for room to write. A signal taken meanwhile (a
// child's end in the server) waits on for what is left of the time.
bool wait_for_room(int fd, int limit_ms) {
  const std::int64_t deadline = now_ms() + limit_ms;
  for (;;) {
    const std::int64_t left = deadline - now_ms();
    if (left <= 0) return false;
    struct pollfd p = {fd, POLLOUT, 0};
    const int r = ::poll(&p, 1, static_cast<int>(left));
    if (r > 0) return true;
    if (r == 0 || errno != EINTR) return false;
  }
}

// Writes the whole answer; the client reads it, so waiting for room is
// bounded. A client that stops reading for long is dropped.
bool write_all(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!wait_for_room(fd, 5000)) return false;
      continue;
    }
    return false;
  }
  return true;
}

}  // namespace

std::string path() { return board_path("/var/run/sim.sock"); }

int listen() {
  const std::string p = path();
  sockaddr_un sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sun_family = AF_UNIX;
  if (p.size() >= sizeof sa.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(sa.sun_path, p.c_str(), p.size() + 1);
  // A server already serving this board root keeps its socket: taking the
  // path over, and removing it at the end, would leave that one unreachable.
  // Only a file that nobody answers on is stale.
  const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (probe >= 0) {
    const bool served = ::connect(probe, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 || errno == EAGAIN;
    ::close(probe);
    if (served) {
      errno = EADDRINUSE;
      return -1;
    }
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  ::unlink(p.c_str());
  // Whoever may connect steers the board: only the server's own user,
  // whatever umask it was started with. Set before listening, so that no
  // one connects in between.
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::chmod(p.c_str(), 0600) != 0 ||
      ::listen(fd, 8) != 0) {
    const int e = errno;
    ::close(fd);
    errno = e;
    return -1;
  }
  return fd;
}

int accept(int listen_fd) { return ::accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC); }

bool serve(int client_fd, std::string& pending) {
  // Reading stops at the first read that brings a line end: a client that
  // sends without end is served a share per pass of the loop, and the rest
  // of the server (and the other clients) between the shares; what is
  // still queued keeps the socket readable. Text without a line end is
  // read on only up to a bound, past which it is no request.
  char buf[4096];
  bool gone = false;
  for (;;) {
    const ssize_t n = ::recv(client_fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
      pending.append(buf, static_cast<std::size_t>(n));
      if (std::memchr(buf, '\n', static_cast<std::size_t>(n)) || pending.size() > max_line) break;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // End of file or a failure: the lines already sent are still answered
    // (a client may shut its side down after the last request).
    gone = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
    break;
  }
  std::string::size_type end;
  while ((end = pending.find('\n')) != std::string::npos) {
    std::string line = pending.substr(0, end);
    pending.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!write_all(client_fd, sim::control_request(line))) return false;
  }
  return !gone && pending.size() <= max_line;
}

}  // namespace control_socket
}  // namespace platform
