#include "control/tpkt_tracer.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/loopback.h"
#include "tests/support/pass_share.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

#include <functional>

using testsupport::LoopbackPeer;
using testsupport::StreamCapture;
using testsupport::tpkt_frame;

namespace {

class EchoSink : public TPKTTracer::Sink {
 public:
  void receive(const char* data, unsigned int len) override {
    got.emplace_back(data, len);
    if (tracer) tracer->Send("re:", 3);
    if (on_receive) on_receive();
  }
  TPKTTracer* tracer = nullptr;
  std::function<void()> on_receive;
  std::vector<std::string> got;
};

class TracerTest : public testsupport::VirtualClockTest {
 protected:
  void SetUp() override {
    VirtualClockTest::SetUp();
    ASSERT_TRUE(tracer.Listen(0));
    ASSERT_TRUE(a.connect(tracer.port()) && b.connect(tracer.port()));
    run_for(10);
    ASSERT_EQ(tracer.connection_count(), 2u);
  }
  StreamCapture cap;
  EchoSink sink;
  TPKTTracer tracer{&sink};
  LoopbackPeer a, b;
};

TEST_F(TracerTest, FramesReachTheSinkAndAnswersGoToTheSenderOnly) {
  EXPECT_TRUE(StreamCapture::has(cap.log(), "ACP connection open from 127.0.0.1:" + std::to_string(a.local_port())));
  sink.tracer = &tracer;
  const std::string two = tpkt_frame("one") + std::string("\x03\x00\x00\x04", 4) + tpkt_frame("two");
  a.send(two.substr(0, 5));
  run_for(10);
  a.send(two.substr(5));
  run_for(10);
  EXPECT_EQ(sink.got, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(a.receive(), tpkt_frame("re:") + tpkt_frame("re:"));
  EXPECT_EQ(b.receive(), "");

  tracer.Send("all", 3);
  EXPECT_EQ(a.receive(), tpkt_frame("all"));
  EXPECT_EQ(b.receive(), tpkt_frame("all"));
  const std::string over(0xFFFF - 3, 'x');  // its length with the header's would need 17 bits
  tracer.Send(over.data(), static_cast<unsigned>(over.size()));
  EXPECT_TRUE(StreamCapture::has(cap.err(), "TPKTTracer: message of 65532 octets too long for a frame, dropped."));
  EXPECT_EQ(b.receive(), "");

  // A reply that fails closes its client, and its read stops there.
  sink.tracer = nullptr;
  sink.on_receive = [&] {
    a.reset();
    tracer.Send("re:", 3);
  };
  a.send(tpkt_frame("last") + tpkt_frame("more"));
  run_for(10);
  EXPECT_EQ(sink.got.back(), "last");
  EXPECT_EQ(tracer.connection_count(), 1u);
}

TEST_F(TracerTest, BadHeaderOrOversizedPayloadClosesOnlyThatClient) {
  LoopbackPeer good;
  ASSERT_TRUE(good.connect(tracer.port()));
  run_for(10);
  a.send(std::string("\x03\x01\x00\x05x", 5));
  b.send(tpkt_frame(std::string(513, 'x')));
  run_for(10);
  EXPECT_TRUE(a.peer_closed());
  EXPECT_TRUE(b.peer_closed());
  EXPECT_TRUE(sink.got.empty());
  // A client that kept to the framing stays and is still read.
  EXPECT_FALSE(good.peer_closed());
  EXPECT_EQ(tracer.connection_count(), 1u);
  good.send(tpkt_frame("fine"));
  run_for(10);
  EXPECT_EQ(sink.got, std::vector<std::string>{"fine"});
  good.close();
  run_for(10);
  EXPECT_EQ(tracer.connection_count(), 0u);
  sink.got.clear();

  LoopbackPeer c;
  ASSERT_TRUE(c.connect(tracer.port()));
  run_for(10);
  tracer.Send("all", 3);  // no reply to a closed client: to every one left
  EXPECT_EQ(c.receive(), tpkt_frame("all"));
  c.send(tpkt_frame(std::string(512, 'y')));
  run_for(10);
  ASSERT_EQ(sink.got.size(), 1u);
  EXPECT_EQ(sink.got[0].size(), 512u);
}

// A client that sends a new frame for every frame read is read a share per
// pass; the loop polls the rest between.
TEST_F(TracerTest, AFloodingClientIsReadAShareAPass) {
  testsupport::PassShare share;
  sink.on_receive = [&] {
    share.delivered();
    if (sink.got.size() < 5000) a.send(tpkt_frame("x"));
  };
  a.send(tpkt_frame("x"));
  run_for(10);
  EXPECT_GT(sink.got.size(), Event::max_reads_per_event / 2);
  EXPECT_LE(share.most, Event::max_reads_per_event / 2);
}

void stop_loop() { multiplexer.terminate(); }

// Out of descriptors the tracer neither spins on its backlog nor keeps a
// connection it could not copy. Real clock, about 1.5 s, in a child.
// Another process's listener holds the port: the second tracer says so and
// keeps nothing, the first serves on.
TEST_F(TracerTest, APortAlreadyTakenRefusesTheSecondListenerOnly) {
  TPKTTracer second(nullptr);
  EXPECT_FALSE(second.Listen(tracer.port()));
  EXPECT_EQ(second.port(), 0);
  LoopbackPeer c;
  ASSERT_TRUE(c.connect(tracer.port()));
  run_for(10);
  EXPECT_EQ(tracer.connection_count(), 3u);
}

TEST(TracerOutOfDescriptors, DropsWhatItCannotHoldAndServesOnceFreed) {
  const std::string failed = testsupport::in_child([](std::vector<std::string>& failed) {
    StreamCapture cap;
    TPKTTracer tracer;
    if (!tracer.Listen(0)) return failed.push_back("no listener");
    testsupport::ExhaustedListener l;
    l.connect = [&](testsupport::EarlyClient& c) { return c.connect_tcp(tracer.port()); };
    l.listed = [&] { return tracer.connection_count(); };
    l.run_ms = [](unsigned int ms) {
      Timer stop;
      stop.set(ms, &stop_loop);
      multiplexer.run(false, true);
    };
    testsupport::exhaust_listener(l, failed);
    if (StreamCapture::count(cap.err(), "can't accept connection: Too many open files, connection dropped.") != 1)
      failed.push_back("the dropped connection is not logged once: " + cap.all());
    if (StreamCapture::count(cap.err(), " dropped: Too many open files") != 1)
      failed.push_back("the uncopied connection is not logged: " + cap.all());
  });
  EXPECT_EQ(failed, "");
}

}  // namespace
