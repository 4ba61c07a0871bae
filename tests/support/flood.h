#pragma once
// One input that never stops, against the running server: a thread writes
// the same bytes on a descriptor as fast as it is taken (and reads away
// whatever comes back) while the controller's pings measure how long the
// loop leaves the rest waiting.
#include "tests/support/server_process.h"

#include <string>

namespace testsupport {

// The slowest answer to a controller ping, in milliseconds, while `bytes`
// are written on `fd` over `ms` of real time; a ping not answered within
// patience counts as patience.
int slowest_ping_during_flood(RunningServer& srv, int fd, const std::string& bytes, int ms = 2000);

}  // namespace testsupport
