#pragma once
// The radio control of a radio RTP slot: it holds the header-extension
// session on "/dev/rtp_ext" through which the radio signalling of the
// slot's voice stream comes and goes (one payload per read and per write),
// filters received payloads by source address while one source holds
// push-to-talk, and runs a periodic status timer. The protocol controls
// (ED-137, Zarn) derive from it and decode and encode the payloads; the
// owning slot sees the control through IRadioController and the setters
// below, and is called back through IRadioControlNotify.
#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/timer.h"
#include "schema/term/TERM.h"
#include "slots/rtp_records.h"

#include <netinet/in.h>

#include <cstdint>
#include <string>

namespace RTPSignalling {

// "/dev/rtp_ext".
const char* GetRtpExtDevName();

// What a control reports to its owner.
class IRadioControlNotify {
 public:
  virtual ~IRadioControlNotify() {}
  // A radio event for the controller.
  virtual void RadioControlNotify(TERM::RtpRadioRequest const&) {}
  // An abort cause for the controller.
  virtual void RadioControlNotify(int) {}
};

// The owner's view of a control.
class IRadioController {
 public:
  virtual ~IRadioController() {}
  // The radio status given at creation; true when handled.
  virtual bool SendASNToChan(TERM::RadioStatus const&) { return false; }
  // A radio request of the controller (the ioctl "rtpExt"); the ioctl's
  // result.
  virtual bool SendASNToChan(TERM::RadioModifier const&) { return false; }
  // True while the radio state says squelch open.
  virtual bool GetSQU() { return false; }
};

// The control's own hooks, called by its descriptor event and timer.
class IRadioIntController {
 public:
  virtual ~IRadioIntController() {}
  virtual void OnRtpExtEvent(int, short) {}
  // The periodic work; returns the delay until the next call.
  virtual unsigned long ProcessRadioStatus(unsigned long /*now*/, unsigned long interval) { return interval; }
};

class RadioControl : public IRadioController, public IRadioIntController {
 public:
  enum RadioControlType {
    // Own header-extension session attached to the RTP session named by an
    // rtp_ext_attach_session_params.
    own_session = 0,
    // Attached to an existing RTP session through the RTP device.
    rtp_session = 1,
    // Header-extension session set up but not attached.
    unattached = 2,
  };
  enum RadioControlMode { gateway = 0, workstation = 1 };

  RadioControl(int id, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
  explicit RadioControl(rtp_ext_init_params const& init);
  RadioControl(int id, Fd rtp, rtp_attach_session_params const& attach);
  // Closes both descriptors, releases the event and cancels the timer; the
  // owner detaches (RtpExtStop) first.
  ~RadioControl() override;
  RadioControl(const RadioControl&) = delete;
  RadioControl& operator=(const RadioControl&) = delete;

  bool SendASNToChan(TERM::RadioStatus const&) override { return false; }
  bool SendASNToChan(TERM::RadioModifier const&) override { return false; }
  bool GetSQU() override { return false; }
  void OnRtpExtEvent(int fd, short revents) override;
  unsigned long ProcessRadioStatus(unsigned long, unsigned long interval) override { return interval; }

  // Opens (types 0 and 2, the latter only when `initial`) or attaches
  // (type 1) the session; false after logging the failed step.
  bool RtpExtStart(bool initial);
  // Type 0: detaches and closes the session. Always true.
  bool RtpExtStop();
  // The owner's RTP session from now on (after a codec restart a new one):
  // a type-0 session attaches to it, a type-1 control attaches through it
  // (keeping a duplicate, so the old session is let go).
  void SetRtpSession(int fd);

  // "rtp_ext[ID] TIME:", or "rtp_ext TIME:" for type 2.
  const std::string& GetPrefix();

  void Bind(IRadioControlNotify* n) { notify = n; }
  void UnBind() { notify = nullptr; }
  void SetDebug(bool on) { debug = on; }
  void SetTimerInterval(unsigned long ms) { interval = ms; }
  void SetTimerEnable(bool on);
  void SetRadioControlMode(RadioControlMode m) { mode = m; }
  // The push-to-talk source filter; always 0.
  int UpdateAccess(bool ptt, in_addr holder);
  void OnProcessStatus(Timer*);

  RadioControlType GetType() const { return type; }
  RadioControlMode GetMode() const { return mode; }
  unsigned long GetTimerInterval() const { return interval; }
  bool IsTimerEnabled() const { return timerEnabled; }
  bool IsDebug() const { return debug; }
  bool HasSession() const { return extFd.is_valid(); }
  const rtp_ext_init_params& GetInitParams() const { return init; }
  const rtp_ext_attach_session_params& GetExtAttachParams() const { return ext_attach; }
  const rtp_attach_session_params& GetAttachParams() const { return attach; }

  // Diagnostic counters of the subclasses' receive and send paths.
  struct Counters {
    std::uint32_t announced = 0;    // payloads announced by RTP_EXT_GET_SOURCE
    std::uint32_t decoded = 0;
    std::uint32_t written = 0;
    std::uint32_t bytesRead = 0;
    std::uint32_t bytesWritten = 0;
    std::int32_t packError = 0;     // last result below 1 of packing
    std::int32_t unpackError = 0;   // last non-zero result of unpacking
    std::int32_t sourceErrno = 0;
    std::int32_t readErrno = 0;
    std::int32_t writeErrno = 0;
  };
  const Counters& GetCounters() const { return counters; }

 protected:
  void Init(RadioControlType t);
  // Writes the prefix and the text as one line on the error stream.
  void LogError(const char* text);

  RadioControlType type = own_session;
  Fd rtpFd;
  Fd extFd;
  Event event;
  Timer timer;
  rtp_attach_session_params attach = {-1, -1};
  rtp_ext_attach_session_params ext_attach = {-1, -1};
  rtp_ext_init_params init = {};
  rtp_ext_source_info source = {};
  RadioControlMode mode = gateway;
  Counters counters;
  std::uint32_t lastProcessing = 0;
  unsigned long interval = 1000;
  int id = 0;
  bool debug = false;
  bool timerEnabled = false;
  bool filterActive = false;
  rtp_ext_filter filter = {0, 0};
  IRadioControlNotify* notify = nullptr;
  std::string prefix;

 private:
  // Opens "/dev/rtp_ext" and sets it up (and attaches it when asked) into
  // extFd, watched for input.
  bool OpenSession(bool attachIt);
};

}  // namespace RTPSignalling
