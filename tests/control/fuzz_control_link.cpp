// Hostile byte streams into one control connection as the loop reads them:
// the stream layer's reads, cut where the input says, go up through TPKT to
// the owner, who sends every message back; meanwhile the packet pool may run
// dry (reads and frames are then dropped and counted, never fatal) and the
// peer may stop sending. Every delivered message must fit a frame, the
// connection must come up once and go down once, and what the owner sent
// must come out as well-formed frames.
// Input: records of a head octet and that many bytes written by the peer
// (the low 7 bits; with bit 7 set the loop runs after the write). The head
// 0xFF ends the peer's sending, 0xFE empties the packet pool or gives it
// back, 0xFD gives one cell back.
#include "control/control_service.h"
#include "control/tpkt_protocol.h"
#include "platform/clock.h"
#include "runtime/multiplexer.h"
#include "runtime/mux_time.h"
#include "runtime/packet.h"
#include "runtime/timer.h"
#include "tests/support/fuzz_loop.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

class Link : public Control::ServiceUnix, public Control::Notify {
 public:
  Link() {
    Bind(this);
    set_log(false);
  }
  void Take(int fd) { Connected(Fd(fd), "fuzz"); }

  void OnConnect() override { ++connects; }
  void OnDisconnect() override { ++disconnects; }
  void OnMessage(char const* data, int len) override {
    if (len < 0 || static_cast<std::uint32_t>(len) > Tpkt_protocol::max_payload) std::abort();
    ++messages;
    Send(data, len);
  }
  int connects = 0;
  int disconnects = 0;
  int messages = 0;

 private:
  int ImplActivate() override { return 1; }
  void ImplDeactivate() override { Release(); }
  void ImplOnDisconnect() override {}
};

using fuzzsupport::run_for;

// What the peer got back: whole frames of the right shape, the last one
// possibly cut by the connection's end.
struct Echo {
  std::string bytes;
  void drain(int fd) {
    char buf[4096];
    for (;;) {
      const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
      if (n <= 0) break;
      bytes.append(buf, static_cast<std::size_t>(n));
    }
  }
  // At most one frame per message the owner sent (a send may be dropped).
  void check(int sent) const {
    std::size_t at = 0;
    int frames = 0;
    while (bytes.size() - at >= 4) {
      const auto b = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[at + i]); };
      if (b(0) != 3 || b(1) != 0) std::abort();
      const std::size_t len = (std::size_t(b(2)) << 8) | b(3);
      if (len < 4) std::abort();
      if (bytes.size() - at < len) break;
      at += len;
      ++frames;
    }
    if (frames > sent) std::abort();
  }
};

// All but a few buffers of the pool are taken once for good, so emptying
// the rest during an input is cheap; a connection needs only a handful.
constexpr std::size_t spare_cells = 64;

bool set_up() {
  fuzzsupport::keep_spare_cells(spare_cells);
  fuzzsupport::start_quiet();
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = set_up();
  (void)ready;
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) std::abort();
  ::fcntl(sv[0], F_SETFL, O_NONBLOCK);
  ::fcntl(sv[1], F_SETFL, O_NONBLOCK);
  Echo echo;
  fuzzsupport::PoolDrain held;
  {
    Link link;
    link.Take(sv[0]);  // the stream layer keeps a duplicate
    ::close(sv[0]);
    if (link.connects != 1 || !link.IsConnected()) std::abort();
    bool peer_open = true;
    for (std::size_t at = 0; at < size;) {
      const std::uint8_t head = data[at++];
      if (head == 0xFF) {
        if (peer_open) ::shutdown(sv[1], SHUT_WR);
        peer_open = false;
        run_for(1);
        continue;
      }
      if (head == 0xFD) {
        held.give_one();
        continue;
      }
      if (head == 0xFE) {
        held.toggle();
        continue;
      }
      std::size_t len = head & 0x7F;
      if (len > size - at) len = size - at;
      if (peer_open && len) {
        const ssize_t n = ::send(sv[1], data + at, len, MSG_DONTWAIT | MSG_NOSIGNAL);
        (void)n;
      }
      at += len;
      if (head & 0x80) run_for(1);
      echo.drain(sv[1]);
    }
    run_for(1);
    echo.drain(sv[1]);
    held.clear();
    ::close(sv[1]);
    run_for(1);
    run_for(1);
    if (link.disconnects != 1 || link.IsConnected()) std::abort();
    echo.check(link.messages);
    link.Deactivate();
  }
  return 0;
}
