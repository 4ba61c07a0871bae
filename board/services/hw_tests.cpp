#include "board/services/hw_tests.h"

#include "platform/clock.h"
#include "slots/hw_mux.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace {

// Two upper-case hexadecimal digits and a blank.
std::string Byte(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X ", v & 0xFF);
  return buf;
}

}  // namespace

HwTests& HwTests::instance() {
  static HwTests tests;
  return tests;
}

void HwTests::OnConnect() {}

void HwTests::OnDisconnect() {}

bool HwTests::OnCommand(LGCP::Command const& cmd) {
  if (!cmd.testBpc_isSelected()) return false;
  Run(cmd.get_testBpc());
  return true;
}

void HwTests::Seed() {
  generator_ = random_data{};
  ::initstate_r(static_cast<unsigned>(seed_), state_, sizeof state_, &generator_);
}

int HwTests::Pattern() {
  std::int32_t v = 0;
  ::random_r(&generator_, &v);
  return static_cast<int>(v & 0xFF);
}

bool HwTests::Check(const char* failed, const char* expected, const char* read) {
  HwMux& mux = HwMux::instance();
  for (std::uint32_t ch = first_; ch < end_; ++ch) {
    const int want = Pattern();
    const int got = mux.Read(static_cast<int>(ch));
    if (got == want) continue;
    std::cerr << "bus " << bus_ << ": " << failed << (ch & 127) << expected << Byte(want) << read << Byte(got)
              << std::endl;
    return false;
  }
  return true;
}

void HwTests::Run(LGCP::BpcTestParams const& p) {
  const unsigned start = p.get_timeslot_start().getValue();
  const unsigned length = p.get_timeslot_length().getValue();
  // A run past the bus's last time slot would test the next bus's slots.
  if (start + length > static_cast<unsigned>(bus_channels)) {
    Error(LGCP::ErrorCause::invalidParams);
    return;
  }
  bus_ = static_cast<int>(p.get_bus().getValue());
  first_ = static_cast<std::uint32_t>(bus_first_channel + bus_channels * bus_) + start;
  end_ = first_ + length;
  seed_ = p.get_seed().getValue();
  Seed();
  HwMux& mux = HwMux::instance();
  const LGCP::BpcTestMode& mode = p.get_mode();
  if (mode.read_isSelected()) {
    if (Check("test failed on channel ", " expected ", " read "))
      Success();
    else
      Error(LGCP::ErrorCause::busError);
  } else if (mode.write_isSelected()) {
    for (std::uint32_t ch = first_; ch < end_; ++ch) mux.Write(static_cast<int>(ch), Pattern());
    platform::sleep_us(500);
    Seed();
    if (Check("write failed on channel ", " write ", " written "))
      Success();
    else
      Error(LGCP::ErrorCause::busError);
  } else {
    // Every channel is tried; one the switch refused fails the run.
    bool disabled = true;
    for (std::uint32_t ch = first_; ch < end_; ++ch) disabled = mux.Disable(static_cast<int>(ch)) && disabled;
    platform::sleep_us(250);
    if (disabled)
      Success();
    else
      Error(LGCP::ErrorCause::busError);
  }
}
