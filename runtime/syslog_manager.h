#pragma once
// The program's own syslog client. It formats each message itself
// ("<pri>Mmm dd hh:mm:ss ident: text"), queues it with its terminating NUL in
// a batch, and sends the whole batch over the local log socket "/dev/log"
// with one sendmsg(), so the lines of one flush travel together. The log
// daemon separates the messages at the NUL bytes. A batch that finds the
// daemon's queue full waits a bounded time for room before it is given up
// on; on a stream socket a batch that goes is written whole.
//
// One global instance, syslogManager, lives for the whole run.
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>

#include <ctime>
#include <string>

class SysLogManager {
 public:
  enum {
    MessageSize = 1024,  // a message holds at most 1023 characters and its NUL
    BatchSize = 16384,
    BatchEntries = 256,
    BatchSendBytes = 12288,  // a batch past this many bytes goes out at once
    // A log daemon that takes nothing for this long is given up on (a stream
    // batch goes over a new connection or is lost; a datagram batch is lost,
    // and later ones do not wait until a send goes through again), so the
    // loop does not stall until the watchdog ends it.
    StreamStallMs = 1000,
  };

  SysLogManager();
  SysLogManager(const SysLogManager&) = delete;
  SysLogManager& operator=(const SysLogManager&) = delete;
  // Neither closes the socket nor sends a pending batch: the instance lives
  // until the process ends. It owns nothing to free, so it stays usable
  // after static destruction, when the library flushes what the standard
  // streams still hold at exit.
  ~SysLogManager() = default;

  // As the system's openlog: a null identity keeps the current one; the
  // facility (pre-shifted, LOG_DAEMON etc.) becomes the default when not 0.
  // The socket is made at once only with LOG_NDELAY.
  void openlog(const char* ident, int options, int facility);
  void closelog();
  // Formats and queues one message; the queue goes out when it is large,
  // full, or on sendmsg(). Pass log text as an argument of "%s", never as
  // the format.
  void syslog(int priority, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Sends the queued batch now; the result of the system call, 0 when there
  // was nothing to send. A failed send reconnects and tries once more. The
  // batch is emptied either way.
  int sendmsg();
  // As the system's setlogmask: the levels let through; 0 only reads.
  int setlogmask(int mask);
  int fd() const { return fd_; }
  // The log socket's path when it is too long for a local address (every
  // message would be lost); "" when it fits.
  static std::string unusable_path();
  bool connected() const { return connected_; }
  std::string identity() const { return ident_; }

 private:
  int queue(const char* data, int n);
  int send_batch();
  // Waits for room on the socket until StreamStallMs of real time have
  // passed since `start` (CLOCK_MONOTONIC).
  bool wait_for_room(const timespec& start) const;
  void close_socket();
  void write_console(const char* body, int len);
  void set_identity(const char* ident);

  int type_;
  int fd_;
  bool connected_;
  // A datagram send found the queue full for StreamStallMs: the daemon is
  // not reading, and the next sends do not wait for it.
  bool stalled_;
  int options_;
  char ident_[MessageSize];  // no longer than a message can hold
  int facility_;
  int mask_;
  sockaddr_un addr_;
  char msg_[MessageSize];
  char batch_[BatchSize];
  int used_;
  msghdr hdr_;
  iovec iov_[BatchEntries];
  int entries_;
};

extern SysLogManager syslogManager;
