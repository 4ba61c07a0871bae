// The server program: reads the configuration, parses the command line,
// binds the control services to the control server, listens for the
// controller and runs the event loop until SIGTERM or SIGINT.
#include "board/monitoring/monitoring_ctl.h"
#include "board/server_setup.h"
#include "board/services/bus_ctl.h"
#include "control/acceptor_net_check_connection.h"
#include "control/ctrl_server.h"
#include "control/sim_control.h"
#include "control/trace_ctl.h"
#include "platform/paths.h"
#include "runtime/child_wait.h"
#include "runtime/daemon.h"
#include "runtime/dpc.h"
#include "runtime/fd.h"
#include "runtime/ini_file.h"
#include "runtime/ipc_signal.h"
#include "runtime/linux_run.h"
#include "runtime/multiplexer.h"
#include "runtime/syslog_manager.h"
#include "runtime/version.h"
#include "slots/slots.h"

#include <fcntl.h>
#include <getopt.h>
#include <sys/random.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

const int default_port = 20001;
const char config_file[] = "/usr/local/etc/server.conf";
const char status_file[] = "/var/log/server-status";
const char process_name[] = "server";
const int option_disable_clock = 10;

const char usage_text[] =
    "Usage:\n"
    " brevand -Dh\n"
    "  -D --daemon                      run as daemon\n"
    "  -p --port                        use this port\n"
    "     --disable-clock               disable clock control\n"
    "     --version                     print version\n"
    "  -h --help                        display this information\n";

volatile std::sig_atomic_t doDumpStatus = 0;
volatile std::sig_atomic_t updateResources = 0;
// Also kept here: a stop that comes before the loop runs must not be lost
// when the loop starts afresh.
volatile std::sig_atomic_t stopRequested = 0;
int print_version = 0;

void Usage(int status) {
  std::cout << usage_text << std::endl;
  std::exit(status);
}

// A port the user can mean: a whole number from 1 to 65535.
bool ParsePort(const char* text, int& port) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < 1 || v > 65535) return false;
  port = static_cast<int>(v);
  return true;
}

void SigTermHandler(int, siginfo_t*, void*) {
  stopRequested = 1;
  multiplexer.terminate();
}

void SigUsr2Handler(int, siginfo_t*, void*) { doDumpStatus = 1; }

void SigHupHandler(int, siginfo_t*, void*) { updateResources = 1; }

void SigPipeHandler(int, siginfo_t*, void*) {}

void CheckDumpStatus() {
  if (!doDumpStatus) return;
  doDumpStatus = 0;
  // Written whole under a temporary name and renamed over the dump, so the
  // operator reading it never finds half a dump, and a dump that cannot be
  // written (a full disk) leaves the last complete one.
  const std::string path = platform::board_path(status_file);
  const std::string temporary = path + "_tmp";
  // Not writable by others, whatever umask the server was started with.
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::cerr << "dump status error" << std::endl;
    return;
  }
  std::ostringstream out;
  out << "server status information." << std::endl;
  out << "version : " << Version::current << std::endl;
  multiplexer.dump(out);
  const std::string text = out.str();
  bool written = true;
  for (std::size_t done = 0; written && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n > 0)
      done += static_cast<std::size_t>(n);
    else if (n < 0 && errno == EINTR)
      continue;
    else
      written = false;
  }
  if (::close(fd) != 0) written = false;
  if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    std::cerr << "dump status error" << std::endl;
  }
}

void CheckUpdateResources() {
  if (!updateResources) return;
  updateResources = 0;
  std::clog << "update hardware resources" << std::endl;
  Slots::instance().UpdateHardwareResources();
}

void CheckSignals() {
  if (stopRequested) multiplexer.terminate();
  CheckDumpStatus();
  CheckUpdateResources();
}

void RunDaemon() {
  Daemon::Params params;
  std::ostringstream name;
  name << "brv-" << Version::current;
  params.name = name.str();
  Daemon::Init(params);
}

// rand() deals the SSRCs of RTP sessions made without one and the TEI
// request numbers. Unseeded it deals the same numbers in every run and on
// every board: a restarted server would start its new streams under the
// SSRCs of its last run's, and two boards would share theirs.
void SeedRandom() {
  unsigned seed = 0;
  if (::getrandom(&seed, sizeof seed, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof seed)) {
    timeval now{};
    ::gettimeofday(&now, nullptr);
    seed = static_cast<unsigned>(now.tv_sec) ^ static_cast<unsigned>(now.tv_usec) ^
           (static_cast<unsigned>(::getpid()) << 16);
  }
  std::srand(seed);
}

}  // namespace

int main(int argc, char** argv) {
  int port = default_port;
  bool daemon = false;
  opterr = 1;
  // Started with a standard stream closed, the first device opened would
  // take its number and get the log lines written into it.
  OpenStandardDescriptors();
  // A starter's descriptors (a supervisor's pipe, a shell's files) would
  // otherwise reach the t38 program and keep them open after the server.
  SetCloexecOnInherited();
  RaiseDescriptorLimit();
  SeedRandom();
  // The board root is fixed (made absolute) before anything can change the
  // working directory.
  platform::board_root();

  IniFile::File config;
  if (config.Open(platform::board_path(config_file))) {
    traces = TraceCtl();
    traces.Configure(config["traces"]);
  }

  IPC::Signal::handle(SIGPIPE, SigPipeHandler, SA_RESTART);
  IPC::Signal::handle(SIGTERM, SigTermHandler, 0);
  IPC::Signal::handle(SIGINT, SigTermHandler, 0);
  IPC::Signal::handle(SIGUSR2, SigUsr2Handler, SA_RESTART);
  IPC::Signal::handle(SIGHUP, SigHupHandler, SA_RESTART);
  // Blocked signals survive the starter's exec: SIGTERM blocked would leave
  // the server unstoppable, SIGCHLD blocked its programs unreaped, and the
  // programs it starts would inherit the same mask. With the handlers in
  // place, a signal that waited here is handled now.
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);

  static const option long_options[] = {
      {"daemon", no_argument, nullptr, 'D'},
      {"disable-clock", no_argument, nullptr, option_disable_clock},
      {"port", required_argument, nullptr, 'p'},
      {"version", no_argument, &print_version, 1},
      {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0},
  };
  for (;;) {
    // "-p" is in the usage text but not a short option: it gets the usage
    // and status 2, and only "--port" sets the port.
    const int c = getopt_long(argc, argv, "Dh", long_options, nullptr);
    if (c == -1) break;
    switch (c) {
      case 0:  // an option that only sets its flag
        break;
      case 'D':
        daemon = true;
        break;
      case 'p':
        if (!ParsePort(optarg, port)) {
          std::cerr << argv[0] << ": invalid port '" << optarg << "'" << std::endl;
          Usage(2);
        }
        break;
      case option_disable_clock:
        BusCtl::instance().DisableControl();
        break;
      case 'h':
        Usage(0);
        break;
      default:
        Usage(2);
    }
  }

  if (print_version) {
    std::cout << "server version: " << Version::current << std::endl;
    std::exit(2);
  }

  // Without its board files (pid file, control socket, status dump,
  // monitoring files) the server would run on as if nothing were missing.
  if (!platform::board_root_problem().empty()) {
    std::cerr << argv[0] << ": board root " << platform::board_root()
              << " cannot be made: " << platform::board_root_problem() << std::endl;
    return 1;
  }
  // A moved port that cannot be read would leave its listener on the fixed
  // port, where another board on this machine may be listening.
  if (!platform::local_port_problem().empty()) {
    std::cerr << argv[0] << ": " << platform::local_port_problem() << std::endl;
    return 1;
  }

  // Detached, the daemon's every line goes to the log socket: one it can
  // never reach would leave it running without a word to anyone.
  if (daemon && !SysLogManager::unusable_path().empty()) {
    std::cerr << argv[0] << ": log socket path " << SysLogManager::unusable_path()
              << " is too long for a local socket" << std::endl;
    return 1;
  }

  ServerSetup::CreateSlotFactories();
  // The monitoring service starts watching the board now and reads its
  // "snmpagent" sections (none without a configuration file).
  MonitoringCtl::instance().Configure(config);

  if (daemon) RunDaemon();

  Linux::Run pid_file(process_name);

  // The simulated board's way in for tests (nothing on the board).
  SimControl simControl;
  simControl.Open();

  std::cout << "Starting server [" << Version::current << "], port=" << port << std::endl;

  ServerSetup::BindControlServices();

  ChildWait::Activate();

  Dpc signals;
  signals.Bind(CheckSignals);
  signals.Activate();

  ctrlServer.Activate(new Control::AcceptorNetCheckConnection(port));

  multiplexer.run(true, true);

  ctrlServer.Deactivate();
  signals.Deactivate();
  simControl.Close();
  return 0;
}
