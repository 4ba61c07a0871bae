// Interface address selection against real interfaces, set up in a private
// user and network namespace: range boundaries, several addresses on one
// interface, the kernel's interface order, interfaces that are down or have
// no carrier, and the fixed room for 16 interface records.
#include "runtime/net.h"
#include "tests/support/netns.h"

#include <gtest/gtest.h>
#include <net/if.h>

#include <sstream>
#include <string>

using testsupport::ip;

namespace {

// One line per mode: "mode: count addr addr ...".
std::string addresses(std::initializer_list<Net::ifconfig_mode_t> modes) {
  std::ostringstream out;
  for (auto mode : modes) {
    std::list<INet4::Addr> l;
    const int n = Net::ifconfig(l, mode);
    out << mode << ": " << n;
    for (const auto& a : l) out << " " << a.GetStrAddr();
    out << "\n";
  }
  return out.str();
}

std::string names(Net::ifconfig_mode_t mode, unsigned int flags) {
  std::list<std::string> l;
  std::ostringstream out;
  out << Net::ifconfig(l, mode, flags);
  for (const auto& n : l) out << " " << n;
  return out.str();
}

void add(const char* dev, std::initializer_list<const char*> addrs) {
  for (const char* a : addrs) ip(std::string("addr add ") + a + " dev " + dev);
}

// Sixteen addresses, each range's first and last and its neighbours outside,
// fill the interface list exactly. The peer end of a veth pair is registered
// first, so the kernel lists v1 before v0; both are down, which does not keep
// their addresses out of the list.
TEST(NetIfconfigNamespace, RangeBoundariesInKernelOrder) {
  RUN_IN_NETNS(r, [] {
    ip("link add v0 type veth peer name v1");
    add("v0", {"9.255.255.255/32", "10.0.0.0/32", "10.255.255.255/32", "11.0.0.0/32", "172.15.255.255/32",
               "172.16.0.0/32", "172.31.255.255/32", "172.32.0.0/32"});
    add("v1", {"192.167.255.255/32", "192.168.0.0/32", "192.168.255.255/32", "192.169.0.0/32",
               "169.253.255.255/32", "169.254.0.0/32", "169.254.255.255/32", "169.255.0.0/32"});
    std::string out = addresses({0, 1, 2, 4, 6});
    // A 17th record (loopback comes first) pushes the last one out.
    ip("link set lo up");
    out += addresses({0});
    return out;
  });
  const std::string v1 =
      " 192.167.255.255 192.168.0.0 192.168.255.255 192.169.0.0"
      " 169.253.255.255 169.254.0.0 169.254.255.255 169.255.0.0";
  const std::string v0 =
      " 9.255.255.255 10.0.0.0 10.255.255.255 11.0.0.0"
      " 172.15.255.255 172.16.0.0 172.31.255.255 172.32.0.0";
  EXPECT_EQ(r.output, "0: 16" + v1 + v0 + "\n" +
                          "1: 16" + v1 + v0 + "\n" +
                          "2: 2 169.254.0.0 169.254.255.255\n" +
                          "4: 6 192.168.0.0 192.168.255.255 10.0.0.0 10.255.255.255 172.16.0.0 172.31.255.255\n" +
                          "6: 8 192.168.0.0 192.168.255.255 169.254.0.0 169.254.255.255 10.0.0.0 10.255.255.255 "
                          "172.16.0.0 172.31.255.255\n" +
                          "0: 16 127.0.0.1" + v1 + v0.substr(0, v0.rfind(' ')) + "\n");
}

// Loopback with further addresses, a veth pair with one end down (the other
// up without carrier), and a second pair whose end "Lo" counts as loopback
// by name. Each address is reported as listed, not the interface's first.
TEST(NetIfconfigNamespace, ModesOverSeveralAddressesPerInterface) {
  RUN_IN_NETNS(r, [] {
    ip("link set lo up");
    add("lo", {"169.254.1.1/16", "10.1.1.1/8"});
    ip("link add a0 type veth peer name a1");
    add("a1", {"1.2.3.4/32", "169.254.9.9/32"});
    add("a0", {"172.20.0.1/16"});
    ip("link set a0 up");
    ip("link add Lo type veth peer name b1");
    add("Lo", {"192.168.7.7/24"});
    ip("link set Lo up");
    ip("link set b1 up");
    testsupport::wait_running("Lo");
    std::string out = addresses({0, 1, 2, 3, 4, 5});
    std::list<INet4::Addr> kept = {INet4::Addr(std::string("5.6.7.8:9"))};
    const int n = Net::ifconfig(kept, Net::if_private);
    out += "appended " + std::to_string(n) + " to " + kept.front().GetString() + ", " +
           std::to_string(kept.size()) + " in all\n";
    out += "names 0/0: " + names(0, 0) + "\n";
    out += "names 1/up: " + names(Net::if_not_loopback, IFF_UP) + "\n";
    out += "names 0/up+running: " + names(0, IFF_UP | IFF_RUNNING) + "\n";
    return out;
  });
  EXPECT_EQ(r.output,
            "0: 7 127.0.0.1 169.254.1.1 10.1.1.1 1.2.3.4 169.254.9.9 172.20.0.1 192.168.7.7\n"
            "1: 3 1.2.3.4 169.254.9.9 172.20.0.1\n"
            "2: 2 169.254.1.1 169.254.9.9\n"
            "3: 4 169.254.1.1 1.2.3.4 169.254.9.9 172.20.0.1\n"
            "4: 3 10.1.1.1 172.20.0.1 192.168.7.7\n"
            "5: 5 10.1.1.1 1.2.3.4 169.254.9.9 172.20.0.1 192.168.7.7\n"
            "appended 3 to 5.6.7.8:9, 4 in all\n"
            "names 0/0: 7 lo lo lo a1 a1 a0 Lo\n"
            "names 1/up: 1 a0\n"
            "names 0/up+running: 4 lo lo lo Lo\n");
}

// A fresh namespace has loopback down and without address: nothing to list.
TEST(NetIfconfigNamespace, NoAddressesListsNothing) {
  RUN_IN_NETNS(r, [] { return addresses({0, 1, 4}); });
  EXPECT_EQ(r.output, "0: 0\n1: 0\n4: 0\n");
}

}  // namespace
