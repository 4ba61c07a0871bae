// The call-record sender: one datagram per receiver, byte for byte, over
// loopback; receivers that cannot be reached or cannot be read are passed by.
#include "board/cdr/cdr_sender.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/netns.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

class Receiver {
 public:
  Receiver() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~Receiver() { ::close(fd_); }
  std::string name() const { return "127.0.0.1:" + std::to_string(port_); }
  // The next datagram, "" when none comes within the time.
  std::string next(int timeout_ms = 2000) {
    pollfd p = {fd_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) != 1) return "";
    char buf[2048];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
  }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

TEST(CdrSender, EveryReceiverGetsTheRecordWhateverLiesBetween) {
  CDR_Sender::Sender sender;
  Receiver a, b;
  std::string record("call 1 from 100 to 200\0duration 42", 34);
  // Between the two: a port nobody listens on, and words that name nobody
  // (no port, a bad address, a port out of range, a bad port).
  const std::string list = "  " + a.name() + "\t127.0.0.1:1 127.0.0.1 300.1.2.3:5 127.0.0.1:99999 127.0.0.1:x" +
                           " nohost:7 \n" + b.name() + " ";
  EXPECT_TRUE(sender.SendTo(record, list));
  EXPECT_EQ(a.next(), record);
  EXPECT_EQ(b.next(), record);
  EXPECT_EQ(a.next(100), "") << "one datagram each";
  EXPECT_EQ(b.next(100), "");
  // Again, to make sure the unreachable one left the socket usable.
  std::string second = "second";
  EXPECT_TRUE(sender.SendTo(second, "127.0.0.1:1 " + b.name()));
  EXPECT_EQ(b.next(), "second");
  // Nobody to send to is not a failure.
  EXPECT_TRUE(sender.SendTo(second, ""));
  EXPECT_TRUE(sender.SendTo(second, "   "));
  EXPECT_EQ(a.next(100), "");
  // Made when no descriptor is left, it has no socket and says so.
  EXPECT_EQ(testsupport::in_child([&](std::vector<std::string>& failed) {
              testsupport::DescriptorFill fill;
              if (!fill.fill()) return failed.push_back("the descriptor table cannot be filled");
              CDR_Sender::Sender none;
              if (none.SendTo(second, a.name())) failed.push_back("sent without a socket");
            }),
            "");
}

// Destinations a real network refuses at once, in a private namespace:
// broadcast addresses (no SO_BROADCAST), a network without a route, and a
// record too large for one datagram; the receivers around them still get
// theirs.
TEST(CdrSender, DestinationsTheNetworkRefusesArePassedBy) {
  std::string huge(70000, 'x');
  RUN_IN_NETNS(r, [&] {
    testsupport::ip("link set lo up");
    testsupport::ip("addr add 10.85.0.1/24 dev lo");
    CDR_Sender::Sender sender;
    Receiver a;
    Receiver b;
    std::string record = "call 2";
    const std::string refused = " 255.255.255.255:9 10.85.0.255:9 10.99.0.9:9 ";
    std::string out = std::to_string(sender.SendTo(record, a.name() + refused + b.name()));
    out += " " + a.next() + " " + b.next();
    out += " " + std::to_string(sender.SendTo(huge, a.name()));
    out += " " + std::to_string(sender.SendTo(record, refused + b.name()));
    out += " " + b.next();
    out += " [" + a.next(100) + "]";
    return out;
  });
  EXPECT_EQ(r.output, "1 call 2 call 2 1 1 call 2 []");
}

}  // namespace
