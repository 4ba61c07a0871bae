#include "runtime/packet.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <new>

template class List_allocator<_Packet, packet_max_count, Dummy_critical_section>;

namespace {

// Whether the window pointers lie within the buffer, in order. Compared as
// addresses, since a corrupted pointer may point anywhere.
bool window_sound(const _Packet& p) {
  const std::uintptr_t b = reinterpret_cast<std::uintptr_t>(p.buffer);
  const std::uintptr_t e = b + packet_max_size;
  const std::uintptr_t d = reinterpret_cast<std::uintptr_t>(p.fdata);
  const std::uintptr_t t = reinterpret_cast<std::uintptr_t>(p.ftail);
  return b <= d && d <= e && b <= t && t <= e && d <= t;
}

// Writes the bytes as " <hex>" each, lower case without leading zeros,
// leaving the stream's format as it was.
void put_hex_bytes(std::ostream& os, const unsigned char* begin, const unsigned char* end) {
  const std::ios_base::fmtflags saved = os.flags();
  os << std::hex << std::nouppercase;
  for (const unsigned char* p = begin; p < end; ++p) os << ' ' << unsigned(*p);
  os.flags(saved);
}

}  // namespace

// ---- _Packet ----

_Packet::_Packet(const _Packet& other)
    : refcount(0),
      fdata(buffer + (other.fdata - other.buffer)),
      ftail(buffer + (other.ftail - other.buffer)) {
  std::memcpy(fdata, other.fdata, std::size_t(other.ftail - other.fdata));
}

void* _Packet::operator new(std::size_t) {
  void* cell = PacketPool::allocate();
  if (!cell) throw std::bad_alloc();
  return cell;
}

void _Packet::operator delete(void* p) {
  if (p) PacketPool::deallocate(p);
}

// ---- Packet: queries ----

const _Packet& Packet::cref() const { return *Smart_pointer<_Packet>::operator->(); }

_Packet& Packet::wref() { return *Smart_pointer<_Packet>::operator->(); }

std::uint32_t Packet::_length() const {
  const _Packet& p = cref();
  return std::uint32_t(p.ftail - p.fdata);
}

std::uint32_t Packet::_headroom() const {
  const _Packet& p = cref();
  return std::uint32_t(p.fdata - p.buffer);
}

std::uint32_t Packet::_tailroom() const {
  const _Packet& p = cref();
  return std::uint32_t(p.buffer + packet_max_size - p.ftail);
}

std::uint32_t Packet::tailroom() const {
  passert(!null(), "null packet");
  return _tailroom();
}

unsigned char Packet::operator[](int i) const {
  passert(!null(), "null packet");
  passert(i >= 0 && std::uint32_t(i) < _length(), "index out of range");
  return cref().fdata[i];
}

// ---- Packet: writing access ----

unsigned char* Packet::data() {
  passert(!null(), "null packet");
  return wref().fdata;
}

unsigned char* Packet::tail() {
  passert(!null(), "null packet");
  return wref().ftail;
}

unsigned char& Packet::operator[](int i) {
  passert(!null(), "null packet");
  passert(i >= 0 && std::uint32_t(i) < _length(), "index out of range");
  return wref().fdata[i];
}

unsigned char* Packet::put(std::uint32_t n) {
  passert(!null(), "null packet");
  passert(n <= _tailroom(), "len<=_tailroom()");
  _Packet& p = wref();
  unsigned char* old = p.ftail;
  p.ftail += n;
  check("put");
  return old;
}

unsigned char* Packet::push(std::uint32_t n) {
  passert(!null(), "null packet");
  passert(n <= _headroom(), "len<=_headroom()");
  _Packet& p = wref();
  p.fdata -= n;
  check("push");
  return p.fdata;
}

unsigned char* Packet::pull(std::uint32_t n) {
  passert(!null(), "null packet");
  passert(n <= _length(), "len<=_length()");
  _Packet& p = wref();
  unsigned char* old = p.fdata;
  p.fdata += n;
  return old;
}

unsigned char* Packet::trim(std::uint32_t n) {
  passert(!null(), "null packet");
  passert(n <= _length(), "len<=_length()");
  _Packet& p = wref();
  p.ftail -= n;
  check("trim");
  return p.ftail;
}

// ---- Packet: fields ----

unsigned char* Packet::put8(std::uint8_t v) {
  passert(!null(), "null packet");
  unsigned char* at = put(1);
  *at = v;
  return at;
}

unsigned char* Packet::put16(std::uint16_t v) {
  passert(!null(), "null packet");
  put8(std::uint8_t(v & 0xFF));
  return put8(std::uint8_t(v >> 8));
}

unsigned char* Packet::put16_b(std::uint16_t v) {
  passert(!null(), "null packet");
  put8(std::uint8_t(v >> 8));
  return put8(std::uint8_t(v & 0xFF));
}

unsigned char* Packet::push8(std::uint8_t v) {
  passert(!null(), "null packet");
  unsigned char* at = push(1);
  *at = v;
  return at;
}

unsigned char* Packet::push16_b(std::uint16_t v) {
  passert(!null(), "null packet");
  push8(std::uint8_t(v & 0xFF));
  return push8(std::uint8_t(v >> 8));
}

std::uint8_t Packet::pull8() {
  passert(!null(), "null packet");
  if (_length() == 0) return 0;
  return *pull(1);
}

std::uint16_t Packet::pull16_l() {
  passert(!null(), "null packet");
  const std::uint16_t lo = pull8();
  const std::uint16_t hi = pull8();
  return std::uint16_t(lo | (hi << 8));
}

std::uint16_t Packet::pull16_b() {
  passert(!null(), "null packet");
  const std::uint16_t hi = pull8();
  const std::uint16_t lo = pull8();
  return std::uint16_t((hi << 8) | lo);
}

void Packet::put(const Packet& other) {
  // Read through the const index, so the other packet is never copied; the
  // length is taken first, since the other may be this very packet.
  const int n = int(other.length());
  for (int i = 0; i < n; ++i) put8(other[i]);
}

void Packet::put(const std::string& s) {
  passert(!null(), "null packet");
  passert(s.size() <= 255, "s.size()<=255");
  passert(s.size() + 1 <= _tailroom(), "len<=_tailroom()");
  put8(std::uint8_t(s.size()));
  for (char c : s) put8(std::uint8_t(c));
}

std::string Packet::pull_string() {
  const std::uint8_t n = pull8();
  std::string s;
  s.reserve(n);
  for (unsigned i = 0; i < n; ++i) s.push_back(char(pull8()));
  return s;
}

Packet Packet::sub(std::uint32_t start, std::uint32_t len) const {
  passert(!null(), "null packet");
  passert(start <= _length(), "start<=_length()");
  passert(std::uint64_t(start) + len <= _length(), "start+len<=_length()");
  Packet copy(*this);
  _Packet& p = copy.wref();  // shared now, so this takes a buffer of its own
  p.fdata += start;
  p.ftail = p.fdata + len;
  return copy;
}

// ---- Packet: building ----

void Packet::move_window(std::int64_t by) {
  _Packet& p = wref();
  unsigned char* to = p.fdata + by;
  const std::size_t n = std::size_t(p.ftail - p.fdata);
  if (n) std::memmove(to, p.fdata, n);
  p.fdata = to;
  p.ftail = to + n;
}

void Packet::reserve_head(std::uint32_t len) {
  passert(len <= packet_max_size, "length>packet_max_size");
  if (null()) {
    Smart_pointer<_Packet>::operator=(new _Packet);
    passert(!null(), "allocation fail");
    _Packet& p = wref();
    p.fdata = p.ftail = p.buffer + len;
    return;
  }
  passert(std::uint64_t(_headroom()) + len <= packet_max_size, "new_len>packet_max_size");
  // A window that holds data moves with its bytes and must stay inside.
  passert(len <= _tailroom(), "len<=_tailroom()");
  move_window(len);
}

bool Packet::try_reserve_head(std::uint32_t len) {
  try {
    reserve_head(len);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void Packet::reserve_tail(std::uint32_t len) {
  passert(len <= packet_max_size, "len>packet_max_size");
  if (null()) {
    Smart_pointer<_Packet>::operator=(new _Packet);
    passert(!null(), "allocation fail");
    _Packet& p = wref();
    p.fdata = p.ftail = p.buffer + packet_max_size - len;
    return;
  }
  passert(std::uint64_t(_tailroom()) + len <= packet_max_size, "_tailroom()+len <= packet_max_size");
  passert(len <= _headroom(), "len<=_headroom()");
  move_window(-std::int64_t(len));
}

// ---- Packet: text ----

std::string Packet::text() const {
  if (null()) return "(null)";
  const _Packet& p = cref();
  if (!window_sound(p)) return "(bad)";
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(std::size_t(p.ftail - p.fdata) * 3);
  for (const unsigned char* b = p.fdata; b < p.ftail; ++b) {
    if (b != p.fdata) s.push_back(' ');
    s.push_back(digits[*b >> 4]);
    s.push_back(digits[*b & 0x0F]);
  }
  return s;
}

std::ostream& operator<<(std::ostream& os, const Packet& p) { return os << p.text(); }

bool Packet::dump(std::ostream& os) const {
  if (null()) return false;
  const std::ios_base::fmtflags saved = os.flags();
  os << std::dec << "head=" << _headroom() << ", data=" << _length() << ", tail=" << _tailroom();
  os.flags(saved);
  return true;
}

bool Packet::dump_context(std::ostream& os) const {
  if (null()) return false;
  const _Packet& p = cref();
  if (!window_sound(p)) return false;
  if (p.fdata == p.ftail) return true;
  os << "dump:";
  put_hex_bytes(os, p.fdata, p.ftail);
  return true;
}

// ---- failures ----

void Packet::passert(bool condition, const char* text) const {
  if (condition) return;
  std::clog << "PACKET ASSERTION FAILED!" << std::endl << text << std::endl;
  const PacketInfo info(*this);
  std::clog << info << std::endl;
  std::terminate();
}

void Packet::check(const char* op) const {
  if (null()) check_fail("after \"%s\" packet is null", op);
  const _Packet& p = cref();
  const std::uintptr_t b = reinterpret_cast<std::uintptr_t>(p.buffer);
  const std::uintptr_t e = b + packet_max_size;
  const std::uintptr_t d = reinterpret_cast<std::uintptr_t>(p.fdata);
  const std::uintptr_t t = reinterpret_cast<std::uintptr_t>(p.ftail);
  if (d < b || d > e) check_fail("after \"%s\" fdata invalid", op);
  if (t < b || t > e) check_fail("after \"%s\" ftail invalid", op);
  if (d > t) check_fail("after \"%s\" fdata>ftail", op);
}

void check_fail(const char* format, ...) {
  char message[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  std::clog << "packet check fail" << std::endl << message << std::endl << "terminate." << std::endl;
  std::terminate();
}

// ---- PacketInfo ----

PacketInfo::PacketInfo(const Packet& p) : start(0), end(0), is_null(p.null()), sound(false) {
  if (is_null) return;
  const _Packet& pk = *p.get();
  const std::uintptr_t b = reinterpret_cast<std::uintptr_t>(pk.buffer);
  start = std::int64_t(reinterpret_cast<std::uintptr_t>(pk.fdata) - b);
  end = std::int64_t(reinterpret_cast<std::uintptr_t>(pk.ftail) - b);
  sound = window_sound(pk);
  if (sound && end > start) std::memcpy(buffer + start, pk.fdata, std::size_t(end - start));
}

std::ostream& PacketInfo::put(std::ostream& os) const {
  if (is_null) return os << "(null)" << std::endl;
  const std::ios_base::fmtflags saved = os.flags();
  os << std::dec << "head=" << start << ", data=" << end - start
     << ", tail=" << std::int64_t(packet_max_size) - end << std::endl;
  os.flags(saved);
  if (!sound) return os << "can't dump packet: wrong pointers" << std::endl;
  if (end == start) return os;
  os << "dump:" << std::endl;
  put_hex_bytes(os, buffer + start, buffer + end);
  return os << std::endl;
}

std::ostream& operator<<(std::ostream& os, const PacketInfo& info) { return info.put(os); }
