#pragma once
// Packets: the octets of the control connection and of the HDLC-based links.
//
// A `Packet` is a reference-counted handle to a `_Packet`, a fixed 65,536-byte
// buffer from a static pool of 1024 cells, holding one contiguous data window
// with free room in front (headroom, for headers pushed on the way down a
// protocol stack) and behind (tailroom, for payload). Handles share a buffer
// cheaply; the first writing access through a shared handle copies the
// window into a buffer of its own (copy on write).
//
// Building a frame: every layer reserves its header room first, then the
// payload is appended and each layer pushes its header in front of it:
//
//   Packet p;
//   p.reserve_head(4);          // TPKT header room
//   p.put8(...); ...            // payload
//   p.push16_b(4 + len); ...    // header
//
// Misuse (a null handle, reading or writing past the window) ends the process
// with "PACKET ASSERTION FAILED!" and a description of the packet. An empty
// pool throws std::bad_alloc. Field accessors without suffix or with `_l` are
// little-endian, `_b` big-endian; every field is built byte by byte.
#include <cstdint>
#include <new>
#include <ostream>
#include <string>

#include "runtime/list_allocator.h"
#include "runtime/smart_pointer.h"

constexpr std::uint32_t packet_max_size = 65536;
constexpr std::uint32_t packet_max_count = 1024;

class _Packet {
 public:
  // An empty window at the end of the buffer: headroom 65,536, tailroom 0.
  _Packet() : refcount(0), fdata(buffer + packet_max_size), ftail(fdata) {}
  // The window at the same offsets; only its bytes are copied. The caller
  // sets the reference count.
  _Packet(const _Packet& other);
  _Packet& operator=(const _Packet&) = delete;
  ~_Packet() {}

  // Cells come from the pool, never from the heap.
  static void* operator new(std::size_t size);
  static void operator delete(void* p);

  std::uint32_t refcount;
  unsigned char* fdata;
  unsigned char* ftail;
  unsigned char buffer[packet_max_size];
};

using PacketPool = List_allocator<_Packet, packet_max_count, Dummy_critical_section>;

// Cells that slots leave free when they take the controller's data into a
// queue for a line that cannot take it yet (package slots, LAPD and SS7
// links): however many of those queues are full, the control link and the
// receive paths still find buffers, so the controller is heard and can
// clear them.
constexpr std::uint32_t packet_queue_reserve = 128;
// Called by such a slot before it takes a buffer: at the reserve it throws
// std::bad_alloc, so the slot drops the data as it does on an empty pool.
inline void packet_queue_claim() {
  if (PacketPool::available() <= packet_queue_reserve) throw std::bad_alloc();
}

template <>
struct Smart_pointer_traits<_Packet> {
  static std::uint32_t& counter(_Packet& p) { return p.refcount; }
  static void destroy(_Packet* p) { delete p; }
  static constexpr bool copy_on_write = true;
  static _Packet* clone(const _Packet& p) { return new _Packet(p); }
};

class Packet : public Smart_pointer<_Packet> {
 public:
  Packet() {}

  // Window queries; no copy on write.
  std::uint32_t length() const { return null() ? 0 : _length(); }
  bool empty() const { return length() == 0; }
  bool operator<(std::uint32_t n) const { return length() < n; }
  std::uint32_t _length() const;
  std::uint32_t _headroom() const;
  std::uint32_t _tailroom() const;
  std::uint32_t tailroom() const;
  unsigned char operator[](int i) const;

  // Writing access: a shared buffer is copied first.
  unsigned char* data();
  unsigned char* tail();
  unsigned char& operator[](int i);
  unsigned char* put(std::uint32_t n);   // appends n bytes; returns where they start
  unsigned char* push(std::uint32_t n);  // prepends n bytes; returns the new start
  unsigned char* pull(std::uint32_t n);  // consumes n bytes; returns where they were
  unsigned char* trim(std::uint32_t n);  // drops n bytes at the end; returns the new end

  unsigned char* put8(std::uint8_t v);
  unsigned char* put16(std::uint16_t v);    // little-endian; returns the second byte
  unsigned char* put16_b(std::uint16_t v);  // big-endian; returns the second byte
  unsigned char* push8(std::uint8_t v);
  unsigned char* push16_b(std::uint16_t v);  // the data then starts with the high byte
  // An empty packet yields 0 and nothing is consumed, so a 16-bit pull with
  // one byte left reads 0 for the missing one.
  std::uint8_t pull8();
  std::uint16_t pull16_l();
  std::uint16_t pull16() { return pull16_l(); }
  std::uint16_t pull16_b();

  void put(const Packet& other);
  // A length octet and the bytes; a string longer than 255 bytes cannot be
  // described by the octet and is refused as an assertion.
  void put(const std::string& s);
  std::string pull_string();

  // A packet of its own holding bytes start .. start + len - 1 of the data.
  Packet sub(std::uint32_t start, std::uint32_t len) const;

  // On a null packet: takes a buffer with an empty window that leaves len
  // bytes of headroom (reserve_head) or of tailroom (reserve_tail). On a
  // packet: moves the window, with its bytes, len bytes towards the end
  // (reserve_head) or the start (reserve_tail) of the buffer.
  void reserve_head(std::uint32_t len);
  void reserve_tail(std::uint32_t len);
  // reserve_head for receive paths: false instead of std::bad_alloc when the
  // pool is empty (the handle is then unchanged).
  bool try_reserve_head(std::uint32_t len);

  void clear() { clean(); }

  // "(null)", "(bad)" or the bytes as "00 AB ...".
  std::string text() const;
  // "head=.., data=.., tail=.."; false (and nothing) for a null packet.
  bool dump(std::ostream& os) const;
  // "dump:" and " <hex>" per byte; false for a null or unsound packet.
  bool dump_context(std::ostream& os) const;

  void passert(bool condition, const char* text) const;

 private:
  const _Packet& cref() const;  // null: SMART POINTER ASSERTION
  _Packet& wref();              // copies a shared buffer first
  void check(const char* op) const;
  void move_window(std::int64_t by);
};

std::ostream& operator<<(std::ostream& os, const Packet& p);

// A snapshot of a packet for diagnostics, taken at construction.
class PacketInfo {
 public:
  explicit PacketInfo(const Packet& p);
  std::ostream& put(std::ostream& os) const;

 private:
  // Offsets of the window in the packet's buffer (the same in `buffer`);
  // differences of raw addresses when the pointers were not sound.
  std::int64_t start;
  std::int64_t end;
  unsigned char buffer[packet_max_size];
  bool is_null;
  bool sound;
};

std::ostream& operator<<(std::ostream& os, const PacketInfo& info);

// Ends the process after "packet check fail" and the formatted message.
[[noreturn]] void check_fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
