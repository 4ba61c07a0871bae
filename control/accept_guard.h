#pragma once
// Control::AcceptGuard: keeps a listening socket from spinning the loop when
// the process has run out of descriptors. accept then fails with EMFILE (or
// ENFILE) and leaves the connection in the backlog, so poll reports it again
// at once and nobody is ever served. The process keeps one spare descriptor:
// the guard closes it for an instant, accepts the pending connection and
// closes it, logs once, and opens the spare again. When no spare can be
// given, the accept event is muted for a moment instead of spinning.
#include "runtime/timer.h"

class Event;

namespace Control {

class AcceptGuard {
 public:
  static constexpr unsigned int pause_ms = 100;

  // Opens the process's spare descriptor when it is not held yet.
  explicit AcceptGuard(Event& accept_event);

  // accept on the listening descriptor failed with `err`: true when that was
  // descriptor exhaustion and has been dealt with (the caller stops
  // accepting for this pass); false for any other error.
  bool OnAcceptFailure(int listen_fd, int err, bool log);
  // An accept succeeded: the next exhaustion is logged again.
  void Accepted() { logged = false; }
  // Stops a pause (the acceptor stops listening).
  void Reset();

  void OnPauseEnd(Timer*);

 private:
  Event& event;
  Timer pause;
  bool logged = false;
};

// Whether the spare descriptor is held now (for tests).
bool SpareDescriptorHeld();

}  // namespace Control
