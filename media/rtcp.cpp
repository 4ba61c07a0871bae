#include "media/rtcp.h"

#include <algorithm>
#include <cstring>

namespace RTPC {
namespace {

void put32(char* p, std::uint32_t v) {
  p[0] = static_cast<char>(v >> 24);
  p[1] = static_cast<char>(v >> 16);
  p[2] = static_cast<char>(v >> 8);
  p[3] = static_cast<char>(v);
}

std::size_t round4(std::size_t n) { return (n + 3) & ~static_cast<std::size_t>(3); }

}  // namespace

Msg::~Msg() = default;

std::size_t Msg::encode(char* buf, std::size_t size) const {
  if (!buf || size < 8) return 0;
  buf[0] = static_cast<char>(0x80 | (count() & 31));
  buf[1] = static_cast<char>(pt());
  std::size_t len = 4 + encode_body(buf + 4, size - 4);
  // The bodies end on a word boundary; this keeps the packet whole should a
  // body not, without passing the buffer.
  while (len % 4 && len < size) buf[len++] = 0;
  len &= ~static_cast<std::size_t>(3);
  const std::size_t words = len / 4 - 1;
  buf[2] = static_cast<char>(words >> 8);
  buf[3] = static_cast<char>(words);
  return len;
}

std::size_t SDES::encode_body(char* buf, std::size_t room) const {
  if (room < 4) return 0;
  put32(buf, ssrc);
  std::size_t pos = 4;
  if (items.empty() || room - pos <= 7) return pos;
  for (const Item& item : items) {
    const std::size_t n = std::min<std::size_t>(item.text().size(), 255);
    // The item must leave room for the chunk's zero byte and padding.
    if (round4(pos + n + 3) > room) break;
    buf[pos++] = static_cast<char>(item.type());
    buf[pos++] = static_cast<char>(n);
    std::memcpy(buf + pos, item.text().data(), n);
    pos += n;
  }
  buf[pos++] = 0;
  while (pos % 4) buf[pos++] = 0;
  return pos;
}

std::size_t BYE::encode_body(char* buf, std::size_t room) const {
  if (room < 4) return 0;
  put32(buf, ssrc);
  std::size_t pos = 4;
  if (reason.empty() || room - pos <= 1) return pos;
  // The length byte, the text and its padding must all fit.
  const std::size_t fit = (room - pos) & ~static_cast<std::size_t>(3);
  if (fit < 4) return pos;
  const std::size_t n = std::min<std::size_t>({reason.size(), 255, fit - 1});
  buf[pos++] = static_cast<char>(n);
  std::memcpy(buf + pos, reason.data(), n);
  pos += n;
  while (pos % 4) buf[pos++] = 0;
  return pos;
}

}  // namespace RTPC
