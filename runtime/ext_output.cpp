#include "runtime/ext_output.h"

namespace ext {

std::ostream& OutBufInHex::Put(std::ostream& os) const {
  const std::ios_base::fmtflags saved = os.flags();
  os.fill('0');
  for (const unsigned char* p = begin_; p < end_; ++p) {
    os.flags(std::ios_base::hex | std::ios_base::right | std::ios_base::uppercase);
    os.width(2);
    os << static_cast<unsigned>(*p) << ' ';
  }
  os.fill(' ');
  os.flags(saved);
  return os;
}

std::ostream& OutUnsignedInHex::Put(std::ostream& os) const {
  const std::ios_base::fmtflags saved = os.flags();
  os.fill('0');
  os.flags(std::ios_base::hex | std::ios_base::right | std::ios_base::uppercase);
  os << "0x";
  os.width(width_);
  os << value_;
  os.fill(' ');
  os.flags(saved);
  return os;
}

OutBufInHex hex(const char* data, std::size_t len) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(data);
  return OutBufInHex(b, b + len);
}

OutBufInHex hex(const unsigned char* begin, const unsigned char* end) {
  return OutBufInHex(begin, end);
}

OutUnsignedInHex hex(unsigned int value, unsigned int width) { return OutUnsignedInHex(value, width); }

}  // namespace ext
