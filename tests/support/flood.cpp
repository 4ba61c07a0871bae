#include "tests/support/flood.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

namespace testsupport {

int slowest_ping_during_flood(RunningServer& srv, int fd, const std::string& bytes, int ms) {
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    std::size_t at = 0;
    while (!stop) {
      pollfd p{fd, POLLIN | POLLOUT, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      char sink[65536];
      if (p.revents & POLLIN) ::recv(fd, sink, sizeof sink, MSG_DONTWAIT);
      if (!(p.revents & POLLOUT)) continue;
      const ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n < 0 && errno != EAGAIN) break;
      if (n > 0) at = (at + static_cast<std::size_t>(n)) % bytes.size();
    }
  });
  int slowest = 0;
  const std::int64_t end = real_ms() + ms;
  while (real_ms() < end) {
    const std::int64_t start = real_ms();
    srv.ctl.send("C0 01 01 00 05 18");
    const bool answered = srv.ctl.next(patience_ms) == "C0 01 01 00 05 40";
    slowest = std::max(slowest, answered ? static_cast<int>(real_ms() - start) : patience_ms);
    if (!answered) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  stop = true;
  writer.join();
  return slowest;
}

}  // namespace testsupport
