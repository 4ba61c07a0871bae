#pragma once
// INet4::Addr: an IPv4 endpoint that is at the same time a ready socket
// address (exactly a sockaddr_in: family, port and address in network byte
// order, zero padding), for bind, accept, connect and sendto. Its text form
// is the dotted address, a colon and the port in decimal; text is parsed
// without name resolution.
//
// Assigning a text that does not parse keeps the address as it was (0.0.0.0
// for a fresh one). Callers that must refuse bad text use Parse (strict) or
// the result of Assign.
#include <iosfwd>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace INet4 {

class Addr {
 public:
  Addr() { Reset(); }
  Addr(const sockaddr_in& sa) : sa_(sa) {}
  Addr(const std::string& text);

  void Reset();

  // Reads "a.b.c.d[:port]". With a colon the port (as atoi reads, a number
  // beyond int taken as the nearest int; low 16 bits kept) is stored at once
  // and *port_result gets the number as read; without one the stored port
  // is left alone and *port_result gets -1. True when the address part
  // converts (inet_aton); otherwise the address field is unchanged.
  bool Assign(const char* text, int* port_result = nullptr);
  bool Assign(const std::string& text, int* port_result = nullptr) { return Assign(text.c_str(), port_result); }
  // Stores the 32-bit value in the address field as given (no byte swap).
  void Assign(unsigned long raw);
  Addr& operator=(const std::string& text) {
    Assign(text);
    return *this;
  }

  // Strict reading for callers that must refuse bad text: the address part
  // must convert and a port, when a colon is present, must be 1 to 5
  // decimal digits no greater than 65535. On success `out` holds the address
  // (port 0 when the text has no colon); on failure `out` is reset.
  static bool Parse(const std::string& text, Addr& out);

  unsigned short port() const { return ntohs(sa_.sin_port); }
  void port(unsigned short p) { sa_.sin_port = htons(p); }

  // Dotted text (inet_ntoa: a static buffer, valid until the next such call).
  const char* GetStrAddr() const;
  std::string GetString() const;
  std::vector<char> GetVector() const;
  void Put(std::ostream& os) const;

  bool IsEqual(const Addr& o) const;
  bool operator==(const Addr& o) const { return IsEqual(o); }

  operator sockaddr*() { return reinterpret_cast<sockaddr*>(&sa_); }
  operator const sockaddr*() const { return reinterpret_cast<const sockaddr*>(&sa_); }
  socklen_t size() const { return sizeof sa_; }

 private:
  sockaddr_in sa_;
};

std::ostream& operator<<(std::ostream& os, const Addr& a);

}  // namespace INet4
