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
  if (root[0] != '/') {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd)) root = std::string(cwd) + "/" + root;
  }
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

#ifdef GW_BOARD_BACKEND
unsigned short local_port(unsigned short port) { return port; }
#else
unsigned short local_port(unsigned short port) {
  const char* env = std::getenv(("GW_PORT_" + std::to_string(port)).c_str());
  if (!env || !*env) return port;
  char* end = nullptr;
  const long moved = std::strtol(env, &end, 10);
  return (*end == '\0' && moved > 0 && moved <= 65535) ? static_cast<unsigned short>(moved) : port;
}
#endif

}  // namespace platform
