// The monitoring state's own address and interface list against real
// interfaces, set up in a private user and network namespace.
#include "board/monitoring/monitoring_data_holder.h"
#include "board/monitoring/net_if_data_holder.h"
#include "platform/sim/netif.h"
#include "tests/support/log_sink.h"
#include "tests/support/netns.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

using testsupport::ip;

namespace {

// "own-address | index name, ..." of a monitoring state built now.
std::string built() {
  platform::sim::netifs().reset();
  MonitoringDataHolder h;
  std::ostringstream out;
  out << h.getSelfHostAddress().GetString() << " |";
  for (const auto& n : h.GetNetIfs()) out << " " << n.index() << " " << n.name();
  out << "\n";
  return out.str();
}

// The own address is the first private address the kernel lists, whatever
// else the interface carries, and 127.0.0.1 when there is none. An
// interface's samples follow its carrier.
TEST(MonitoringDataHolderNamespace, OwnAddressAndInterfacesFromTheKernel) {
  testsupport::ScratchBoardRoot root;
  auto r = testsupport::run_in_netns([] {
    std::string out = built();
    ip("link set lo up");
    ip("addr add 192.167.255.255/32 dev lo");
    out += built();
    // The peer end a1 is listed first; its first address is public.
    ip("link add a0 type veth peer name a1");
    ip("addr add 8.8.4.4/32 dev a1");
    ip("addr add 192.168.5.5/24 dev a1");
    ip("addr add 10.0.0.7/8 dev a0");
    out += built();
    ip("addr add 172.31.0.1/16 dev lo");
    out += built();

    ip("link set a0 up");
    ip("link set a1 up");
    testsupport::wait_running("a0");
    platform::sim::netifs().reset();
    NetIfDataHolder a0(3, "a0");
    for (int i = 0; i < 2; ++i) {
      const bool changed = a0.updateNetIf();
      out += std::to_string(changed) + "/" + std::to_string(a0.operStatus()) + " ";
    }
    ip("link set a1 down");
    platform::sim::netifs().reset();
    for (int i = 0; i < 2; ++i) {
      const bool changed = a0.updateNetIf();
      out += std::to_string(changed) + "/" + std::to_string(a0.operStatus()) + " ";
    }
    return out;
  });
  if (!r.ran) GTEST_SKIP() << r.reason;
  EXPECT_EQ(r.output,
            "127.0.0.1:0 | 1 lo\n"
            "127.0.0.1:0 | 1 lo\n"
            "192.168.5.5:0 | 1 lo 2 a1 3 a0\n"
            "172.31.0.1:0 | 1 lo 2 a1 3 a0\n"
            "1/2 1/1 0/1 1/2 ");
}

}  // namespace
