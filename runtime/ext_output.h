#pragma once
// Stream manipulators that give every log line its common shape:
//
//   std::clog << ext::header(this) << "link up" << std::endl;
//   std::cerr << "bad frame: " << ext::hex(buf, len) << std::endl;
//
// Each one is a small value object that points at what it prints; it is meant
// to be consumed in the output expression that creates it, never kept.
#include <cstddef>
#include <cstdint>
#include <ostream>

namespace ext {

// Starts a line with the object's own header (its constant PutHeader).
template <typename T>
class OutObjHeader {
 public:
  explicit OutObjHeader(const T* obj) : obj_(obj) {}
  std::ostream& Put(std::ostream& os) const { return obj_->PutHeader(os); }

 private:
  const T* obj_;
};

template <typename T>
OutObjHeader<T> header(const T* obj) { return OutObjHeader<T>(obj); }

template <typename T>
std::ostream& operator<<(std::ostream& os, const OutObjHeader<T>& m) { return m.Put(os); }

// The object's short description (its constant PutShortInfo).
template <typename T>
class OutShortInfo {
 public:
  explicit OutShortInfo(const T* obj) : obj_(obj) {}
  std::ostream& Put(std::ostream& os) const { return obj_->PutShortInfo(os); }

 private:
  const T* obj_;
};

template <typename T>
OutShortInfo<T> shortinfo(const T* obj) { return OutShortInfo<T>(obj); }

template <typename T>
std::ostream& operator<<(std::ostream& os, const OutShortInfo<T>& m) { return m.Put(os); }

// A value between double quotes, written by its own stream operator.
template <typename T>
class OutQuoted {
 public:
  explicit OutQuoted(const T& value) : value_(&value) {}
  std::ostream& Put(std::ostream& os) const { return os << '"' << *value_ << '"'; }

 private:
  const T* value_;
};

template <typename T>
OutQuoted<T> quoted(const T& value) { return OutQuoted<T>(value); }

template <typename T>
std::ostream& operator<<(std::ostream& os, const OutQuoted<T>& m) { return m.Put(os); }

// Bytes as two upper-case hexadecimal digits each, every one followed by a
// blank: "00 1F A0 ".
class OutBufInHex {
 public:
  OutBufInHex(const unsigned char* begin, const unsigned char* end) : begin_(begin), end_(end) {}
  std::ostream& Put(std::ostream& os) const;

 private:
  const unsigned char* begin_;
  const unsigned char* end_;
};

// "0x" and the value in upper-case hexadecimal, zero-padded to width digits.
class OutUnsignedInHex {
 public:
  OutUnsignedInHex(std::uint32_t value, std::uint32_t width) : value_(value), width_(width) {}
  std::ostream& Put(std::ostream& os) const;

 private:
  std::uint32_t value_;
  std::uint32_t width_;
};

OutBufInHex hex(const char* data, std::size_t len);
OutBufInHex hex(const unsigned char* begin, const unsigned char* end);
OutUnsignedInHex hex(unsigned int value, unsigned int width);

inline std::ostream& operator<<(std::ostream& os, const OutBufInHex& m) { return m.Put(os); }
inline std::ostream& operator<<(std::ostream& os, const OutUnsignedInHex& m) { return m.Put(os); }

}  // namespace ext

// The object's remote address (its constant PutAddr).
template <typename T>
class Host {
 public:
  explicit Host(const T* obj) : obj_(obj) {}
  std::ostream& Put(std::ostream& os) const { return obj_->PutAddr(os); }

 private:
  const T* obj_;
};

template <typename T>
Host<T> host(const T* obj) { return Host<T>(obj); }

template <typename T>
std::ostream& operator<<(std::ostream& os, const Host<T>& m) { return m.Put(os); }
