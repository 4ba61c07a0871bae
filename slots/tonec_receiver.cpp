#include "slots/tonec_receiver.h"

#include "platform/device.h"
#include "platform/dtmf.h"
#include "runtime/errno_text.h"
#include "slots/device_names.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <poll.h>

namespace Hardware {

using namespace unit_record;

namespace {

void* by_value(std::uint32_t ts) { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(ts)); }

std::uint16_t low16(int v) { return static_cast<std::uint16_t>(v); }

// An amplitude or frequency the generator's 16-bit field holds: one beyond
// it would be sent as another one (65536 as silence, 66233 Hz as 697 Hz).
bool fits_16_bits(int v) { return v >= 0 && v <= 0xFFFF; }

// A duration the controller gave, or the default when it gave none or one
// outside what the loop's timers take.
unsigned duration(bool present, int ms) {
  if (!present || ms < 0 || ms > TonecReceiver::max_duration_ms) return TonecReceiver::default_duration_ms;
  return static_cast<unsigned>(ms);
}

// An IVA detection: the code shifted right by 8 (arithmetic) is 1..21.
bool is_iva_code(std::uint32_t code) {
  const std::int32_t hi = static_cast<std::int32_t>(code) >> 8;
  return hi >= 1 && hi <= 21;
}

}  // namespace

// ---------------------------------------------------------------- receiver

TonecReceiver::TonecReceiver() : link(this) {}

TonecReceiver::~TonecReceiver() { timer.reset(); }

bool TonecReceiver::configureDTMF(LGCP::DTMFParams const& params) {
  return TonecReceiverService::instance().configureDTMF(tonec_timeslot(), params);
}

bool TonecReceiver::enableDTMF(bool on) {
  const bool ok = TonecReceiverService::instance().enableDTMF(*this, on);
  if (ok) dtmf_enabled = on;
  return ok;
}

bool TonecReceiver::disableDTMF() { return enableDTMF(false); }

namespace {
// Another receiver of ts for which `pred` holds: the detectors are the time
// slot's, and one still in use by it is not switched off. A live receiver
// does not count one whose unit vanished: what that unit had on is not what
// a unit come back under its number has on.
template <class Pred>
TonecReceiver* other(const TonecReceiver* self, std::uint32_t ts, Pred pred) {
  return UnitReceiverLink<TonecReceiver>::other(
      self, ts, [](TonecReceiver& c) { return c.tonec_timeslot(); },
      [&](const TonecReceiver& c) { return (self->tonec_retired() || !c.tonec_retired()) && pred(c); });
}
}  // namespace

bool TonecReceiver::enableDTMFReject(bool on) {
  if (!on && other(this, tonec_timeslot(), [](const TonecReceiver& c) { return c.dtmf_reject_enabled; })) {
    dtmf_reject_enabled = false;
    return true;
  }
  const bool ok = TonecReceiverService::instance().enableDTMFReject(tonec_timeslot(), on);
  if (ok) dtmf_reject_enabled = on;
  return ok;
}

bool TonecReceiver::echoCancel(bool on) { return TonecReceiverService::instance().echoCancel(tonec_timeslot(), on); }

bool TonecReceiver::configureIVA(LGCP::IVAParams const& params) {
  return TonecReceiverService::instance().configureIVA(*this, params);
}

bool TonecReceiver::enableIVA(bool on) {
  if (!on && other(this, tonec_timeslot(), [](const TonecReceiver& c) { return c.iva_state; })) {
    iva_enabled = iva_state = false;
    return true;
  }
  const bool ok = TonecReceiverService::instance().enableIVA(*this, on);
  if (ok) iva_enabled = on;
  return ok;
}

bool TonecReceiver::enableToneGenerator(std::uint16_t freq1, std::uint16_t freq2, std::uint16_t amp1,
                                        std::uint16_t amp2) {
  const bool ok = TonecReceiverService::instance().enableToneGenerator(tonec_timeslot(), freq1, freq2, amp1, amp2);
  if (ok) generator_on = freq1 || freq2 || amp1 || amp2;
  return ok;
}

bool TonecReceiver::enableSilence() { return enableToneGenerator(1000, 1000, 0, 0); }

bool TonecReceiver::disableToneGenerator(bool force) {
  if (!force && !dtmf_transmit) return false;
  // Whatever runs on the timer (digits or wait tone) would switch the
  // generator on again.
  timer.reset();
  dtmf_transmit = false;
  return enableToneGenerator(0, 0, 0, 0);
}

bool TonecReceiver::translateDTMF(LGCP::TranslateDtmfParams const& params) {
  const int amp1 = params.amp1_isPresent() ? params.get_amp1().getValue() : 0;
  const int amp2 = params.amp2_isPresent() ? params.get_amp2().getValue() : 0;
  // Cut to 16 bits an amplitude would sound as another one (65536 as
  // silence): refused, and a running sequence goes on unchanged.
  if (!fits_16_bits(amp1) || !fits_16_bits(amp2)) {
    std::cerr << "DTMF_DIAL fail:"
              << " timeslot=" << tonec_timeslot() << " amplitude out of range:" << amp1 << " " << amp2 << std::endl;
    return false;
  }
  for (const LGCP::DualTone& d : params.get_digits()) {
    const int f1 = d.get_freq1().getValue();
    const int f2 = d.get_freq2().getValue();
    if (!fits_16_bits(f1) || !fits_16_bits(f2)) {
      std::cerr << "DTMF_DIAL fail:"
                << " timeslot=" << tonec_timeslot() << " frequency out of range:" << f1 << " " << f2 << std::endl;
      return false;
    }
  }
  dtmf_digits = params;
  if (dtmf_transmit) return true;
  dtmf_transmit = true;
  OnPauseFinished();
  return true;
}

void TonecReceiver::OnPauseFinished() {
  auto& digits = dtmf_digits.ref_digits();
  if (digits.size() == 0) {
    disableToneGenerator(true);
    tone_gen_complete();
    return;
  }
  const LGCP::DualTone& d = digits[0];
  const std::uint16_t amp1 = dtmf_digits.amp1_isPresent() ? low16(dtmf_digits.get_amp1().getValue()) : default_dtmf_amp;
  const std::uint16_t amp2 = dtmf_digits.amp2_isPresent() ? low16(dtmf_digits.get_amp2().getValue()) : default_dtmf_amp;
  enableToneGenerator(low16(d.get_freq1().getValue()), low16(d.get_freq2().getValue()), amp1, amp2);
  digits.erase(digits.begin());
  const unsigned ms = duration(dtmf_digits.toneDuration_isPresent(),
                               dtmf_digits.toneDuration_isPresent() ? dtmf_digits.get_toneDuration().getValue() : 0);
  timer.set(ms, &TonecReceiver::OnToneFinished, this);
}

void TonecReceiver::OnToneFinished() {
  enableSilence();
  const unsigned ms = duration(dtmf_digits.pauseDuration_isPresent(),
                               dtmf_digits.pauseDuration_isPresent() ? dtmf_digits.get_pauseDuration().getValue() : 0);
  timer.set(ms, &TonecReceiver::OnPauseFinished, this);
}

void TonecReceiver::activateAudibleCall() {
  // The wait tone takes the timer: a digit sequence in progress ends here,
  // or it would block the cancel and every later sequence.
  if (dtmf_transmit) {
    dtmf_transmit = false;
    dtmf_digits.ref_digits().clear();
  }
  OnAudibleCallTone();
}

void TonecReceiver::OnAudibleCallTone() {
  enableToneGenerator(audible_call_freq, 0, audible_call_amp, audible_call_amp);
  timer.set(audible_call_on_ms, &TonecReceiver::OnAudibleCallSilence, this);
}

void TonecReceiver::OnAudibleCallSilence() {
  enableSilence();
  timer.set(audible_call_off_ms, &TonecReceiver::OnAudibleCallTone, this);
}

void TonecReceiver::cancelAudibleCall() {
  if (dtmf_transmit) return;
  timer.reset();
  enableToneGenerator(0, 0, 0, 0);
}

bool TonecReceiver::translateSelcal(TERM::SelcalCommand const& cmd) {
  return TonecReceiverService::instance().translateSelcal(*this, cmd);
}

void TonecReceiver::CleanBeforeDestroy() {
  // A wait tone, digit or tone left on would go on sounding on the time
  // slot, into whatever slot gets it next.
  if (generator_on) disableToneGenerator(true);
  // A detector another receiver of the time slot still has on stays on.
  if (dtmf_enabled && !other(this, tonec_timeslot(), [](const TonecReceiver& c) { return c.tonec_state; }))
    disableDTMF();
  if (iva_enabled) enableIVA(false);
  if (dtmf_reject_enabled) enableDTMFReject(false);
}

// ---------------------------------------------------------------- service

TonecReceiverService& TonecReceiverService::instance() {
  static TonecReceiverService service;
  return service;
}

namespace {
const UnitService::Device tonec_device{
    GetDTMFDevName,
    O_RDONLY | O_NONBLOCK | O_CLOEXEC,
    "open tonec fail, DTMF proceeding disabled: ",
    "tonec",
    "TonecReceiverService::OnEvent",
    dtmf::EVENT_SIZE,
};
static_assert(dtmf::EVENT_SIZE <= UnitService::max_record_size, "tonec event record");
}  // namespace

TonecReceiverService::TonecReceiverService() : UnitService(tonec_device) {}

bool TonecReceiverService::configureDTMF(std::uint32_t ts, LGCP::DTMFParams const& params) {
  if (!ensure_open("configure DTMF fail: (interface not opened)", ts)) return false;
  const unsigned twist = params.get_threshold().get_twist().getValue();
  const unsigned ratio = params.get_threshold().get_ratio().getValue();
  const unsigned noise = params.get_threshold().get_noise().getValue();
  const unsigned silence = params.get_level().get_silence().getValue();
  std::uint8_t rec[dtmf::CONFIGURE_SIZE];
  put32(rec, 0, ts);
  put32(rec, 4, twist);
  put32(rec, 8, ratio);
  put32(rec, 12, silence);
  put32(rec, 16, noise);
  if (platform::dev_ioctl(fd.lowlevel_fd(), dtmf::DTMF_CONFIGURE_DETECTOR, rec) < 0) {
    const int e = errno;
    std::cerr << "DTMF_CONFIGURE_DETECTOR fail:" << " timeslot=" << ts << FailTail{e} << std::endl;
    return false;
  }
  std::clog << "DTMF_CONFIGURE_DETECTOR" << " ts=" << ts << " twist=" << twist << " ratio=" << ratio
            << " noise=" << noise << " silence=" << silence << std::endl;
  return true;
}

bool TonecReceiverService::enableDTMF(TonecReceiver& r, bool on) {
  if (r.tonec_state == on) return true;
  const std::uint32_t ts = r.tonec_timeslot();
  if (on) {
    const std::uint32_t id = next_id();
    std::uint8_t rec[dtmf::ENABLE_SIZE];
    put32(rec, 0, ts);
    put32(rec, 4, id);
    if (platform::dev_ioctl(fd.lowlevel_fd(), dtmf::DTMF_ENABLE_DETECTOR, rec) < 0) {
      const int e = errno;
      std::cerr << "DTMF_ENABLE_DETECTOR fail:" << " timeslot=" << ts << " id=" << id << FailTail{e} << std::endl;
      return false;
    }
    r.dtmf_id = id;
    r.tonec_state = true;
    std::cerr << "DTMF_ENABLE_DETECTOR done:" << " timeslot=" << ts << " id=" << id << std::endl;
    return true;
  }
  if (platform::dev_ioctl(fd.lowlevel_fd(), dtmf::DTMF_DISABLE_DETECTOR, by_value(ts)) < 0) {
    const int e = errno;
    std::cerr << "DTMF_DISABLE_DETECTOR fail:" << " timeslot=" << ts << FailTail{e} << std::endl;
    return false;
  }
  r.tonec_state = false;
  std::cerr << "DTMF_DISABLE_DETECTOR done:" << " timeslot=" << ts << std::endl;
  return true;
}

bool TonecReceiverService::simple(std::uint32_t ts, unsigned long request, const char* name, const char* suffix) {
  if (platform::dev_ioctl(fd.lowlevel_fd(), request, by_value(ts)) < 0) {
    const int e = errno;
    std::cerr << name << suffix << " fail:" << " timeslot=" << ts << FailTail{e} << std::endl;
    return false;
  }
  std::clog << name << suffix << "[" << ts << "] ok" << std::endl;
  return true;
}

bool TonecReceiverService::echoCancel(std::uint32_t ts, bool on) {
  return simple(ts, on ? dtmf::CHANNEL_LMS_ON : dtmf::CHANNEL_LMS_OFF, "CHANNEL_LMS", on ? "_ON" : "_OFF");
}

bool TonecReceiverService::enableDTMFReject(std::uint32_t ts, bool on) {
  return simple(ts, on ? dtmf::DTMF_REJECTION_ENABLE : dtmf::DTMF_REJECTION_DISABLE, "DTMF_REJECTION",
                on ? "_ENABLE" : "_DISABLE");
}

bool TonecReceiverService::enableIVA(TonecReceiver& r, bool on) {
  const bool ok = simple(r.tonec_timeslot(), on ? dtmf::IVA_DETECTOR_ENABLE : dtmf::IVA_DETECTOR_DISABLE,
                         "IVA_DETECTOR", on ? "_ENABLE" : "_DISABLE");
  if (ok) r.iva_state = on;
  return ok;
}

bool TonecReceiverService::enableToneGenerator(std::uint32_t ts, std::uint16_t freq1, std::uint16_t freq2,
                                               std::uint16_t amp1, std::uint16_t amp2) {
  std::uint8_t rec[dtmf::DIAL_SIZE];
  put32(rec, 0, ts);
  put16(rec, 4, freq1);
  put16(rec, 6, freq2);
  put16(rec, 8, amp1);
  put16(rec, 10, amp2);
  if (platform::dev_ioctl(fd.lowlevel_fd(), dtmf::DTMF_DIAL, rec) < 0) {
    const int e = errno;
    std::cerr << "DTMF_DIAL fail:" << " timeslot=" << ts << FailTail{e} << std::endl;
    return false;
  }
  return true;
}

bool TonecReceiverService::configureIVA(TonecReceiver& r, LGCP::IVAParams const& params) {
  const std::uint32_t ts = r.tonec_timeslot();
  if (!ensure_open("configure IVA fail: (interface not opened)", ts)) return false;
  const int level = params.get_det_lvl_dB().getValue();
  std::uint8_t rec[dtmf::IVA_CONFIGURE_SIZE];
  put32(rec, 0, ts);
  put32(rec, 4, static_cast<std::uint32_t>(level));
  if (platform::dev_ioctl(fd.lowlevel_fd(), dtmf::IVA_CONFIGURE_DETECTOR, rec) < 0) {
    const int e = errno;
    std::cerr << "IVA_CONFIGURE_DETECTOR fail:" << " timeslot=" << ts << FailTail{e} << std::endl;
    return false;
  }
  std::clog << "IVA_CONFIGURE_DETECTOR" << " ts=" << ts << " det_lvl_dB=" << level << std::endl;
  return true;
}

bool TonecReceiverService::translateSelcal(TonecReceiver& r, TERM::SelcalCommand const& cmd) {
  const std::uint32_t ts = r.tonec_timeslot();
  const std::string& signs = cmd.get_signs();
  if (signs.size() < 4) {
    std::cerr << "SELCAL_DIAL fail:" << " timeslot=" << ts << " incorect signs:" << signs << std::endl;
    return false;
  }
  const int amp = cmd.amp_isPresent() ? cmd.get_amp().getValue() : 12000;
  if (!fits_16_bits(amp)) {
    std::cerr << "SELCAL_DIAL fail:" << " timeslot=" << ts << " amplitude out of range:" << amp << std::endl;
    return false;
  }
  std::uint8_t rec[dtmf::SELCAL_SIZE] = {};
  put32(rec, 0, ts);
  put16(rec, 4, static_cast<std::uint16_t>(amp));
  std::memcpy(rec + 6, signs.data(), 4);
  if (platform::dev_ioctl(fd.lowlevel_fd(), dtmf::SELCAL_DIAL, rec) < 0) {
    const int e = errno;
    std::cerr << "SELCAL_DIAL fail:" << " timeslot=" << ts << FailTail{e} << std::endl;
    return false;
  }
  return true;
}

void TonecReceiverService::dispatch(const std::uint8_t* rec) {
  const std::uint32_t code = get32(rec, 0), ts = get32(rec, 4), stamp = get32(rec, 8), id = get32(rec, 12);
  auto fields = [&](std::ostream& os) -> std::ostream& {
    return os << " timestamp=" << stamp << " timeslot=" << ts << " code=" << code << " id=" << id;
  };
  fields(std::clog << "dtmf event: ") << std::endl;
  const auto timeslot_of = UnitReceiverLink<TonecReceiver>::live_timeslot(
      ts, [](TonecReceiver& c) { return c.tonec_timeslot(); },
      [](const TonecReceiver& c) { return c.tonec_retired(); });
  const auto iva_on = [&](const TonecReceiver& c) { return c.iva_state && is_iva_code(code); };
  TonecReceiver* r = UnitReceiverLink<TonecReceiver>::find(
      ts, timeslot_of,
      // Of two receivers on one time slot, the one whose detector sent it.
      [&](const TonecReceiver& c) { return iva_on(c) || (c.tonec_state && id == c.dtmf_id); });
  if (!r) {
    std::cerr << "receive tonec event from unknown timeslot " << ts << std::endl;
    return;
  }
  // While the IVA detector is on its detections pass without an id test
  // (its enable hands out none); anything else needs the DTMF detector on
  // and the id of its last enable.
  // The IVA detector is the time slot's: every receiver that has it on
  // gets its detections, as with a voice-processing function two share.
  if (iva_on(*r)) {
    UnitReceiverLink<TonecReceiver>::each(ts, timeslot_of, iva_on,
                                          [&](TonecReceiver& c) { c.tonec_event(TonecReceiver::Params{code, stamp}); });
    return;
  }
  if (!r->tonec_state) {
    fields(std::cerr << "ignore spurious dtmf event (DTMF disabled): ") << std::endl;
    return;
  } else if (id != r->dtmf_id) {
    fields(std::cerr << "ignore spurious dtmf event: ") << " rid=" << r->dtmf_id << std::endl;
    return;
  }
  r->tonec_event(TonecReceiver::Params{code, stamp});
}

}  // namespace Hardware
