#pragma once
// A test suite whose cases share one running server: the server sleeps a
// second whenever its controller leaves, so a server per case would make
// the run long. `Suite` keeps each suite's server apart. A suite that starts
// its server otherwise gives its own SetUpTestSuite.
#include "tests/support/server_process.h"

#include <gtest/gtest.h>

#include <memory>

namespace testsupport {

template <class Suite>
class SharedServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server() = std::make_unique<RunningServer>(); }
  static void TearDownTestSuite() { server().reset(); }
  static std::unique_ptr<RunningServer>& server() {
    static std::unique_ptr<RunningServer> s;
    return s;
  }
  static RunningServer& srv() { return *server(); }
  void SetUp() override { ASSERT_TRUE(srv().ready()) << srv().log(); }
};

}  // namespace testsupport
