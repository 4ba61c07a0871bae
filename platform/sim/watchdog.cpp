#include "platform/sim/watchdog.h"

#include "platform/clock.h"

#include <cerrno>

namespace platform {
namespace sim {

ssize_t Watchdog::on_write(Channel&, const void* buf, size_t len) {
  std::string data(static_cast<const char*>(buf), len);
  auto f = fail_write.find(data);
  if (f != fail_write.end() && f->second) {
    errno = f->second;
    return -1;
  }
  struct timeval tv;
  platform::gettimeofday(&tv);
  auto ms = static_cast<std::uint32_t>((std::uint64_t(tv.tv_sec) * 1000000 + tv.tv_usec) / 1000);
  if (writes.size() == max_kept) writes.pop_front();
  writes.push_back({data, ms});
  ++total;
  return static_cast<ssize_t>(len);
}

void Watchdog::clear() {
  writes.clear();
  total = 0;
  fail_write.clear();
  fail_open = 0;
}

Watchdog& watchdog() { return installed_model<Watchdog>("/dev/misc/gw-wd"); }

}  // namespace sim
}  // namespace platform
