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
// One input is one controller session: a sequence of records, each a length
// octet, that many bytes of message and a step octet, so that a create can be
// followed by commands on its slot. The step runs the event loop on the
// virtual clock for a time the input chooses (0: not at all), so releases
// that end later, timers, child exits and deferred calls happen between
// commands; with its high bit set (and not 0xFF) the next record is no
// message but a line of the simulated board's control words ("rtp event
// ...", "mcc inject ...", "dsp fail ..."), so device events and failures
// come in between the commands as well (fuzz_ctrl_server.dict lists the
// words). The controller then leaves, every slot goes with it, and the loop
// runs on until whatever they left behind has fired.
#include "board/server_setup.h"
#include "control/ctrl_server.h"
#include "platform/clock.h"
#include "platform/sim/control_words.h"
#include "runtime/child_wait.h"
#include "runtime/multiplexer.h"
#include "runtime/timer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

std::ostringstream sink;

bool SetUp() {
  std::cout.rdbuf(sink.rdbuf());
  std::cerr.rdbuf(sink.rdbuf());
  std::clog.rdbuf(sink.rdbuf());
  // A board of its own, and no program a slot would start does anything.
  const std::string root = "/tmp/fuzz-ctrl-server-board-" + std::to_string(::getpid());
  ::setenv("GW_BOARD_ROOT", root.c_str(), 0);
  // A program a slot starts runs until it is killed and ignores the hangup a
  // release sends, so a pending release ends on its own timer, in virtual
  // time, and the input decides what happens meanwhile.
  ::mkdir(root.c_str(), 0755);
  const std::string program = root + "/standin.sh";
  std::ofstream(program) << "#!/bin/sh\ntrap '' HUP\nexec sleep 30\n";
  ::chmod(program.c_str(), 0755);
  ::setenv("GW_STANDIN_PROGRAM", program.c_str(), 1);
  // The second a leaving controller gives pending releases passes at once.
  platform::vclock::enable();

  ServerSetup::CreateSlotFactories();
  ServerSetup::BindControlServices();
  // Ended children are reaped and reported from the loop, as in the server.
  ChildWait::Activate();
  return true;
}

void Stop() { multiplexer.terminate(); }

// Runs the loop until `ms` of virtual time have passed (a poll that finds
// nothing ready moves the clock by its whole wait).
void RunFor(unsigned ms) {
  Timer stop;
  stop.set(ms, &Stop);
  multiplexer.run(false, true);
}

// The step octet: how long the loop runs after a message. Long runs cost
// real time (periodic work of the board services), so only 0xFF asks for
// one past the heartbeat's supervision, and only once per input.
void Step(std::uint8_t step, bool& long_run_done) {
  static const unsigned ms[8] = {1, 5, 20, 100, 300, 1000, 3000, 5200};
  if (step == 0xFF && !long_run_done) {
    long_run_done = true;
    RunFor(130000);
  } else if (step != 0) {
    RunFor(ms[step & 7]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = SetUp();
  (void)ready;
  sink.str(std::string());  // the logs of one input only
  ctrlServer.OnConnect();
  std::size_t at = 0;
  bool device_line = false;
  bool long_run_done = false;
  while (at < size) {
    const std::size_t len = data[at++];
    const std::size_t n = len < size - at ? len : size - at;
    const char* bytes = reinterpret_cast<const char*>(data + at);
    if (device_line)
      platform::sim::control_request(std::string(bytes, n));
    else
      ctrlServer.OnMessage(bytes, static_cast<int>(n));
    at += n;
    device_line = false;
    if (at < size) {
      const std::uint8_t step = data[at++];
      device_line = step != 0xFF && (step & 0x80);
      Step(step, long_run_done);
    }
  }
  ctrlServer.OnDisconnect();
  RunFor(6000);
  return 0;
}
