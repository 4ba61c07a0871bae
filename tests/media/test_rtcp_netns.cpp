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
