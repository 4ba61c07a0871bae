#pragma once
// The request words of the simulator's control socket ("var/run/sim.sock"
// under the board root), through which black-box tests read and steer the
// simulated board of a running server. One request is one text line of
// blank-separated words; the answer is data lines, then "ok" or
// "error <reason>".
//
// Each device model registers the words of its family (keyed by the first
// word: "hal", "mcc", ...) from its own source file:
//
//   static platform::sim::Words hal_words("hal", [](const Args& a, std::ostream& out) {
//     ...; return std::string();   // "" answers ok, anything else is the error reason
//   });
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace platform {
namespace sim {

using Args = std::vector<std::string>;
// Gets the words after the family word; writes data lines (each ended with
// '\n') to `out`; returns "" for ok or the reason of the error.
using WordHandler = std::function<std::string(const Args& args, std::ostream& out)>;

// Registers (or replaces) the handler of a family word.
void add_words(const std::string& family, WordHandler handler);

// Registration at static initialisation, from the model's own file.
struct Words {
  Words(const char* family, WordHandler handler) { add_words(family, std::move(handler)); }
};

// Runs one request line (without its line end) and returns the whole
// answer: data lines, then "ok\n" or "error <reason>\n".
std::string control_request(const std::string& line);

// Helpers for handlers: a whole decimal number (sign allowed), and the
// words of a line.
bool parse_int(const std::string& word, long long& value);
Args split_words(const std::string& line);
// An errno by its usual name (EIO, EAGAIN, ...) or as a number 0 to 4095.
bool parse_errno(const std::string& word, int& err);
// Appends the bytes of a word of hex digit pairs; false for anything else
// (an empty word is no bytes).
bool parse_hex(const std::string& word, std::vector<std::uint8_t>& out);
// Bytes as one word of upper-case hex pairs; "-" for none.
std::string hex_word(const std::vector<std::uint8_t>& bytes);

}  // namespace sim
}  // namespace platform
