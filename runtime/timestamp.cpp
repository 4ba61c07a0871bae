#include "runtime/timestamp.h"

#include <ctime>

#include "platform/clock.h"

std::ostream& timestamp(std::ostream& os) {
  struct timeval tv;
  if (platform::gettimeofday(&tv) != 0) return os;
  const std::time_t now = tv.tv_sec;
  struct tm local;
  if (localtime_r(&now, &local) == nullptr) return os;
  char text[32];
  const std::size_t n = std::strftime(text, sizeof text, "%d/%m %H:%M:%S", &local);
  if (n > 0) os.write(text, static_cast<std::streamsize>(n));
  return os;
}
