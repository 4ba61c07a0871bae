// The pid file.
#include "runtime/linux_run.h"

#include "platform/paths.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace {

TEST(LinuxRun, PidFileHoldsOnlyTheDigitsAndGoesAway) {
  std::string path = platform::board_path("/var/run/run-test.pid");
  {
    std::ofstream(path) << "stale contents that are longer than a pid\n";
    Linux::Run run("run-test");
    EXPECT_EQ(run.path(), path);
    std::ifstream f(path);
    std::stringstream text;
    text << f.rdbuf();
    EXPECT_EQ(text.str(), std::to_string(::getpid()));
  }
  EXPECT_NE(::access(path.c_str(), F_OK), 0) << "removed when the run ends";
}

TEST(LinuxRun, UncreatableFileIsSilentlySkipped) {
  Linux::Run run("no/such/dir/x");
  EXPECT_FALSE(run.is_open());
}

}  // namespace
