// libFuzzer target: bytes from the authentication program, as one stream,
// through the client's record reader (length word first, then the rest,
// never past a record) and the routing of every complete record.
#include "media/modem_factory.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <iostream>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool quiet = (std::cerr.setstate(std::ios::failbit), std::clog.setstate(std::ios::failbit), true);
  (void)quiet;
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv) != 0) return 0;
  // Small pieces, so records also arrive split over several events.
  ModemFactory& factory = ModemFactory::instance();
  auto* client = new AuthClient(Fd(sv[0]), INet4::Addr(), &factory);
  bool gone = false;
  std::size_t at = 0;
  while (!gone) {
    const std::size_t n = size - at < 97 ? size - at : 97;
    if (n > 0 && ::write(sv[1], data + at, n) > 0) at += n;
    if (at == size) ::shutdown(sv[1], SHUT_WR);
    client->OnSocketEvent(sv[0], POLLIN);
    // Once its connection is closed the factory has deleted the client.
    pollfd p{sv[1], 0, 0};
    gone = ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
  }
  ::close(sv[1]);
  return 0;
}
