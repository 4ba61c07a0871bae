// Hostile byte streams into the TPKT receiver: the first octet picks the
// size of the chunks the rest is fed in, so split and joined frames are
// explored as well. Every delivered message must fit a frame.
#include "tests/control/tpkt_harness.h"

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::ostringstream sink;
  std::clog.rdbuf(sink.rdbuf());
  sink.str("");
  if (size == 0) return 0;
  const std::size_t chunk = 1 + data[0] % 64;
  tpkttest::Harness h;
  for (std::size_t at = 1; at < size; at += chunk) h.feed(data + at, std::min(chunk, size - at));
  for (const std::string& m : h.messages)
    if (m.size() > Tpkt_protocol::max_payload) std::abort();
  return 0;
}
