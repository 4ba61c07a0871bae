#include "tests/support/descriptor_exhaustion.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <iostream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define GW_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GW_LEAK_CHECK 1
#endif
#endif
#ifdef GW_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace testsupport {

std::string in_child(const std::function<void(std::vector<std::string>& failed)>& body) {
  int p[2];
  if (::pipe2(p, O_CLOEXEC) != 0) return "no pipe to the child";
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(p[0]);
    ::close(p[1]);
    return "no child";
  }
  if (pid == 0) {
    ::close(p[0]);
    std::vector<std::string> failed;
    body(failed);
#ifdef GW_LEAK_CHECK
    // The child leaves by _exit, past the leak check a sanitized program
    // makes at its exit: what the body left unfreed is looked for here.
    if (__lsan_do_recoverable_leak_check()) failed.push_back("memory leaked (the report is on the error stream)");
#endif
    std::string text;
    for (const auto& f : failed) text += f + "\n";
    const char* at = text.data();
    std::size_t left = text.size();
    while (left > 0) {
      const ssize_t n = ::write(p[1], at, left);
      if (n <= 0) ::_exit(2);
      at += n;
      left -= static_cast<std::size_t>(n);
    }
    ::_exit(0);
  }
  ::close(p[1]);
  std::string text;
  char buf[512];
  for (ssize_t n; (n = ::read(p[0], buf, sizeof buf)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  ::close(p[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) text += "child killed by signal " + std::to_string(WTERMSIG(status)) + "\n";
  else if (WEXITSTATUS(status) != 0) text += "child exited with " + std::to_string(WEXITSTATUS(status)) + "\n";
  return text;
}

int open_descriptors(int pid) {
  const std::string dir = pid == 0 ? std::string("/proc/self/fd") : "/proc/" + std::to_string(pid) + "/fd";
  DIR* d = ::opendir(dir.c_str());
  if (!d) return -1;
  int n = 0;
  while (dirent* e = ::readdir(d))
    if (e->d_name[0] != '.') ++n;
  ::closedir(d);
  return n;
}

bool DescriptorFill::fill(unsigned int limit) {
  // The streams' character facet is checked once while descriptors are
  // free: the first std::endl may come while the table is full.
  std::cerr.widen('\n');
  rlimit lim;
  if (::getrlimit(RLIMIT_NOFILE, &lim) != 0) return false;
  if (lim.rlim_cur > limit) {
    lim.rlim_cur = limit;
    if (::setrlimit(RLIMIT_NOFILE, &lim) != 0) return false;
  }
  for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) fds_.push_back(fd);
  return errno == EMFILE;
}

void DescriptorFill::free_one() {
  if (fds_.empty()) return;
  ::close(fds_.back());
  fds_.pop_back();
}

void DescriptorFill::release() {
  for (int fd : fds_) ::close(fd);
  fds_.clear();
}

bool with_free_descriptors(int max_free, const std::string& what, std::vector<std::string>& failed,
                           const std::function<bool(DescriptorFill& fill, const std::string& at)>& attempt) {
  // The refusals log through the standard streams, whose type UBSan checks
  // through a pipe on first use: checked here, before the table is full.
  {
    std::ostream prime(nullptr);
    prime << 'x' << "x" << 1;
  }
  for (int free = 0; free <= max_free; ++free) {
    DescriptorFill fill;
    if (!fill.fill()) {
      failed.push_back("the descriptor table cannot be filled");
      return false;
    }
    for (int i = 0; i < free; ++i) fill.free_one();
    const bool done = attempt(fill, " with " + std::to_string(free) + " free");
    fill.release();
    if (done) return true;
  }
  failed.push_back("no " + what + " with " + std::to_string(max_free) + " free descriptors");
  return false;
}

EarlyClient::EarlyClient(bool unix_domain)
    : fd_(::socket(unix_domain ? AF_UNIX : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}

EarlyClient::~EarlyClient() { close(); }

void EarlyClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool EarlyClient::connect_tcp(std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool EarlyClient::connect_unix(const std::string& path) {
  sockaddr_un sa{};
  sa.sun_family = AF_UNIX;
  if (path.size() >= sizeof sa.sun_path) return false;
  std::memcpy(sa.sun_path, path.c_str(), path.size() + 1);
  return fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool EarlyClient::peer_closed(int timeout_ms) {
  if (fd_ < 0) return false;
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, timeout_ms) <= 0) return false;
  char c;
  const ssize_t n = ::recv(fd_, &c, 1, MSG_DONTWAIT);
  return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

namespace {

std::int64_t cpu_ms() {
  rusage r;
  ::getrusage(RUSAGE_SELF, &r);
  return std::int64_t(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000 +
         (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000;
}

}  // namespace

void exhaust_listener(const ExhaustedListener& l, std::vector<std::string>& failed) {
  auto expect = [&](bool ok, const std::string& what) {
    if (!ok) failed.push_back(what);
    return ok;
  };
  {
    EarlyClient first(l.unix_domain);
    if (!expect(l.connect(first), "the first client cannot connect")) return;
    l.run_ms(100);
    if (!expect(l.listed() == 1, "the first client is not listed")) return;
  }
  l.run_ms(100);
  if (!expect(l.listed() == 0, "the first client is still listed after it left")) return;

  EarlyClient dropped(l.unix_domain), uncopied(l.unix_domain), next(l.unix_domain);
  DescriptorFill fill;
  if (!expect(fill.fill(), "the descriptor table cannot be filled")) return;
  if (!expect(l.connect(dropped), "no connect while out of descriptors")) return;
  const std::int64_t before = cpu_ms();
  l.run_ms(1000);
  const std::int64_t spent = cpu_ms() - before;
  expect(spent < 400, "a second out of descriptors took " + std::to_string(spent) + " ms of CPU: spinning");
  expect(dropped.peer_closed(), "a connection pending while out of descriptors is not dropped");
  expect(l.listed() == 0, "a connection is listed while out of descriptors");

  // The spare descriptor is held again: the table is full.
  fill.free_one();
  if (!expect(l.connect(uncopied), "no connect into the last descriptor")) return;
  l.run_ms(200);
  expect(l.listed() == 0, "a client whose descriptor could not be copied stays listed");
  expect(uncopied.peer_closed(), "a client whose descriptor could not be copied is not closed");

  fill.release();
  if (!expect(l.connect(next), "no connect once descriptors are free")) return;
  l.run_ms(200);
  expect(l.listed() == 1, "the next client is not served once descriptors are free");
  expect(!next.peer_closed(), "the next client is closed once descriptors are free");
}

}  // namespace testsupport
