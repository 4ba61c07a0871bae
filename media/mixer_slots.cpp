#include "media/mixer_slots.h"

#include "media/mixer_factory.h"
#include "slots/hw_mux.h"
#include "slots/slots.h"

#include <iostream>

namespace Mixer {

namespace {

bool delays(Hardware::DSProcReceiver& r, LGCP::Delays const& d) {
  const int rx = d.rx_isPresent() ? d.get_rx().getValue() : 0;
  const int tx = d.tx_isPresent() ? d.get_tx().getValue() : 0;
  // The unit's delays are unsigned: a negative one would reach it as a
  // delay of some 49 days.
  if (rx < 0 || tx < 0) {
    std::cerr << "mixer: negative delay refused: rx=" << rx << " tx=" << tx << std::endl;
    return false;
  }
  return r.configureDelays(static_cast<std::uint32_t>(rx), static_cast<std::uint32_t>(tx));
}

}  // namespace

// --- both ------------------------------------------------------------------

TdmChannel::~TdmChannel() {
  Hardware::TonecReceiver::CleanBeforeDestroy();
  Hardware::DSProcReceiver::CleanBeforeDestroy();
}

void TdmChannel::StopDTMF() {
  if (!is_inDTMFTransmit()) return;
  enableSilence();
  disableToneGenerator(true);
}

bool TdmChannel::Superseded(bool fed_input_only) const {
  if (!UnitGone()) return false;
  for (Slot* s : MixerFactory::instance().GetSlots()) {
    const auto* c = dynamic_cast<const TdmChannel*>(s);
    if (!c || c == this || c->timeslot != timeslot || c->UnitGone()) continue;
    if (!fed_input_only || (dynamic_cast<const TdmInput*>(c) && c->GetSource())) return true;
  }
  return HeldByOtherKind();
}

bool TdmChannel::HeldByOtherKind() const {
  if (!UnitGone()) return false;
  Slots& slots = Slots::instance();
  for (int n = 0; n < Slots::table_size; ++n) {
    Slot* s = slots.Get(n);
    // Mixer slots are weighed by Superseded and by the output's destroy.
    if (!s || dynamic_cast<const TdmChannel*>(s)) continue;
    if (s->GetReceiveChannel() == timeslot || s->GetTransmitChannel() == timeslot) return true;
  }
  return false;
}

bool TdmChannel::Unheard() const {
  if (!UnitGone()) return false;
  std::cerr << "mixer: unit gone, no tone played on channel " << channel << std::endl;
  return true;
}

std::uint32_t TdmChannel::tonec_timeslot() { return static_cast<std::uint32_t>(timeslot); }
std::uint32_t TdmChannel::dsproc_timeslot() const { return static_cast<std::uint32_t>(timeslot); }
void TdmChannel::dsproc_tone_flt_event(::dsproc_tone_event const* ev) { processToneFltEvent(*ev); }
void TdmChannel::dsproc_flags_event(::dsproc_flags_event const* ev) { processFlagsEvent(*ev); }

// --- input -----------------------------------------------------------------

bool TdmInput::IBeforeDestroy() {
  if (!LineTaken()) HwMux::instance().Disable(timeslot);
  LeaveUnit(*this);
  return true;
}

bool TdmInput::Ioctl(LGCP::IoctlParams const& p) {
  if (Superseded()) return false;
  Hardware::DSProcReceiver& dsp = *this;
  if (p.echoSuppressor_isSelected()) return echoCancel(p.get_echoSuppressor());
  if (p.dtmf_enable_isSelected()) return enableDTMF(p.get_dtmf_enable());
  if (p.dtmf_reject_enable_isSelected()) return enableDTMFReject(p.get_dtmf_reject_enable());
  if (p.translateDTMF_isSelected()) return !Unheard() && translateDTMF(p.get_translateDTMF());
  if (p.dtmf_params_isSelected()) return configureDTMF(p.get_dtmf_params());
  if (p.vad_enable_isSelected()) return enableVAD(p.get_vad_enable());
  if (p.vad_disable_isSelected()) return disableVAD();
  if (p.vad_params_isSelected()) return configureVAD(p.get_vad_params());
  if (p.sd_enable_isSelected()) return enableSD(p.get_sd_enable());
  if (p.sd_disable_isSelected()) return disableSD();
  if (p.sd_params_isSelected()) return configureSD();
  if (p.iva_enable_isSelected()) return enableIVA(p.get_iva_enable());
  if (p.iva_params_isSelected()) return configureIVA(p.get_iva_params());
  // What the DSP refused is answered as refused.
  if (p.rx_gain_isSelected()) return configureRxGain(p.get_rx_gain());
  if (p.tone_filter_isSelected()) return configureToneFilter(p.get_tone_filter());
  if (p.delays_isSelected()) return delays(dsp, p.get_delays());
  return false;
}

void TdmInput::tonec_event(Params const& p) { processTonecEvent(p); }
void TdmInput::dsproc_vad_event(Hardware::DSProcVADEvent const& ev) { processVADEvent(ev); }
void TdmInput::dsproc_bss_event(::dsproc_bss_event const* ev) { processBSSEvent(*ev); }
void TdmInput::dsproc_sd_event(Hardware::DSProcSDEvent const& ev) { processSDEvent(ev); }

// --- output ----------------------------------------------------------------

bool TdmOutput::IBeforeDestroy() {
  // The switch output of this channel is what feeds the unit's input on the
  // same channel: while an input slot holds it, it stays that slot's line
  // (the input disables it when it goes). Inputs of every unit are looked
  // at: a unit that vanished and came back has its old switch channels.
  bool input_holds_it = false;
  for (Slot* s : MixerFactory::instance().GetSlots()) {
    const auto* in = dynamic_cast<const TdmInput*>(s);
    if (in && in->GetTimeslot() == timeslot) input_holds_it = true;
  }
  if (!input_holds_it && !HeldByOtherKind()) HwMux::instance().Disable(timeslot);
  LeaveUnit(*this);
  return true;
}

bool TdmOutput::Ioctl(LGCP::IoctlParams const& p) {
  if (Superseded()) return false;
  Hardware::DSProcReceiver& dsp = *this;
  if (p.translateDTMF_isSelected()) return !Unheard() && translateDTMF(p.get_translateDTMF());
  if (p.dtmf_disable_isSelected()) return disableToneGenerator(false);
  if (p.dtmf_params_isSelected()) return configureDTMF(p.get_dtmf_params());
  if (p.vad_enable_isSelected()) return enableVAD(p.get_vad_enable());
  if (p.vad_disable_isSelected()) return disableVAD();
  if (p.vad_params_isSelected()) return configureVAD(p.get_vad_params());
  if (p.sd_enable_isSelected()) return enableSD(p.get_sd_enable());
  if (p.sd_disable_isSelected()) return disableSD();
  if (p.sd_params_isSelected()) return configureSD();
  if (p.dtmf_reject_disable_isSelected()) return enableDTMFReject(false);
  if (p.iva_enable_isSelected()) return enableIVA(p.get_iva_enable());
  if (p.tone_filter_isSelected()) return configureToneFilter(p.get_tone_filter());
  if (p.tone_gen_enable_isSelected()) {
    LGCP::ToneGenerator const& g = p.get_tone_gen_enable();
    const auto freq = g.get_freq().getValue();
    const auto amp = g.get_amp().getValue();
    // Beyond its 16-bit field a value would sound as another one (65536 as
    // silence): refused, and what plays goes on.
    if (freq < 0 || freq > 0xFFFF || amp < 0 || amp > 0xFFFF) {
      std::cerr << "mixer: tone " << freq << " Hz, amplitude " << amp << " out of range" << std::endl;
      return false;
    }
    if (Unheard()) return false;
    disableToneGenerator(false);
    return enableToneGenerator(static_cast<std::uint16_t>(freq), 0, static_cast<std::uint16_t>(amp), 0);
  }
  if (p.tone_gen_disable_isSelected()) return disableToneGenerator(true);
  if (p.delays_isSelected()) return delays(dsp, p.get_delays());
  return false;
}

void TdmOutput::tonec_event(Params const&) {}
void TdmOutput::tone_gen_complete() { processToneGenEvent(); }
void TdmOutput::dsproc_vad_event(Hardware::DSProcVADEvent const&) {}
void TdmOutput::dsproc_bss_event(::dsproc_bss_event const*) {}
void TdmOutput::dsproc_sd_event(Hardware::DSProcSDEvent const&) {}

}  // namespace Mixer
