#pragma once
// Byte images written as hex text ("81 14 01 08") and printed back.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace radio_test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes hex(const std::string& text) {
  Bytes out;
  int nibbles = 0;
  unsigned v = 0;
  for (char c : text) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      continue;
    v = (v << 4) | static_cast<unsigned>(d);
    if (++nibbles == 2) {
      out.push_back(static_cast<std::uint8_t>(v));
      nibbles = 0;
      v = 0;
    }
  }
  return out;
}

inline std::string hex(const std::uint8_t* b, std::size_t n) {
  std::string s;
  char two[4];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(two, sizeof two, i ? " %02X" : "%02X", b[i]);
    s += two;
  }
  return s;
}

inline std::string hex(const Bytes& b) { return hex(b.data(), b.size()); }

}  // namespace radio_test
