#pragma once
// HwMux: the board's TDM cross-connect, driven through "/dev/hal". Each
// output channel is fed from one input, driven with a constant byte, or
// disabled. Channel numbers: E1 trunk n time slot t is 32n+t, BRI trunk n
// channel t is 4n+t, echo bus b channel c is 32b+c, shared bus b time slot
// t is 8192+128b+t.
//
// The 2048 shared-bus channels (8192..10239) have a shadow of what each was
// last told; they are all disabled when the device opens, and a sweep run
// from a deferred call keeps the disabled ones disabled (128 channels per
// run, so a full pass takes 16 runs). Other channels go to the driver as
// they are.
#include "runtime/dpc.h"

#include <cstdint>
#include <unordered_map>

class HwMux {
 public:
  static constexpr int shared_first = 8192;
  static constexpr int shared_count = 2048;
  static constexpr int sweep_step = 128;
  static constexpr std::uint16_t shadow_disabled = 0xFFFF;
  static constexpr std::uint16_t shadow_driven = 0xFFFE;
  // The A-law idle code, carried by a disconnected output.
  static constexpr int idle_byte = 0xD5;

  // The one cross-connect of the process, built on first use.
  static HwMux& instance();

  // Logs "hwMux: init" and opens the device. Tests build their own.
  HwMux();
  ~HwMux();
  HwMux(const HwMux&) = delete;
  HwMux& operator=(const HwMux&) = delete;

  // Opens the device when it is not open yet; a failed open is tried again
  // by the next call.
  bool IsOpened();
  // Feeds `output` from `input`.
  bool Connect(int input, int output);
  // Drives the idle byte onto the channel.
  bool Disconnect(int channel);
  bool Disable(int channel);
  bool Write(int channel, int value);
  // The byte on the channel; 255 on failure.
  int Read(int channel);
  // The input this process last fed `output` from; -1 when it last drove
  // or disabled it, never told it, or the request failed: whoever wired a
  // line can tell whether it is still theirs before quietening it.
  int FedFrom(int output) const;
  // False when `output` was last told to carry something other than
  // `input`; true also when nothing is known of it.
  bool Feeds(int input, int output) const;

  // One run of the sweep.
  void OnDPC();

  // For tests: the shadow entry of a shared-bus channel index (0..2047) and
  // the sweep cursor.
  std::uint16_t shadow(int index) const { return shadow_[index]; }
  unsigned cursor() const { return cursor_; }
  bool is_open() const { return fd_ >= 0; }

 private:
  // The shadow entry of a shared-bus channel, null for any other channel.
  std::uint16_t* ShadowOf(int channel);
  int Request(unsigned long request, std::int32_t* words);
  // Sends a request that leaves the channel fed from no input (driven or
  // disabled) and records it so; a refused request leaves the record
  // unknown. The shadow takes `shadow` either way: the sweep keeps after
  // what the channel was told. errno is the request's on failure.
  bool Unfeed(int channel, unsigned long request, std::int32_t* words, std::uint16_t shadow);

  int fd_ = -1;
  std::uint16_t shadow_[shared_count];
  // What each output was last told to carry: the input it is fed from, or
  // -1 when driven or disabled. No entry: never told, or the request failed.
  std::unordered_map<int, int> fed_;
  unsigned cursor_ = 0;
  Dpc dpc_;
};
