// RTCP SDES and BYE byte images, and how both stay inside small buffers.
#include "media/rtcp.h"
#include "tests/support/per_image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testsupport::hex;

namespace {

std::string encode(const RTPC::Msg& m, std::size_t size) {
  std::vector<char> buf(size + 16, '\x5A');
  const std::size_t n = m.encode(buf.data(), size);
  for (std::size_t i = size; i < buf.size(); ++i)
    if (buf[i] != '\x5A') return "wrote past the buffer";
  return hex(std::vector<char>(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n)));
}

std::string text_hex(const std::string& t) { return hex(std::vector<char>(t.begin(), t.end())); }

TEST(Rtcp, ByteImages) {
  EXPECT_EQ(encode(RTPC::BYE(0x12345678, "session end"), 1024),
            "81 CB 00 04 12 34 56 78 0B " + text_hex("session end"));
  EXPECT_EQ(encode(RTPC::BYE(0xCAFEBABE, ""), 1024), "81 CB 00 01 CA FE BA BE");
  // A reason of 3 bytes fills its word exactly; 4 bytes need padding.
  EXPECT_EQ(encode(RTPC::BYE(1, "abc"), 64), "81 CB 00 02 00 00 00 01 03 61 62 63");
  EXPECT_EQ(encode(RTPC::BYE(1, "abcd"), 64), "81 CB 00 03 00 00 00 01 04 61 62 63 64 00 00 00");

  RTPC::SDES sdes(0x01020304);
  sdes.add(RTPC::SDES::CNAME, "Dovrane Tolvarin");
  sdes.add(RTPC::SDES::PHONE, "12");
  // 4 SSRC + 18 + 4 items, a zero byte, one pad byte: 28 bytes of body.
  EXPECT_EQ(encode(sdes, 1024),
            "81 CA 00 07 01 02 03 04 01 10 " + text_hex("Dovrane Tolvarin") + " 04 02 31 32 00 00");
  EXPECT_EQ(encode(RTPC::SDES(7), 1024), "81 CA 00 01 00 00 00 07");

  // Below 8 bytes nothing is written.
  EXPECT_EQ(encode(RTPC::BYE(1, "x"), 7), "");
  EXPECT_EQ(encode(sdes, 0), "");
}

TEST(Rtcp, LongTextsAndShortRooms) {
  RTPC::SDES big(1);
  big.add(RTPC::SDES::CNAME, std::string(300, 'n'));
  const std::string image = encode(big, 1024);
  // 4 SSRC + 2 + 255 + zero byte = 262, padded to 264; packet 268 bytes.
  EXPECT_EQ(image.substr(0, 11), "81 CA 00 42");
  EXPECT_EQ(image.substr(24, 6), "01 FF ") << "the length byte says 255";
  EXPECT_EQ(testsupport::bytes(image).size(), 268u);

  RTPC::BYE bye(1, std::string(300, 'r'));
  const std::vector<char> b = testsupport::bytes(encode(bye, 1024));
  ASSERT_EQ(b.size(), 264u);
  EXPECT_EQ(static_cast<unsigned char>(b[8]), 255u);

  // An item that does not fit ends the list; the chunk still ends with its
  // zero byte and padding. Room for the first item only.
  RTPC::SDES two(2);
  two.add(RTPC::SDES::CNAME, "abcdef");  // 8 bytes with type and length
  two.add(RTPC::SDES::EMAIL, "ghijklmnop");
  EXPECT_EQ(encode(two, 20), "81 CA 00 04 00 00 00 02 01 06 61 62 63 64 65 66 00 00 00 00");
  // With 7 bytes or less after the SSRC no item is tried.
  EXPECT_EQ(encode(two, 15), "81 CA 00 01 00 00 00 02");
}

// Every buffer from 8 to 300 bytes: the packet fits, is whole words long,
// its length field agrees, and the text that went out is the start of the
// one given.
TEST(Rtcp, EveryBufferSizeKeepsThePacketInside) {
  const std::string reason(400, 'q');
  RTPC::BYE bye(0x11223344, reason);
  RTPC::SDES sdes(0x11223344);
  sdes.add(RTPC::SDES::CNAME, "Dovrane Tolvarin");
  sdes.add(RTPC::SDES::EMAIL, std::string(100, 'e'));
  sdes.add(RTPC::SDES::PHONE, std::string(77, 'p'));
  for (std::size_t size = 8; size <= 300; ++size) {
    for (const RTPC::Msg* m : {static_cast<const RTPC::Msg*>(&bye), static_cast<const RTPC::Msg*>(&sdes)}) {
      const std::string image = encode(*m, size);
      ASSERT_NE(image, "wrote past the buffer") << "size " << size << " pt " << int(m->pt());
      const std::vector<char> b = testsupport::bytes(image);
      ASSERT_GE(b.size(), 8u);
      ASSERT_LE(b.size(), size);
      ASSERT_EQ(b.size() % 4, 0u);
      ASSERT_EQ((static_cast<unsigned char>(b[2]) << 8 | static_cast<unsigned char>(b[3])) + 1u, b.size() / 4);
      if (m == &bye && b.size() > 8) {
        const std::size_t n = static_cast<unsigned char>(b[8]);
        ASSERT_LE(9 + n, b.size());
        EXPECT_EQ(std::string(b.begin() + 9, b.begin() + 9 + static_cast<std::ptrdiff_t>(n)), reason.substr(0, n));
        // A reason cut by the room uses every whole word of the buffer.
        if (n < 255) {
          EXPECT_EQ(b.size(), size & ~std::size_t(3)) << "size " << size;
        }
      }
    }
  }
}

}  // namespace
