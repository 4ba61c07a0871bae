#include "tests/support/netns.h"

#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <string>
#include <thread>

namespace testsupport {

namespace {

bool write_file(const char* path, const std::string& text) {
  const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

void write_all(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// The child's report: one status byte ('+' ran, '-' skip), then the text.
[[noreturn]] void child(int out, int flags, const char* what, const std::function<std::string()>& body) {
  const std::string uid = std::to_string(::getuid()), gid = std::to_string(::getgid());
  std::string report;
  if (::unshare(CLONE_NEWUSER | flags) != 0) {
    const int e = errno;
    report = std::string("-user and ") + what + " namespaces not available: " + std::strerror(e);
    // The kernel refuses a process with more than one thread, as under an
    // emulator that keeps threads of its own.
    if (e == EINVAL) report += " (a process with several threads cannot enter one)";
  } else if (!write_file("/proc/self/setgroups", "deny") && errno != ENOENT) {
    report = "-cannot write setgroups in the new user namespace";
  } else if (!write_file("/proc/self/uid_map", "0 " + uid + " 1") ||
             !write_file("/proc/self/gid_map", "0 " + gid + " 1")) {
    report = "-cannot map the user into the new user namespace";
  } else {
    try {
      report = "+" + body();
    } catch (const NetnsUnavailable& e) {
      report = std::string("-") + e.what();
    } catch (const std::exception& e) {
      report = std::string("+body threw: ") + e.what();
    }
  }
  write_all(out, report);
  ::_exit(0);
}

NetnsResult run_in_namespace(int flags, const char* what, const std::function<std::string()>& body) {
  NetnsResult result;
  int p[2];
  if (::pipe2(p, O_CLOEXEC) != 0) {
    result.reason = "no pipe";
    return result;
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(p[0]);
    ::close(p[1]);
    result.reason = "no fork";
    return result;
  }
  if (pid == 0) {
    ::close(p[0]);
    child(p[1], flags, what, body);
  }
  ::close(p[1]);
  std::string text;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(p[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  ::close(p[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (text.empty()) {
    // Reported as a result, not a skip: a child that dies is a fault.
    result.ran = true;
    result.output = "child ended without a report, status " + std::to_string(status);
    return result;
  }
  result.ran = text[0] == '+';
  (result.ran ? result.output : result.reason) = text.substr(1);
  return result;
}

}  // namespace

NetnsResult run_in_netns(const std::function<std::string()>& body) {
  return run_in_namespace(CLONE_NEWNET, "network", body);
}

NetnsResult run_in_mountns(const std::function<std::string()>& body) {
  // Mounts made here stay private to the child, and vanish with it.
  return run_in_namespace(CLONE_NEWNS, "mount", [&body]() {
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      throw NetnsUnavailable(std::string("cannot make the mounts private: ") + std::strerror(errno));
    return body();
  });
}

void mount_tmpfs(const std::string& dir, std::size_t bytes) {
  const std::string options = "size=" + std::to_string(bytes);
  if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0)
    throw NetnsUnavailable("cannot mount a tmpfs on " + dir + ": " + std::strerror(errno));
}

void remount(const std::string& dir, bool read_only) {
  const unsigned long flags = MS_REMOUNT | (read_only ? MS_RDONLY : 0);
  if (::mount(nullptr, dir.c_str(), nullptr, flags, nullptr) != 0)
    throw NetnsUnavailable("cannot remount " + dir + ": " + std::strerror(errno));
}

std::string fill(const std::string& dir) {
  const std::string path = dir + "/.filler";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) throw NetnsUnavailable("cannot fill " + dir + ": " + std::strerror(errno));
  // Block by block, then byte by byte: not one byte more fits afterwards.
  static const char block[4096] = {0};
  for (std::size_t size = sizeof block; size > 0; size /= 2)
    while (::write(fd, block, size) == static_cast<ssize_t>(size)) {
    }
  ::close(fd);
  return path;
}

void file_capabilities(bool on) {
  // Root of a user namespace passes every permission check on its own
  // files; without these it meets the modes as any user does. They stay
  // permitted, so they can be taken up again.
  __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2];
  if (::syscall(SYS_capget, &head, data) != 0) throw NetnsUnavailable("cannot read the capabilities");
  for (unsigned cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
    if (on)
      data[cap / 32].effective |= data[cap / 32].permitted & (1u << (cap % 32));
    else
      data[cap / 32].effective &= ~(1u << (cap % 32));
  }
  if (::syscall(SYS_capset, &head, data) != 0) throw NetnsUnavailable("cannot change the capabilities");
}

std::vector<DiskFault> disk_refusals(const std::string& dir, const std::vector<std::string>& closed) {
  std::vector<std::string> dirs = closed;
  dirs.insert(dirs.begin(), dir);
  return {
      {"read-only", [dir] { remount(dir, true); }, [dir] { remount(dir, false); }},
      {"no access",
       [dirs] {
         for (const auto& d : dirs) ::chmod(d.c_str(), 0500);
         file_capabilities(false);
       },
       [dirs] {
         file_capabilities(true);
         for (const auto& d : dirs) ::chmod(d.c_str(), 0755);
       }},
  };
}

void ip(const std::string& args) {
  const std::string command = "ip " + args + " >/dev/null 2>&1";
  const int rc = std::system(command.c_str());
  if (rc != 0) throw NetnsUnavailable("cannot set up the namespace: " + command);
}

void wait_running(const std::string& name) {
  const int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  for (int i = 0; sock >= 0 && i < 200; ++i) {
    struct ifreq req;
    std::memset(&req, 0, sizeof req);
    std::strncpy(req.ifr_name, name.c_str(), IFNAMSIZ - 1);
    if (::ioctl(sock, SIOCGIFFLAGS, &req) == 0 && (req.ifr_flags & IFF_RUNNING)) {
      ::close(sock);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (sock >= 0) ::close(sock);
  throw NetnsUnavailable("interface " + name + " does not come up");
}

pid_t start_peer(const std::string& here, const std::string& there, const std::string& addr,
                 const std::function<void()>& peer) {
  ip("link add " + here + " type veth peer name " + there);
  int up[2], down[2];  // peer to body, body to peer
  if (::pipe2(up, O_CLOEXEC) != 0) throw NetnsUnavailable("no pipe for the peer");
  if (::pipe2(down, O_CLOEXEC) != 0) {
    ::close(up[0]);
    ::close(up[1]);
    throw NetnsUnavailable("no pipe for the peer");
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(up[0]);
    ::close(down[1]);
    char c = ::unshare(CLONE_NEWNET) == 0 ? '+' : '-';
    write_all(up[1], std::string(1, c));
    if (c == '-' || ::read(down[0], &c, 1) != 1) ::_exit(1);
    try {
      ip("link set lo up");
      ip("addr add " + addr + " dev " + there);
      ip("link set " + there + " up");
      write_all(up[1], "+");
    } catch (const NetnsUnavailable&) {
      write_all(up[1], "-");
      ::_exit(1);
    }
    ::close(up[1]);
    peer();
    ::_exit(0);
  }
  ::close(up[1]);
  ::close(down[0]);
  char c = '-';
  bool ok = pid > 0 && ::read(up[0], &c, 1) == 1 && c == '+';
  if (ok) {
    try {
      ip("link set " + there + " netns " + std::to_string(pid));
    } catch (const NetnsUnavailable&) {
      ok = false;
    }
  }
  if (ok) ok = ::write(down[1], "+", 1) == 1 && ::read(up[0], &c, 1) == 1 && c == '+';
  ::close(up[0]);
  ::close(down[1]);
  if (!ok) {
    if (pid > 0) end_peer(pid);
    throw NetnsUnavailable("cannot start a peer in a namespace of its own");
  }
  return pid;
}

void end_peer(pid_t pid) {
  ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace testsupport
