#include "platform/sim/hal_board.h"

#include "platform/hal.h"
#include "platform/sim/hal.h"

#include <cerrno>
#include <cstdio>

namespace platform {
namespace sim {

void HalBoard::clear() {
  dip = 0;
  power = 2;
  leds.clear();
  led = 0;
}

std::vector<std::uint8_t> HalBoard::take_leds() {
  std::vector<std::uint8_t> out;
  out.swap(leds);
  return out;
}

namespace {

// One byte goes in and out by address; a null argument is the caller's
// fault, as on the board.
int byte_request(const char* kind, void* arg, const std::function<void(std::uint8_t&)>& act) {
  if (int e = hal().take_failure(kind)) {
    errno = e;
    return -1;
  }
  if (!arg) {
    errno = EFAULT;
    return -1;
  }
  act(*static_cast<std::uint8_t*>(arg));
  return 0;
}

std::string byte_word(const Args& args, std::uint8_t& target) {
  long long v = 0;
  if (args.size() != 2 || !parse_int(args[1], v) || v < 0 || v > 255) return "usage: hal " + args[0] + " 0..255";
  target = static_cast<std::uint8_t>(v);
  return "";
}

}  // namespace

HalBoard& hal_board() {
  static HalBoard* board = [] {
    static HalBoard b;
    Hal& h = hal();
    h.add_request(hal::HAL_DIP_READ,
                  [](void* arg) { return byte_request("dip", arg, [](std::uint8_t& v) { v = b.dip; }); });
    h.add_request(hal::HAL_POWER_READ,
                  [](void* arg) { return byte_request("power", arg, [](std::uint8_t& v) { v = b.power; }); });
    h.add_request(hal::HAL_LED_WRITE, [](void* arg) {
      return byte_request("led", arg, [](std::uint8_t& v) {
        b.led = v;
        b.leds.push_back(v);
      });
    });
    for (const char* kind : {"dip", "power", "led"}) h.add_fail_kind(kind);
    return &b;
  }();
  return *board;
}

namespace {

DefaultModel installed([] { hal_board(); });

// The requests, words and failure kinds are there from the start, before
// any device is opened.
struct BoardWords {
  BoardWords() {
    hal_board();
    Hal::add_words("dip", [](const Args& a, std::ostream&) { return byte_word(a, hal_board().dip); });
    Hal::add_words("power", [](const Args& a, std::ostream&) { return byte_word(a, hal_board().power); });
    Hal::add_words("led", [](const Args& a, std::ostream& out) -> std::string {
      if (a.size() != 1) return "usage: hal led";
      for (std::uint8_t v : hal_board().take_leds()) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", v);
        out << hex << "\n";
      }
      return "";
    });
  }
} board_words;

}  // namespace
}  // namespace sim
}  // namespace platform
