// Black-box tests of the server program: the built binary runs on the
// simulated board with a board root of its own and a free port, and a
// controller speaks TPKT and PER to it over TCP. These are the tests that
// wait in real time; every wait is bounded and ends as soon as the awaited
// thing has happened.
#include "runtime/version.h"
#include "tests/support/controller_client.h"
#include "tests/support/log_sink.h"
#include "tests/support/loopback.h"
#include "tests/support/status_signals.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

using testsupport::ControllerClient;
using testsupport::LogSink;
using testsupport::ScratchBoardRoot;

namespace {

// Generous for a loaded machine running sanitized builds.
const int patience_ms = 15000;

const char usage[] =
    "Usage:\n"
    " brevand -Dh\n"
    "  -D --daemon                      run as daemon\n"
    "  -p --port                        use this port\n"
    "     --disable-clock               disable clock control\n"
    "     --version                     print version\n"
    "  -h --help                        display this information\n"
    "\n";

std::int64_t real_ms() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Polls the condition until it holds or the time is up.
bool eventually(const std::function<bool()>& cond, int timeout_ms = patience_ms) {
  const std::int64_t deadline = real_ms() + timeout_ms;
  for (;;) {
    if (cond()) return true;
    if (real_ms() >= deadline) return false;
    ::usleep(10000);
  }
}

std::string file_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

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

std::string version() {
  std::ostringstream s;
  s << Version::current;
  return s.str();
}

// A port nobody listens on now (the kernel's pick, released again).
std::uint16_t free_port() { return testsupport::LoopbackListener().port(); }

// One run of the server program; its standard output and error go to files
// beside the board root's directories.
class ServerProcess {
 public:
  // With `relative_root`, the program starts in the root's parent directory
  // and is given the root by its relative name.
  ServerProcess(const std::string& root, const std::vector<std::string>& args, bool relative_root = false)
      : out_path_(root + "/server.out"), err_path_(root + "/server.err") {
    pid_ = ::fork();
    if (pid_ == 0) {
      const int out = ::open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      const int err = ::open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      ::dup2(out, 1);
      ::dup2(err, 2);
      // The program starts with its standard streams only, as from a
      // start-up script: what this test process holds is not its own.
      for (int fd = 3; fd < 1024; ++fd) ::close(fd);
      if (relative_root) {
        const std::string::size_type slash = root.rfind('/');
        if (::chdir(root.substr(0, slash).c_str()) != 0) ::_exit(126);
        ::setenv("GW_BOARD_ROOT", root.substr(slash + 1).c_str(), 1);
      }
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(GW_SERVER_PROGRAM));
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(GW_SERVER_PROGRAM, argv.data());
      ::_exit(127);
    }
  }
  ~ServerProcess() {
    if (pid_ > 0 && status_ < 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  pid_t pid() const { return pid_; }
  void signal(int sig) { ::kill(pid_, sig); }
  // The exit status, -1 when the program has not ended in time (or ended
  // by a signal).
  int wait() {
    eventually([&] {
      int st = 0;
      if (::waitpid(pid_, &st, WNOHANG) != pid_) return false;
      status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
      return true;
    });
    return status_ >= 1000 ? -1 : status_;
  }
  std::string out() const { return file_text(out_path_); }
  std::string err() const { return file_text(err_path_); }

 private:
  std::string out_path_, err_path_;
  pid_t pid_ = -1;
  int status_ = -1;
};

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
  // Unknown options, a missing or senseless port: the usage, status 2.
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--bogus"}, {"-x"}, {"--port"}, {"--port", "abc"}, {"-p", "70000"}, {"--port", "0"}}) {
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

  p.signal(SIGTERM);
  EXPECT_EQ(p.wait(), 0) << p.err();
  EXPECT_FALSE(exists(pid_file()));
  EXPECT_TRUE(ctl.closed(patience_ms));
}

TEST_F(ServerProcessTest, ShortPortOptionAndSigint) {
  const std::uint16_t port = free_port();
  ServerProcess p(root.path(), {"-p", std::to_string(port)});
  ASSERT_TRUE(ctl.connect(port, patience_ms)) << p.err();
  ASSERT_TRUE(eventually([&] { return exists(pid_file()); }));
  p.signal(SIGINT);
  EXPECT_EQ(p.wait(), 0) << p.err();
  EXPECT_FALSE(exists(pid_file()));
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

}  // namespace
