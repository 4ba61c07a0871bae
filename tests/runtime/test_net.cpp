// Interface address selection. The machine's own interfaces are used; the
// loopback interface is assumed to exist and be up.
#include "runtime/net.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <net/if.h>

namespace {

bool has(const std::list<INet4::Addr>& l, const std::string& text) {
  return std::any_of(l.begin(), l.end(), [&](const INet4::Addr& a) { return a.GetString() == text; });
}

TEST(NetIfconfig, ModesSelectInterfaces) {
  std::list<INet4::Addr> all;
  int n = Net::ifconfig(all, 0);
  ASSERT_GE(n, 0);
  if (!has(all, "127.0.0.1:0")) GTEST_SKIP() << "no loopback address here";
  EXPECT_EQ(static_cast<std::size_t>(n), all.size());

  std::list<INet4::Addr> not_lo = {INet4::Addr(std::string("1.2.3.4:5"))};
  int m = Net::ifconfig(not_lo, Net::if_not_loopback | Net::if_link_local);
  EXPECT_EQ(static_cast<std::size_t>(m) + 1, not_lo.size()) << "appended, not cleared";
  EXPECT_FALSE(has(not_lo, "127.0.0.1:0"));

  std::list<INet4::Addr> priv;
  Net::ifconfig(priv, Net::if_private);
  for (auto& a : priv) {
    std::string s = a.GetStrAddr();
    EXPECT_TRUE(s.rfind("10.", 0) == 0 || s.rfind("192.168.", 0) == 0 || s.rfind("172.", 0) == 0) << s;
  }

  std::list<std::string> names;
  EXPECT_GE(Net::ifconfig(names, 0, IFF_UP | IFF_LOOPBACK), 1);
  EXPECT_NE(std::find(names.begin(), names.end(), "lo"), names.end());
}

TEST(NetHostname, ReadsTheHostName) { EXPECT_FALSE(Net::hostname().empty()); }

}  // namespace
