#pragma once
// spiCtrl: the eight basic-rate line framers on the board's SPI bus, reached
// through "/dev/hal". They are set up and enabled when the service is built
// (at start-up, before any controller); while a controller is connected each
// framer's line status is reported once a second as a `trunkStatus` signal
// of type bri. The clock hook makes one framer the clock master, or none.
// A board whose driver has no SPI bus switches the service off for good.
#include "control/ctrl_service.h"
#include "runtime/timer.h"

#include <cstdint>

class spiCtrl : public CtrlSrv::Service {
 public:
  static constexpr int channels = 8;
  static constexpr unsigned int status_period_ms = 1000;
  // Framer registers.
  static constexpr int reg_setup = 0x30;
  static constexpr int reg_disable = 0x32;
  static constexpr int reg_line_status = 0x33;
  static constexpr int reg_setup2 = 0x34;
  static constexpr int reg_clock = 0x57;

  static spiCtrl& instance();

  // Opens the device and sets up every framer. Tests build their own.
  spiCtrl();
  ~spiCtrl() override;

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(LGCP::Command const& cmd) override;

  // A register's value; 0 when SPI is off, the device is not open or the
  // read fails.
  int read(int channel, int reg);
  void write(int channel, int reg, int data);

  void init_channel(int channel);
  void enable_channel(int channel);
  void disable_channel(int channel);
  // -1: no framer is clock master; 0 to 7: that one is.
  void clock(int channel);

  void status();
  void init_device_and_channels();

  bool is_open() const { return fd_ >= 0; }
  int descriptor() const { return fd_; }
  bool spi_enabled() const { return enabled_; }
  bool reporting() const { return timer_.is_running(); }

 private:
  // False (nothing written) when SPI is off or the channel is out of range;
  // otherwise sets up the device first.
  bool Prepare(int channel, int lowest, const char* what);
  // ENODEV: the board has no SPI bus.
  void OnRequestError(int err);

  int fd_ = -1;
  Timer timer_;
  bool enabled_ = true;
  // A slip is reported once per run of the slip bit, per framer: a flag
  // shared by all eight lost one framer's slip behind another's and
  // reported a lasting slip again at every pass.
  bool slip_seen_[channels] = {};
};
