// Stand-in for the board's t38 program in black-box tests. A test copies it
// to <board root>/usr/local/sbin/t38 and steers it with files beside it:
//   t38.instances  printed as it is for --num-of-instances (nothing if absent)
//   t38.exit       the exit code to end with at once (absent: run until SIGTERM)
//   t38.stubborn   present: SIGTERM is logged and otherwise ignored
//   t38.linger     milliseconds: SIGTERM is logged, the end comes that late
//   t38.crash      present: aborts, dumping core in its directory if it can
//   t38.orphan     present: leaves a process behind that keeps its standard
//                  input and logs "orphan=<pid>", then exits with 0
// Each run appends to t38.log: its pid, its argv, what its standard input
// is, and the signal that ended it. It also writes "T38" to its standard
// input, so a test can see which channel it got. Every run, the count query
// too, appends to t38.start what it was started with: the blocked signals
// and the descriptors above 2 ("blocked none fds none" without any).
#include "../standin_crash.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

int log_fd = -1;
bool stubborn = false;
int linger_ms = 0;
volatile sig_atomic_t termed = 0;

void on_term(int sig) {
  char line[] = "signal 00\n";
  line[7] = static_cast<char>('0' + sig / 10);
  line[8] = static_cast<char>('0' + sig % 10);
  (void)!::write(log_fd, line, sizeof line - 1);
  termed = 1;
  if (!stubborn && linger_ms <= 0) ::_exit(0);
}

std::string dir_of_self() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string p(buf, static_cast<std::size_t>(n));
  return p.substr(0, p.rfind('/'));
}

bool read_file(const std::string& path, std::string& out) {
  std::ifstream in(path);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  out = s.str();
  return true;
}

std::string blocked_signals() {
  sigset_t mask;
  sigemptyset(&mask);
  ::sigprocmask(SIG_BLOCK, nullptr, &mask);
  std::string out;
  for (int sig = 1; sig < NSIG; ++sig)
    if (sigismember(&mask, sig) == 1) out += (out.empty() ? "" : ",") + std::to_string(sig);
  return out.empty() ? "none" : out;
}

// What the server let this process inherit, before it opens anything.
std::string inherited() {
  std::string out;
  DIR* d = ::opendir("/proc/self/fd");
  if (!d) return "unknown";
  while (const dirent* e = ::readdir(d)) {
    const int fd = std::atoi(e->d_name);
    if (e->d_name[0] == '.' || fd <= 2 || fd == ::dirfd(d)) continue;
    out += (out.empty() ? "" : " ") + std::string(e->d_name);
  }
  ::closedir(d);
  return out.empty() ? "none" : out;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string fds = inherited();
  const std::string dir = dir_of_self();
  std::string text;
  const int start_fd = ::open((dir + "/t38.start").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const std::string start = "blocked " + blocked_signals() + " fds " + fds + "\n";
  (void)!::write(start_fd, start.data(), start.size());
  ::close(start_fd);
  if (argc == 2 && std::string(argv[1]) == "--num-of-instances") {
    if (read_file(dir + "/t38.instances", text)) std::fputs(text.c_str(), stdout);
    return 0;
  }
  log_fd = ::open((dir + "/t38.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  stubborn = ::access((dir + "/t38.stubborn").c_str(), F_OK) == 0;
  if (read_file(dir + "/t38.linger", text)) linger_ms = std::atoi(text.c_str());
  struct sigaction sa = {};
  sa.sa_handler = on_term;
  ::sigaction(SIGTERM, &sa, nullptr);

  std::ostringstream out;
  out << "pid=" << ::getpid() << "\n";
  for (int i = 0; i < argc; ++i) out << "argv[" << i << "]=" << argv[i] << "\n";
  struct stat st;
  if (::fstat(0, &st) != 0)
    out << "stdin=closed\n";
  else
    out << "stdin=" << (S_ISSOCK(st.st_mode) ? "socket" : "other") << "\n";
  out << "stdin write=" << ::write(0, "T38", 3) << "\n";
  int code = -1;
  if (read_file(dir + "/t38.exit", text)) code = std::atoi(text.c_str());
  if (::access((dir + "/t38.orphan").c_str(), F_OK) == 0) {
    const pid_t orphan = ::fork();
    if (orphan == 0) {
      for (;;) ::pause();
    }
    out << "orphan=" << orphan << "\n";
    code = 0;
  }
  out << "ready\n";
  const std::string s = out.str();
  (void)!::write(log_fd, s.data(), s.size());
  if (::access((dir + "/t38.crash").c_str(), F_OK) == 0) {
    crash_with_core(dir);
    return 99;
  }
  if (code >= 0) return code;
  for (;;) {
    ::pause();
    if (termed && !stubborn && linger_ms > 0) {
      ::usleep(static_cast<useconds_t>(linger_ms) * 1000);
      return 0;
    }
  }
}
