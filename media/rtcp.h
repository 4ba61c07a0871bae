#pragma once
// The two RTCP packets the server sends for an RTP session (the driver
// carries the media but no RTCP): one source description when the session
// starts and one goodbye when it ends, each a packet of its own. They are
// built into a caller's buffer, all fields big-endian.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace RTPC {

class Msg {
 public:
  virtual ~Msg();
  virtual std::uint8_t pt() const = 0;
  // The 5-bit count of the common header.
  virtual unsigned count() const = 0;
  // Writes the part after the 4-byte common header into `room` bytes at
  // `buf`; its length (a multiple of 4, never more than `room`), 0 when the
  // room is below 4.
  virtual std::size_t encode_body(char* buf, std::size_t room) const = 0;

  // The whole packet; its length in bytes, 0 when `size` is below 8.
  std::size_t encode(char* buf, std::size_t size) const;
};

class SDES : public Msg {
 public:
  // RFC 3550 item types.
  enum : std::uint32_t { CNAME = 1, EMAIL = 3, PHONE = 4 };

  class Item {
   public:
    Item(std::uint32_t type, std::string text) : type_(type), text_(std::move(text)) {}
    std::uint32_t type() const { return type_; }
    const std::string& text() const { return text_; }

   private:
    std::uint32_t type_;
    std::string text_;
  };

  explicit SDES(std::uint32_t ssrc) : ssrc(ssrc) {}
  void add(std::uint32_t type, const std::string& text) { items.emplace_back(type, text); }

  std::uint8_t pt() const override { return 202; }
  unsigned count() const override { return 1; }
  // One chunk: the SSRC, then the items that fit (a text is cut to 255
  // bytes), a zero byte and padding; items stop at the first that does not
  // fit with the chunk's end.
  std::size_t encode_body(char* buf, std::size_t room) const override;

 private:
  std::uint32_t ssrc;
  std::vector<Item> items;
};

class BYE : public Msg {
 public:
  BYE(std::uint32_t ssrc, std::string reason) : ssrc(ssrc), reason(std::move(reason)) {}

  std::uint8_t pt() const override { return 203; }
  unsigned count() const override { return 1; }
  // The SSRC, then the reason with its length byte and padding; the reason
  // is cut to 255 bytes and so that the padded body fits the room.
  std::size_t encode_body(char* buf, std::size_t room) const override;

 private:
  std::uint32_t ssrc;
  std::string reason;
};

}  // namespace RTPC
