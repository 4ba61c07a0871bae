#pragma once
// The simulator's control socket: a Unix stream socket at "var/run/sim.sock"
// under the board root, through which tests read and steer the simulated
// board of a running server (see platform/sim/control_words.h for the
// request lines). The board has none: there every call fails.
//
// The owner (the server program) polls the listening and the client
// descriptors on its own loop and calls these when they are readable.
#include <string>

namespace platform {
namespace control_socket {

// The path of the socket (under the board root).
std::string path();

// Binds and listens, replacing a stale socket file; a non-blocking
// close-on-exec descriptor, or -1 (always -1 on the board; EADDRINUSE when
// a running server answers at the path).
int listen();

// A connected client (non-blocking, close-on-exec), or -1.
int accept(int listen_fd);

// Reads what the client sent, appending to `pending`, and answers every
// whole line in it. False when the client has gone or failed: the caller
// closes it.
bool serve(int client_fd, std::string& pending);

}  // namespace control_socket
}  // namespace platform
