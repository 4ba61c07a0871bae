#pragma once
// A test-only slot kind with a time slot on both DSP units: it mixes in the
// tone and voice-processing receivers, serves the driver requests of the
// RTP slot's table that reach them, and turns their events into the
// slot's signals the way the RTP slot does. No slot kind of the server has
// them yet.
//
// Made by ToneProbeFactory from `spi-tdm` parameters while the factory is
// armed (so the other tests of the program keep their factories): the
// `channel` is the slot's time slot on the DSP units.
#include "slots/dsproc_receiver.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"
#include "slots/tonec_receiver.h"

namespace slotstest {

class ToneProbeSlot : public Slot, private Hardware::TonecReceiver, private Hardware::DSProcReceiver {
 public:
  explicit ToneProbeSlot(std::uint32_t timeslot) : timeslot_(timeslot) {}
  ~ToneProbeSlot() override {
    Hardware::TonecReceiver::CleanBeforeDestroy();
    Hardware::DSProcReceiver::CleanBeforeDestroy();
  }

  const char* GetName() const override { return "tone-probe"; }
  int IGetTransmitChannel() override { return static_cast<int>(timeslot_); }
  int IGetReceiveChannel() override { return static_cast<int>(timeslot_); }

  bool Ioctl(LGCP::IoctlParams const& p) override {
    if (p.echoSuppressor_isSelected()) return echoCancel(p.get_echoSuppressor());
    if (p.dtmf_enable_isSelected()) return enableDTMF(p.get_dtmf_enable());
    if (p.dtmf_reject_enable_isSelected()) return enableDTMFReject(p.get_dtmf_reject_enable());
    if (p.activateWaitTone_isSelected()) {
      activateAudibleCall();
      return true;
    }
    if (p.deactivateWaitTone_isSelected()) {
      cancelAudibleCall();
      return true;
    }
    if (p.translateDTMF_isSelected()) return translateDTMF(p.get_translateDTMF());
    if (p.dtmf_params_isSelected()) return configureDTMF(p.get_dtmf_params());
    if (p.vad_enable_isSelected()) return enableVAD(p.get_vad_enable());
    if (p.vad_disable_isSelected()) return disableVAD();
    if (p.vad_params_isSelected()) return configureVAD(p.get_vad_params());
    if (p.sd_enable_isSelected()) return enableSD(p.get_sd_enable());
    if (p.sd_disable_isSelected()) return disableSD();
    if (p.sd_params_isSelected()) return configureSD();
    if (p.rx_gain_isSelected()) {
      configureRxGain(static_cast<std::int8_t>(p.get_rx_gain().get_gainDB().getValue()));
      return true;
    }
    if (p.tone_filter_isSelected()) {
      configureToneFilter(p.get_tone_filter());
      return true;
    }
    if (p.selcal_isSelected()) {
      translateSelcal(p.get_selcal());
      return true;
    }
    return false;
  }

  // Functions no request of the controller reaches on this kind (the RTP
  // radio kinds switch BSS on at create, the mixer's channels take IVA):
  // for the fuzz target of the unit events.
  bool enableBSSAndIVA(bool bss, bool iva) {
    const bool a = !bss || enableBSS(true);
    const bool b = !iva || enableIVA(true);
    return a && b;
  }

 private:
  void tonec_event(Params const& p) override { processTonecEvent(p); }
  std::uint32_t tonec_timeslot() override { return timeslot_; }
  void dsproc_vad_event(Hardware::DSProcVADEvent const& ev) override { processVADEvent(ev); }
  void dsproc_bss_event(::dsproc_bss_event const* ev) override { processBSSEvent(*ev); }
  void dsproc_sd_event(Hardware::DSProcSDEvent const& ev) override { processSDEvent(ev); }
  void dsproc_tone_flt_event(::dsproc_tone_event const* ev) override { processToneFltEvent(*ev); }
  void dsproc_flags_event(::dsproc_flags_event const* ev) override { processFlagsEvent(*ev); }
  std::uint32_t dsproc_timeslot() const override { return timeslot_; }

  std::uint32_t timeslot_;
};

class ToneProbeFactory : public SlotFactory {
 public:
  static ToneProbeFactory& instance() {
    static ToneProbeFactory f;
    return f;
  }
  bool armed = false;
  const char* GetName() const override { return "ToneProbe"; }
  Slot* INewSlot(LGCP::CreateParams const& p) override {
    if (!armed || !p.spi_tdm_isSelected()) return nullptr;
    return new ToneProbeSlot(static_cast<std::uint32_t>(p.get_spi_tdm().get_channel().getValue()));
  }
  void Query(LGCP::Resources&) override {}
};

}  // namespace slotstest
