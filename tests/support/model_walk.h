#pragma once
// Pieces shared by the seeded walks that check a running server's every
// answer against a model.
#include "tests/support/lgcp_text.h"
#include "tests/support/server_process.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace testsupport {

// The walks' seeds and length: GW_MODEL_SEEDS=FIRST-LAST and
// GW_MODEL_STEPS=N run others than the suite's own.
inline void walk_range(int& first, int& last, int& steps) {
  if (const char* e = std::getenv("GW_MODEL_SEEDS")) std::sscanf(e, "%d-%d", &first, &last);
  if (const char* e = std::getenv("GW_MODEL_STEPS")) steps = std::atoi(e);
}

// Octets as hex text (two capitals each), then `tail`.
inline std::string hex_octets(std::initializer_list<int> octets, const std::string& tail = "") {
  static const char d[] = "0123456789ABCDEF";
  std::string s;
  for (int o : octets) s += {d[(o >> 4) & 15], d[o & 15]};
  return s + tail;
}

// The controller leaves and comes anew. It is refused while the server has
// not yet noticed the old one's end, so it tries again until a ping of its
// own is answered; `frames(n)` reads the next n frames as text.
inline bool controller_rejoins(RunningServer& s, int& seq,
                               const std::function<std::vector<std::string>(std::size_t)>& frames) {
  s.ctl.close();
  return eventually([&] {
    if (!s.reconnect()) return false;
    const int p = ++seq;
    s.ctl.send(null_command_image(p, -1, "ping"));
    return frames(1) == std::vector<std::string>{"seq " + std::to_string(p) + " success"};
  });
}

}  // namespace testsupport
