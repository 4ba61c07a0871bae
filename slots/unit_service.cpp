#include "slots/unit_service.h"

#include "platform/device.h"
#include "runtime/errno_text.h"

#include <cerrno>
#include <iostream>
#include <poll.h>

namespace Hardware {

std::ostream& unit_record::operator<<(std::ostream& os, FailTail t) { return os << " errno=\"" << Errno(t.err) << "\""; }

UnitService::UnitService(const Device& device) : device_(device) { init(); }

UnitService::~UnitService() = default;

void UnitService::init() {
  const int raw = platform::dev_open(device_.path(), device_.open_flags);
  if (raw < 0) {
    const Errno e;
    std::cerr << device_.open_fail << e << std::endl;
    return;
  }
  fd = Fd(raw);
  event.Bind(device_.event_name, &UnitService::OnEvent, this);
  event.Schedule(fd, POLLIN);
  if (!event.IsActive()) {
    // No descriptor was left for a copy: an open unit whose events nobody
    // reads would never be opened again. Closed, the next request retries.
    const Errno e;
    std::cerr << device_.open_fail << e << std::endl;
    fd.close();
  }
}

std::uint32_t UnitService::next_id() {
  if (++request_counter_ == 0) request_counter_ = 1;
  return request_counter_;
}

bool UnitService::ensure_open(const char* not_opened, std::uint32_t ts) {
  if (!fd) init();
  if (fd) return true;
  std::cerr << not_opened << " timeslot=" << ts << std::endl;
  return false;
}

void UnitService::OnEvent(int rfd, short revents) {
  if (!(revents & POLLIN)) return;
  for (unsigned reads = 0; reads < Event::max_reads_per_event; ++reads) {
    std::uint8_t rec[max_record_size];
    const ssize_t n = platform::dev_read(rfd, rec, device_.record_size);
    if (n < 0) {
      const int e = errno;
      if (e != EAGAIN && e != EWOULDBLOCK) std::cerr << "fail to read from " << device_.word << ": " << Errno(e) << std::endl;
      return;
    }
    // Not a whole record: the pass ends, or an empty read would loop here.
    if (static_cast<std::size_t>(n) < device_.record_size) {
      std::cerr << "short read from " << device_.word << ": " << n << " bytes" << std::endl;
      return;
    }
    dispatch(rec);
  }
}

}  // namespace Hardware
