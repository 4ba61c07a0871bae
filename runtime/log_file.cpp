#include "runtime/log_file.h"

#include <sys/time.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/clock.h"

namespace {

// The time of the flush itself, not the loop's cached time of the pass: the
// prefix shows microseconds. The process clock is the virtual one in tests.
void local_now(timeval& tv, struct tm& tm) {
  platform::gettimeofday(&tv);
  time_t sec = tv.tv_sec;
  localtime_r(&sec, &tm);
}

// The local date, as one number.
long day_of(const struct tm& tm) { return (tm.tm_year + 1900L) * 400 + tm.tm_yday; }

}  // namespace

LogFileStreamBuf::LogFileStreamBuf(const std::string& directory)
    : file_(new std::filebuf), dir_(directory), hour_(-1), continuation_(false) {
  // The file keeps no buffer of its own: after a write that failed part way
  // (a full disk) it would write its whole buffer again once there is
  // room, and the lines that had gone out would stand twice in the log.
  // The text of a flush is collected here and handed over in one piece.
  file_->pubsetbuf(nullptr, 0);
  LogFileStreamBuf::setbuf(new char[BufSize], BufSize);
  NewFile();
}

LogFileStreamBuf::~LogFileStreamBuf() {
  // Text still in the put area is not written; the file is written out.
  write_pending();
  delete[] buffer_;
  delete file_;
}

void LogFileStreamBuf::write_pending() {
  if (pending_.empty()) return;
  if (file_->is_open()) {
    const std::streamsize n = file_->sputn(pending_.data(), std::streamsize(pending_.size()));
    if (n > 0) at_line_start_ = pending_[std::size_t(n) - 1] == '\n';
  }
  // What did not go out is lost, as the lines of a file that did not open.
  pending_.clear();
}

void LogFileStreamBuf::open_hour(const struct tm& tm) {
  write_pending();
  file_->close();
  at_line_start_ = true;
  hour_ = tm.tm_hour;
  day_ = day_of(tm);
  char stamp[128];
  if (std::strftime(stamp, sizeof stamp, "%Y_%m_%d-%H", &tm) == 0) stamp[0] = '\0';
  const std::string name = dir_ + "/" + stamp + ".log";
  // Appending: a restart within the hour must not erase the hour's log.
  file_->open(name.c_str(), std::ios::out | std::ios::app | std::ios::binary);
}

void LogFileStreamBuf::NewFile() {
  timeval tv;
  struct tm tm;
  local_now(tv, tm);
  open_hour(tm);
}

void LogFileStreamBuf::put(const char* text, std::streamsize n) {
  // A file that did not open drops what is written to it.
  if (n > 0 && file_->is_open()) pending_.append(text, std::size_t(n));
}

std::streambuf* LogFileStreamBuf::setbuf(char* buffer, std::streamsize size) {
  if (size < 2) return this;
  sync();
  delete[] buffer_;
  buffer_ = buffer;
  setp(buffer_, buffer_ + size);
  return this;
}

int LogFileStreamBuf::sync() {
  if (!buffer_) return 0;
  const char* p = pbase();
  const char* const end = pptr();
  bool ended_line = false;

  if (continuation_) {
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
    if (!nl) {
      put(p, end - p);
      setp(pbase(), epptr());
      if (pending_.size() >= PendingMax) write_pending();
      return 0;
    }
    put(p, nl + 1 - p);
    continuation_ = false;
    p = nl + 1;
    ended_line = true;
  }

  if (p != end) {
    timeval tv;
    struct tm tm;
    local_now(tv, tm);
    // The date counts too: after a day without a line, or a clock set at
    // boot from 1970, the same hour of the day is another file. A file
    // that could not be opened (a full or read-only disk) is tried again,
    // so the log resumes once the disk takes it, not an hour later.
    if (tm.tm_hour != hour_ || day_of(tm) != day_ || !file_->is_open()) open_hour(tm);
    // A line whose end was lost to a failed write: the next one still
    // begins a line of its own.
    if (pending_.empty() ? !at_line_start_ : pending_.back() != '\n') put("\n", 1);

    char prefix[32];
    const int plen = std::snprintf(prefix, sizeof prefix, "%02d:%02d:%05ld: ", tm.tm_min,
                                   tm.tm_sec, long(tv.tv_usec));
    while (p != end) {
      put(prefix, plen);
      const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
      if (!nl) {
        put(p, end - p);
        continuation_ = true;
        break;
      }
      put(p, nl + 1 - p);
      p = nl + 1;
      ended_line = true;
    }
  }
  setp(pbase(), epptr());
  // Whole lines go to the file at once, so the last words before a crash
  // (an abort of the loop, say) are not left in a buffer; a long line
  // without its end goes in pieces of a bounded size.
  if (ended_line || pending_.size() >= PendingMax) write_pending();
  return 0;
}

LogFileStreamBuf::int_type LogFileStreamBuf::overflow(int_type c) {
  sync();
  if (traits_type::eq_int_type(c, traits_type::eof())) return 0;
  return sputc(traits_type::to_char_type(c));
}
