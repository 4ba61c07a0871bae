#pragma once
// Running the event loop on the virtual clock (header only: it uses the
// runtime, which the support library does not link).
//
//   class MyTest : public testsupport::VirtualClockTest {};
//   TEST_F(MyTest, Fires) { t.set(3000, &Obj::f, &obj); run_for(5000); ... }
//
// SetUp switches the virtual clock on (and clears the loop's cached time of
// day); TearDown switches it off. run_for runs the loop until that much
// virtual time has passed: an idle poll jumps the clock by its whole wait.
#include "platform/clock.h"
#include "runtime/multiplexer.h"
#include "runtime/mux_time.h"
#include "runtime/timer.h"

#include <gtest/gtest.h>

namespace testsupport {

class VirtualClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::vclock::enable();
    Mux::g_tv_time = Mux::timeval(0, 0);
  }
  void TearDown() override {
    Mux::g_tv_time = Mux::timeval(0, 0);
    platform::vclock::disable();
  }

  // The loop clock now, in milliseconds.
  static std::uint32_t now_ms() { return static_cast<std::uint32_t>(Mux::milliseconds()); }

  // Runs the loop (without the watchdog unless asked) until `ms` have passed.
  static void run_for(unsigned int ms, bool watchdog = false, bool live_clock = true) {
    Timer stop;
    stop.set(ms, &terminate_loop);
    multiplexer.run(watchdog, live_clock);
  }

  static void terminate_loop() { multiplexer.terminate(); }
};

}  // namespace testsupport
