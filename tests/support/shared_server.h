#pragma once
// A test suite whose cases share one running server: the server sleeps a
// second whenever its controller leaves, so a server per case would make
// the run long. `Suite` keeps each suite's server apart. A suite that starts
// its server otherwise gives its own SetUpTestSuite.
#include "tests/support/lgcp_text.h"
#include "tests/support/per_image.h"
#include "tests/support/server_process.h"

#include "schema/lgcp/LGCP.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

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

  // Sends the command; its answer as text, signals passed by. "no answer"
  // when none comes within `wait_ms`.
  static std::string answer(const std::string& image, int wait_ms = patience_ms) {
    LGCP::Message m;
    if (!decode(image, m)) return "bad image";
    const std::string prefix = "seq " + std::to_string(m.get_seq().getValue()) + " ";
    srv().ctl.send(image);
    const std::int64_t end = real_ms() + wait_ms;
    while (real_ms() < end) {
      const std::string f = srv().ctl.next(static_cast<int>(end - real_ms()));
      if (f.empty()) break;
      const std::string t = describe(f);
      if (t.compare(0, prefix.size(), prefix) == 0) return t;
    }
    return "no answer";
  }
};

}  // namespace testsupport
