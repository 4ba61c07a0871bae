#include "platform/paths.h"

#include <cerrno>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

std::string& problem_storage() {
  static std::string problem;
  return problem;
}

// The working directory when the root was read (before the daemon leaves
// it for "/"): relative names given at start are taken from there.
std::string& start_directory_storage() {
  static std::string dir;
  return dir;
}

#ifdef GW_BOARD_BACKEND
std::string compute_root() { return std::string(); }
#else
// "" when the directory is there at the end; else what kept it from being
// made: the first step that failed, with its error.
std::string make_dirs(const std::string& path) {
  std::string failed;
  for (std::string::size_type i = 1; i <= path.size(); ++i) {
    if (i != path.size() && path[i] != '/') continue;
    const std::string step = path.substr(0, i);
    if (::mkdir(step.c_str(), 0755) != 0 && errno != EEXIST && failed.empty())
      failed = step + ": " + std::strerror(errno);
  }
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return std::string();
  return failed.empty() ? path + ": " + std::strerror(ENOTDIR) : failed;
}

std::string compute_root() {
  const char* env = std::getenv("GW_BOARD_ROOT");
  std::string root = (env && *env) ? env : GW_DEFAULT_BOARD_ROOT;
  // Made absolute now: the daemon changes directory to "/" later, and every
  // board path must still name the same file.
  char cwd[PATH_MAX];
  start_directory_storage() = ::getcwd(cwd, sizeof cwd) ? cwd : "";
  if (root[0] != '/' && !start_directory_storage().empty()) root = start_directory_storage() + "/" + root;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  std::string& problem = problem_storage();
  problem.clear();
  for (const char* sub : {"/dev", "/var/run", "/var/log", "/var/monitoring", "/usr/local/etc",
                          "/usr/local/voice", "/proc"}) {
    const std::string failed = make_dirs(root + sub);
    if (problem.empty()) problem = failed;
  }
  return root;
}
#endif

std::string& root_storage() {
  static std::string root = compute_root();
  return root;
}

}  // namespace

const std::string& board_root() { return root_storage(); }

const std::string& board_root_problem() {
  root_storage();
  return problem_storage();
}

std::string board_path(const std::string& path) { return board_root() + path; }

void reset_board_root() { root_storage() = compute_root(); }

std::string from_start_directory(const std::string& name) {
  root_storage();
  const std::string& dir = start_directory_storage();
  return (name.empty() || name[0] == '/' || dir.empty()) ? name : dir + "/" + name;
}

#ifdef GW_BOARD_BACKEND
unsigned short local_port(unsigned short port) { return port; }

std::string local_port_problem() { return std::string(); }
#else
namespace {

const char port_prefix[] = "GW_PORT_";

// A port is written as plain decimal digits, 1 to 65535: a sign, blanks or
// junk around them would be read as another number, or as none, by one
// reader and not by the next.
bool parse_port(const char* text, unsigned short& port) {
  if (!*text) return false;
  unsigned long v = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    v = v * 10 + static_cast<unsigned long>(*p - '0');
    if (v > 65535) return false;
  }
  if (v == 0) return false;
  port = static_cast<unsigned short>(v);
  return true;
}

}  // namespace

unsigned short local_port(unsigned short port) {
  const char* env = std::getenv((port_prefix + std::to_string(port)).c_str());
  unsigned short moved = 0;
  return (env && parse_port(env, moved)) ? moved : port;
}

std::string local_port_problem() {
  for (char** e = environ; *e; ++e) {
    const char* entry = *e;
    if (std::strncmp(entry, port_prefix, sizeof port_prefix - 1) != 0) continue;
    const char* eq = std::strchr(entry, '=');
    if (!eq || !eq[1]) continue;  // empty: the port stays where it is
    unsigned short moved = 0;
    if (!parse_port(eq + 1, moved))
      return std::string(entry, eq) + "='" + (eq + 1) + "' is not a port (1 to 65535)";
  }
  return std::string();
}
#endif

}  // namespace platform
