#include "media/mixer_factory.h"

#include "platform/mixer.h"
#include "runtime/ext_output.h"

#include <algorithm>
#include <iostream>
#include <ostream>

namespace Mixer {

MixerFactory& MixerFactory::instance() {
  static MixerFactory factory;
  return factory;
}

MixerFactory::~MixerFactory() {
  for (Mixer* m : mixers)
    if (m->GetSlots().empty()) delete m;
}

std::ostream& MixerFactory::PutHeader(std::ostream& os) const { return os << "mixer: "; }

Mixer* MixerFactory::findMixer(int unit) const {
  for (Mixer* m : mixers)
    if (!m->isDead() && m->id() == unit) return m;
  return nullptr;
}

Slot* MixerFactory::INewSlot(LGCP::CreateParams const& params) {
  if (params.mixerOut_isSelected()) {
    LGCP::MixerOutParams const& p = params.get_mixerOut();
    Mixer* m = findMixer(p.get_unit().getValue());
    return m ? m->New(p) : nullptr;
  }
  if (params.mixerIn_isSelected()) {
    LGCP::MixerInParams const& p = params.get_mixerIn();
    Mixer* m = findMixer(p.get_unit().getValue());
    return m ? m->New(p) : nullptr;
  }
  return nullptr;
}

void MixerFactory::RefreshResources() {
  for (Mixer* m : mixers) m->setDead(true);
  std::int32_t rec[mixer::UNIT_INFO_WORDS] = {-1, 0, 0, 0};
  mixerInputs = -1;
  tdmChannels = -1;
  int reset_budget = max_tdm_channels;
  // The cap counts the units of this pass only: units known from before
  // are still listed while they wait for confirmation.
  for (std::size_t reported = 0; reported < max_units; ++reported) {
    if (mixer_ctl(mixer::MIX_UNIT_INFO, rec) < 0) break;
    const int unit = rec[mixer::INFO_UNIT];
    const int inputs = rec[mixer::INFO_MIXER_INPUTS];
    int channels = rec[mixer::INFO_TDM_CHANNELS];
    // Reset sends one request per channel: an absurd count would hold the
    // loop until the watchdog fires. Taken as the most a unit can have.
    if (channels > max_tdm_channels) {
      std::cerr << ext::header(this) << "unit " << unit << " reports " << channels << " TDM channels, taken as "
                << max_tdm_channels << std::endl;
      channels = max_tdm_channels;
    }
    mixerInputs = mixerInputs < 0 ? inputs : std::min(mixerInputs, inputs);
    tdmChannels = tdmChannels < 0 ? channels : std::min(tdmChannels, channels);
    auto known = std::find_if(mixers.begin(), mixers.end(), [&](Mixer* m) { return m->id() == unit; });
    if (known != mixers.end()) {
      (*known)->setDead(false);
    } else {
      Mixer* m = new Mixer(unit);
      mixers.push_back(m);
      // The units share the switch's channels: clears past that many in one
      // pass answer counts no board has, and would hold the loop as long.
      const int clears = std::min(std::max(tdmChannels, 0), reset_budget);
      if (clears < tdmChannels)
        std::cerr << ext::header(this) << "unit " << unit << ": " << tdmChannels - clears
                  << " channels not cleared, the units report more than the switch has" << std::endl;
      reset_budget -= clears;
      m->Reset(clears);
    }
  }
  // Off the list first: a unit without slots deletes itself in Clear.
  std::vector<Mixer*> vanished;
  for (auto it = mixers.begin(); it != mixers.end();) {
    if ((*it)->isDead()) {
      vanished.push_back(*it);
      it = mixers.erase(it);
    } else {
      ++it;
    }
  }
  for (Mixer* m : vanished) m->Clear();
}

void MixerFactory::Query(LGCP::Resources& res) {
  RefreshResources();
  auto& list = res.ref_mixer();
  list.resize(0);
  for (Mixer* m : mixers) {
    LGCP::MixerResources_subtype r;
    r.set_unit(m->id());
    r.set_tdm_inputs(std::max(tdmChannels, 0));
    r.set_tdm_outputs(std::max(tdmChannels, 0));
    r.set_mixer_inputs(std::max(mixerInputs, 0));
    r.set_dpu_per_mixer(dpu_per_mixer);
    r.set_dpu_per_ec(dpu_per_ec);
    r.set_dpu_per_lms(dpu_per_lms);
    list.push_back(r);
  }
}

}  // namespace Mixer
