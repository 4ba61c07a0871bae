#include "tests/control/tpkt_harness.h"
#include "tests/support/loopback.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

#include <iostream>
#include <random>
#include <sstream>

using testsupport::StreamCapture;
using testsupport::tpkt_frame;
using tpkttest::Harness;

namespace {

const std::string five("\x01\x02\x03\x04\x05", 5);
const std::string frame9 = std::string("\x03\x00\x00\x09", 4) + five;

class TpktTest : public testsupport::VirtualClockTest {
 protected:
  StreamCapture cap;
  Harness h;
};

TEST_F(TpktTest, FramesArriveWholeHoweverTheStreamIsCut) {
  h.feed(frame9);
  ASSERT_EQ(h.messages, std::vector<std::string>{five});

  for (char c : frame9) h.feed(std::string(1, c));
  EXPECT_EQ(h.messages.size(), 2u);
  EXPECT_EQ(h.messages.back(), five);

  // Joined frames; the one without payload is an empty message at once.
  h.messages.clear();
  h.feed(tpkt_frame("first") + tpkt_frame("second") + tpkt_frame(""));
  EXPECT_EQ(h.messages, (std::vector<std::string>{"first", "second", ""}));
  EXPECT_EQ(h.tpkt->state(), Tpkt_protocol::idle);
  EXPECT_EQ(StreamCapture::count(cap.log(), "TPKT"), 0) << cap.all();
}

TEST_F(TpktTest, BadFramesAreLoggedAndTheReceiverResynchronises) {
  h.feed("\x7f" + frame9);
  EXPECT_TRUE(StreamCapture::has(cap.log(), "(no name) bad TPKT packet start."));
  EXPECT_EQ(h.messages.size(), 1u);

  // The bad reserved octet is dropped with the version; 05 then is no start.
  h.feed(std::string("\x03\x01\x05", 3) + frame9);
  EXPECT_TRUE(StreamCapture::has(cap.log(), "(no name) bad TPKT reserved."));
  EXPECT_EQ(StreamCapture::count(cap.log(), "bad TPKT packet start."), 2);
  EXPECT_EQ(h.messages.size(), 2u);

  h.feed(std::string("\x03\x00\x00\x02", 4) + frame9);
  EXPECT_TRUE(StreamCapture::has(cap.log(), "TPKT too small 2"));
  EXPECT_EQ(h.messages.size(), 3u);
  EXPECT_EQ(h.tpkt->state(), Tpkt_protocol::idle);
}

// The log as the daemon has it: a flush is a write to the log socket.
class FlushCountingLog : public std::stringbuf {
 public:
  int flushes = 0;
  int lines(const std::string& text) const {
    std::istringstream in(str());
    int n = 0;
    for (std::string line; std::getline(in, line);) n += line == text;
    return n;
  }

 protected:
  int sync() override {
    ++flushes;
    return 0;
  }
};

TEST_F(TpktTest, JunkIsLoggedLineByLineWithOneFlushPerRead) {
  FlushCountingLog log;
  struct Swap {
    std::streambuf* saved;
    ~Swap() { std::clog.rdbuf(saved); }
  } swap{std::clog.rdbuf(&log)};

  h.feed(std::string(1000, '\x7f') + frame9);
  EXPECT_EQ(log.lines("(no name) bad TPKT packet start."), 1000);
  EXPECT_EQ(h.messages, std::vector<std::string>{five});
  EXPECT_EQ(log.flushes, 1);  // before the frame went up

  // Junk of every kind, and nothing after it: flushed at the end of the read.
  std::string junk;
  for (int i = 0; i < 200; ++i) junk += std::string("\x03\x01\x03\x00\x00\x02", 6);
  h.feed(junk);
  EXPECT_EQ(log.lines("(no name) bad TPKT reserved."), 200);
  EXPECT_EQ(log.lines("TPKT too small 2"), 200);
  EXPECT_EQ(log.flushes, 2);
}

TEST_F(TpktTest, IncompleteFrameIsDroppedAfter3000msOfSilence) {
  const std::int64_t t0 = now_ms();
  h.feed(frame9.substr(0, 6));
  run_for(2000);
  h.feed(frame9.substr(6, 1));  // a further chunk re-arms the cut-off
  run_for(2999);
  EXPECT_EQ(StreamCapture::count(cap.log(), "TPKT"), 0);
  run_for(1);
  const auto lines = StreamCapture::matching(cap.log(), "TPKT");
  ASSERT_EQ(lines.size(), 1u) << cap.all();
  EXPECT_EQ(lines[0].text, " TPKT packet timeout.");
  EXPECT_EQ(std::uint32_t(lines[0].ms) - std::uint32_t(t0), 5000u);
  EXPECT_EQ(h.tpkt->state(), Tpkt_protocol::idle);
  // The rest of the dropped frame is garbage now; the next frame still counts.
  h.feed(frame9.substr(7) + frame9);
  EXPECT_EQ(h.messages, std::vector<std::string>{five});
}

TEST_F(TpktTest, SenderFramesUpToTheLargestPayloadAndRefusesLonger) {
  EXPECT_EQ(h.send(five), 9);
  EXPECT_EQ(h.wire->sent, frame9);
  // A message built without head room gets the header all the same.
  h.wire->sent.clear();
  Packet bare;
  bare.reserve_head(0);
  std::memcpy(bare.put(5), five.data(), 5);
  EXPECT_EQ(h.message(bare), 9);
  EXPECT_EQ(h.wire->sent, frame9);

  h.wire->sent.clear();
  const std::string largest(Tpkt_protocol::max_payload, 'x');
  h.send(largest);
  EXPECT_EQ(h.wire->sent.substr(0, 4), std::string("\x03\x00\xff\xff", 4));
  EXPECT_EQ(h.wire->sent.size(), 65535u);

  h.wire->sent.clear();
  EXPECT_EQ(h.send(largest + "x"), -1);
  EXPECT_TRUE(h.wire->sent.empty());
  EXPECT_TRUE(StreamCapture::has(cap.err(), "(no name) TPKT payload too long: 65532 octets (max 65531), dropped."))
      << cap.all();
}

// A peer's frame that begins while the packet pool is empty (the read took
// the last buffer) is skipped and counted instead of ending the process; the
// stream stays in step and the next frame is delivered once buffers are back.
TEST_F(TpktTest, FrameStartingOnAnEmptyPoolIsSkippedAndCounted) {
  const struct {
    std::string stream;  // fed in one read holding the last free buffer
    std::uint32_t dropped;
  } rows[] = {
      {std::string("\x03\x00\x00\x06\x41\x42", 6), 1},  // a frame with payload
      {std::string("\x03\x00\x00\x04", 4), 1},          // an empty frame
      {std::string("\x03\x00\x00\x06\x41", 5), 1},      // cut in its body
      {frame9 + std::string("\x03\x00\x00\x04", 4), 2},  // two in one read
  };
  std::uint32_t total = 0;
  for (const auto& row : rows) {
    {
      std::vector<Packet> hoard;
      while (PacketPool::available() > 1) {
        hoard.emplace_back();
        hoard.back().reserve_head(0);
      }
      h.feed(row.stream);
    }
    total += row.dropped;
    EXPECT_EQ(h.tpkt->GetDropCounter(), total) << testing::PrintToString(row.stream);
    EXPECT_TRUE(h.messages.empty());
    if (h.tpkt->state() == Tpkt_protocol::ignore) h.feed("B");  // the rest of the cut frame
    EXPECT_EQ(h.tpkt->state(), Tpkt_protocol::idle);
    h.feed(frame9);
    EXPECT_EQ(h.messages, std::vector<std::string>{five});
    h.messages.clear();
  }
  EXPECT_EQ(StreamCapture::count(cap.err(), "(no name) packet pool empty, TPKT frame dropped ("), 1) << cap.all();
}

TEST_F(TpktTest, RoundTripOfRandomMessagesCutAtRandomPoints) {
  std::mt19937 rng(20001);
  for (int round = 0; round < 20; ++round) {
    std::vector<std::string> sent;
    h.wire->sent.clear();
    h.messages.clear();
    for (int i = 0; i < 8; ++i) {
      std::size_t len = rng() % 3 == 0 ? rng() % 70000 : rng() % 300;
      if (len > Tpkt_protocol::max_payload) len = Tpkt_protocol::max_payload;
      std::string m(len, '\0');
      for (char& c : m) c = static_cast<char>(rng());
      sent.push_back(m);
      h.send(m);
    }
    const std::string stream = h.wire->sent;
    for (std::size_t at = 0; at < stream.size();) {
      const std::size_t n = std::min<std::size_t>(stream.size() - at, 1 + rng() % 20000);
      h.feed(stream.substr(at, n));
      at += n;
    }
    ASSERT_EQ(h.messages, sent) << "round " << round;
  }
}

}  // namespace
