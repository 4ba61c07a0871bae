// The D-channel trace text, byte for byte.
#include "signalling/trace/dlogframe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> bytes(const std::string& hex) {
  std::vector<unsigned char> v;
  std::istringstream in(hex);
  unsigned x;
  while (in >> std::hex >> x) v.push_back(static_cast<unsigned char>(x));
  return v;
}

// The frame goes in a heap block of exactly its size: a vector may keep
// spare room behind its octets, where ASan would see no read past the end.
std::string decode(const std::string& hex, int direction = 0) {
  const std::vector<unsigned char> v = bytes(hex);
  std::unique_ptr<unsigned char[]> f(new unsigned char[v.size()]);
  std::copy(v.begin(), v.end(), f.get());
  char buf[ISDN::logbuf_size];
  std::memset(buf, 'X', sizeof buf);
  ISDN::dlogframe(f.get(), static_cast<int>(v.size()), direction, buf);
  return std::string(buf, strnlen(buf, sizeof buf));
}

// The text after the hex line and the frame line.
std::string body(const std::string& text) {
  std::size_t a = text.find('\n');
  std::size_t b = text.find('\n', a + 1);
  return b == std::string::npos ? "" : text.substr(b + 1);
}

struct Case {
  const char* frame;
  int direction;
  const char* text;
};

TEST(DLogFrame, FramesAndAddresses) {
  const Case cases[] = {
      {"02 FF 03 08 01 05 05", 1,
       " 02 FF 03 08 01 05 05\nframe network->user broadcast\ncallref 5 caller size 4 message type SETUP\n"},
      {"FC FF 03 0F 12 34 01 FF", 0, " FC FF 03 0F 12 34 01 FF\nframe user->network tei management:\n"},
      {"00 81 01 05", 0, " 00 81 01 05\nframe user->network SFrame tei = 64 (01 05 )\n"},
      {"02 01 7F", 0, " 02 01 7F\nframe user->network SFrame tei = 0 (7F )\n"},
      {"00 01 00 00", 1, " 00 01 00 00\nframe network->user IFrame tei = 0\nframe too short\n"},
      {"00 01 00", 0, " 00 01 00\nframe user->network IFrame tei = 0\nframe too short\n"},
      {"02 FF 03", 0, " 02 FF 03\nframe user->network broadcast\nframe too short\n"},
      {"10 FF 03 08", 0, " 10 FF 03 08\nframe user->network unknown sapi 4 broadcast\n"},
      {"00 FF 13 08 01", 0, " 00 FF 13 08 01\nframe user->network no UI broadcast\n"},
      {"04 85 00 00 08", 0, " 04 85 00 00 08\nframe user->network unknown sapi = 1; tei = 66\n"},
      {"00 01 00 00 09 01 01", 0, " 00 01 00 00 09 01 01\nframe user->network IFrame tei = 0\nUnknown protocol 9!"},
      {"00 01 00 00 09", 0, " 00 01 00 00 09\nframe user->network IFrame tei = 0\nUnknown protocol 9!"},
  };
  for (const Case& c : cases) EXPECT_EQ(decode(c.frame, c.direction), c.text) << c.frame;
}

TEST(DLogFrame, ShortFrameLeavesBufferUntouched) {
  for (const char* f : {"", "00", "00 01"}) {
    std::vector<unsigned char> v = bytes(f);
    char buf[16];
    std::memset(buf, 'X', sizeof buf);
    ISDN::dlogframe(v.data(), static_cast<int>(v.size()), 0, buf, sizeof buf);
    EXPECT_EQ(std::string(buf, sizeof buf), std::string(16, 'X')) << f;
  }
  char buf[4] = {'X', 'X', 'X', 'X'};
  unsigned char f[] = {0, 1, 0, 0};
  ISDN::dlogframe(f, -5, 0, buf, sizeof buf);
  EXPECT_EQ(buf[0], 'X');
  // No frame, or no buffer: nothing happens.
  ISDN::dlogframe(nullptr, 4, 0, buf, sizeof buf);
  EXPECT_EQ(buf[0], 'X');
  ISDN::dlogframe(f, 4, 0, nullptr, sizeof buf);
  // A buffer of one character holds the empty text.
  ISDN::dlogframe(f, 4, 0, buf, 1);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(buf[1], 'X');
}

TEST(DLogFrame, CallReferenceAndMessageType) {
  const Case cases[] = {
      {"00 01 00 00 08 01 81 05", 0, "callref 1 called size 4 message type SETUP\n"},
      {"00 01 00 00 08 00 7D", 0, "callref 0 caller size 3 message type STATUS\n"},
      {"00 01 00 00 08 00 99", 0, "callref 0 caller size 3 unknown message type 99!\n"},
      // A primary-rate call reference has two octets; the message type
      // follows both.
      {"00 01 00 00 08 02 00 01 05", 0, "callref 1 caller size 5 message type SETUP\n"},
      {"00 01 00 00 08 02 81 02 5A", 0, "callref 258 called size 5 message type RELEASE COMPLETE\n"},
      {"00 01 00 00 08 02 8A 5A", 0, "frame too short\n"},
      // A call reference wider than 32 bits reads the same on the board.
      {"00 01 00 00 08 05 81 02 03 04 05 05", 0, "callref 4328719365 called size 8 message type SETUP\n"},
      // Header octets missing: said, never read.
      {"00 01 00 00 08", 0, "frame too short\n"},
      {"00 01 00 00 08 01", 0, "frame too short\n"},
      {"00 01 00 00 08 01 05", 0, "frame too short\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(body(decode(c.frame, c.direction)), c.text) << c.frame;

  // The elements of a primary-rate SETUP start after its message type.
  EXPECT_EQ(body(decode("00 01 00 00 08 02 00 01 05 04 03 80 90 A3 18 03 A9 83 81", 1)),
            "callref 1 caller size 15 message type SETUP\n"
            "  Bearer capability\n    octet 3  10000000\n    octet 4  10010000\n    octet 5  10100011\n"
            "  Channel identification\n    octet 3 10101001\n");
}

TEST(DLogFrame, InformationElements) {
  const std::string setup = "00 01 00 00 08 01 01 05 ";
  const char* head = "callref 1 caller size ";
  const Case cases[] = {
      {"08 02 80 90", 0, "  Cause\n    coding 00 location 0000\n  cause value 10 : Normal call clearing \n"},
      {"08 02 E2 FE", 0, "  Cause\n    coding 11 location 0010\nUnknown cause type 7e!\n"},
      {"08 04 00 81 95 88", 0,
       "  Cause\n    coding 00 location 0000\n  cause value 15 : Call rejected \n    diag attribute 8 "},
      {"08 04 80 90 07 88 A1", 0,
       "  Cause\n    coding 00 location 0000\n  cause value 10 : Normal call clearing \n"
       "    diag attribute 7  rej 8 \n  Sending complete\n"},
      {"08 05 80 BE 01 02 03", 0,
       "  Cause\n    coding 00 location 0000\n"
       "  cause value 3e : Inconsistency in designated outgoing access information and subscriber class  \n"
       "    diag attribute 1  rej 2  av 3\n    diag attribute 3 "},
      {"04 03 80 90 A2 18 01 89", 0,
       "  Bearer capability\n    octet 3  10000000\n    octet 4  10010000\n    octet 5  10100010\n"
       "  Channel identification\n    octet 3 10001001\n"},
      {"04 08 88 98 21 21 42 C0 48 70", 0,
       "  Bearer capability\n    octet 3  10001000\n    octet 4  10011000\n    octet 4.1 00100001\n"
       "    octet 5  00100001\n    octet 5a 01000010\n    octet 5b 11000000\n    octet 6  01001000\n"
       "    octet 7  01110000\n"},
      {"1E 03 00 80 81", 0, "  Progress indicator\n    octet 3  00000000\n    octet 3a 10000000\n    octet 4  10000001\n"},
      {"1E 04 00 00 80 81", 0,
       "  Progress indicator\n    octet 3  00000000\n    octet 3a 00000000\n    octet 3b 10000000\n"
       "    octet 4  10000001\n"},
      // Octet 6 right after octet 4: picked by its layer bits, not taken for 5.
      {"04 03 80 90 C8", 0, "  Bearer capability\n    octet 3  10000000\n    octet 4  10010000\n    octet 6  11001000\n"},
      // A facility component that ends the element: the next element is its own.
      {"1C 04 91 A1 01 05 28 01 41", 0,
       "  Facility\n    octet 3 10010001\n   octet 4 10100001\n   octet 5 1\n   contents  5 \n  Display\n   \"A\"\n"},
      {"4C 03 01 02 03 A1", 0, "  attribute 4c attribute size 3\n  Sending complete\n"},
      {"28 03 41 42 43", 0, "  Display\n   \"ABC\"\n"},
      {"70 04 81 31 32 33", 0, "  Called party number\n    octet 3 10000001\n    number digits 123\n"},
      {"6C 04 01 80 35 36", 0,
       "  Calling party number\n    octet 3 00000001\n    octet 3a 10000000\n    number digits 56\n"},
      {"6C 03 81 35 36", 0, "  Calling party number\n    octet 3 10000001\n    number digits 56\n"},
      {"1C 06 91 A1 03 02 01 05", 0,
       "  Facility\n    octet 3 10010001\n   octet 4 10100001\n   octet 5 3\n   contents  2  1  5 \n"},
      {"95 B3 D2 A0 A1 A5 80 C1 F7", 0,
       "  Shift 5\n  Congestion level 3\n  Repeat indicator 2\n  More data\n  Sending complete\n"
       "  Reserved 80\n  Reserved c1\n  Reserved f7\n"},
  };
  for (const Case& c : cases) {
    std::string frame = setup + c.frame;
    std::string text = body(decode(frame));
    std::size_t n = text.find('\n');
    ASSERT_NE(n, std::string::npos) << frame;
    EXPECT_EQ(text.substr(0, std::string(head).size()), head) << frame;
    EXPECT_EQ(text.substr(n + 1), c.text) << frame;
  }
}

// Lengths and bits that claim more than the frame holds are never followed
// past its end (ASan watches the reads: the frame is a block of its size).
TEST(DLogFrame, ClaimsPastTheFrame) {
  const Case cases[] = {
      {"70 10 81 31", 0, "  Called party number\n    octet 3 10000001\n    number digits 1\n"},
      {"08 09 00", 0, "  Cause\n    coding 00 location 0000\n"},
      {"04 02 80", 0, "  Bearer capability\n    octet 3  10000000\n"},
      {"04 05 80 90 21 21", 0, "  Bearer capability\n    octet 3  10000000\n    octet 4  10010000\n"
                               "    octet 5  00100001\n    octet 5a 00100001\n"},
      {"1C 09 91 A1 7F 01", 0, "  Facility\n    octet 3 10010001\n   octet 4 10100001\n   octet 5 127\n   contents  1 \n"},
      {"08", 0, "frame too short\n"},
      {"28 05 41", 0, "  Display\n   \"A\"\n"},
      // Elements that end the frame before their contents do.
      {"04 00", 0, "  Bearer capability\n"},
      {"08 00", 0, "  Cause\n"},
      {"18 00", 0, "  Channel identification\n"},
      {"70 00", 0, "  Called party number\n"},
      {"6C 00", 0, "  Calling party number\n"},
      {"1C 00", 0, "  Facility\n"},
      {"6C 01 01", 0, "  Calling party number\n    octet 3 00000001\n    number digits \n"},
      {"1C 02 91 A1", 0, "  Facility\n    octet 3 10010001\n   octet 4 10100001\n"},
      {"08 04 80 90 07 08", 0,
       "  Cause\n    coding 00 location 0000\n  cause value 10 : Normal call clearing \n    diag attribute 7  rej 8 "},
  };
  for (const Case& c : cases) {
    std::string text = body(decode(std::string("00 01 00 00 08 01 01 05 ") + c.frame));
    EXPECT_EQ(text.substr(text.find('\n') + 1), c.text) << c.frame;
  }
}

TEST(DLogFrame, LongTextIsCutAtTheBuffer) {
  std::vector<unsigned char> f(600, 0x41);
  f[0] = 0;
  f[1] = 1;
  f[2] = 0;
  f[3] = 0;
  char buf[ISDN::logbuf_size + 8];
  std::memset(buf, 'Z', sizeof buf);
  ISDN::dlogframe(f.data(), static_cast<int>(f.size()), 0, buf);
  EXPECT_EQ(std::strlen(buf), ISDN::logbuf_size - 1);
  EXPECT_EQ(std::string(buf + ISDN::logbuf_size, 8), std::string(8, 'Z'));
  EXPECT_EQ(std::string(buf, 12), " 00 01 00 00");

  // A smaller buffer cuts the same way.
  char small[10];
  ISDN::dlogframe(f.data(), static_cast<int>(f.size()), 0, small, sizeof small);
  EXPECT_STREQ(small, " 00 01 00");
  // Cut inside one printed item: as much of it as there is room for.
  char eight[8];
  ISDN::dlogframe(f.data(), static_cast<int>(f.size()), 0, eight, sizeof eight);
  EXPECT_STREQ(eight, " 00 01 ");
}

TEST(DLogFrame, Helpers) {
  char out[8];
  EXPECT_EQ(ISDN::printbits(out, 0xB4, 8, 8), 8);
  EXPECT_EQ(std::string(out, 8), "10110100");
  EXPECT_EQ(ISDN::printbits(out, 0xB4, 7, 2), 2);
  EXPECT_EQ(std::string(out, 2), "01");
  const unsigned char v[] = {0x01, 0x02, 0x83, 0x04};
  EXPECT_EQ(ISDN::skipext(v, v + 4), v + 3);
  EXPECT_EQ(ISDN::skipext(v, v + 2), v + 2);
}

}  // namespace
