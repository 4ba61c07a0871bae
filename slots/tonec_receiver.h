#pragma once
// The board's DSP tone unit ("/dev/dtmf") per switch time slot: DTMF and IVA
// detection, DTMF rejection, echo cancelling, dual-tone generation and
// SELCAL sequences.
//
// TonecReceiver is mixed (privately) into every slot with a time slot on the
// unit; it keeps the per-slot detector state, runs the wait-tone cadence and
// the DTMF digit sequence on its own timer, and gets the detections through
// tonec_event. TonecReceiverService is the one owner of the device: it
// issues the requests, hands out request ids and dispatches event records.
#include "runtime/timer.h"
#include "schema/lgcp/LGCP.h"
#include "schema/term/TERM.h"
#include "slots/hw_events.h"
#include "slots/unit_service.h"

#include <cstdint>

namespace Hardware {

class TonecReceiverService;

class TonecReceiver {
 public:
  using Params = TonecEventParams;

  TonecReceiver();
  TonecReceiver(const TonecReceiver&) = delete;
  TonecReceiver& operator=(const TonecReceiver&) = delete;
  // Stops the timer and leaves the receiver list.
  virtual ~TonecReceiver();

  // A detection for this receiver.
  virtual void tonec_event(Params const& p) = 0;
  // The receiver's time slot on the tone unit.
  virtual std::uint32_t tonec_timeslot() = 0;
  // The receiver's unit vanished: while a live receiver holds its time
  // slot, detections are that receiver's.
  virtual bool tonec_retired() const { return false; }
  // A DTMF digit sequence has been sent.
  virtual void tone_gen_complete() {}

  bool configureDTMF(LGCP::DTMFParams const& params);
  bool enableDTMF(bool on);
  bool disableDTMF();
  bool enableDTMFReject(bool on);
  bool echoCancel(bool on);
  bool configureIVA(LGCP::IVAParams const& params);
  bool enableIVA(bool on);

  bool enableToneGenerator(std::uint16_t freq1, std::uint16_t freq2, std::uint16_t amp1, std::uint16_t amp2);
  // The generator at 1000 Hz and 1000 Hz with both amplitudes 0.
  bool enableSilence();
  // Without `force` only a running digit sequence is stopped (false when
  // none runs); the generator is then switched off.
  bool disableToneGenerator(bool force);

  // Sends a digit sequence; during a running one, replaces its remaining
  // digits without restarting the current step. False, and nothing changed,
  // for an amplitude or a frequency beyond 16 bits.
  bool translateDTMF(LGCP::TranslateDtmfParams const& params);
  bool is_inDTMFTransmit() const { return dtmf_transmit; }

  // The wait tone: 1000 ms of 425 Hz, 3000 ms of silence, until cancelled.
  void activateAudibleCall();
  void cancelAudibleCall();

  // False when nothing was dialled (signs too short, an amplitude beyond 16
  // bits, the unit refused).
  bool translateSelcal(TERM::SelcalCommand const& cmd);

  // Switches off what this receiver switched on; the owning slot calls it
  // before it goes.
  void CleanBeforeDestroy();

  // Durations the controller may ask for; others fall back to the default
  // (a wild value would move the loop clock's range check).
  static constexpr int max_duration_ms = 7200000;
  static constexpr int default_duration_ms = 70;
  static constexpr std::uint16_t default_dtmf_amp = 16384;
  static constexpr std::uint16_t audible_call_freq = 425;
  static constexpr std::uint16_t audible_call_amp = 0x800;
  static constexpr unsigned audible_call_on_ms = 1000;
  static constexpr unsigned audible_call_off_ms = 3000;

 private:
  friend class TonecReceiverService;

  // Timer steps.
  void OnPauseFinished();
  void OnToneFinished();
  void OnAudibleCallTone();
  void OnAudibleCallSilence();

  // The DTMF detector is on (kept by the service); DTMF events are
  // delivered only while set and only with the id of its last enable.
  bool tonec_state = false;
  // The IVA detector is on (kept by the service); its events carry no id.
  bool iva_state = false;
  Timer timer;
  bool dtmf_transmit = false;
  // The generator was last left sending (a tone, a digit or silence): the
  // time slot outlives the receiver, so the receiver switches it off when
  // it goes.
  bool generator_on = false;
  std::uint32_t dtmf_id = 0;
  LGCP::TranslateDtmfParams dtmf_digits;
  UnitReceiverLink<TonecReceiver> link;
  bool iva_enabled = false;
  bool dtmf_enabled = false;
  bool dtmf_reject_enabled = false;
};

class TonecReceiverService : public UnitService {
 public:
  static TonecReceiverService& instance();

  bool configureDTMF(std::uint32_t ts, LGCP::DTMFParams const& params);
  bool enableDTMF(TonecReceiver& r, bool on);
  bool echoCancel(std::uint32_t ts, bool on);
  bool enableDTMFReject(std::uint32_t ts, bool on);
  bool enableToneGenerator(std::uint32_t ts, std::uint16_t freq1, std::uint16_t freq2, std::uint16_t amp1,
                           std::uint16_t amp2);
  bool configureIVA(TonecReceiver& r, LGCP::IVAParams const& params);
  bool enableIVA(TonecReceiver& r, bool on);
  bool translateSelcal(TonecReceiver& r, TERM::SelcalCommand const& cmd);

 private:
  TonecReceiverService();
  // A by-value request (the time slot is the argument itself).
  bool simple(std::uint32_t ts, unsigned long request, const char* name, const char* suffix);
  void dispatch(const std::uint8_t* rec) override;
};

}  // namespace Hardware
