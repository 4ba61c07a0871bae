#pragma once
// Stream buffers that turn every written line into one system log message,
// for the standard streams of the daemon. SysLogStreamBuf hands each line to
// the system's syslog(); ManagedSysLogStreamBuf to syslogManager, sending all
// lines of one flush as one batch. Lines always go as data ("%s"), so a "%"
// in a log line is printed as it is.
#include <streambuf>

class SysLogStreamBuf : public std::streambuf {
 public:
  enum { SysLogBufSize = 1024 };  // the last byte is kept for a NUL

  // facility 0..23 (LOG_DAEMON is 3), level 0..7 (LOG_ERR is 3).
  SysLogStreamBuf(int facility, int level);
  ~SysLogStreamBuf() override;
  SysLogStreamBuf(const SysLogStreamBuf&) = delete;
  SysLogStreamBuf& operator=(const SysLogStreamBuf&) = delete;

  int priority() const { return priority_; }

 protected:
  // Takes ownership of the buffer; a size below 2 is ignored.
  std::streambuf* setbuf(char* buffer, std::streamsize size) override;
  int sync() override;
  int_type overflow(int_type c) override;

  // Calls emit once per message held in the put area (each complete line,
  // then any text after the last line feed; a full buffer without line feed
  // as one message) and empties it. Returns true when anything was emitted.
  template <class Emit>
  bool split(Emit emit);

 private:
  int priority_;
  char* buffer_ = nullptr;
};

class ManagedSysLogStreamBuf : public SysLogStreamBuf {
 public:
  enum { ManagedSysLogBufSize = 16384 };

  ManagedSysLogStreamBuf(int facility, int level);
  ~ManagedSysLogStreamBuf() override = default;

 protected:
  int sync() override;
};
