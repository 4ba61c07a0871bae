#include "runtime/proc.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

bool pid_has_name(int pid, const char* name) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[256];
  ssize_t n = ::read(fd, buf, 255);
  ::close(fd);
  if (n <= 0) return false;
  std::string text(buf, static_cast<std::size_t>(n));
  std::string::size_type open = text.find('(');
  std::string::size_type close = text.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  if (text.compare(open + 1, close - open - 1, name) != 0) return false;
  // The state follows the name: a process that has ended and waits to be
  // reaped (Z) or is going (X) no longer runs, though /proc still names it.
  const char state = close + 2 < text.size() ? text[close + 2] : '?';
  return state != 'Z' && state != 'X' && state != 'x';
}

}  // namespace

int find_proc_by_name(const char* name, int pid) {
  if (!name) return -1;
  if (pid > 0 && pid_has_name(pid, name)) return pid;
  DIR* dir = ::opendir("/proc");
  if (!dir) return -1;
  int found = -1;
  while (struct dirent* e = ::readdir(dir)) {
    int p = std::atoi(e->d_name);
    if (p <= 0) continue;
    if (pid_has_name(p, name)) {
      found = p;
      break;
    }
  }
  ::closedir(dir);
  return found;
}
