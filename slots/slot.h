#pragma once
// Slot: one channel that the controller addresses by its LGCP slot number.
// Every kind shares the connection model (one source, any number of
// receivers; streams acquired on first use and released when no longer
// used; the slot with the higher connection priority does the hardware
// work), the life-cycle hooks that the Slots service and the factories
// drive, and the translation of slot events into LGCP signals carrying the
// slot's number.
#include "control/ctrl_server.h"
#include "schema/lgcp/LGCP.h"
#include "slots/hw_events.h"

#include <cstdint>
#include <iosfwd>
#include <list>
#include <string>
#include <vector>

class SlotFactory;
class Slots;

class Slot {
 public:
  Slot();
  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;
  // Frees the receiver list only; the Slots service unlinks a slot before
  // deleting it.
  virtual ~Slot();

  virtual int GetTrunk();
  virtual int GetTrunkTimeSlot();
  // A trunk's status changed (from a factory's SelfSignal).
  virtual void OnTrunkStatus(unsigned trunk, ACP::TrunkState const& state);
  // The slot is registered and the create command answered.
  virtual void IAfterCreate();
  // True: the slot can go now. False: its release is pending and it calls
  // on_release when done.
  virtual bool IBeforeDestroy();
  virtual bool IActivate(TERM::TermActivateParams const& params);
  virtual bool IDeactivate();
  virtual bool IUserData(std::vector<char> const& data);
  virtual bool Ioctl(LGCP::IoctlParams const& params);
  virtual int GetConnectionPriority();
  virtual bool IHwConnectTransmitter(Slot* receiver);
  virtual bool IHwConnectReceiver(Slot* source);
  virtual bool IHwDisconnectTransmitter(Slot* receiver);
  virtual bool IHwDisconnectReceiver(Slot* source);
  // Asked to acquire the transmit stream for a first receiver (false
  // refuses the connection), and the receive stream for a source.
  virtual bool IOnOutputStream();
  virtual bool IOnInputStream();
  virtual void IOnOutputRelease();
  virtual void IOnInputRelease();
  // Cross-connect channels of the transmitted and the received signal.
  virtual int IGetTransmitChannel();
  virtual int IGetReceiveChannel();
  // The kind's short name ("trunk", "map", ...).
  virtual const char* GetName() const = 0;

  int GetTransmitChannel() { return IGetTransmitChannel(); }
  int GetReceiveChannel() { return IGetReceiveChannel(); }

  int GetId() const { return id; }
  SlotFactory* GetSlotFactory() const { return factory; }
  bool GetInputStream() const { return inputStream; }
  bool GetOutputStream() const { return outputStream; }
  bool is_releasing() const { return releasing; }
  Slot* GetSource() const { return source; }
  const std::vector<Slot*>& GetReceivers() const { return receivers; }

  // "07:trunk": the number (two digits at least; "na" before registration,
  // "i" and the number above 1023), a colon and the kind's name.
  void Put(std::ostream& os) const;

  // Signals to the controller, with the slot's number.
  void SendSignal(LGCP::Signal const& sig);
  void OnTonecEvent(LGCP::TonecEvent const& ev);
  void OnNumber(std::string const& digits);
  void OnModem(TERM::ModemProceeding const& p);
  void OnModem(TERM::ModemInformation const& i);
  void OnActivated();
  void OnDeactivated();
  void OnAbort(int cause);
  void OnUserData(std::vector<char> const& data);
  void OnIoctlResponse(LGCP::IoctlResponse const& r);
  void OnRtpRadioEvent(TERM::RtpRadioRequest const& r);
  void OnVADEvent(LGCP::VADEvent const& ev);
  void OnSDEvent(LGCP::SDEvent const& ev);
  void OnRtpEvent(LGCP::RtpEvent const& ev);
  void OnProtoZarnEvent(ZARNGW::ProtoZarnPackets const& p);
  // Announce the receive or transmit stream active or inactive; going
  // inactive first disconnects the source, or every receiver.
  void OnChangeInputStream(bool active);
  void OnChangeOutputStream(bool active);

  // Hardware event translators.
  void processTonecEvent(Hardware::TonecEventParams const& p);
  void processToneGenEvent();
  void processVADEvent(Hardware::DSProcVADEvent const& ev);
  void processSDEvent(Hardware::DSProcSDEvent const& ev);
  void processToneFltEvent(dsproc_tone_event const& ev);
  void processFlagsEvent(dsproc_flags_event const& ev);
  void processBSSEvent(dsproc_bss_event const& ev);
  void processRtpEvent(rtp_event const& ev);

  // Life cycle.
  bool BeforeDestroy();
  // A pending release has finished: the Slots service answers the deferred
  // destroy and deletes the slot. Nothing of the slot may be touched after.
  void on_release();
  void LogicalConnect(Slot* src);
  void LogicalDisconnect();

 protected:
  friend class Slots;
  friend class SlotFactory;

  std::int32_t id;
  std::vector<Slot*> receivers;
  Slot* source;
  SlotFactory* factory;
  bool inputStream;
  bool outputStream;
  bool releasing;
  // The answer a deferred destroy waits for; `releaseAwaited` is false when
  // no destroy command waits (the release behind a slotIdBusy).
  CtrlSrv::DelayedSeq releaseSeq;
  bool releaseAwaited = false;
  // Place in the Slots service's live list.
  std::list<Slot*>::iterator live;
};

std::ostream& operator<<(std::ostream& os, Slot const& s);

// The connection model. Connect: the source's transmitted signal feeds the
// receiver. Disconnect: the receiver loses its source.
bool Connect(Slot* source, Slot* receiver);
bool Disconnect(Slot* receiver);
// The hardware part, done by the slot with the higher priority.
bool llConnect(Slot* source, Slot* receiver);
bool llDisconnect(Slot* receiver);
// Through the cross-connect.
bool MuxConnect(Slot* source, Slot* receiver);
bool MuxDisconnect(Slot* receiver);
// The lines the source feeds go quiet; the links stay for the controller to
// drop. For a slot whose channel the driver takes back while the slot stays:
// the number may go to a new channel, whose traffic a receiver left fed from
// it would get. A receiver that wires its own line, or whose channel was
// wired to something else since, is left to itself.
void MuxQuietenReceivers(Slot* source);
// The line from its source into the slot's channel goes quiet, unless the
// channel was wired to something else since.
void MuxQuietenInput(Slot* slot);
// The line into the slot's channel and the lines out of it go quiet, for the
// same reason.
void MuxQuietenLines(Slot* slot);
// A slot other than `self` is connected on this receive channel: external
// and map slots may name one shared-bus channel, and the line is then the
// connected one's, not the other's to silence or switch off.
bool ReceiveLineHeldByOther(Slot const* self, int channel);
