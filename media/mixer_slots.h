#pragma once
// The two slot kinds of a mixer unit channel. An input's receive side is
// the channel's switch channel: a source connected to it feeds the
// conference, and it may be summed into one output's mix (its summator).
// An output's transmit side is the channel's switch channel, carrying the
// mix set when it was created. Both carry the DSP tone and voice-processing
// receivers of their switch channel.
#include "media/mixer.h"
#include "slots/dsproc_receiver.h"
#include "slots/tonec_receiver.h"

namespace Mixer {

// What an input and an output share: the unit channel, its switch channel
// with both DSP receivers on it, and the events both pass on.
class TdmChannel : public MixerSlot, protected Hardware::TonecReceiver, protected Hardware::DSProcReceiver {
 public:
  TdmChannel(Mixer& mixer, int channel, int timeslot) : mixer(mixer), channel(channel), timeslot(timeslot) {}
  ~TdmChannel() override;

  int GetChannel() const { return channel; }
  int GetTimeslot() const { return timeslot; }

 protected:
  friend class Mixer;

  // Silences and stops a DTMF sequence being sent.
  void StopDTMF();
  // The unit vanished and a slot of a live unit holds this switch channel
  // now: the channel's DSP and tone functions are that slot's to set. With
  // fed_input_only, only an input of a live unit that is fed counts; a
  // slot of another kind counts whenever it names the channel.
  bool Superseded(bool fed_input_only = false) const;
  // The unit vanished and a slot of another kind names this switch channel
  // now: the drivers hand a vanished unit's channels out again (to an
  // ATS-QSIG B channel, for one), and the line is that slot's, fed or not.
  bool HeldByOtherKind() const;
  // The unit vanished: a tone or digits played now would sound on a switch
  // channel the unit may hand to a new slot when it returns, and this
  // slot's destroy would then cut that slot's own tone. Logs the refusal.
  bool Unheard() const;

  std::uint32_t tonec_timeslot() override;
  std::uint32_t dsproc_timeslot() const override;
  // A unit that vanished may come back with this switch channel.
  bool dsproc_retired() const override { return UnitGone(); }
  bool tonec_retired() const override { return UnitGone(); }
  // The unit vanished. Once the slot has left the unit (its destroy), the
  // unit may be deleted: the answer is then the one kept when it left,
  // which the clean-up of the slot's DSP receivers still asks for.
  bool UnitGone() const { return left ? gone_when_left : mixer.isDead(); }
  // Leaves the unit (see UnitGone).
  template <class Channel>
  void LeaveUnit(Channel& self) {
    gone_when_left = mixer.isDead();
    left = true;
    mixer.Release(self);
  }
  void dsproc_tone_flt_event(::dsproc_tone_event const* ev) override;
  void dsproc_flags_event(::dsproc_flags_event const* ev) override;

  Mixer& mixer;
  int channel;
  int timeslot;
  bool left = false;
  bool gone_when_left = false;
};

class TdmInput : public TdmChannel {
 public:
  using TdmChannel::TdmChannel;

  // Disables the switch channel and leaves the unit; always at once.
  bool IBeforeDestroy() override;
  bool Ioctl(LGCP::IoctlParams const& params) override;
  // A receiver only (an input is never a source), and none once the line
  // is another input's.
  bool IOnInputStream() override { return !LineTaken(); }
  // None once the line is another input's (LineTaken): connecting and
  // disconnecting this slot then leave the switch channel alone.
  int IGetReceiveChannel() override { return LineTaken() ? -1 : timeslot; }
  const char* GetName() const override { return "mixer tdm input"; }

  bool HasSummator() const { return summatorSet; }
  int GetSummator() const { return summator; }

 private:
  friend class Mixer;

  void tonec_event(Params const& p) override;
  void dsproc_vad_event(Hardware::DSProcVADEvent const& ev) override;
  void dsproc_bss_event(::dsproc_bss_event const* ev) override;
  void dsproc_sd_event(Hardware::DSProcSDEvent const& ev) override;

  // A unit the driver stopped reporting may come back under its number
  // while this slot, aborted with it, waits for its destroy: the switch
  // channel is then the new unit's, and once an input of that unit is fed
  // on it (or a slot of another kind names it), this slot must neither cut
  // nor take over that line.
  bool LineTaken() const { return Superseded(true); }

  bool summatorSet = false;
  // The output whose mix this input was added to; -1 when none.
  int summator = -1;
};

class TdmOutput : public TdmChannel {
 public:
  using TdmChannel::TdmChannel;

  // Disables the switch channel, unless the input on the same unit channel
  // receives on it, and leaves the unit; always at once.
  bool IBeforeDestroy() override;
  bool Ioctl(LGCP::IoctlParams const& params) override;
  // A source only: an output is never a receiver.
  bool IOnOutputStream() override { return true; }
  int IGetTransmitChannel() override { return timeslot; }
  const char* GetName() const override { return "mixer tdm output"; }

 private:
  void tonec_event(Params const& p) override;
  void tone_gen_complete() override;
  void dsproc_vad_event(Hardware::DSProcVADEvent const& ev) override;
  void dsproc_bss_event(::dsproc_bss_event const* ev) override;
  void dsproc_sd_event(Hardware::DSProcSDEvent const& ev) override;
};

}  // namespace Mixer
