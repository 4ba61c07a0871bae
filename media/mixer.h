#pragma once
// The board's conference mixer ("/dev/mixer"): one or more units, each with
// a number of TDM channels. Every unit channel is an input (its signal can
// be added into mixes) and an output (it carries a weighted sum of inputs),
// and is reached on the cross-connect under a switch channel of its own.
//
// Mixer::Mixer is one unit as the server knows it: it makes the unit's
// slots (Mixer::TdmInput, Mixer::TdmOutput in mixer_slots.h), keeps them
// in creation order and undoes their mix state when they go. A unit the
// driver no longer reports is `dead`: its slots are aborted, and it lives
// on until the last of them is destroyed.
#include "schema/lgcp/LGCP.h"
#include "slots/slot.h"

#include <cstdint>
#include <iosfwd>
#include <list>

namespace Mixer {

// Opens the device, issues one request, closes the device; the request's
// result with errno kept across the close, -1 when the device does not
// open. The mixer device is never held open.
int mixer_ctl(unsigned long request, void* arg);

// A unit channel as the driver names it.
struct mix_slot {
  std::int32_t dev_no = 0;
  std::int32_t type = 0;
  std::int32_t number = 0;
};

// The weight of a summator input and of an output's own channel.
constexpr std::int32_t full_weight = 32767;

// Base of the two mixer slot kinds.
class MixerSlot : public Slot {};

class TdmInput;
class TdmOutput;

class Mixer {
 public:
  explicit Mixer(int id);
  Mixer(const Mixer&) = delete;
  Mixer& operator=(const Mixer&) = delete;
  ~Mixer();

  // A new slot of this unit, or null (bad channel, failed request).
  MixerSlot* New(LGCP::MixerInParams const& params);
  MixerSlot* New(LGCP::MixerOutParams const& params);
  // Undoes what the slot set up in the unit and lets it leave; may delete
  // this unit (dead, and that was its last slot).
  void Release(TdmInput& in);
  void Release(TdmOutput& out);

  // Empties the mixes of outputs 0 to `channels` - 1 (a newly found unit).
  void Reset(int channels);
  // The driver no longer reports the unit: every slot gets abort 0; the
  // unit deletes itself when it has no slot.
  void Clear();

  // The channel as the driver names it; false unless a TDM channel.
  bool Channel2Slot(LGCP::MixerChannel const& channel, mix_slot& slot) const;
  // Empties the mix of the output.
  bool ClearTX(LGCP::MixerChannel const& channel);
  // Sets the output's mix from the parameters (its own channel at full
  // weight when no input is given).
  bool SetTX(LGCP::MixerOutParams const& params);
  // The switch channel of a unit channel; -1 on failure.
  int channel2timeslot(int channel);

  void Register(MixerSlot* slot);
  // Removes the slot; may delete this unit.
  void UnRegister(MixerSlot* slot);
  // Deletes this unit when it is dead and has no slot; true when it did.
  bool CheckForDestroy();

  int id() const { return id_; }
  bool isDead() const { return dead; }
  void setDead(bool d) { dead = d; }
  const std::list<MixerSlot*>& GetSlots() const { return slots; }

  // "mixer [" id "]: ".
  std::ostream& PutHeader(std::ostream& os) const;

 private:
  // A unit channel of this unit.
  mix_slot tdm(int channel) const;
  int add(mix_slot const& rx, mix_slot const& tx, std::int32_t weight);
  // True (and logged) when a live slot of that kind holds the unit channel.
  template <class Kind>
  bool Taken(int channel) const;

  int id_;
  bool dead = false;
  std::list<MixerSlot*> slots;
};

}  // namespace Mixer
