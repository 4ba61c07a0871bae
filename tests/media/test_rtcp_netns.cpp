// An RTP slot whose remote host has no route yet, as on a board whose link
// is not up: the start's SDES cannot leave (ENETUNREACH), yet the slot is
// made, and once the host is reachable its BYE arrives. Runs in a private
// user and network namespace.
#include "media/rtp_factory.h"
#include "media/rtp_slot.h"
#include "platform/sim/rtp.h"
#include "tests/media/rtp_fixture.h"
#include "tests/support/netns.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>

using namespace rtptest;
using platform::sim::rtp;
using testsupport::ip;
using P = TERM::Payload;

namespace {

// The first two octets of the next datagram on `fd` as "81 CB"; "" when
// none comes within 2 s.
std::string head_of_next(int fd) {
  pollfd p = {fd, POLLIN, 0};
  unsigned char buf[2048];
  if (::poll(&p, 1, 2000) != 1 || ::recv(fd, buf, sizeof buf, 0) < 2) return "";
  char text[8];
  std::snprintf(text, sizeof text, "%02X %02X", buf[0], buf[1]);
  return text;
}

TEST(RtcpNetns, SlotWithoutARouteToItsPeerIsMadeAndSaysByeOnceThePeerIsReachable) {
  RUN_IN_NETNS(r, [] {
    ip("link set lo up");
    std::ostringstream out;
    rtp().refresh();
    const std::size_t before = rtp().sessions.size();
    auto* slot = static_cast<RtpSlot*>(
        RtpFactory::instance().NewSlot(rtp_params(P::ptG711_Alaw, "10.81.0.2", 40000, P::ptG711_Alaw, P::ptG711_Alaw)));
    rtp().refresh();
    out << "made " << (slot != nullptr) << ", sessions " << rtp().sessions.size() - before << "\n";
    if (!slot) return out.str();

    ip("addr add 10.81.0.2/32 dev lo");
    // The slot's own RTCP socket holds the port on any address (its local
    // port is the remote one here); this one takes the peer's address.
    const int peer = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(peer, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(40001);
    ::inet_pton(AF_INET, "10.81.0.2", &a.sin_addr);
    if (::bind(peer, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
      throw testsupport::NetnsUnavailable("cannot bind the RTCP peer");
    out << "destroyed " << slot->BeforeDestroy();
    delete slot;
    out << ", received " << head_of_next(peer) << "\n";
    ::close(peer);
    return out.str();
  });
  EXPECT_EQ(r.output,
            "made 1, sessions 1\n"
            "destroyed 1, received 81 CB\n");
}

}  // namespace

namespace {

// A counter of the namespace's own IP statistics ("Icmp", "OutDestUnreachs"),
// -1 when it cannot be read.
long snmp_counter(const std::string& group, const std::string& name) {
  std::FILE* f = std::fopen("/proc/net/snmp", "r");
  if (!f) return -1;
  char head[2048], values[2048];
  long found = -1;
  while (found < 0 && std::fgets(head, sizeof head, f) && std::fgets(values, sizeof values, f)) {
    std::istringstream names(head), numbers(values);
    std::string n, v;
    names >> n;
    numbers >> v;
    if (n != group + ":") continue;
    while (names >> n && numbers >> v)
      if (n == name) found = std::stol(v);
  }
  std::fclose(f);
  return found;
}

// Waits (at most 2 s) until the counter has grown past `before`.
bool counter_grew(const std::string& group, const std::string& name, long before) {
  for (int i = 0; i < 200; ++i) {
    if (snmp_counter(group, name) > before) return true;
    ::usleep(10000);
  }
  return false;
}

void send_to(std::uint16_t port, std::size_t length) {
  const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::string data(length, 'x');
  ::sendto(s, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::close(s);
}

RtpSlot* make_slot(const std::string& dhost, std::uint16_t dport, const std::string& shost = "",
                   std::uint16_t sport = 0) {
  return static_cast<RtpSlot*>(RtpFactory::instance().NewSlot(
      rtp_params(P::ptG711_Alaw, dhost, dport, P::ptG711_Alaw, P::ptG711_Alaw, [&](TERM::RtpParams& r) {
        if (shost.empty()) return;
        r.set_shost().set_iaddr(shost);
        r.set_shost().set_port(sport);
      })));
}

// The peer's RTCP port is closed when the SDES goes out: the ICMP answer
// is not held against the socket (an unconnected one takes no such error),
// so the BYE still leaves once the port is open. Datagrams sent to the
// slot's own RTCP port, empty or of the largest size, are never read and
// change nothing.
TEST(RtcpNetns, ARefusedSdesAndStrayDatagramsCostTheSlotNotItsBye) {
  RUN_IN_NETNS(r, [] {
    ip("link set lo up");
    std::ostringstream out;
    const long refused = snmp_counter("Icmp", "OutDestUnreachs");
    RtpSlot* slot = make_slot("127.0.0.1", 41000, "127.0.0.1", 42000);
    out << "made " << (slot != nullptr);
    if (!slot) return out.str();
    out << ", port unreachable " << counter_grew("Icmp", "OutDestUnreachs", refused) << "\n";
    send_to(42001, 0);
    send_to(42001, 65507);
    for (int i = 0; i < 300; ++i) send_to(42001, 1400);
    UdpPeer peer(41001, false);
    if (!peer.ok()) throw testsupport::NetnsUnavailable("cannot bind the RTCP peer");
    out << "destroyed " << slot->BeforeDestroy();
    delete slot;
    out << ", received " << peer.receive(2000).substr(0, 5) << "\n";
    return out.str();
  });
  EXPECT_EQ(r.output,
            "made 1, port unreachable 1\n"
            "destroyed 1, received 81 CB\n");
}

// Remote addresses of every kind the controller may name: the slot is made
// and ends whatever becomes of its RTCP (a broadcast address refuses it
// without SO_BROADCAST, a network without a route is unreachable, remote
// port 65535 leaves port 0 for RTCP); "any" (0.0.0.0) reaches this host. A
// local address on no interface is the driver's: RTCP binds on every
// address. The local port is apart from the peer's throughout.
TEST(RtcpNetns, EveryKindOfRemoteAddressMakesASlotThatEnds) {
  const struct {
    const char* dhost;
    std::uint16_t dport;
    const char* shost;
  } cases[] = {{"255.255.255.255", 43000, "0.0.0.0"}, {"10.84.0.255", 43000, "0.0.0.0"},
               {"239.1.2.3", 43000, "0.0.0.0"},       {"10.99.0.9", 43000, "0.0.0.0"},
               {"0.0.0.0", 43000, "0.0.0.0"},         {"127.0.0.1", 0, "0.0.0.0"},
               {"127.0.0.1", 65535, "0.0.0.0"},       {"127.0.0.1", 43000, "10.98.0.1"}};
  RUN_IN_NETNS(r, [&] {
    ip("link set lo up");
    ip("addr add 10.84.0.1/24 dev lo");
    std::ostringstream out;
    UdpPeer peer(43001, false);
    if (!peer.ok()) throw testsupport::NetnsUnavailable("cannot bind the RTCP peer");
    for (const auto& c : cases) {
      RtpSlot* slot = make_slot(c.dhost, c.dport, c.shost, 44000);
      out << c.dhost << ":" << c.dport << " from " << c.shost << " made " << (slot != nullptr);
      if (slot) {
        out << " destroyed " << slot->BeforeDestroy();
        delete slot;
      }
      std::string got;
      for (std::string d; !(d = peer.receive(50)).empty();) got += " " + d.substr(0, 5);
      out << " peer got" << got << "\n";
    }
    return out.str();
  });
  EXPECT_EQ(r.output,
            "255.255.255.255:43000 from 0.0.0.0 made 1 destroyed 1 peer got\n"
            "10.84.0.255:43000 from 0.0.0.0 made 1 destroyed 1 peer got\n"
            "239.1.2.3:43000 from 0.0.0.0 made 1 destroyed 1 peer got\n"
            "10.99.0.9:43000 from 0.0.0.0 made 1 destroyed 1 peer got\n"
            "0.0.0.0:43000 from 0.0.0.0 made 1 destroyed 1 peer got 81 CA 81 CB\n"
            "127.0.0.1:0 from 0.0.0.0 made 1 destroyed 1 peer got\n"
            "127.0.0.1:65535 from 0.0.0.0 made 1 destroyed 1 peer got\n"
            "127.0.0.1:43000 from 10.98.0.1 made 1 destroyed 1 peer got 81 CA 81 CB\n");
}

}  // namespace
