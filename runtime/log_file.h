#pragma once
// A stream buffer writing hourly log files: "<dir>/YYYY_MM_DD-HH.log", each
// line prefixed with "MM:SS:uuuuu: " (the hour is in the file name). The
// file of a new hour, or of the same hour on another date, is opened at the
// first flush in it; a file of the current hour that exists already is
// continued, not emptied, so a restart keeps what was logged before it.
// Completed lines are handed to the file at once, so the last lines before a
// crash are not lost.
#include <fstream>
#include <streambuf>
#include <string>

class LogFileStreamBuf : public std::streambuf {
 public:
  enum { BufSize = 16 };
  // The most text of an unfinished line held before it is written.
  enum { PendingMax = 4096 };

  explicit LogFileStreamBuf(const std::string& directory);
  ~LogFileStreamBuf() override;
  LogFileStreamBuf(const LogFileStreamBuf&) = delete;
  LogFileStreamBuf& operator=(const LogFileStreamBuf&) = delete;

  // Opens the file of the current hour in place of the open one.
  void NewFile();

 protected:
  // Takes ownership of the buffer; a size below 2 is ignored.
  std::streambuf* setbuf(char* buffer, std::streamsize size) override;
  int sync() override;
  int_type overflow(int_type c) override;

 private:
  void open_hour(const struct tm& tm);
  void put(const char* text, std::streamsize n);
  void write_pending();

  std::filebuf* file_;
  std::string dir_;
  int hour_;
  long day_ = -1;  // the local date of the open file
  bool continuation_;  // the last text written ended inside a line
  char* buffer_ = nullptr;
  std::string pending_;  // the text of this flush, for the file
  bool at_line_start_ = true;  // the file's last byte written ends a line
};
