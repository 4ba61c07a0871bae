#pragma once
// The LGCP image of a t38soft create: the fax peer at `dhost` port 5000,
// the local side on port 6000, and `nargs` extra program arguments, then
// `more`.
#include "tests/support/lgcp_text.h"

#include <string>
#include <vector>

namespace t38test {

inline std::string create(int seq, int slot, const std::string& dhost = "127.0.0.1", int nargs = 0,
                          const std::vector<std::string>& more = {}) {
  return testsupport::command_image(seq, slot, [&](LGCP::Command& c) {
    auto& t = c.select_create().select_t38soft();
    t.set_dhost().set_iaddr(dhost);
    t.set_dhost().set_port(5000);
    t.set_shost().set_iaddr(std::string("0.0.0.0"));
    t.set_shost().set_port(6000);
    t.set_rx_packet_size(256);
    t.set_rx_threshold(3);
    t.set_tx_threshold(4);
    for (int i = 0; i < nargs; ++i) t.set_args().push_back("a" + std::to_string(i));
    for (const std::string& a : more) t.set_args().push_back(a);
  });
}

}  // namespace t38test
