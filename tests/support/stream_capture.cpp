#include "tests/support/stream_capture.h"

#include "platform/clock.h"

#include <iostream>

namespace testsupport {

class StreamCapture::LineBuf : public std::streambuf {
 public:
  std::vector<LogLine> lines;

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    if (c == '\n') {
      timeval tv;
      platform::gettimeofday(&tv);
      lines.push_back(LogLine{std::int64_t(tv.tv_sec) * 1000 + tv.tv_usec / 1000, partial});
      partial.clear();
    } else {
      partial.push_back(static_cast<char>(c));
    }
    return c;
  }

 private:
  std::string partial;
};

namespace {
std::ostream* const streams[3] = {&std::cout, &std::cerr, &std::clog};
}

StreamCapture::StreamCapture() {
  for (int i = 0; i < 3; ++i) {
    bufs_[i].reset(new LineBuf);
    saved_[i] = streams[i]->rdbuf(bufs_[i].get());
  }
}

StreamCapture::~StreamCapture() {
  for (int i = 0; i < 3; ++i) streams[i]->rdbuf(saved_[i]);
}

const std::vector<LogLine>& StreamCapture::out() const { return bufs_[0]->lines; }
const std::vector<LogLine>& StreamCapture::err() const { return bufs_[1]->lines; }
const std::vector<LogLine>& StreamCapture::log() const { return bufs_[2]->lines; }

std::vector<LogLine> StreamCapture::matching(const std::vector<LogLine>& lines, const std::string& part) {
  std::vector<LogLine> r;
  for (const LogLine& l : lines)
    if (l.text.find(part) != std::string::npos) r.push_back(l);
  return r;
}

bool StreamCapture::has(const std::vector<LogLine>& lines, const std::string& text) {
  for (const LogLine& l : lines)
    if (l.text == text) return true;
  return false;
}

std::string StreamCapture::all() const {
  static const char* const names[3] = {"out", "err", "log"};
  std::string s;
  for (int i = 0; i < 3; ++i)
    for (const LogLine& l : bufs_[i]->lines) s += std::string(names[i]) + " @" + std::to_string(l.ms) + ": " + l.text + "\n";
  return s;
}

void StreamCapture::clear() {
  for (auto& b : bufs_) b->lines.clear();
}

}  // namespace testsupport
