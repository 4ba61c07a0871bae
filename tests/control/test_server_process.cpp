// Black-box tests of the server program: the built binary runs on the
// simulated board with a board root of its own and a free port, and a
// controller speaks TPKT and PER to it over TCP. These are the tests that
// wait in real time; every wait is bounded and ends as soon as the awaited
// thing has happened.
#include "runtime/version.h"
#include "tests/media/t38_images.h"
#include "tests/support/controller_client.h"
#include "tests/support/log_sink.h"
#include "tests/support/server_process.h"
#include "tests/support/status_signals.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

using testsupport::ControllerClient;
using testsupport::eventually;
using testsupport::file_text;
using testsupport::free_port;
using testsupport::LogSink;
using testsupport::patience_ms;
using testsupport::ScratchBoardRoot;
using testsupport::ServerProcess;

namespace {

const char usage[] =
    "Usage:\n"
    " brevand -Dh\n"
    "  -D --daemon                      run as daemon\n"
    "  -p --port                        use this port\n"
    "     --disable-clock               disable clock control\n"
    "     --version                     print version\n"
    "  -h --help                        display this information\n"
    "\n";

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// The descriptors of a process above 2 that would survive an exec.
std::vector<std::string> inheritable_descriptors(pid_t pid) {
  std::vector<std::string> found;
  const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  DIR* d = ::opendir(dir.c_str());
  if (!d) return {"cannot read " + dir};
  while (dirent* e = ::readdir(d)) {
    const int fd = std::atoi(e->d_name);
    if (e->d_name[0] == '.' || fd <= 2) continue;
    std::istringstream info(file_text("/proc/" + std::to_string(pid) + "/fdinfo/" + e->d_name));
    std::string key;
    unsigned long flags = 0;
    while (info >> key)
      if (key == "flags:") info >> std::oct >> flags;
    if (!(flags & O_CLOEXEC)) {
      char target[512] = {};
      ::readlink((dir + "/" + e->d_name).c_str(), target, sizeof target - 1);
      found.push_back(std::string(e->d_name) + " -> " + target);
    }
  }
  ::closedir(d);
  return found;
}

// The server started as a careless start-up script might: with its standard
// input, output and error closed. The exit status comes from wait_exit().
pid_t spawn_with_standard_streams_closed(const std::vector<std::string>& args) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    for (int fd = 0; fd < 1024; ++fd) ::close(fd);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(testsupport::server_program()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(testsupport::server_program(), argv.data());
    ::_exit(127);
  }
  return pid;
}

int wait_exit(pid_t pid) {
  int status = -1;
  if (!eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; })) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string descriptor_target(pid_t pid, int fd) {
  char target[512] = {};
  ::readlink(("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
  return target;
}

std::string version() {
  std::ostringstream s;
  s << Version::current;
  return s.str();
}

class ServerProcessTest : public ::testing::Test {
 protected:
  std::string board(const std::string& path) const { return root.path() + path; }
  std::string pid_file() const { return board("/var/run/server.pid"); }

  ScratchBoardRoot root;
  ControllerClient ctl;
};

TEST_F(ServerProcessTest, CommandLineOptionsThatEndAtOnce) {
  for (const char* help : {"-h", "--help"}) {
    ServerProcess p(root.path(), {help});
    EXPECT_EQ(p.wait(), 0) << help;
    EXPECT_EQ(p.out(), usage) << help;
  }
  // Unknown options (the "-p" of the usage text among them, even with a
  // good port), a missing or senseless port: the usage, status 2.
  const std::string good_port = std::to_string(free_port());
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--bogus"}, {"-x"}, {"-p", good_port}, {"--port"}, {"--port", "abc"}, {"-p", "70000"}, {"--port", "0"}}) {
    ServerProcess p(root.path(), args);
    EXPECT_EQ(p.wait(), 2) << args[0];
    EXPECT_EQ(p.out(), usage) << args[0];
  }
  // "--disable-clock" is an option of its own, not an unknown one, and says
  // so at once, also with "--version".
  ServerProcess v(root.path(), {"--disable-clock", "--version"});
  EXPECT_EQ(v.wait(), 2);
  EXPECT_EQ(v.out(), "server version: " + version() + "\n");
  EXPECT_EQ(v.err(), "clock control disabled.\n");
  EXPECT_FALSE(exists(pid_file()));
}

TEST_F(ServerProcessTest, ServesAControllerAndStopsOnSigterm) {
  {
    std::ofstream conf(board("/usr/local/etc/server.conf"));
    conf << "[traces]\nsignalling.hdlc = maybe\n";
  }
  const std::uint16_t port = free_port();
  ServerProcess p(root.path(), {"--port", std::to_string(port)});
  ASSERT_TRUE(ctl.connect(port, patience_ms)) << p.err();
  EXPECT_EQ(p.out().rfind("Starting server [" + version() + "], port=" + std::to_string(port) + "\n", 0), 0u)
      << p.out();
  EXPECT_EQ(file_text(pid_file()), std::to_string(p.pid()));
  // The configuration file was read from the board root.
  EXPECT_NE(p.err().find("traces: optional key \"signalling.hdlc\" has invalid value=\"maybe\""), std::string::npos);

  // The control server behind it answers (its answers are tested on their own).
  ctl.send("C0 01 01 00 05 18");  // ping
  EXPECT_EQ(testsupport::next_non_status(ctl, patience_ms), "C0 01 01 00 05 40");

  // No descriptor of the running server, the controller's included, would
  // reach a child program.
  EXPECT_EQ(inheritable_descriptors(p.pid()), std::vector<std::string>{});

  // Status dump on SIGUSR2, rewritten from the start each time.
  const std::string dump = board("/var/log/server-status");
  for (int i = 0; i < 2; ++i) {
    ::unlink(dump.c_str());
    p.signal(SIGUSR2);
    // Complete once the table of events is closed (its third rule).
    ASSERT_TRUE(eventually([&] {
      const std::string t = file_text(dump);
      int rules = 0;
      for (std::size_t at = t.find("\n+-"); at != std::string::npos; at = t.find("\n+-", at + 1)) ++rules;
      return rules >= 3;
    })) << p.err() << file_text(dump);
    EXPECT_EQ(file_text(dump).rfind("server status information.\nversion : " + version() + "\n", 0), 0u);
  }
  // A dump that cannot be written (a full disk) is told and leaves the last
  // complete one; it is never read half written.
  const std::string complete = file_text(dump);
  ASSERT_EQ(::symlink("/dev/full", (dump + "_tmp").c_str()), 0);
  p.signal(SIGUSR2);
  EXPECT_TRUE(eventually([&] { return p.err().find("dump status error\n") != std::string::npos; })) << p.err();
  EXPECT_EQ(file_text(dump), complete);
  EXPECT_FALSE(exists(dump + "_tmp"));

  p.signal(SIGTERM);
  EXPECT_EQ(p.wait(), 0) << p.err();
  EXPECT_FALSE(exists(pid_file()));
  EXPECT_TRUE(ctl.closed(patience_ms));
}

TEST_F(ServerProcessTest, PortOptionAndSigint) {
  const std::uint16_t port = free_port();
  ServerProcess p(root.path(), {"--port", std::to_string(port)});
  ASSERT_TRUE(ctl.connect(port, patience_ms)) << p.err();
  ASSERT_TRUE(eventually([&] { return exists(pid_file()); }));
  p.signal(SIGINT);
  EXPECT_EQ(p.wait(), 0) << p.err();
  EXPECT_FALSE(exists(pid_file()));
}

// What the board's start-up may hand the program: its standard streams
// closed, and a configuration path that names a directory. It still runs,
// and no device takes the number of a standard stream (its log lines would
// be written into the device).
TEST_F(ServerProcessTest, StartsWithClosedStandardStreamsAndAConfigurationDirectory) {
  ASSERT_EQ(::mkdir(board("/usr/local/etc/server.conf").c_str(), 0755), 0);
  const std::uint16_t port = free_port();
  const pid_t pid = spawn_with_standard_streams_closed({"--port", std::to_string(port)});
  ASSERT_TRUE(ctl.connect(port, patience_ms));
  ASSERT_TRUE(eventually([&] { return exists(pid_file()); }));
  for (int fd = 0; fd <= 2; ++fd) EXPECT_EQ(descriptor_target(pid, fd), "/dev/null") << fd;
  ctl.send("C0 01 01 00 05 18");  // ping
  EXPECT_EQ(testsupport::next_non_status(ctl, patience_ms), "C0 01 01 00 05 40");
  ::kill(pid, SIGTERM);
  EXPECT_EQ(wait_exit(pid), 0);
  EXPECT_FALSE(exists(pid_file()));
}

// A second server started on the same board while one runs (here on another
// port, so that it runs too) leaves the pid file and the simulator's control
// socket to the first: the scripts that stop the first still find the pid
// file, and tests still reach its board, after the second has ended.
TEST_F(ServerProcessTest, ASecondServerLeavesTheRunningOnesPidFile) {
  const std::uint16_t port = free_port();
  ServerProcess first(root.path(), {"--port", std::to_string(port)});
  ASSERT_TRUE(ctl.connect(port, patience_ms)) << first.err();
  ASSERT_TRUE(eventually([&] { return file_text(pid_file()) == std::to_string(first.pid()); }));
  const std::string sim_socket = board("/var/run/sim.sock");
  testsupport::SimClient sim;
  ASSERT_TRUE(sim.connect(sim_socket)) << first.err();

  // The same board root; its standard streams go to files of their own.
  const std::uint16_t second_port = free_port();
  ServerProcess second(board("/var"), {"--port", std::to_string(second_port)});
  ControllerClient second_ctl;
  ASSERT_TRUE(second_ctl.connect(second_port, patience_ms)) << second.err();
  EXPECT_TRUE(eventually([&] {
    return second.err().find("is held by a running process " + std::to_string(first.pid())) != std::string::npos;
  })) << second.err();
  EXPECT_EQ(file_text(pid_file()), std::to_string(first.pid()));
  EXPECT_TRUE(eventually([&] {
    return second.err().find("simulator control socket " + sim_socket + " not opened: Address already in use") !=
           std::string::npos;
  })) << second.err();
  second.signal(SIGTERM);
  EXPECT_EQ(second.wait(), 0) << second.err();
  EXPECT_EQ(file_text(pid_file()), std::to_string(first.pid()));
  // The first one's socket is still there and still its own.
  testsupport::SimClient later;
  ASSERT_TRUE(later.connect(sim_socket, 0));
  EXPECT_TRUE(later.request("hal list").ok());
  EXPECT_TRUE(sim.request("hal list").ok());

  first.signal(SIGTERM);
  EXPECT_EQ(first.wait(), 0) << first.err();
  EXPECT_FALSE(exists(pid_file()));
}

// A board root whose directories cannot be made (here it lies under a plain
// file): the server says so and ends, instead of running without its pid
// file, control socket and status files. The options that only print still
// work.
TEST_F(ServerProcessTest, BoardRootThatCannotBeMadeEndsTheServer) {
  { std::ofstream plain(board("/plain")); }
  const std::string bad = board("/plain/board");
  ::setenv("GW_BOARD_ROOT", bad.c_str(), 1);
  const std::uint16_t port = free_port();
  ServerProcess p(root.path(), {"--port", std::to_string(port)});
  ServerProcess help(root.path() + "/usr", {"--help"});
  ::setenv("GW_BOARD_ROOT", root.path().c_str(), 1);
  EXPECT_EQ(p.wait(), 1) << p.err();
  EXPECT_NE(p.err().find("board root " + bad + " cannot be made: " + bad + ": Not a directory"),
            std::string::npos)
      << p.err();
  EXPECT_EQ(p.out(), "");
  EXPECT_FALSE(ctl.connect(port, 0));
  EXPECT_EQ(help.wait(), 0);
  EXPECT_EQ(help.out(), usage);
}

// A moved authentication port that is not a port (junk, a sign, blanks, out
// of range): the server says which and ends, instead of listening on the
// board's fixed port, where another board on this machine may listen.
TEST_F(ServerProcessTest, AMovedPortThatIsNoPortEndsTheServer) {
  const std::uint16_t port = free_port();
  for (const char* value : {"abc", "0", "65536", "4123x", " 4123", "-5", "+4123"}) {
    ::setenv(testsupport::auth_port_variable, value, 1);
    ServerProcess p(root.path(), {"--port", std::to_string(port)});
    ::unsetenv(testsupport::auth_port_variable);
    EXPECT_EQ(p.wait(), 1) << value << ": " << p.err();
    EXPECT_NE(p.err().find(std::string("GW_PORT_52000='") + value + "' is not a port"), std::string::npos)
        << value << ": " << p.err();
    EXPECT_EQ(p.out(), "") << value;
  }
  EXPECT_FALSE(exists(pid_file()));
}

// A board root so long that the log socket's path does not fit a local
// address: detached, the server could tell nothing to anyone, so it says so
// before detaching and ends.
TEST_F(ServerProcessTest, ADaemonThatCouldNeverLogEndsAtOnce) {
  const std::string long_root = board("/" + std::string(root.path().size() < 100 ? 110 - root.path().size() : 10, 'r'));
  const std::string log_socket = long_root + "/dev/log";
  ASSERT_GE(log_socket.size(), 108u);
  ::setenv("GW_BOARD_ROOT", long_root.c_str(), 1);
  const std::uint16_t port = free_port();
  ServerProcess p(root.path(), {"--daemon", "--port", std::to_string(port)});
  ::setenv("GW_BOARD_ROOT", root.path().c_str(), 1);
  const int status = p.wait();
  EXPECT_EQ(status, 1) << p.err();
  EXPECT_NE(p.err().find("log socket path " + log_socket + " is too long for a local socket"), std::string::npos)
      << p.err();
  EXPECT_FALSE(ctl.connect(port, 0));
  if (status != 1) {  // a detached server that runs on: stopped here
    pid_t daemon_pid = 0;
    eventually([&] { return (daemon_pid = std::atoi(file_text(long_root + "/var/run/server.pid").c_str())) > 0; },
               5000);
    if (daemon_pid > 0) ::kill(daemon_pid, SIGTERM);
  }
}

// Started with the laxest umask, the server still makes its status files,
// the status dump and the pid file writable by itself alone, and the
// simulator's control socket its own alone.
TEST_F(ServerProcessTest, FilesItMakesAreNotWritableByOthersUnderAnOpenUmask) {
  const std::uint16_t port = free_port();
  ServerProcess p(root.path(), {"--port", std::to_string(port)}, false, [] { ::umask(0); });
  ASSERT_TRUE(ctl.connect(port, patience_ms)) << p.err();
  p.signal(SIGUSR2);
  const std::vector<std::string> files = {"/var/run/server.pid", "/var/log/server-status", "/var/monitoring/dip",
                                          "/var/monitoring/powerstatus"};
  ASSERT_TRUE(eventually([&] {
    for (const auto& f : files)
      if (!exists(board(f))) return false;
    return true;
  })) << p.err();
  for (const auto& f : files) {
    struct stat st;
    ASSERT_EQ(::stat(board(f).c_str(), &st), 0) << f;
    EXPECT_EQ(st.st_mode & 0777, 0644u) << f;
  }
  // Whoever connects to the simulator's control socket steers the board.
  struct stat st;
  ASSERT_EQ(::stat(board("/var/run/sim.sock").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  p.signal(SIGTERM);
  EXPECT_EQ(p.wait(), 0) << p.err();
}

// The board root is given by a relative name: the daemon, which changes
// directory to "/", still writes its pid file and logs under that root.
TEST_F(ServerProcessTest, DaemonDetachesAndLogsToSyslog) {
  LogSink syslog;
  const std::uint16_t port = free_port();
  ServerProcess p(root.path(), {"--daemon", "--port", std::to_string(port)}, true);
  EXPECT_EQ(p.wait(), 0);  // the parent leaves at once
  // The log socket holds only a few datagrams: keep reading it, or the
  // daemon waits in its start-up lines.
  std::string logged;
  ASSERT_TRUE(eventually([&] {
    logged += syslog.receive(10);
    return ctl.connect(port, 0);
  }));
  ctl.send("C0 01 01 00 05 18");
  std::string answer;
  EXPECT_TRUE(eventually([&] {
    logged += syslog.receive(10);
    answer = testsupport::next_non_status(ctl, 10);
    return !answer.empty();
  }));
  EXPECT_EQ(answer, "C0 01 01 00 05 40");

  const std::string starting = "Starting server [" + version() + "], port=" + std::to_string(port);
  EXPECT_TRUE(eventually([&] {
    logged += syslog.receive(10);
    return logged.find(starting) != std::string::npos;
  })) << logged;
  EXPECT_NE(logged.find("brv-" + version()), std::string::npos) << logged;

  pid_t daemon_pid = 0;
  ASSERT_TRUE(eventually([&] { return (daemon_pid = std::atoi(file_text(pid_file()).c_str())) > 0; }));
  EXPECT_NE(daemon_pid, p.pid());
  ::kill(daemon_pid, SIGTERM);
  EXPECT_TRUE(eventually([&] {
    logged += syslog.receive(10);
    return !exists(pid_file());
  }));
  EXPECT_TRUE(ctl.closed(patience_ms));
}

// What a starter hands the program beside its arguments: signals blocked
// (the mask survives exec), dispositions set to ignore (as nohup leaves
// them) and descriptors of its own without close-on-exec, one of them high.
// The server still answers SIGHUP, SIGUSR2 and SIGTERM and reaps the t38
// program to tell its end; the programs it starts (the count query's too)
// get neither the mask, under which a destroy's SIGTERM would never reach
// them, nor the starter's descriptors.
TEST_F(ServerProcessTest, StarterStateStaysBehind) {
  const std::string sbin = board("/usr/local/sbin/");
  ASSERT_EQ(std::system(("mkdir -p '" + sbin + "' && cp '" GW_T38_STANDIN "' '" + sbin + "t38'").c_str()), 0);
  const std::string starters_file = board("/starter");
  const std::uint16_t port = free_port();
  ServerProcess p(root.path(), {"--port", std::to_string(port)}, false, [&] {
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int sig : {SIGTERM, SIGCHLD, SIGHUP, SIGUSR2}) sigaddset(&blocked, sig);
    ::sigprocmask(SIG_BLOCK, &blocked, nullptr);
    for (int sig : {SIGCHLD, SIGPIPE, SIGHUP}) ::signal(sig, SIG_IGN);
    ::dup2(::open(starters_file.c_str(), O_RDWR | O_CREAT, 0644), 900);
  });
  ASSERT_TRUE(ctl.connect(port, patience_ms)) << p.err();
  ctl.drop = testsupport::is_status_signal;
  auto comes = [&](const std::string& frame) {
    for (std::string f; !(f = ctl.next(patience_ms)).empty();)
      if (testsupport::describe(f) == frame) return true;
    return false;
  };
  const std::string log = sbin + "t38.log";
  auto logged = [&](const std::string& text) {
    return eventually([&] { return file_text(log).find(text) != std::string::npos; });
  };

  ctl.send(t38test::create(1, 1));
  ASSERT_TRUE(comes("seq 1 slot 1 success")) << p.err();
  ASSERT_TRUE(logged("ready\n"));
  ctl.send(testsupport::null_command_image(2, 1, "destroy"));
  EXPECT_TRUE(comes("seq 2 slot 1 success"));
  EXPECT_TRUE(logged("signal 15\n")) << file_text(log);
  // The controller is surely served by now: the resources go to it.
  p.signal(SIGHUP);
  EXPECT_TRUE(comes("query")) << p.err();

  std::ofstream(sbin + "t38.exit") << "3";
  ctl.send(t38test::create(3, 2));
  EXPECT_TRUE(comes("seq 3 slot 2 success"));
  EXPECT_TRUE(comes("slot 2 signal abort")) << p.err();
  // The two slots' programs and the count query at SIGHUP.
  EXPECT_EQ(file_text(sbin + "t38.start"), "blocked none fds none\nblocked none fds none\nblocked none fds none\n");

  ::unlink(board("/var/log/server-status").c_str());
  p.signal(SIGUSR2);
  EXPECT_TRUE(eventually([&] { return exists(board("/var/log/server-status")); }));
  p.signal(SIGTERM);
  EXPECT_EQ(p.wait(), 0) << p.err();
  EXPECT_FALSE(exists(pid_file()));
}

// The ports handed to the servers of tests that run at once: a port and
// the one above it stay this process's alone, also for another process of
// the build (a test program beside this one) and once released.
TEST(FreePort, APortAndTheOneAboveStayThisProcesssAlone) {
  int ask[2], told[2];
  ASSERT_EQ(::pipe(ask), 0);
  ASSERT_EQ(::pipe(told), 0);
  const pid_t other = ::fork();
  ASSERT_GE(other, 0);
  if (other == 0) {
    std::uint16_t p = 0;
    if (::read(ask[0], &p, sizeof p) != sizeof p) ::_exit(3);
    char said = 0;
    if (testsupport::reserve_ports(p, 1) || testsupport::reserve_ports(p - 1, 2)) said = 1;
    const std::uint16_t own = free_port();
    if (said == 0 && (own == 0 || own == p || own == p + 1)) said = 2;
    ::_exit(::write(told[1], &said, 1) == 1 ? 0 : 3);
  }
  const std::uint16_t p = free_port();
  ASSERT_GT(p, 0);
  EXPECT_FALSE(testsupport::reserve_ports(p + 1, 1)) << "taken here already";
  ASSERT_EQ(::write(ask[1], &p, sizeof p), ssize_t(sizeof p));
  char said = -1;
  EXPECT_EQ(::read(told[0], &said, 1), 1);
  EXPECT_EQ(said, 0) << "1: another process took a port of this one; 2: it was handed one";
  ::waitpid(other, nullptr, 0);
  for (int fd : {ask[0], ask[1], told[0], told[1]}) ::close(fd);
}

}  // namespace
