#include "control/trace_ctl.h"
#include "runtime/ini_file.h"
#include "tests/support/stream_capture.h"

#include <gtest/gtest.h>

#include <sstream>

using testsupport::StreamCapture;

namespace {

// The switches after reading the "traces" section of the text, starting
// from the given state.
TraceCtl read(const std::string& text, TraceCtl t = TraceCtl()) {
  std::istringstream in(text);
  IniFile::File file;
  in >> file;
  t.Configure(file["traces"]);
  return t;
}

std::string state(const TraceCtl& t) {
  std::string s;
  s += t.signalling.hdlc ? "hdlc " : "";
  s += t.signalling.zarngw ? "zarngw " : "";
  s += t.signalling.events ? "events " : "";
  s += t.monitoring.internal ? "internal " : "";
  return s;
}

TEST(TraceCtl, EachKeySetsItsOwnSwitch) {
  EXPECT_EQ(state(traces), "");
  EXPECT_EQ(state(read("[traces]\nsignalling.hdlc = yes\n")), "hdlc ");
  EXPECT_EQ(state(read("[traces]\nsignalling.zarngw = enabled\n")), "zarngw ");
  EXPECT_EQ(state(read("[traces]\nsignalling.events = true\n")), "events ");
  EXPECT_EQ(state(read("[traces]\nmonitoring.internal = 1\n")), "internal ");
  EXPECT_EQ(state(read("[traces]\nsignalling.zarngw = enabled\nmonitoring.internal = 1\n")), "zarngw internal ");
  // No section: nothing changes.
  EXPECT_EQ(state(read("[other]\nsignalling.hdlc = yes\n")), "");
}

TEST(TraceCtl, LaterBlocksDecideAllButTheEventsSwitch) {
  EXPECT_EQ(state(read("[traces]\nsignalling.events = true\nmonitoring.internal = true\nsignalling.hdlc = yes\n"
                       "[traces]\n")),
            "events ");
  // Only "signalling.events" keeps a value from before the block.
  TraceCtl on;
  on.signalling.hdlc = on.signalling.zarngw = on.signalling.events = on.monitoring.internal = true;
  EXPECT_EQ(state(read("[traces]\n", on)), "events ");
  EXPECT_EQ(state(read("[traces]\nsignalling.events = no\n", on)), "");
}

TEST(TraceCtl, BadValuesAreReportedAndLeaveTheSwitchOff) {
  StreamCapture cap;
  EXPECT_EQ(state(read("[traces]\nsignalling.hdlc = on\nmonitoring.internal = yes\nmonitoring.internal = no\n")),
            "");
  EXPECT_EQ(StreamCapture::count(cap.err(), "traces: optional key \"signalling.hdlc\" has invalid value=\"on\""), 1)
      << cap.all();
  EXPECT_EQ(StreamCapture::count(cap.err(), "traces: optional key \"monitoring.internal\" is duplicated!"), 1)
      << cap.all();
}

}  // namespace
