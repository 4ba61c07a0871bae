#pragma once
// Captures what the code under test writes to std::cout, std::cerr and
// std::clog while the object lives, line by line, each line stamped with the
// process clock (the virtual clock when it is on), so tests can check both
// the exact log lines and when they were written.
//
//   testsupport::StreamCapture cap;
//   ... run the loop ...
//   EXPECT_EQ(cap.count(cap.err(), "can't bind to socket: "), 2);
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

namespace testsupport {

struct LogLine {
  std::int64_t ms;  // process clock when the line was ended
  std::string text;
};

class StreamCapture {
 public:
  StreamCapture();
  ~StreamCapture();
  StreamCapture(const StreamCapture&) = delete;
  StreamCapture& operator=(const StreamCapture&) = delete;

  const std::vector<LogLine>& out() const;
  const std::vector<LogLine>& err() const;
  const std::vector<LogLine>& log() const;

  // Lines of `lines` that contain `part`.
  static std::vector<LogLine> matching(const std::vector<LogLine>& lines, const std::string& part);
  static int count(const std::vector<LogLine>& lines, const std::string& part) {
    return static_cast<int>(matching(lines, part).size());
  }
  // Whether a line equals `text` exactly.
  static bool has(const std::vector<LogLine>& lines, const std::string& text);
  // Every line of the three streams, for failure messages.
  std::string all() const;
  void clear();

 private:
  class LineBuf;
  std::unique_ptr<LineBuf> bufs_[3];
  std::streambuf* saved_[3];
};

}  // namespace testsupport
