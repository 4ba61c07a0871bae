#include "tests/support/server_process.h"

#include "platform/control_socket.h"
#include "tests/support/loopback.h"
#include "tests/support/status_signals.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

std::int64_t real_ms() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool eventually(const std::function<bool()>& cond, int timeout_ms) {
  const std::int64_t deadline = real_ms() + timeout_ms;
  for (;;) {
    if (cond()) return true;
    if (real_ms() >= deadline) return false;
    ::usleep(5000);
  }
}

std::string file_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int parent_pid(int pid) {
  const std::string stat = file_text("/proc/" + std::to_string(pid) + "/stat");
  // The name may hold blanks and parentheses: the fields start after the last ')'.
  const auto close = stat.rfind(')');
  int ppid = -1;
  char state = 0;
  if (close == std::string::npos || std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) != 2) return -1;
  return ppid;
}

const char* server_program() { return GW_SERVER_PROGRAM; }

ServerProcess::ServerProcess(const std::string& root, const std::vector<std::string>& args, bool relative_root,
                             const std::function<void()>& starter)
    : out_path_(root + "/server.out"), err_path_(root + "/server.err") {
  // Each server gets its own authentication port unless the test named one,
  // so servers of tests run at once do not meet on the board's fixed port.
  const bool named = std::getenv(auth_port_variable) != nullptr;
  const std::string auth_port = named ? std::string() : std::to_string(free_port());
  pid_ = ::fork();
  if (pid_ == 0) {
    if (!named) ::setenv(auth_port_variable, auth_port.c_str(), 1);
    const int out = ::open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = ::open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ::dup2(out, 1);
    ::dup2(err, 2);
    // The program starts with its standard streams only, as from a start-up
    // script: what this test process holds is not the server's.
    for (int fd = 3; fd < 1024; ++fd) ::close(fd);
    // Nor its signal state: a test run started in the background of a
    // script ignores SIGINT and SIGQUIT, and exec would hand that on to the
    // server and the programs it starts. A starter below may set its own.
    for (int sig = 1; sig < NSIG; ++sig)
      if (sig != SIGKILL && sig != SIGSTOP) ::signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (relative_root) {
      const std::string::size_type slash = root.rfind('/');
      if (::chdir(root.substr(0, slash).c_str()) != 0) ::_exit(126);
      ::setenv("GW_BOARD_ROOT", root.substr(slash + 1).c_str(), 1);
    }
    if (starter) starter();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(server_program()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(server_program(), argv.data());
    ::_exit(127);
  }
}

ServerProcess::~ServerProcess() {
  if (pid_ > 0 && status_ < 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

void ServerProcess::signal(int sig) {
  if (pid_ > 0 && status_ < 0) ::kill(pid_, sig);
}

bool ServerProcess::running() {
  if (status_ >= 0 || pid_ <= 0) return false;
  int st = 0;
  if (::waitpid(pid_, &st, WNOHANG) != pid_) return true;
  status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
  return false;
}

int ServerProcess::wait(int timeout_ms) {
  eventually([&] { return !running(); }, timeout_ms);
  return (status_ < 0 || status_ >= 1000) ? -1 : status_;
}

std::string ServerProcess::out() const { return file_text(out_path_); }
std::string ServerProcess::err() const { return file_text(err_path_); }

SimClient::~SimClient() { close(); }

void SimClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  buf_.clear();
}

bool SimClient::connect(const std::string& path, int timeout_ms) {
  close();
  sockaddr_un sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sun_family = AF_UNIX;
  if (path.size() >= sizeof sa.sun_path) return false;
  std::memcpy(sa.sun_path, path.c_str(), path.size() + 1);
  return eventually(
      [&] {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
          fd_ = fd;
          return true;
        }
        ::close(fd);
        return false;
      },
      timeout_ms);
}

bool SimClient::read_line(std::string& line, std::int64_t deadline) {
  for (;;) {
    const auto end = buf_.find('\n');
    if (end != std::string::npos) {
      line = buf_.substr(0, end);
      buf_.erase(0, end + 1);
      return true;
    }
    const std::int64_t left = deadline - real_ms();
    if (fd_ < 0 || left <= 0) return false;
    pollfd p = {fd_, POLLIN, 0};
    if (::poll(&p, 1, int(left)) <= 0) return false;
    char chunk[8192];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buf_.append(chunk, std::size_t(n));
  }
}

bool SimClient::post(const std::string& line) {
  if (fd_ < 0) return false;
  const std::string text = line + "\n";
  return ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == ssize_t(text.size());
}

SimAnswer SimClient::request(const std::string& line, int timeout_ms) {
  if (!post(line)) return SimAnswer();
  return read_answer(timeout_ms);
}

SimAnswer SimClient::read_answer(int timeout_ms) {
  SimAnswer a;
  const std::int64_t deadline = real_ms() + timeout_ms;
  std::string l;
  while (read_line(l, deadline)) {
    if (l == "ok" || l.rfind("error", 0) == 0) {
      a.status = l;
      break;
    }
    a.lines.push_back(l);
  }
  return a;
}

std::string SimClient::ask(const std::string& line, int timeout_ms) {
  const SimAnswer a = request(line, timeout_ms);
  if (!a.ok()) return a.status.empty() ? "no answer" : a.status;
  std::string joined;
  for (const auto& l : a.lines) joined += (joined.empty() ? "" : "\n") + l;
  return joined;
}

RunningServer::RunningServer(const std::vector<std::string>& extra_args) : RunningServer(extra_args, nullptr) {}

RunningServer::RunningServer(const std::vector<std::string>& extra_args,
                             const std::function<void(const std::string&)>& prepare)
    : port(free_port()) {
  if (prepare) prepare(root.path());
  std::vector<std::string> args = {"--port", std::to_string(port)};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  process = std::make_unique<ServerProcess>(root.path(), args);
  // Most tests wait for particular frames; the board's own trunk status
  // reports (at the connect and every second) would come between.
  ctl.drop = is_status_signal;
  ready_ = ctl.connect(port, patience_ms) && sim.connect(platform::control_socket::path());
}

RunningServer::~RunningServer() {
  // A server that ends badly when stopped (a sanitizer's report at its exit:
  // a leak, memory used after the teardown freed it) fails the test that ran
  // it, unless that test stopped it itself and looked at how it ended.
  const bool looked = status_ != -2;
  const int status = stop();
  if (!looked) {
    const std::string err = process->err();
    EXPECT_EQ(status, 0) << "server exit status; the end of its error stream:\n"
                         << err.substr(err.size() > 8000 ? err.size() - 8000 : 0);
  }
}

int RunningServer::stop() {
  if (status_ != -2) return status_;
  sim.close();
  process->signal(SIGTERM);
  status_ = process->wait();
  ctl.close();
  return status_;
}

std::string RunningServer::log() const { return process->out() + process->err(); }

bool RunningServer::wait_log(const std::string& text, int timeout_ms) const {
  return eventually([&] { return log().find(text) != std::string::npos; }, timeout_ms);
}

bool RunningServer::reconnect() { return ctl.connect(port, patience_ms); }

}  // namespace testsupport
