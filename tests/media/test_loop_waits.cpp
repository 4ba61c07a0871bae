// Waits a slot factory makes inside the loop for a program outside the
// system. Real time: the programs are real processes.
#include "media/t38_slot.h"
#include "platform/paths.h"
#include "platform/sim/watchdog.h"
#include "runtime/multiplexer.h"
#include "runtime/timer.h"
#include "tests/support/descriptor_exhaustion.h"
#include "tests/support/server_process.h"
#include "tests/support/stream_capture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// The query run from a timer of the loop with the watchdog open: what it
// counted and how often the watchdog was pinged while it waited.
struct QueryInLoop {
  int instances = -1;
  std::uint64_t pings = 0;
  void run() {
    const std::uint64_t before = platform::sim::watchdog().total;
    instances = T38SoftFactory::instance().QueryNumOfInstances();
    pings = platform::sim::watchdog().total - before;
  }
  static void stop() { multiplexer.terminate(); }
};

bool running(int pid) {
  std::string stat;
  std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), stat);
  const std::size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

// The resources query runs "t38 --num-of-instances" and waits for its line:
// a program that stays silent, or prints and then stays, is given the
// bounded wait and no more, is killed, and counts as telling nothing or as
// what it printed. Each program notes its pid, so the test sees it gone.
TEST(T38CountQuery, ProgramThatHangsHoldsTheLoopOnlyForTheBoundedWait) {
  const struct {
    const char* name;
    const char* body;  // shell text after "echo $$ > pid"
    int instances;
    bool killed;  // the program outstays the wait
  } cases[] = {
      {"silent for good", "exec sleep 60\n", 0, true},
      {"prints, then stays", "echo 8; exec sleep 60\n", 8, true},
      {"half a line, then stays", "printf 12; exec sleep 60\n", 0, true},
      {"prints and ends", "echo 8\n", 8, false},
      {"ends without a word", "exit 0\n", 0, false},
      // The shell ends at once; what it left behind holds the output.
      {"ends, its child stays silent", "sleep 60 & echo $! > \"$(dirname \"$0\")/pid\"; exit 0\n", 0, true},
  };
  const std::string failed = testsupport::in_child([&](std::vector<std::string>& failed) {
    ::alarm(30);  // a wait without bound ends the child, not the test run
    char root[] = "/tmp/gw-t38-count-XXXXXX";
    if (!::mkdtemp(root)) return failed.push_back("no board root");
    ::setenv("GW_BOARD_ROOT", root, 1);
    platform::reset_board_root();
    const std::string sbin = platform::board_path("/usr/local/sbin/");
    if (std::system(("mkdir -p '" + sbin + "'").c_str()) != 0) return failed.push_back("no sbin");
    for (const auto& c : cases) {
      const std::string tag = std::string(c.name) + ": ";
      std::ofstream(sbin + "t38") << "#!/bin/sh\necho $$ > '" << sbin << "pid'\n" << c.body;
      ::chmod((sbin + "t38").c_str(), 0755);
      ::unlink((sbin + "pid").c_str());
      testsupport::StreamCapture cap;
      const auto start = std::chrono::steady_clock::now();
      const int n = T38SoftFactory::instance().QueryNumOfInstances();
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
      if (n != c.instances) failed.push_back(tag + "counted " + std::to_string(n));
      // Generous against a slow machine, far below the program's minute.
      if (ms > T38SoftFactory::count_wait_ms + 2000) failed.push_back(tag + "held " + std::to_string(ms) + " ms");
      if (c.killed && ms < T38SoftFactory::count_wait_ms - 50)
        failed.push_back(tag + "returned after " + std::to_string(ms) + " ms");
      int pid = 0;
      std::ifstream(sbin + "pid") >> pid;
      if (pid <= 0) {
        failed.push_back(tag + "the program did not run");
        continue;
      }
      // Ended: gone, or at most waiting to be reaped. A shell that forks
      // for the program leaves it a grandchild, killed with the group and
      // gone a moment after the shell.
      if (!testsupport::eventually([&] { return !running(pid); }, 2000))
        failed.push_back(tag + "the program is still running");
      const bool told = testsupport::StreamCapture::count(cap.log(), "t38: can't detect T38 resources") == 1;
      if (told != (c.instances == 0)) failed.push_back(tag + "detect line: " + cap.all());
      const bool kill_told = testsupport::StreamCapture::count(cap.log(), "still running, killing") == 1;
      if (kill_told != c.killed) failed.push_back(tag + "kill line: " + cap.all());
    }
    // Inside the loop the board's watchdog hears from the wait itself.
    std::ofstream(sbin + "t38") << "#!/bin/sh\nexec sleep 60\n";
    QueryInLoop q;
    Timer go, stop;
    go.set(1, &QueryInLoop::run, &q);
    stop.set(10, &QueryInLoop::stop);
    multiplexer.run(true, true);
    if (q.instances != 0) failed.push_back("in the loop: counted " + std::to_string(q.instances));
    if (q.pings < 2) failed.push_back("in the loop: " + std::to_string(q.pings) + " watchdog pings around the wait");
    std::system(("rm -rf '" + std::string(root) + "'").c_str());
  });
  EXPECT_EQ(failed, "");
}

}  // namespace
