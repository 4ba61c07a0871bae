#include "platform/paths.h"

#include <cerrno>
#include <cstdlib>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

#ifdef GW_BOARD_BACKEND
std::string compute_root() { return std::string(); }
#else
void make_dirs(const std::string& path) {
  for (std::string::size_type i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0755);
  }
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
  for (const char* sub : {"/dev", "/var/run", "/var/log", "/var/monitoring", "/usr/local/etc",
                          "/usr/local/voice", "/proc"})
    make_dirs(root + sub);
  return root;
}
#endif

std::string& root_storage() {
  static std::string root = compute_root();
  return root;
}

}  // namespace

const std::string& board_root() { return root_storage(); }

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
