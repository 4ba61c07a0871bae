#include "media/mixer.h"

#include "media/mixer_factory.h"
#include "media/mixer_slots.h"
#include "platform/device.h"
#include "platform/mixer.h"
#include "runtime/errno_text.h"
#include "runtime/ext_output.h"
#include "slots/device_names.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <vector>

namespace Mixer {

int mixer_ctl(unsigned long request, void* arg) {
  const int fd = platform::dev_open(GetMixerDevName(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  const int r = platform::dev_ioctl(fd, request, arg);
  const int e = errno;
  platform::dev_close(fd);
  errno = e;
  return r;
}

namespace {

// Records go to the driver word by word in the machine's byte order.
void put_slot(std::int32_t* words, mix_slot const& s) {
  words[mixer::SLOT_DEV_NO] = s.dev_no;
  words[mixer::SLOT_TYPE] = s.type;
  words[mixer::SLOT_NUMBER] = s.number;
}

int slot_request(unsigned long request, mix_slot const& s) {
  std::int32_t words[mixer::MIX_SLOT_WORDS];
  put_slot(words, s);
  return mixer_ctl(request, words);
}

int record_request(unsigned long request, mix_slot const& rx, mix_slot const& tx, std::int32_t weight) {
  std::int32_t words[mixer::MIX_RECORD_WORDS];
  put_slot(words + mixer::RECORD_RX, rx);
  put_slot(words + mixer::RECORD_TX, tx);
  words[mixer::RECORD_WEIGHT] = weight;
  return mixer_ctl(request, words);
}

// A valid TDM channel number of the units, or -1.
int tdm_channel(LGCP::MixerChannel const& ch) {
  if (!ch.tdm_isSelected()) return -1;
  const int c = ch.get_tdm().getValue();
  if (c < 0 || c >= MixerFactory::instance().tdm_channels()) return -1;
  return c;
}

}  // namespace

Mixer::Mixer(int id) : id_(id) {}

Mixer::~Mixer() = default;

std::ostream& Mixer::PutHeader(std::ostream& os) const { return os << "mixer [" << id_ << "]: "; }

mix_slot Mixer::tdm(int channel) const {
  mix_slot s;
  s.dev_no = id_;
  s.type = mixer::TYPE_TDM;
  s.number = channel;
  return s;
}

int Mixer::add(mix_slot const& rx, mix_slot const& tx, std::int32_t weight) {
  const int r = record_request(mixer::MIX_RX_ADD, rx, tx, weight);
  if (r < 0) {
    const Errno e;
    std::cerr << ext::header(this) << "MIX_RX_ADD" << " fail : " << e << std::endl;
  }
  return r;
}

template <class Kind>
bool Mixer::Taken(int channel) const {
  for (MixerSlot* s : slots) {
    auto* k = dynamic_cast<Kind*>(s);
    if (k && k->channel == channel) {
      std::cerr << ext::header(this) << "channel " << channel << " already held by slot " << *k << std::endl;
      return true;
    }
  }
  return false;
}

MixerSlot* Mixer::New(LGCP::MixerInParams const& params) {
  const int channel = tdm_channel(params.get_channel());
  if (channel < 0) return nullptr;
  // One input per unit channel: a second would take over the first's switch
  // channel and disable it when it goes.
  if (Taken<TdmInput>(channel)) return nullptr;
  const int timeslot = channel2timeslot(channel);
  if (timeslot < 0) return nullptr;
  TdmInput* in = new TdmInput(*this, channel, timeslot);
  if (params.summator_isPresent()) {
    LGCP::MixerChannel const& sum = params.get_summator();
    if (sum.tdm_isSelected()) {
      // An input its summator refused would be answered as made and be
      // heard nowhere: no slot.
      if (add(tdm(sum.get_tdm().getValue()), tdm(channel), full_weight) < 0) {
        delete in;
        return nullptr;
      }
      in->summatorSet = true;
      in->summator = sum.get_tdm().getValue();
    } else {
      // Only a TDM channel of the unit can sum the input; anything else
      // would name an output that does not exist. The input is made, but
      // left out of every mix.
      std::cerr << ext::header(this) << "wrong summator coding !" << std::endl;
    }
  }
  if (params.ecm_isPresent()) {
    LGCP::EchoCancelMode const& ecm = params.get_ecm();
    if (!in->echoCancel(ecm.get_ec() || ecm.get_es())) {
      // Refused like a summator that failed: nothing of it stays in a mix.
      if (in->summator >= 0)
        record_request(mixer::MIX_RX_REMOVE, tdm(in->summator), tdm(channel), 0);
      delete in;
      return nullptr;
    }
  }
  Register(in);
  return in;
}

MixerSlot* Mixer::New(LGCP::MixerOutParams const& params) {
  // The channel first: a bad one must not reach the driver's mixes.
  const int channel = tdm_channel(params.get_channel());
  if (channel < 0) return nullptr;
  // One output per unit channel: a second would replace the first's mix,
  // and either one's release would empty it under the other.
  if (Taken<TdmOutput>(channel)) return nullptr;
  const int timeslot = channel2timeslot(channel);
  if (timeslot < 0) return nullptr;
  if (!SetTX(params)) {
    // No slot will own what was added before the failure.
    ClearTX(params.get_channel());
    return nullptr;
  }
  TdmOutput* out = new TdmOutput(*this, channel, timeslot);
  Register(out);
  return out;
}

bool Mixer::SetTX(LGCP::MixerOutParams const& params) {
  if (!ClearTX(params.get_channel())) return false;
  mix_slot rx;
  if (!Channel2Slot(params.get_channel(), rx)) return false;
  auto const& inputs = params.get_inputs();
  if (inputs.size() == 0) return add(rx, rx, full_weight) >= 0;
  for (LGCP::MixerInput const& in : inputs) {
    mix_slot tx;
    if (!Channel2Slot(in.get_channel(), tx)) {
      std::cerr << ext::header(this) << "SetTX error: translation fail [2]" << std::endl;
      return false;
    }
    if (add(rx, tx, in.get_gain().getValue()) < 0) return false;
  }
  return true;
}

bool Mixer::ClearTX(LGCP::MixerChannel const& channel) {
  mix_slot s;
  if (!Channel2Slot(channel, s)) {
    std::clog << ext::header(this) << "ClearTX error: translation fail" << std::endl;
    return false;
  }
  if (slot_request(mixer::MIX_RX_CLEAR, s) < 0) {
    const Errno e;
    std::cerr << ext::header(this) << "MIX_RX_CLEAR" << " dev_no=" << s.dev_no << " type=" << s.type
              << " number=" << s.number << " fail : " << e << std::endl;
    return false;
  }
  return true;
}

bool Mixer::Channel2Slot(LGCP::MixerChannel const& channel, mix_slot& slot) const {
  slot.dev_no = id_;
  if (!channel.tdm_isSelected()) return false;
  slot.type = mixer::TYPE_TDM;
  slot.number = channel.get_tdm().getValue();
  return true;
}

int Mixer::channel2timeslot(int channel) {
  const mix_slot s = tdm(channel);
  const int r = slot_request(mixer::MIX_TDM, s);
  if (r >= 0) return r;
  const Errno e;
  std::cerr << ext::header(this) << "MIX_TDM" << " dev_no=" << s.dev_no << " type=" << s.type
            << " number=" << s.number << " fail : " << e << std::endl;
  return -1;
}

void Mixer::Release(TdmInput& in) {
  in.StopDTMF();
  // A unit the driver no longer reports has nothing to undo, and its number
  // may already belong to a unit found later.
  if (in.summator >= 0 && !dead) {
    // The weight means nothing to a removal; it goes as 0.
    if (record_request(mixer::MIX_RX_REMOVE, tdm(in.summator), tdm(in.channel), 0) < 0) {
      const Errno e;
      std::cerr << ext::header(this) << "MIX_RX_REMOVE" << " rx.number=" << in.summator
                << " tx.number=" << in.channel << " fail : " << e << std::endl;
    }
  }
  UnRegister(&in);
}

void Mixer::Release(TdmOutput& out) {
  out.StopDTMF();
  if (!dead) {
    std::clog << ext::header(this) << "clear tdm output " << out.channel << std::endl;
    slot_request(mixer::MIX_RX_CLEAR, tdm(out.channel));
  }
  UnRegister(&out);
}

void Mixer::Reset(int channels) {
  std::clog << ext::header(this) << "clear all inputs" << std::endl;
  int failures = 0;
  for (int c = 0; c < channels; ++c)
    if (slot_request(mixer::MIX_RX_CLEAR, tdm(c)) < 0) ++failures;
  if (failures) std::cerr << ext::header(this) << "reset fail: " << failures << " errors." << std::endl;
}

void Mixer::Clear() {
  // Signals only: nothing here destroys a slot, but the list is not trusted
  // to stay as it is while the controller is told.
  const std::vector<MixerSlot*> aborted(slots.begin(), slots.end());
  for (MixerSlot* s : aborted) {
    // A tone or digits left on would sound into the slot that gets the
    // switch channel when the unit comes back, and this slot's destroy
    // would then silence that slot's own tone.
    if (auto* c = dynamic_cast<TdmChannel*>(s)) c->disableToneGenerator(true);
    // Likewise the lines into and out of its channel go quiet while they
    // are still this slot's: a slot on the returning unit's channel would
    // hear the old call, or be heard by the old one's receivers.
    MuxQuietenLines(s);
    s->OnAbort(0);
  }
  CheckForDestroy();
}

void Mixer::Register(MixerSlot* slot) { slots.push_back(slot); }

void Mixer::UnRegister(MixerSlot* slot) {
  slots.remove(slot);
  CheckForDestroy();
}

bool Mixer::CheckForDestroy() {
  if (!dead || !slots.empty()) return false;
  delete this;
  return true;
}

}  // namespace Mixer
