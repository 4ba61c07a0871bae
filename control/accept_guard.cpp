#include "control/accept_guard.h"

#include "runtime/errno_text.h"
#include "runtime/event.h"
#include "runtime/fd.h"

#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Control {

namespace {

// One for the whole process: the loop runs one accept at a time.
Fd& spare() {
  static Fd fd;
  return fd;
}

bool hold_spare() {
  if (spare()) return true;
  return spare().open("/dev/null", O_RDONLY);
}

}  // namespace

bool SpareDescriptorHeld() { return spare().is_valid(); }

AcceptGuard::AcceptGuard(Event& accept_event) : event(accept_event) { hold_spare(); }

bool AcceptGuard::OnAcceptFailure(int listen_fd, int err, bool log) {
  if (err != EMFILE && err != ENFILE) return false;
  bool shed = false;
  if (spare()) {
    spare().close();
    const int conn = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (conn >= 0) {
      ::close(conn);
      shed = true;
    }
    hold_spare();
  }
  if (log && !logged) {
    std::cerr << "can't accept connection: " << Errno(err)
              << (shed ? ", connection dropped." : ", accepting paused.") << std::endl;
  }
  logged = true;
  if (!shed) {
    // Nothing to give: poll must not report the same backlog at once again.
    event.SetEvents(0);
    pause.set(pause_ms, &AcceptGuard::OnPauseEnd, this);
  }
  return true;
}

void AcceptGuard::Reset() { pause.reset(); }

void AcceptGuard::OnPauseEnd(Timer*) {
  hold_spare();
  event.SetEvents(POLLIN);
}

}  // namespace Control
