#pragma once
// A signal taken while a call waits, for tests of how a wait goes on after
// one (a child's end, the status-dump request). Real time.
#include <functional>

namespace testsupport {

// Runs `call` on this thread with a SIGALRM due 200 ms after it starts, the
// handler restarting system calls where they can be. `peer`, the other side
// of what `call` waits for, runs meanwhile on a thread that takes no signal,
// and only once the alarm has been taken (at most 5 s later), so `call` is
// sure to be waiting when it comes. True when the alarm was taken.
bool alarm_during(const std::function<void()>& call, const std::function<void()>& peer);

}  // namespace testsupport
