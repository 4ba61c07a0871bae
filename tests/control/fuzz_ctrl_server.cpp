// Hostile messages through the control server as the controller would send
// them: decoded as an LGCP::Message and offered, command by command, to the
// services the server binds, whose answers are encoded again. A service that
// reads a CHOICE alternative without testing its selection ends here with
// "CHOICE ASSERTION FAILED!", so every service bound below is fuzzed in its
// dispatch on the parameters the controller chooses (CreateParams,
// IoctlParams, ...): bind each new service here as the server binds it.
#include "control/ctrl_server.h"
#include "control/heartbeat.h"

#include <cstdint>
#include <iostream>
#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::ostringstream sink;
  static const bool bound = [] {
    std::cout.rdbuf(sink.rdbuf());
    std::cerr.rdbuf(sink.rdbuf());
    std::clog.rdbuf(sink.rdbuf());
    ctrlServer.Bind(&HeartBeatCtl::instance());
    return true;
  }();
  (void)bound;
  sink.str("");
  ctrlServer.OnMessage(reinterpret_cast<const char*>(data), static_cast<int>(size));
  return 0;
}
