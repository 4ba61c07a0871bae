#pragma once
// HwTests: the controller's test of the TDM bus time slots (`testBpc`). In
// write mode the board drives a seeded pseudo-random byte pattern onto a run
// of bus time slots and reads it back; in read mode it checks the bytes that
// a peer drove there; in disconnect mode it switches the slots off again.
// The pattern is the low byte of each value of the C library's random()
// after srandom(seed), so both ends of the bus agree on it. It is drawn from
// a generator state of its own (the same sequence): the process-wide one
// also deals the RTP SSRCs and the TEI request numbers, and a test must not
// set it back to where it dealt them before.
#include "control/ctrl_service.h"

#include <cstdint>
#include <cstdlib>

class HwTests : public CtrlSrv::Service {
 public:
  static constexpr int bus_first_channel = 8192;
  static constexpr int bus_channels = 128;

  static HwTests& instance();

  HwTests() = default;

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(LGCP::Command const& cmd) override;

 private:
  void Run(LGCP::BpcTestParams const& params);
  // Compares each channel with the pattern; false at the first mismatch,
  // logged with the words of the mode.
  bool Check(const char* failed, const char* expected, const char* read);
  // Starts the pattern afresh from the seed; Pattern gives its next byte.
  void Seed();
  int Pattern();

  int bus_ = 0;
  std::uint32_t first_ = 0;
  std::uint32_t end_ = 0;
  int seed_ = 0;
  // random()'s default state size, so random_r deals random()'s sequence;
  // the generator reads it as 32-bit words.
  alignas(std::int32_t) char state_[128] = {};
  random_data generator_ = {};
};
