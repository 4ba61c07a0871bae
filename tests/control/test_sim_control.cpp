// The simulator's control socket of the running server: one request per
// line, answered in order with data lines and ok/error, several clients at
// once, a stale socket file replaced at start.
#include "tests/support/server_process.h"

#include <gtest/gtest.h>

#include <fstream>

using testsupport::RunningServer;
using testsupport::SimClient;

namespace {

TEST(SimControlSocket, ServedByTheRunningServer) {
  RunningServer srv;
  ASSERT_TRUE(srv.ready()) << srv.log();
  EXPECT_EQ(srv.sim.ask("hal get 69"), "none");
  EXPECT_EQ(srv.sim.ask("hal list"), "");
  EXPECT_EQ(srv.sim.ask("hal fail write 5 1"), "");
  EXPECT_EQ(srv.sim.ask("bogus 1").rfind("error unknown word bogus", 0), 0u);
  EXPECT_EQ(srv.sim.ask("hal get").rfind("error ", 0), 0u);

  // Several requests in one write are answered in order; a second client
  // is served beside the first.
  SimClient other;
  ASSERT_TRUE(other.connect(srv.board("/var/run/sim.sock")));
  EXPECT_EQ(other.ask("hal get 1"), "none");
  auto a = srv.sim.request("hal get 2\nhal fail read 0\n\nhal get 3");
  EXPECT_TRUE(a.ok());
  EXPECT_EQ(a.lines, std::vector<std::string>{"none"});
  EXPECT_EQ(srv.sim.read_answer().status, "ok");
  EXPECT_EQ(srv.sim.read_answer().status, "error empty request");
  a = srv.sim.read_answer();
  EXPECT_EQ(a.lines, std::vector<std::string>{"none"});
  EXPECT_TRUE(a.ok());

  // The controller is served beside it.
  srv.ctl.send("C0 01 01 00 05 18");  // ping
  EXPECT_EQ(srv.ctl.next(testsupport::patience_ms), "C0 01 01 00 05 40");
  EXPECT_EQ(srv.stop(), 0) << srv.log();
  EXPECT_FALSE(std::ifstream(srv.board("/var/run/sim.sock")).good()) << "removed at the end";
}

}  // namespace
