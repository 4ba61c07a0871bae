// The voice slots' TCP connects on the virtual clock: a peer that never
// answers (a listener whose accept queue is full drops the connect's SYN)
// is given up after 5000 ms, not before.
#include "media/voice_slot.h"
#include "platform/sim/mcc.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// A loopback listener whose one-entry accept queue is already full.
class DeafPeer {
 public:
  DeafPeer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener_, 0);
    socklen_t len = sizeof a;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    filler_ = ::socket(AF_INET, SOCK_STREAM, 0);
    ok_ = ::connect(filler_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~DeafPeer() {
    ::close(filler_);
    ::close(listener_);
  }
  bool ok() const { return ok_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  int port() const { return port_; }

 private:
  int listener_ = -1, filler_ = -1, port_ = 0;
  bool ok_ = false;
};

class VoiceConnect : public testsupport::VirtualClockTest {};

TEST_F(VoiceConnect, UnansweredConnectsEndAfterFiveSeconds) {
  platform::sim::mcc();  // the simulated MCC controller
  DeafPeer peer;
  ASSERT_TRUE(peer.ok());
  const std::string fail = "connection to " + peer.address() + " fail.";

  LGCP::CreateParams play;
  auto& n = play.select_voice().select_player().select_network();
  n.set_host().set_iaddr(std::string("127.0.0.1"));
  n.set_host().set_port(static_cast<unsigned>(peer.port()));
  n.set_id(1);
  LGCP::CreateParams rec;
  auto& h = rec.select_voice().select_record();
  h.set_iaddr(std::string("127.0.0.1"));
  h.set_port(static_cast<unsigned>(peer.port()));

  testsupport::StreamCapture cap;
  Slot* player = VoiceFactory::instance().NewSlot(play);
  Slot* recorder = VoiceFactory::instance().NewSlot(rec);
  ASSERT_NE(player, nullptr) << cap.all();
  ASSERT_NE(recorder, nullptr);
  EXPECT_TRUE(player->IOnOutputStream());
  EXPECT_TRUE(recorder->IOnInputStream());
  run_for(4900);
  EXPECT_EQ(cap.count(cap.log(), fail), 0) << cap.all();
  run_for(200);
  EXPECT_EQ(cap.count(cap.log(), "player["), 1) << cap.all();
  EXPECT_EQ(cap.count(cap.log(), "recorder["), 1) << cap.all();
  EXPECT_EQ(cap.count(cap.log(), fail), 2) << cap.all();
  // An ended player does not connect again.
  EXPECT_TRUE(player->IOnOutputStream());
  run_for(6000);
  EXPECT_EQ(cap.count(cap.log(), fail), 2) << cap.all();

  for (Slot* s : {player, recorder}) {
    EXPECT_TRUE(s->BeforeDestroy());
    delete s;
  }
}

}  // namespace
