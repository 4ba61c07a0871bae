#include "runtime/syslog_stream.h"

#include <syslog.h>

#include <cstring>

#include "runtime/syslog_manager.h"

SysLogStreamBuf::SysLogStreamBuf(int facility, int level) : priority_(facility * 8 + level) {
  SysLogStreamBuf::setbuf(new char[SysLogBufSize], SysLogBufSize);
}

SysLogStreamBuf::~SysLogStreamBuf() { delete[] buffer_; }

std::streambuf* SysLogStreamBuf::setbuf(char* buffer, std::streamsize size) {
  if (size < 2) return this;
  sync();
  delete[] buffer_;
  buffer_ = buffer;
  setp(buffer_, buffer_ + (size - 1));
  return this;
}

template <class Emit>
bool SysLogStreamBuf::split(Emit emit) {
  if (!buffer_) return false;
  char* const begin = pbase();
  char* const end = pptr();
  *end = '\0';
  if (!std::memchr(begin, '\n', size_t(end - begin))) {
    if (end != epptr()) return false;  // wait for the rest of the line
    emit(begin);
    setp(pbase(), epptr());
    return true;
  }
  char* p = begin;
  for (;;) {
    char* nl = static_cast<char*>(std::memchr(p, '\n', size_t(end - p)));
    if (!nl) break;
    *nl = '\0';
    emit(p);
    p = nl + 1;
  }
  if (p != end) emit(p);
  setp(pbase(), epptr());
  return true;
}

int SysLogStreamBuf::sync() {
  const int pri = priority_;
  split([pri](const char* line) { ::syslog(pri, "%s", line); });
  return 0;
}

SysLogStreamBuf::int_type SysLogStreamBuf::overflow(int_type c) {
  sync();
  if (traits_type::eq_int_type(c, traits_type::eof())) return 0;
  return sputc(traits_type::to_char_type(c));
}

ManagedSysLogStreamBuf::ManagedSysLogStreamBuf(int facility, int level)
    : SysLogStreamBuf(facility, level) {
  SysLogStreamBuf::setbuf(new char[ManagedSysLogBufSize], ManagedSysLogBufSize);
}

int ManagedSysLogStreamBuf::sync() {
  const int pri = priority();
  if (split([pri](const char* line) { syslogManager.syslog(pri, "%s", line); }))
    syslogManager.sendmsg();
  return 0;
}
