// IPv4 endpoint: text parsing, the socket address byte image, and the
// strict reading for callers that must refuse bad text.
#include "runtime/inet4_addr.h"

#include <cstring>
#include <gtest/gtest.h>
#include <sstream>

namespace {

// The 16 bytes handed to connect().
std::vector<unsigned char> image(INet4::Addr& a) {
  const sockaddr* sa = a;
  const unsigned char* b = reinterpret_cast<const unsigned char*>(sa);
  return std::vector<unsigned char>(b, b + a.size());
}

TEST(INet4Addr, TextGivesTheSocketAddress) {
  INet4::Addr a(std::string("10.1.2.3:2000"));
  ASSERT_EQ(a.size(), 16u);
  const sockaddr* sa = a;
  EXPECT_EQ(sa->sa_family, AF_INET);
  std::vector<unsigned char> b = image(a);
  EXPECT_EQ(std::vector<unsigned char>(b.begin() + 2, b.end()),
            (std::vector<unsigned char>{0x07, 0xD0, 10, 1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(a.port(), 2000);
  EXPECT_EQ(a.GetString(), "10.1.2.3:2000");
  EXPECT_EQ(a.GetVector(), (std::vector<char>{10, 1, 2, 3}));
  std::ostringstream os;
  os << std::hex << a << ' ' << 255;
  EXPECT_EQ(os.str(), "10.1.2.3:2000 255") << "the stream is left in decimal";
}

TEST(INet4Addr, AssignPortRules) {
  INet4::Addr a;
  EXPECT_EQ(a.GetString(), "0.0.0.0:0");
  int port = 0;
  EXPECT_TRUE(a.Assign("10.1.2.3:80", &port));
  EXPECT_EQ(port, 80);
  a.port(5000);
  EXPECT_TRUE(a.Assign("10.1.2.4", &port));
  EXPECT_EQ(port, -1);
  EXPECT_EQ(a.GetString(), "10.1.2.4:5000") << "no colon: the port stays";
  EXPECT_TRUE(a.Assign("10.1.2.3:", &port));
  EXPECT_EQ(port, 0);
  EXPECT_FALSE(a.Assign(":80", &port));
  EXPECT_EQ(a.GetString(), "10.1.2.3:80") << "address kept, port stored";
  EXPECT_TRUE(a.Assign("10.1.2.3:65537", &port));
  EXPECT_EQ(port, 65537);
  EXPECT_EQ(a.port(), 1);
  EXPECT_TRUE(a.Assign("10.1.2.3:5:6", &port));
  EXPECT_EQ(a.port(), 5);
  // A number beyond int reads as the nearest int, as on the board whatever
  // the width of long: never as its low bits, which would turn 2147483648
  // into a negative "no port" and 4294967377 into port 81.
  EXPECT_TRUE(a.Assign("10.1.2.3:2147483648", &port));
  EXPECT_EQ(port, 2147483647);
  EXPECT_EQ(a.port(), 65535);
  EXPECT_TRUE(a.Assign("10.1.2.3:4294967377", &port));
  EXPECT_EQ(port, 2147483647);
  EXPECT_EQ(a.port(), 65535);
  EXPECT_TRUE(a.Assign("10.1.2.3:-4294967216", &port));
  EXPECT_EQ(port, -2147483647 - 1);
  EXPECT_EQ(a.port(), 0);
  EXPECT_TRUE(a.Assign("0x0a000001:1"));  // the forms inet_aton reads
  EXPECT_EQ(a.GetString(), "10.0.0.1:1");
  EXPECT_FALSE(a.Assign(static_cast<const char*>(nullptr)));

  INet4::Addr bad(std::string("not-an-address:99"));
  EXPECT_EQ(bad.GetString(), "0.0.0.0:99");
}

TEST(INet4Addr, EqualityIgnoresPadding) {
  sockaddr_in raw;
  std::memset(&raw, 0xAB, sizeof raw);
  raw.sin_family = AF_INET;
  raw.sin_port = htons(80);
  raw.sin_addr.s_addr = htonl(0x0A010203);
  INet4::Addr a(raw), b(std::string("10.1.2.3:80")), c(std::string("10.1.2.3:81"));
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(b == c);
  a.Assign(static_cast<unsigned long>(htonl(0x7F000001)));
  EXPECT_EQ(a.GetString(), "127.0.0.1:80");
}

TEST(INet4Addr, ParseRefusesWhatAConnectMustNotTry) {
  INet4::Addr a;
  EXPECT_TRUE(INet4::Addr::Parse("192.168.1.20:20001", a));
  EXPECT_EQ(a.GetString(), "192.168.1.20:20001");
  EXPECT_TRUE(INet4::Addr::Parse("192.168.1.20", a));
  EXPECT_EQ(a.port(), 0);
  for (const char* text : {"", "host.example:80", ":80", "10.1.2.3:", "10.1.2.3:x", "10.1.2.3:80x",
                           "10.1.2.3:65536", "10.1.2.3:-1", "10.1.2.3: 80", "10.1.2.3:5:6", "1.2.3.4.5:1"}) {
    EXPECT_FALSE(INet4::Addr::Parse(text, a)) << text;
    EXPECT_EQ(a.GetString(), "0.0.0.0:0") << text;
  }
  EXPECT_FALSE(INet4::Addr::Parse(std::string("10.1.2.3\0junk:80", 16), a));
}

}  // namespace
