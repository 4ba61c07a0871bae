#pragma once
// Simulated board drivers. Each device path may have a model; every open of
// the path gives the caller one end of a SOCK_SEQPACKET socket pair (so poll
// works and one read is one record), and the model keeps the other end to
// deliver records. Writes and ioctls reach the model synchronously; the
// descriptor is recognised through its socket inode, so duplicates work too.
// A read (write) through the device calls on a descriptor opened write-only
// (read-only) fails with EBADF, as the kernel refuses it.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {
namespace sim {

class DeviceModel {
 public:
  // One open of the device.
  struct Channel {
    int user_fd = -1;    // given to the caller (the caller owns it)
    int driver_fd = -1;  // the model's end
    ino_t ino = 0;
    int flags = 0;
  };

  virtual ~DeviceModel();

  // errno to fail the next opens with; 0 lets them succeed.
  int fail_open = 0;
  // The errno that fails this open (0: it succeeds); asked once per open.
  // The default is fail_open; models with counted failures override it.
  virtual int open_error() { return fail_open; }

  // Hooks of the driver; the defaults accept writes, read the user end and
  // refuse ioctls with ENOTTY.
  virtual ssize_t on_write(Channel& ch, const void* buf, size_t len);
  virtual ssize_t on_read(Channel& ch, int fd, void* buf, size_t len);
  virtual int on_ioctl(Channel& ch, unsigned long request, void* arg);
  virtual void on_open(Channel& ch);
  virtual void on_close(Channel& ch);

  // Told after each read of one of this model's channels with what the
  // read answered (errno kept), so a test can refill a source as fast as
  // it is read; empty for none.
  std::function<void(Channel&, ssize_t)> after_read;

  // Queues one record for the caller to read on the given channel (all
  // open channels when null). Returns false when no channel took it.
  bool deliver(const void* buf, size_t len, Channel* ch = nullptr);

  // Open channels, oldest first; a channel is dropped once the caller has
  // closed every descriptor of it.
  std::vector<Channel*> channels();

 private:
  friend struct Registry;
  friend int add_channel(DeviceModel&, std::unique_ptr<Channel>);
  std::vector<std::unique_ptr<Channel>> open_;
};

// Installs the models of the simulated board's devices, then builds the
// board's complement from the file at complement_path under the board root
// when there is one: one control-socket request per line (blank lines and
// lines starting with '#' skipped), run in order; a request answered with
// an error is written to the error stream. Without the file the board has
// its default complement.
//
//   # no basic-rate module: the SPI bus answers ENODEV
//   hal fail spi-read 19
//   # no fourth E1 framer
//   e1 status 3 error 19
//   cas trunks 3
//   # one mixer unit; no voice-processing unit
//   mixer add 0 32 64
//   devices absent /dev/dsp
void install_default_models();
extern const char complement_path[];
// install_default_models once, before the first device, interface or
// socket of the board is used.
void board_ready();

// Registers, from a model's own source file, a function that installs the
// model; install_default_models runs every registered one.
struct DefaultModel {
  explicit DefaultModel(void (*install)());
};

// A switch channel that a driver hands out (an HDLC-controller channel, an
// RTP channel, a B channel, a mixer unit's channel) names one channel of the
// cross-connect: no two drivers hand out the same number. Each model that
// holds such channels registers what it holds now; the models that hand
// them out skip every number that any model holds.
struct SwitchChannelHolder {
  explicit SwitchChannelHolder(std::function<bool(int channel)> holds);
};
bool switch_channel_held(int channel);

// Installs the model of a device path (replacing one installed before);
// null removes it.
void install(const std::string& path, std::shared_ptr<DeviceModel> model);
std::shared_ptr<DeviceModel> model(const std::string& path);

// The one model of type M, made and installed at the path on the first call.
template <class M>
M& installed_model(const std::string& path) {
  static std::shared_ptr<M> m = [&path] {
    auto made = std::make_shared<M>();
    install(path, made);
    return made;
  }();
  return *m;
}

}  // namespace sim
}  // namespace platform
