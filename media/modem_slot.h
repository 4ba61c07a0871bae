#pragma once
// Modem slots: one dial-in or dial-out data call each, carried by an
// outside program (pppd, or a fax program) that the slot starts and stops.
// DspModemSlot runs the call on a DSP modem of "/dev/mctl" and its tty
// "/dev/mdm%d"; HdlcModemSlot on a point-to-point "hdlc%d" interface.
#include "runtime/child_wait.h"
#include "runtime/errno_text.h"
#include "runtime/fd.h"
#include "runtime/timer.h"
#include "slots/slot.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

struct ifreq;

class ModemSlot : public Slot {
 public:
  // pppd and the fax program get at most this many texts of `execargs`.
  static constexpr std::size_t max_execargs = 62;
  static constexpr unsigned int terminate_timeout_ms = 5000;

  explicit ModemSlot(TERM::ModemParams const& params);
  ~ModemSlot() override;

  bool IBeforeDestroy() override;
  bool IActivate(TERM::TermActivateParams const& params) override;
  const char* GetName() const override { return "generic-modem"; }
  virtual std::int32_t modem_id() const = 0;
  virtual void unbind() = 0;

  // A slot without an authentication session (a DSP modem not set up yet,
  // whose -1 is also the session of every digital-data call) has nobody
  // asking on the link: it neither takes records nor sends answers.
  virtual bool has_auth_session() const { return true; }
  bool EqAuthId(std::int32_t id) const { return has_auth_session() && modem_id() == id; }
  void OnAuth(const unsigned char* rec);
  void OnAuthRequest(const unsigned char* rec);
  void OnAcctInformation(const unsigned char* rec);

  void PutHeader(std::ostream& os) const;
  bool pppd_executing() const { return pid != -1; }

 protected:
  void pppd_exec(const std::string& device, const char* options);
  // The controller's program arguments, as many as a program takes.
  void append_execargs(std::vector<std::string>& args) const;
  // Starts the program (see start_child); on failure the call is aborted
  // and -1 returned.
  pid_t spawn(const std::vector<std::string>& args, unsigned sleep_s, const char* banner,
              int* exec_error = nullptr);
  // The line with the error text, and the call aborted with it.
  void abort_on(const char* text, const Errno& e);
  void send_auth(const unsigned char* rec) const;
  void pppd_kill();
  void on_terminate(int status);
  void on_fax_terminate(int status);
  void on_terminate_timeout();
  // Ends a pending destroy: back to the factory, then released (the slot
  // is deleted; nothing of it may be touched after).
  void complete_release();

  TERM::ModemParams params;
  std::int32_t pid = -1;
  ChildWait childWait;
  Timer terminateTimer;
  // The fax program of the running child could not be executed.
  bool fax_not_run = false;
};

class DspModemSlot : public ModemSlot {
 public:
  explicit DspModemSlot(TERM::ModemParams const& params) : ModemSlot(params) {}
  ~DspModemSlot() override;

  void IAfterCreate() override {}
  bool IOnOutputStream() override;
  bool IOnInputStream() override;
  int IGetTransmitChannel() override { return timeslot; }
  int IGetReceiveChannel() override { return timeslot; }
  const char* GetName() const override { return "dsp-modem"; }
  std::int32_t modem_id() const override { return modem; }
  bool has_auth_session() const override { return modem >= 0; }
  void unbind() override;

 private:
  void InitModem();
  void RunFaxReceiver();
  void RunFaxTransfer();

  Fd device;
  std::int32_t timeslot = -1;
  std::int32_t modem = -1;
};

class HdlcModemSlot : public ModemSlot {
 public:
  HdlcModemSlot(TERM::ModemParams const& params, const std::string& name) : ModemSlot(params), name(name) {}
  ~HdlcModemSlot() override;

  void IAfterCreate() override {}
  bool IOnOutputStream() override;
  bool IOnInputStream() override;
  int IGetTransmitChannel() override { return channel; }
  int IGetReceiveChannel() override { return channel; }
  const char* GetName() const override { return "digital-modem"; }
  std::int32_t modem_id() const override { return -1; }
  void unbind() override;
  const std::string& deviceName() const { return name; }

 private:
  void initModem();
  // Interface down, back to raw HDLC.
  void set_idle();
  int interface_request(ifreq& r) const;

  std::int32_t channel = -1;
  std::string name;
};
