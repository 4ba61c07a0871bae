#include "platform/sim/hal_framers.h"

#include "platform/hal.h"
#include "platform/sim/hal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace platform {
namespace sim {

void HalFramers::clear() {
  for (auto& f : regs) {
    std::memset(f, 0, sizeof f);
    f[line_status] = line_healthy;
  }
  writes.clear();
  source = -1;
  selects = 0;
  absent_sources.clear();
}

namespace {

std::string hex2(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFF);
  return buf;
}

// Decimal, or hexadecimal with 0x.
bool parse_number(const std::string& w, long long& v) {
  if (w.size() > 2 && w[0] == '0' && (w[1] == 'x' || w[1] == 'X')) {
    char* end = nullptr;
    v = std::strtoll(w.c_str() + 2, &end, 16);
    return end && *end == '\0';
  }
  return parse_int(w, v);
}

int failed(const char* kind) {
  if (int e = hal().take_failure(kind)) {
    errno = e;
    return -1;
  }
  return 0;
}

int clock_select(HalFramers& f, void* arg) {
  if (failed("clock")) return -1;
  if (!arg) {
    errno = EFAULT;
    return -1;
  }
  std::int32_t source;
  std::memcpy(&source, arg, sizeof source);
  if (f.absent_sources.count(source)) {
    errno = ENODEV;
    return -1;
  }
  f.source = source;
  ++f.selects;
  return 0;
}

// A read answers with the register's value.
int spi(HalFramers& f, void* arg, bool write) {
  if (failed(write ? "spi-write" : "spi-read")) return -1;
  if (!arg) {
    errno = EFAULT;
    return -1;
  }
  auto* rec = static_cast<std::uint8_t*>(arg);
  const int framer = rec[0], reg = rec[1];
  if (framer >= HalFramers::framers) {
    errno = EINVAL;
    return -1;
  }
  if (!write) return f.regs[framer][reg];
  f.regs[framer][reg] = rec[2];
  f.writes.push_back({framer, reg, rec[2]});
  return 0;
}

std::string spi_words(const Args& args, std::ostream& out) {
  HalFramers& f = hal_framers();
  if (args.size() == 2 && args[1] == "writes") {
    for (const auto& w : f.writes) out << w.framer << " " << hex2(w.reg) << " " << hex2(w.value) << "\n";
    return "";
  }
  long long n = 0, r = 0, v = 0;
  if (args.size() < 3 || args.size() > 4 || !parse_int(args[1], n) || n < 0 || n >= HalFramers::framers ||
      !parse_number(args[2], r) || r < 0 || r > 255 ||
      (args.size() == 4 && (!parse_number(args[3], v) || v < 0 || v > 255)))
    return "usage: hal spi F R [V] | hal spi writes";
  if (args.size() == 3)
    out << "value " << hex2(f.regs[n][r]) << "\n";
  else
    f.regs[n][r] = static_cast<std::uint8_t>(v);
  return "";
}

std::string clock_words(const Args& args, std::ostream& out) {
  HalFramers& f = hal_framers();
  if (args.size() >= 3 && args[1] == "absent") {
    std::set<int> sources;
    for (std::size_t i = 2; i < args.size(); ++i) {
      long long s = 0;
      if (!parse_int(args[i], s) || s < -2147483648LL || s > 2147483647LL) return "usage: hal clock absent S [S ...]";
      sources.insert(static_cast<int>(s));
    }
    f.absent_sources.insert(sources.begin(), sources.end());
    return "";
  }
  if (args.size() != 1) return "usage: hal clock | hal clock absent S [S ...]";
  out << "source " << (f.selects ? std::to_string(f.source) : std::string("none")) << " selects " << f.selects
      << "\n";
  return "";
}

}  // namespace

HalFramers& hal_framers() {
  static HalFramers* framers = [] {
    static HalFramers f;
    Hal& h = hal();
    h.add_request(hal::HW_CLOCK_SELECT, [](void* arg) { return clock_select(f, arg); });
    h.add_request(hal::HAL_SPI_READ, [](void* arg) { return spi(f, arg, false); });
    h.add_request(hal::HAL_SPI_WRITE, [](void* arg) { return spi(f, arg, true); });
    for (const char* kind : {"clock", "spi-read", "spi-write"}) h.add_fail_kind(kind);
    return &f;
  }();
  return *framers;
}

namespace {

DefaultModel installed([] { hal_framers(); });

// The requests, words and failure kinds are there from the start, before
// any device is opened.
struct FramerWords {
  FramerWords() {
    hal_framers();
    Hal::add_words("clock", clock_words);
    Hal::add_words("spi", spi_words);
  }
} framer_words;

}  // namespace
}  // namespace sim
}  // namespace platform
