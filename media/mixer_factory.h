#pragma once
// Mixer::MixerFactory: makes mixer inputs (`mixerIn`) and outputs
// (`mixerOut`) on the units of the mixer device. Units become known only
// through a resources query: each query enumerates the units the driver
// reports (at most 100), resets the new ones and aborts the slots of those
// that vanished. Channel numbers are checked against the smallest channel
// count of all units (a count past the switch's size is taken as that).
#include "media/mixer.h"
#include "slots/slot_factory.h"

#include <cstddef>
#include <iosfwd>
#include <vector>

namespace Mixer {

class MixerFactory : public SlotFactory {
 public:
  static constexpr std::size_t max_units = 100;
  // Every unit channel is a channel of the switch, which has no more than
  // this many: a larger count can only be a driver fault.
  static constexpr int max_tdm_channels = 10240;
  static constexpr int dpu_per_mixer = 770;
  static constexpr int dpu_per_ec = 17;
  static constexpr int dpu_per_lms = 24;

  static MixerFactory& instance();

  // Deletes the units that have no slot; one with slots is left to them
  // (a dead unit goes with its last slot, a live one stays).
  ~MixerFactory() override;
  const char* GetName() const override { return "Mixer"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  // Enumerates the units anew and lists them in `mixer`.
  void Query(LGCP::Resources& res) override;

  // The live unit of that number, null when none.
  Mixer* findMixer(int unit) const;
  void RefreshResources();
  // The smallest channel and input counts of the units; -1 before any.
  int tdm_channels() const { return tdmChannels; }
  int mixer_inputs() const { return mixerInputs; }
  const std::vector<Mixer*>& units() const { return mixers; }

  // "mixer: ".
  std::ostream& PutHeader(std::ostream& os) const;

 private:
  MixerFactory() = default;

  int mixerInputs = -1;
  int tdmChannels = -1;
  std::vector<Mixer*> mixers;
};

}  // namespace Mixer
