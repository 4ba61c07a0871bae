// libFuzzer target: bytes from the authentication program, as one stream,
// through the client's record reader (length word first, then the rest,
// never past a record) and the routing of every complete record. A modem
// slot without its modem yet (session -1) lives for the whole run, so
// records for that session reach the slot's reading of requests and
// accounting.
#include "media/modem_factory.h"
#include "media/modem_slot.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <iostream>

namespace {

bool same_file(int fd, const struct stat& want) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && st.st_dev == want.st_dev && st.st_ino == want.st_ino;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool quiet = (std::cerr.setstate(std::ios::failbit), std::clog.setstate(std::ios::failbit), true);
  (void)quiet;
  static Slot* const slot = [] {
    LGCP::CreateParams create;
    create.select_modem();
    return ModemFactory::instance().INewSlot(create);
  }();
  (void)slot;
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv) != 0) return 0;
  struct stat sock;
  if (::fstat(sv[0], &sock) != 0) {
    ::close(sv[0]);
    ::close(sv[1]);
    return 0;
  }
  // The client deletes itself in the call that closes its own duplicate of
  // sv[0]. Our end of the pair cannot tell that for certain: any other
  // reference to the socket (a process reading /proc/<pid>/fd, a forked
  // child) delays the hang-up past the deletion, and the next call would go
  // into a freed client. So watch the duplicate itself: it takes the lowest
  // free number, and nothing else here holds that socket.
  const int probe = ::fcntl(sv[0], F_DUPFD_CLOEXEC, 0);
  if (probe >= 0) ::close(probe);
  ModemFactory& factory = ModemFactory::instance();
  auto* client = new AuthClient(Fd(sv[0]), INet4::Addr(), &factory);
  if (probe < 0 || probe == sv[0] || !same_file(probe, sock)) {
    delete client;
    ::close(sv[1]);
    return 0;
  }
  // Small pieces, so records also arrive split over several events.
  std::size_t at = 0;
  bool gone = false;
  while (!gone) {
    const std::size_t n = size - at < 97 ? size - at : 97;
    if (n > 0 && ::write(sv[1], data + at, n) > 0) at += n;
    if (at == size) ::shutdown(sv[1], SHUT_WR);
    client->OnSocketEvent(probe, POLLIN);
    gone = !same_file(probe, sock);
  }
  ::close(sv[1]);
  return 0;
}
