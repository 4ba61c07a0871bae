// Hostile messages through the control server as the controller would send
// them: decoded as LGCP::Messages and offered, command by command, to the
// services the server binds, in its bind order and with its slot factories,
// on the simulated board; answers are encoded again. A service that reads a
// CHOICE alternative without testing its selection ends here with "CHOICE
// ASSERTION FAILED!", so every service's dispatch on the parameters the
// controller chooses (CreateParams, IoctlParams, ...) is fuzzed. The
// factories and services are those of the server's own start-up
// (board/server_setup.h).
//
// One input is one controller session: a sequence of messages, each a length
// octet and that many bytes, so that a create can be followed by commands on
// its slot; the controller then leaves, and every slot goes with it.
#include "board/server_setup.h"
#include "control/ctrl_server.h"
#include "platform/clock.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

namespace {

bool SetUp() {
  static std::ostringstream sink;
  std::cout.rdbuf(sink.rdbuf());
  std::cerr.rdbuf(sink.rdbuf());
  std::clog.rdbuf(sink.rdbuf());
  // A board of its own, and no program a slot would start does anything.
  const std::string root = "/tmp/fuzz-ctrl-server-board-" + std::to_string(::getpid());
  ::setenv("GW_BOARD_ROOT", root.c_str(), 0);
  ::setenv("GW_STANDIN_PROGRAM", "/bin/true", 1);
  // The second a leaving controller gives pending releases passes at once.
  platform::vclock::enable();

  ServerSetup::CreateSlotFactories();
  ServerSetup::BindControlServices();
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = SetUp();
  (void)ready;
  ctrlServer.OnConnect();
  std::size_t at = 0;
  while (at < size) {
    const std::size_t len = data[at++];
    const std::size_t n = len < size - at ? len : size - at;
    ctrlServer.OnMessage(reinterpret_cast<const char*>(data + at), static_cast<int>(n));
    at += n;
  }
  ctrlServer.OnDisconnect();
  return 0;
}
