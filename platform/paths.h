#pragma once
// Fixed paths of the board. On the board they are used unchanged; on the
// simulated board they resolve under a board root directory (environment
// variable GW_BOARD_ROOT, default inside the build tree), so the server runs
// without root and tests never touch the machine's own /var.
#include <string>

namespace platform {

// The board root: "" on the board; on the simulator an existing directory
// holding dev/, var/run/, var/log/, var/monitoring/, usr/local/etc/,
// usr/local/voice/ and proc/ (created on first use).
const std::string& board_root();

// What keeps the board root from being used: its first directory that
// could not be made, with the error; "" when there is none (always on the
// board).
const std::string& board_root_problem();

// Maps an absolute board path ("/var/run/server.pid") to the path to open.
std::string board_path(const std::string& path);

// Re-reads GW_BOARD_ROOT; for tests that switch roots within one process. A
// relative root is taken from the working directory at the time of reading.
void reset_board_root();

// A name given at start (an environment value) as a path from the working
// directory the server started in, which it may have left since; absolute
// names and the board's own stay as they are.
std::string from_start_directory(const std::string& name);

// Maps a fixed local port of the board (the authentication listener's
// 52000) to the port to use. On the board unchanged; on the simulator the
// environment may move it (GW_PORT_52000=<port>), so servers of several
// simulated boards run side by side on one machine.
unsigned short local_port(unsigned short port);

// The first GW_PORT_<n> of the environment whose value is not a port, with
// that value; "" when there is none (always on the board). local_port()
// keeps the fixed port for such a value, where the operator asked for
// another: the server refuses to start instead.
std::string local_port_problem();

}  // namespace platform
