#include "slots/hw_mux.h"

#include "platform/clock.h"
#include "platform/device.h"
#include "platform/hal.h"
#include "runtime/errno_text.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

HwMux& HwMux::instance() {
  static HwMux mux;
  return mux;
}

HwMux::HwMux() {
  for (auto& s : shadow_) s = shadow_disabled;
  std::clog << "hwMux: init" << std::endl;
  dpc_.Bind(this, &HwMux::OnDPC);
  IsOpened();
}

HwMux::~HwMux() {
  dpc_.Deactivate();
  if (fd_ >= 0) platform::dev_close(fd_);
}

int HwMux::Request(unsigned long request, std::int32_t* words) { return platform::dev_ioctl(fd_, request, words); }

std::uint16_t* HwMux::ShadowOf(int channel) {
  if (channel < shared_first || channel >= shared_first + shared_count) return nullptr;
  return &shadow_[channel - shared_first];
}

bool HwMux::IsOpened() {
  if (fd_ >= 0) return true;
  const int fd = platform::dev_open("/dev/hal", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    const Errno err;
    std::clog << "hwMux: can't open device: " << err << std::endl;
    return false;
  }
  fd_ = fd;
  fed_.clear();
  std::clog << "hwMux: device opened" << std::endl;
  for (int i = 0; i < shared_count; ++i) {
    std::int32_t words[1] = {shared_first + i};
    Request(hal::HAL_MUX_DISABLE, words);
    shadow_[i] = shadow_disabled;
  }
  cursor_ = 0;
  dpc_.Activate();
  // Lets the switch settle before the first request: the whole wait, also
  // when a child's end interrupts it (usleep would return early then).
  platform::sleep_us(500);
  return true;
}

bool HwMux::Connect(int input, int output) {
  if (!IsOpened() || input < 0 || output < 0) {
    std::clog << "hwMux: ERROR not opened" << std::endl;
    return false;
  }
  if (std::uint16_t* s = ShadowOf(output)) *s = static_cast<std::uint16_t>(input);
  std::int32_t words[2] = {output, input};
  if (Request(hal::HAL_MUX_CONNECT, words) < 0) {
    const Errno err;
    fed_.erase(output);
    std::clog << "hwMux: connect " << input << " -> " << output << " failed: " << err << std::endl;
    return false;
  }
  fed_[output] = input;
  return true;
}

bool HwMux::Unfeed(int channel, unsigned long request, std::int32_t* words, std::uint16_t shadow) {
  if (std::uint16_t* s = ShadowOf(channel)) *s = shadow;
  if (Request(request, words) < 0) {
    // The line may still carry its old feed: nothing is known of it now.
    const int err = errno;
    fed_.erase(channel);
    errno = err;
    return false;
  }
  fed_[channel] = -1;
  return true;
}

bool HwMux::Disconnect(int channel) {
  if (!IsOpened() || channel < 0) return false;
  std::int32_t words[2] = {channel, idle_byte};
  if (Unfeed(channel, hal::HAL_MUX_WRITE, words, shadow_driven)) return true;
  const Errno err;
  std::clog << "hwMux: disconnect failed " << channel << " : " << err << std::endl;
  return false;
}

bool HwMux::Disable(int channel) {
  if (!IsOpened() || channel < 0) return false;
  std::int32_t words[1] = {channel};
  if (Unfeed(channel, hal::HAL_MUX_DISABLE, words, shadow_disabled)) return true;
  const Errno err;
  std::clog << "hwMux: disable failed " << channel << " : " << err << std::endl;
  return false;
}

bool HwMux::Write(int channel, int value) {
  if (!IsOpened() || channel < 0) return false;
  std::int32_t words[2] = {channel, value};
  if (Unfeed(channel, hal::HAL_MUX_WRITE, words, shadow_driven)) return true;
  const Errno err;
  std::clog << "hwMux: write failed " << channel << " <- 0x" << std::hex << value << std::dec << " : " << err
            << std::endl;
  return false;
}

int HwMux::Read(int channel) {
  if (!IsOpened() || channel < 0) return 255;
  std::int32_t words[2] = {channel, 255};
  if (Request(hal::HAL_MUX_READ, words) < 0) {
    const Errno err;
    std::clog << "hwMux: read failed " << channel << " -> 0x" << std::hex << words[1] << std::dec << " : " << err
              << std::endl;
    return 255;
  }
  return words[1] & 0xFF;
}

int HwMux::FedFrom(int output) const {
  const auto it = fed_.find(output);
  return it == fed_.end() ? -1 : it->second;
}

bool HwMux::Feeds(int input, int output) const {
  const auto it = fed_.find(output);
  return it == fed_.end() || it->second == input;
}

void HwMux::OnDPC() {
  if (fd_ < 0) return;
  for (int n = 0; n < sweep_step; ++n) {
    cursor_ = (cursor_ + 1) % shared_count;
    if (shadow_[cursor_] == shadow_disabled) {
      std::int32_t words[1] = {static_cast<std::int32_t>(shared_first + cursor_)};
      Request(hal::HAL_MUX_DISABLE, words);
    }
  }
}
