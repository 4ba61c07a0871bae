#include "runtime/syslog_manager.h"

#include <fcntl.h>
#include <poll.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <type_traits>

#include "platform/paths.h"
#include "runtime/fd.h"
#include "runtime/mux_time.h"

SysLogManager syslogManager;

namespace {
const char* const defaultIdentity = "syslog-tvr";
}

SysLogManager::SysLogManager()
    : type_(SOCK_DGRAM),
      fd_(-1),
      connected_(false),
      stalled_(false),
      options_(0),
      facility_(LOG_USER),
      mask_(0xff),
      used_(0),
      entries_(0) {
  std::memset(&addr_, 0, sizeof addr_);
  addr_.sun_family = AF_UNIX;
  std::memset(&hdr_, 0, sizeof hdr_);
  set_identity(defaultIdentity);
}

static_assert(std::is_trivially_destructible<SysLogManager>::value,
              "lines flushed at exit reach the manager after static destruction");

void SysLogManager::set_identity(const char* ident) {
  if (ident != ident_) std::snprintf(ident_, sizeof ident_, "%s", ident);
}

std::string SysLogManager::unusable_path() {
  const std::string path = platform::board_path("/dev/log");
  sockaddr_un sa;
  return path.size() >= sizeof sa.sun_path ? path : std::string();
}

void SysLogManager::openlog(const char* ident, int options, int facility) {
  if (ident) set_identity(ident);
  options_ = options;
  if (facility != 0 && (facility & ~LOG_FACMASK) == 0) facility_ = facility;

  for (int attempt = 0; attempt < 2; ++attempt) {
    if (fd_ < 0) {
      // The board root may differ between runs of the tests: resolve now.
      const std::string path = platform::board_path("/dev/log");
      std::memset(&addr_, 0, sizeof addr_);
      addr_.sun_family = AF_UNIX;
      // A path that does not fit would name another socket: no log then.
      if (path.size() >= sizeof addr_.sun_path) return;
      std::memcpy(addr_.sun_path, path.c_str(), path.size() + 1);
      if (options_ & LOG_NDELAY) {
        fd_ = ::socket(AF_UNIX, type_ | SOCK_CLOEXEC, 0);
        if (fd_ < 0) return;
      }
    }
    // Descriptor 0 is a valid socket when standard input was closed.
    if (fd_ < 0 || connected_) return;
    // A stream connect to a log daemon that no longer accepts would wait
    // for room in its backlog without end: it fails at once instead (a local
    // connect never stays in progress). The socket blocks again afterwards,
    // for the raw writes of child programs to descriptors 1 and 2.
    const bool stream = type_ == SOCK_STREAM;
    if (stream) NonBlockMode(fd_);
    const int r = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr_), sizeof addr_);
    const int err = errno;
    if (stream) BlockMode(fd_);
    if (r == 0) {
      connected_ = true;
      return;
    }
    ::close(fd_);
    fd_ = -1;
    if (err != EPROTOTYPE) return;
    // The log socket is of the other kind: try that once.
    type_ = type_ == SOCK_DGRAM ? SOCK_STREAM : SOCK_DGRAM;
  }
}

void SysLogManager::close_socket() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  connected_ = false;
}

void SysLogManager::closelog() {
  close_socket();
  set_identity(defaultIdentity);
  type_ = SOCK_DGRAM;
  stalled_ = false;
  used_ = 0;
  entries_ = 0;
}

int SysLogManager::setlogmask(int mask) {
  const int old = mask_;
  if (mask != 0) mask_ = mask;
  return old;
}

void SysLogManager::syslog(int priority, const char* format, ...) {
  if (!(mask_ & LOG_MASK(LOG_PRI(priority)))) return;
  if ((priority & LOG_FACMASK) == 0) priority |= facility_;

  // Every piece is cut to what is left of the 1023 characters.
  int len = 0;
  auto account = [&len](int written) {
    if (written > 0) len += written < MessageSize - 1 - len ? written : MessageSize - 1 - len;
  };
  account(std::snprintf(msg_, MessageSize, "<%d>", priority));

  time_t now = time_t(Mux::seconds());
  struct tm tm;
  localtime_r(&now, &tm);
  char stamp[64];
  const size_t stamp_len = std::strftime(stamp, sizeof stamp, "%h %e %T ", &tm);
  account(std::snprintf(msg_ + len, MessageSize - len, "%.*s", int(stamp_len), stamp));

  const int body = len;
  if (ident_[0]) account(std::snprintf(msg_ + len, MessageSize - len, "%s", ident_));
  if (options_ & LOG_PID)
    account(std::snprintf(msg_ + len, MessageSize - len, "[%d]", int(::getpid())));
  if (ident_[0]) account(std::snprintf(msg_ + len, MessageSize - len, ": "));
  va_list ap;
  va_start(ap, format);
  account(std::vsnprintf(msg_ + len, MessageSize - len, format, ap));
  va_end(ap);

  if (options_ & LOG_PERROR) {
    // Straight to descriptor 2: standard error may itself be a log stream.
    struct iovec v[2];
    v[0].iov_base = msg_ + body;
    v[0].iov_len = size_t(len - body);
    v[1].iov_base = const_cast<char*>("\n");
    v[1].iov_len = (len > body && msg_[len - 1] == '\n') ? 0 : 1;
    ssize_t r = ::writev(STDERR_FILENO, v, 2);
    (void)r;
  }

  if (!connected_) openlog(nullptr, options_ | LOG_NDELAY, 0);

  msg_[len] = '\0';
  const int n = len + 1;

  if (connected_) {
    if (queue(msg_, n) >= 0) return;
    close_socket();
    openlog(nullptr, options_ | LOG_NDELAY, 0);
    if (connected_ && queue(msg_, n) >= 0) return;
  }
  close_socket();
  if (options_ & LOG_CONS) write_console(msg_ + body, len - body);
}

void SysLogManager::write_console(const char* body, int len) {
  const std::string path = platform::board_path("/dev/console");
  int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  struct iovec v[2];
  v[0].iov_base = const_cast<char*>(body);
  v[0].iov_len = size_t(len);
  v[1].iov_base = const_cast<char*>("\r\n");
  v[1].iov_len = 2;
  ssize_t r = ::writev(fd, v, 2);
  (void)r;
  ::close(fd);
}

int SysLogManager::queue(const char* data, int n) {
  if (!data || n <= 0) return 0;
  if (used_ + n >= BatchSize || entries_ >= BatchEntries) {
    // No room: send what is queued first, so this message is not lost.
    const int r = sendmsg();
    if (r < 0) return r;
  }
  char* at = batch_ + used_;
  std::memcpy(at, data, size_t(n));
  iov_[entries_].iov_base = at;
  iov_[entries_].iov_len = size_t(n);
  ++entries_;
  used_ += n;
  if (entries_ >= BatchEntries || used_ > BatchSendBytes) return sendmsg();
  return 0;
}

int SysLogManager::send_batch() {
  // A connected stream socket refuses a destination address.
  if (type_ == SOCK_DGRAM) {
    hdr_.msg_name = &addr_;
    hdr_.msg_namelen = sizeof addr_;
  } else {
    hdr_.msg_name = nullptr;
    hdr_.msg_namelen = 0;
  }
  hdr_.msg_iov = iov_;
  hdr_.msg_iovlen = size_t(entries_);
  // A datagram that finds the log daemon's queue full waits for room, at
  // most StreamStallMs: a burst of lines (the start-up's) outruns a daemon
  // that reads, and would otherwise be lost. A daemon that stops reading
  // holds the loop (every slot and the watchdog with it) only that once:
  // until a send goes through again, a full queue loses the batch at once.
  if (type_ == SOCK_DGRAM) {
    timespec start;
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
      const ssize_t n = ::sendmsg(fd_, &hdr_, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n >= 0) {
        stalled_ = false;
        return int(n);
      }
      if (errno == EINTR) continue;
      if ((errno != EAGAIN && errno != EWOULDBLOCK) || stalled_) return -1;
      if (!wait_for_room(start)) {
        stalled_ = true;
        return -1;
      }
    }
  }

  // A stream send can stop part way (a signal while the log daemon is slow
  // to read): the rest follows, or the daemon would find a cut message run
  // into the next one. The batch's own entries stay as they are for a
  // resend on a new connection. A daemon that takes nothing for
  // StreamStallMs is not waited for longer: the send fails, and the caller's
  // new connection ends the cut message.
  iovec rest[BatchEntries];
  std::memcpy(rest, iov_, sizeof(iovec) * size_t(entries_));
  iovec* first = rest;
  std::size_t left = size_t(entries_);
  std::size_t sent = 0;
  while (left > 0) {
    hdr_.msg_iov = first;
    hdr_.msg_iovlen = left;
    const ssize_t n = ::sendmsg(fd_, &hdr_, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      timespec start;
      ::clock_gettime(CLOCK_MONOTONIC, &start);
      if (wait_for_room(start)) continue;
    }
    if (n < 0) {
      hdr_.msg_iov = iov_;
      return -1;
    }
    sent += size_t(n);
    std::size_t k = size_t(n);
    while (left > 0 && k >= first->iov_len) {
      k -= first->iov_len;
      ++first;
      --left;
    }
    if (left > 0) {
      first->iov_base = static_cast<char*>(first->iov_base) + k;
      first->iov_len -= k;
    }
  }
  hdr_.msg_iov = iov_;
  return int(sent);
}

bool SysLogManager::wait_for_room(const timespec& start) const {
  // Real time: the log daemon is a real peer, whatever clock the loop runs on.
  for (;;) {
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const long spent = long(now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (spent >= StreamStallMs) return false;
    pollfd p = {fd_, POLLOUT, 0};
    const int r = ::poll(&p, 1, int(StreamStallMs - spent));
    if (r > 0) return (p.revents & POLLOUT) != 0;
    if (r == 0 || errno != EINTR) return false;
  }
}

int SysLogManager::sendmsg() {
  int r = 0;
  if (entries_ > 0 && used_ > 0 && fd_ >= 0) {
    r = send_batch();
    if (r < 0) {
      // The log daemon went away (restarted, say): connect afresh and send
      // once more, or this batch and every later one would be lost.
      close_socket();
      openlog(nullptr, options_ | LOG_NDELAY, 0);
      if (connected_) r = send_batch();
    }
  }
  used_ = 0;
  entries_ = 0;
  return r;
}
