#include "control/acceptor_unix.h"
#include "control/connector_unix.h"
#include "tests/control/notify_recorder.h"
#include "tests/support/log_sink.h"
#include "tests/support/stream_capture.h"
#include "tests/support/vclock_loop.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

using testsupport::StreamCapture;

namespace {

using Owner = controltest::NotifyRecorder;

class UnixLinkTest : public testsupport::VirtualClockTest {
 protected:
  testsupport::ScratchBoardRoot dir;
  StreamCapture cap;
  Owner server, client;
};

TEST_F(UnixLinkTest, ConnectorReachesAnAcceptorOnAPathCutTo107Octets) {
  const std::string long_path = dir.path() + "/" + std::string(120, 's');
  const std::string cut = long_path.substr(0, 107);
  const std::string local = dir.path() + "/client";
  Control::AcceptorUnix acc(long_path);
  acc.Bind(&server);
  ASSERT_EQ(acc.Activate(), 1);
  struct stat st;
  EXPECT_EQ(::stat(cut.c_str(), &st), 0);

  Control::ConnectorUnix conn(long_path, local);
  conn.Bind(&client);
  conn.Activate();
  run_for(10);
  ASSERT_TRUE(acc.IsConnected() && conn.IsConnected()) << cap.all();
  EXPECT_TRUE(StreamCapture::has(cap.out(), "new connection from " + local));
  EXPECT_TRUE(StreamCapture::has(cap.log(), "connected to " + long_path));
  EXPECT_EQ(acc.GetAddr(), local);

  conn.Send("ping", 4);
  acc.Send("pong", 4);
  run_for(10);
  EXPECT_EQ(server.messages, std::vector<std::string>{"ping"});
  EXPECT_EQ(client.messages, std::vector<std::string>{"pong"});

  // A second client is refused while the first is served.
  Control::ConnectorUnix other(long_path);
  other.Activate();
  run_for(10);
  EXPECT_TRUE(StreamCapture::has(cap.err(), "refuse connection from ")) << cap.all();
  EXPECT_TRUE(conn.IsConnected());
}

// A socket file left by a process that is gone: bound once, nobody listens.
void leave_stale_socket(const std::string& path) {
  const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(s, 0);
  sockaddr_un sa{};
  sa.sun_family = AF_UNIX;
  std::memcpy(sa.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ::close(s);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  ASSERT_TRUE(S_ISSOCK(st.st_mode));
}

// Both ends take their paths over from an earlier run that did not clean
// up: the acceptor listens at once, the connector binds its own name and is
// served under it. Left in place, the old files would keep the acceptor
// retrying its bind for good.
TEST_F(UnixLinkTest, SocketFilesLeftByAnEarlierRunAreTakenOver) {
  const std::string path = dir.path() + "/ctl";
  const std::string local = dir.path() + "/agent";
  leave_stale_socket(path);
  leave_stale_socket(local);
  Control::AcceptorUnix acc(path);
  acc.Bind(&server);
  ASSERT_EQ(acc.Activate(), 1);
  Control::ConnectorUnix conn(path, local);
  conn.Bind(&client);
  conn.Activate();
  run_for(10);
  ASSERT_TRUE(acc.IsConnected() && conn.IsConnected()) << cap.all();
  EXPECT_EQ(acc.GetAddr(), local);
  EXPECT_EQ(StreamCapture::count(cap.err(), "can't bind to"), 0) << cap.all();
  conn.Send("ping", 4);
  run_for(10);
  EXPECT_EQ(server.messages, std::vector<std::string>{"ping"});
}

TEST_F(UnixLinkTest, MissingPeerIsRetried7TimesQuicklyThenEvery20s) {
  const std::string path = dir.path() + "/nobody";
  Control::ConnectorUnix conn(path);
  conn.Bind(&client);
  conn.Activate();
  run_for(47500);
  const auto fails = StreamCapture::matching(cap.err(), "can't connect to " + path + " : ");
  ASSERT_EQ(fails.size(), 10u) << cap.all();
  EXPECT_EQ(fails[0].text, "can't connect to " + path + " : No such file or directory");
  EXPECT_EQ(fails[7].ms - fails[0].ms, 7000);
  EXPECT_EQ(fails[8].ms - fails[7].ms, 20000);
  EXPECT_EQ(fails[9].ms - fails[8].ms, 20000);
}

}  // namespace
