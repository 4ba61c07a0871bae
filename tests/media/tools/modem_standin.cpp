// Stand-in for pppd and the fax programs on the simulated board. Named by
// the base name of argv[0] ("pppd", "fax"), it appends what it saw to
// var/standin/<name>.log under the board root (GW_BOARD_ROOT):
//   "pid P", "argv A0 A1 ...", "stdin <what descriptor 0 is>", "signal S",
//   "fds <descriptors above 2 it was started with, or none>"
// and behaves as var/standin/<name>.mode says (first line):
//   "exit N"  exits with N at once
//   "hup N"   waits, exits with N on SIGHUP (the default, N = 0)
//   "never"   waits and ignores SIGHUP (only SIGKILL ends it)
//   "crash"   aborts, dumping core under var/standin if it can
#include "../standin_crash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

std::string log_path;
volatile sig_atomic_t hup_code = -1;
volatile sig_atomic_t ignore_hup = 0;

void append(const std::string& line) {
  const int fd = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) return;
  const std::string l = line + "\n";
  (void)!::write(fd, l.data(), l.size());
  ::close(fd);
}

void on_signal(int sig) {
  char line[32];
  const int n = std::snprintf(line, sizeof line, "signal %d\n", sig);
  const int fd = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd >= 0) {
    (void)!::write(fd, line, static_cast<size_t>(n));
    ::close(fd);
  }
  if (sig == SIGHUP && !ignore_hup) ::_exit(hup_code);
}

}  // namespace

// The descriptors above the standard three this process holds, before it
// opens anything itself: what the server let it inherit.
std::string inherited() {
  std::string out;
  DIR* d = ::opendir("/proc/self/fd");
  if (!d) return "unknown";
  while (struct dirent* e = ::readdir(d)) {
    const int fd = std::atoi(e->d_name);
    if (e->d_name[0] == '.' || fd <= 2 || fd == ::dirfd(d)) continue;
    out += (out.empty() ? "" : " ") + std::string(e->d_name);
  }
  ::closedir(d);
  return out.empty() ? "none" : out;
}

int main(int argc, char** argv) {
  const std::string fds = inherited();
  const char* root = std::getenv("GW_BOARD_ROOT");
  const std::string dir = std::string(root ? root : ".") + "/var/standin";
  ::mkdir((std::string(root ? root : ".") + "/var").c_str(), 0755);
  ::mkdir(dir.c_str(), 0755);
  const char* base = std::strrchr(argv[0], '/');
  const std::string name = base ? base + 1 : argv[0];
  log_path = dir + "/" + name + ".log";

  std::string mode = "hup";
  int code = 0;
  std::ifstream m(dir + "/" + name + ".mode");
  if (m) m >> mode >> code;

  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_signal;
  ::sigaction(SIGHUP, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  hup_code = code;
  ignore_hup = mode == "never";

  append("pid " + std::to_string(::getpid()));
  std::string line = "argv";
  for (int i = 0; i < argc; ++i) line += std::string(" ") + argv[i];
  append(line);
  char target[256] = {};
  const ssize_t n = ::readlink("/proc/self/fd/0", target, sizeof target - 1);
  append(std::string("stdin ") + (n > 0 ? target : "closed"));
  append("fds " + fds);

  if (mode == "exit") return code;
  if (mode == "crash") {
    crash_with_core(dir);
    return 99;
  }
  for (;;) ::pause();
}
