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
