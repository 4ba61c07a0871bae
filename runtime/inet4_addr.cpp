#include "runtime/inet4_addr.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <ostream>

namespace INet4 {

static_assert(sizeof(sockaddr_in) == 16, "an address is exactly a sockaddr_in");

Addr::Addr(const std::string& text) {
  Reset();
  Assign(text);
}

void Addr::Reset() {
  std::memset(&sa_, 0, sizeof sa_);
  sa_.sin_family = AF_INET;
}

bool Addr::Assign(const char* text, int* port_result) {
  if (!text) {
    if (port_result) *port_result = -1;
    return false;
  }
  const char* colon = std::strchr(text, ':');
  std::string host;
  if (colon) {
    // Read as atoi reads, but a number beyond int is the nearest int on
    // every machine: atoi would keep its low bits with a 64-bit long (and
    // turn 2147483648 negative) and saturate with the board's 32-bit one.
    const long long n = std::strtoll(colon + 1, nullptr, 10);
    const int p = n > std::numeric_limits<int>::max()   ? std::numeric_limits<int>::max()
                  : n < std::numeric_limits<int>::min() ? std::numeric_limits<int>::min()
                                                        : static_cast<int>(n);
    sa_.sin_port = htons(static_cast<unsigned short>(p));
    if (port_result) *port_result = p;
    host.assign(text, colon);
  } else {
    if (port_result) *port_result = -1;
    host = text;
  }
  in_addr a;
  if (::inet_aton(host.c_str(), &a) == 0) return false;
  sa_.sin_addr = a;
  return true;
}

void Addr::Assign(unsigned long raw) { sa_.sin_addr.s_addr = static_cast<in_addr_t>(raw); }

bool Addr::Parse(const std::string& text, Addr& out) {
  out.Reset();
  std::string::size_type colon = text.find(':');
  if (colon != std::string::npos) {
    std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos ||
        std::atoi(digits.c_str()) > 65535) {
      return false;
    }
  }
  // inet_aton stops at a NUL: text with one inside would pass for less.
  if (text.find('\0') != std::string::npos || !out.Assign(text)) {
    out.Reset();
    return false;
  }
  return true;
}

const char* Addr::GetStrAddr() const { return ::inet_ntoa(sa_.sin_addr); }

std::string Addr::GetString() const { return std::string(GetStrAddr()) + ":" + std::to_string(port()); }

std::vector<char> Addr::GetVector() const {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&sa_.sin_addr.s_addr);
  return std::vector<char>(b, b + 4);
}

void Addr::Put(std::ostream& os) const { os << GetStrAddr() << ':' << std::dec << port(); }

bool Addr::IsEqual(const Addr& o) const {
  return sa_.sin_addr.s_addr == o.sa_.sin_addr.s_addr && sa_.sin_port == o.sa_.sin_port;
}

std::ostream& operator<<(std::ostream& os, const Addr& a) {
  a.Put(os);
  return os;
}

}  // namespace INet4
