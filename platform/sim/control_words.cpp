#include "platform/sim/control_words.h"

#include <cerrno>
#include <cstdlib>
#include <map>
#include <sstream>

namespace platform {
namespace sim {
namespace {

// Function-local, so registrations from other files' static objects find it
// built whatever the order of initialisation.
std::map<std::string, WordHandler>& families() {
  static std::map<std::string, WordHandler> f;
  return f;
}

}  // namespace

void add_words(const std::string& family, WordHandler handler) { families()[family] = std::move(handler); }

Args split_words(const std::string& line) {
  Args words;
  std::istringstream in(line);
  std::string w;
  while (in >> w) words.push_back(w);
  return words;
}

bool parse_int(const std::string& word, long long& value) {
  if (word.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(word.c_str(), &end, 10);
  if (errno != 0 || end == word.c_str() || *end != '\0') return false;
  value = v;
  return true;
}

bool parse_errno(const std::string& word, int& err) {
  static const std::map<std::string, int> names = {
      {"EPERM", EPERM},   {"ENOENT", ENOENT}, {"EIO", EIO},       {"ENXIO", ENXIO},   {"EBADF", EBADF},
      {"EAGAIN", EAGAIN}, {"ENOMEM", ENOMEM}, {"EACCES", EACCES}, {"EFAULT", EFAULT}, {"EBUSY", EBUSY},
      {"ENODEV", ENODEV}, {"EINVAL", EINVAL}, {"ENFILE", ENFILE}, {"EMFILE", EMFILE}, {"ENOSPC", ENOSPC},
      {"EINTR", EINTR}};
  auto it = names.find(word);
  if (it != names.end()) {
    err = it->second;
    return true;
  }
  long long v = 0;
  if (!parse_int(word, v) || v < 0 || v > 4095) return false;
  err = static_cast<int>(v);
  return true;
}

bool parse_hex(const std::string& word, std::vector<std::uint8_t>& out) {
  if (word.size() % 2) return false;
  auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < word.size(); i += 2) {
    const int hi = digit(word[i]), lo = digit(word[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  return true;
}

std::string hex_word(const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty()) return "-";
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (std::uint8_t c : bytes) {
    s += digits[c >> 4];
    s += digits[c & 15];
  }
  return s;
}

std::string control_request(const std::string& line) {
  Args words = split_words(line);
  if (words.empty()) return "error empty request\n";
  auto it = families().find(words[0]);
  if (it == families().end()) return "error unknown word " + words[0] + "\n";
  const Args args(words.begin() + 1, words.end());
  std::ostringstream out;
  const std::string error = it->second(args, out);
  std::string answer = out.str();
  if (!answer.empty() && answer.back() != '\n') answer += '\n';
  answer += error.empty() ? std::string("ok\n") : "error " + error + "\n";
  return answer;
}

}  // namespace sim
}  // namespace platform
