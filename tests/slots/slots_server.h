#pragma once
// A running server for the black-box tests of the slot commands, shared by
// the cases of one suite (the server stalls a second whenever its controller
// leaves), and helpers that send commands and read the answers as text
// (tests/support/lgcp_text.h).
#include "tests/support/lgcp_text.h"
#include "tests/support/server_process.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace slotstest {

using Strings = std::vector<std::string>;

class ServerSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server() = std::make_unique<testsupport::RunningServer>(); }
  static void TearDownTestSuite() { server().reset(); }
  static std::unique_ptr<testsupport::RunningServer>& server() {
    static std::unique_ptr<testsupport::RunningServer> s;
    return s;
  }
  void SetUp() override { ASSERT_TRUE(srv().ready()) << srv().log(); }

  static testsupport::RunningServer& srv() { return *server(); }

  // Sends the images in one write and reads `n` frames back as text.
  static Strings ask(const Strings& images, std::size_t n) {
    srv().ctl.send_all(images);
    return frames(n);
  }
  static Strings ask(const std::string& image, std::size_t n = 1) { return ask(Strings{image}, n); }
  static Strings frames(std::size_t n) {
    Strings out;
    while (out.size() < n) {
      const std::string f = srv().ctl.next(testsupport::patience_ms);
      if (f.empty()) break;
      out.push_back(testsupport::describe(f));
    }
    return out;
  }
  // Whatever else arrives within a short real-time wait (frames that should
  // not be there). A link the server closed ends the wait at once: it shows.
  static Strings extra(int ms = 100) {
    Strings out;
    for (const auto& f : srv().ctl.frames(ms)) out.push_back(testsupport::describe(f));
    if (srv().ctl.closed()) out.push_back("link closed");
    return out;
  }
  static std::string hal(const std::string& request) { return srv().sim.ask("hal " + request); }
};

}  // namespace slotstest
