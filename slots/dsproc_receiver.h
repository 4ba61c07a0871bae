#pragma once
// The board's DSP voice-processing unit ("/dev/dsp") per switch time slot:
// voice activity detection (VAD), signal detection (SD), the BSS score, the
// noise gate (NG), muting, receive and transmit delays, receive gain and
// tone filters.
//
// DSProcReceiver is mixed (privately) into every slot with a time slot on
// the unit; it keeps the state and request id of each function and gets the
// events through the dsproc_* operations. DSProcReceiverService is the one
// owner of the device: it issues the requests, hands out request ids and
// dispatches the event records.
#include "schema/lgcp/LGCP.h"
#include "slots/hw_events.h"
#include "slots/unit_service.h"

#include <cstdint>

namespace Hardware {

class DSProcReceiverService;

class DSProcReceiver {
 public:
  DSProcReceiver();
  DSProcReceiver(const DSProcReceiver&) = delete;
  DSProcReceiver& operator=(const DSProcReceiver&) = delete;
  // Leaves the receiver list.
  virtual ~DSProcReceiver();

  virtual void dsproc_vad_event(DSProcVADEvent const& ev) = 0;
  virtual void dsproc_bss_event(::dsproc_bss_event const* ev) = 0;
  virtual void dsproc_sd_event(DSProcSDEvent const& ev) = 0;
  virtual void dsproc_tone_flt_event(::dsproc_tone_event const* ev) = 0;
  virtual void dsproc_flags_event(::dsproc_flags_event const* ev) = 0;
  // The receiver's time slot on the unit.
  virtual std::uint32_t dsproc_timeslot() const = 0;
  // True once the device behind the owning slot is gone while the slot
  // waits for its destroy: its time slot may then be another slot's, whose
  // events these are.
  virtual bool dsproc_retired() const { return false; }

  // True when the request succeeded or was not needed.
  bool configureVAD(LGCP::VADParams const& params);
  bool enableVAD(bool on);
  bool disableVAD() { return enableVAD(false); }
  bool enableBSS(bool on);
  bool disableBSS() { return enableBSS(false); }
  bool enableNG(bool on);
  bool disableNG() { return enableNG(false); }
  bool configureSD();
  bool enableSD(bool on);
  bool disableSD() { return enableSD(false); }
  bool enableMute(bool a, bool b);
  bool disableMute() { return enableMute(false, false); }
  bool configureDelays(std::uint32_t rx, std::uint32_t tx);
  bool configureRxGain(std::int8_t gain_dB);
  // The gain as the controller gives it; refused beyond the request's signed
  // 8-bit field, where 128 dB would be sent as -128 dB and 256 dB as none.
  bool configureRxGain(LGCP::Gain const& g);
  bool configureToneFilter(std::uint16_t freq, std::uint8_t enable, std::uint16_t dur_th_msec,
                           std::int8_t det_lvl_dB);
  // The tone filter as the controller gives it; refused when a value does
  // not fit its field of the request.
  bool configureToneFilter(LGCP::ToneFilter const& f);
  bool disableToneAll();

  // Switches off what this receiver switched on (SD and mute stay); the
  // owning slot calls it before it goes.
  void CleanBeforeDestroy();

 private:
  friend class DSProcReceiverService;

  // Whether this receiver takes `other`'s functions as the time slot's: a
  // live one never takes those of a receiver whose unit vanished (what that
  // unit had on is not what a unit come back under its number has on), so
  // it asks the unit itself and undoes what it asked for.
  bool SharesWith(const DSProcReceiver& other) const { return dsproc_retired() || !other.dsproc_retired(); }

  // States: -1 undetermined, 0 off, positive on.
  std::int32_t vad_state = -1;
  std::uint32_t vad_id = 0;
  std::int32_t bss_state = 0;
  std::uint32_t bss_id = 0;
  std::int32_t ng_state = 0;
  std::uint32_t ng_id = 0;
  std::int32_t sd_state = -1;
  std::uint32_t sd_id = 0;
  std::int32_t mute_a_state = -1;
  std::int32_t mute_b_state = -1;
  std::uint32_t mute_id = 0;
  bool delays_set = false;
  bool gain_set = false;
  // A tone filter was switched on (until the disable-all): of two receivers
  // on one time slot, the tone events are this one's.
  bool tone_filter_set = false;
  UnitReceiverLink<DSProcReceiver> link;
};

class DSProcReceiverService : public UnitService {
 public:
  static DSProcReceiverService& instance();

  bool configureVAD(DSProcReceiver& r, LGCP::VADParams const& params);
  bool enableVAD(DSProcReceiver& r, bool on);
  bool enableBSS(DSProcReceiver& r, bool on);
  bool enableNG(DSProcReceiver& r, bool on);
  bool configureSD(DSProcReceiver& r);
  bool enableSD(DSProcReceiver& r, bool on);
  bool enableMute(DSProcReceiver& r, bool a, bool b);
  bool configureDelays(DSProcReceiver& r, std::uint32_t rx, std::uint32_t tx);
  bool configureRxGain(DSProcReceiver& r, std::int8_t gain_dB);
  bool configureToneFilter(DSProcReceiver& r, std::uint16_t freq, std::uint8_t enable, std::uint16_t dur_th_msec,
                           std::int8_t det_lvl_dB);
  bool disableToneAll(DSProcReceiver& r);

 private:
  DSProcReceiverService();
  // Enable or disable of one function (VAD, SD, BSS, NG).
  bool enable(DSProcReceiver& r, std::int32_t DSProcReceiver::*state_of, std::uint32_t DSProcReceiver::*id_of,
              std::uint32_t code, const char* word, bool on);
  // DSPROC_CONFIGURE with the function's 12 parameter bytes.
  int configure(std::uint32_t ts, std::uint32_t code, const std::uint8_t* params);
  void dispatch(const std::uint8_t* rec) override;
};

}  // namespace Hardware
