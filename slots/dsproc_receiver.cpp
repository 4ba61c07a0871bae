#include "slots/dsproc_receiver.h"

#include "control/trace_ctl.h"
#include "platform/device.h"
#include "platform/dsp.h"
#include "runtime/errno_text.h"
#include "slots/device_names.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <poll.h>

namespace Hardware {

using namespace unit_record;

// ---------------------------------------------------------------- receiver

DSProcReceiver::DSProcReceiver() : link(this) {}

DSProcReceiver::~DSProcReceiver() = default;

bool DSProcReceiver::configureVAD(LGCP::VADParams const& params) {
  return DSProcReceiverService::instance().configureVAD(*this, params);
}
bool DSProcReceiver::enableVAD(bool on) { return DSProcReceiverService::instance().enableVAD(*this, on); }
bool DSProcReceiver::enableBSS(bool on) { return DSProcReceiverService::instance().enableBSS(*this, on); }
bool DSProcReceiver::enableNG(bool on) { return DSProcReceiverService::instance().enableNG(*this, on); }
bool DSProcReceiver::configureSD() { return DSProcReceiverService::instance().configureSD(*this); }
bool DSProcReceiver::enableSD(bool on) { return DSProcReceiverService::instance().enableSD(*this, on); }
bool DSProcReceiver::enableMute(bool a, bool b) { return DSProcReceiverService::instance().enableMute(*this, a, b); }

bool DSProcReceiver::configureDelays(std::uint32_t rx, std::uint32_t tx) {
  const bool ok = DSProcReceiverService::instance().configureDelays(*this, rx, tx);
  // From what was asked, whatever the outcome: the clean-up sets them back.
  delays_set = rx != 0 || tx != 0;
  return ok;
}

bool DSProcReceiver::configureRxGain(std::int8_t gain_dB) {
  const bool ok = DSProcReceiverService::instance().configureRxGain(*this, gain_dB);
  gain_set = gain_dB != 0;
  return ok;
}

bool DSProcReceiver::configureRxGain(LGCP::Gain const& g) {
  const auto gain = g.get_gainDB().getValue();
  if (gain < -128 || gain > 127) {
    std::cerr << "dsproc: rx gain " << gain << " dB out of range" << std::endl;
    return false;
  }
  return configureRxGain(static_cast<std::int8_t>(gain));
}

bool DSProcReceiver::configureToneFilter(std::uint16_t freq, std::uint8_t enable, std::uint16_t dur_th_msec,
                                         std::int8_t det_lvl_dB) {
  const bool ok = DSProcReceiverService::instance().configureToneFilter(*this, freq, enable, dur_th_msec, det_lvl_dB);
  if (ok && enable) tone_filter_set = true;
  return ok;
}

bool DSProcReceiver::configureToneFilter(LGCP::ToneFilter const& f) {
  const auto freq = f.get_freq().getValue();
  const auto dur = f.get_duration_th_msec().getValue();
  const auto level = f.get_det_level_dB().getValue();
  if (freq < 0 || freq > 0xFFFF || dur < 0 || dur > 0xFFFF || level < -128 || level > 127) {
    std::cerr << "dsproc: tone filter " << freq << " Hz, " << dur << " ms, " << level << " dB out of range"
              << std::endl;
    return false;
  }
  return configureToneFilter(static_cast<std::uint16_t>(f.get_freq().getValue()), f.get_enable() ? 1 : 0,
                             static_cast<std::uint16_t>(f.get_duration_th_msec().getValue()),
                             static_cast<std::int8_t>(f.get_det_level_dB().getValue()));
}

bool DSProcReceiver::disableToneAll() {
  const bool ok = DSProcReceiverService::instance().disableToneAll(*this);
  if (ok) tone_filter_set = false;
  return ok;
}

void DSProcReceiver::CleanBeforeDestroy() {
  // What another receiver of the time slot still uses stays; the tone
  // filters are not kept per filter, so all stay while another receiver has
  // one on. Nor does a live receiver keep anything on for one whose unit
  // vanished.
  const std::uint32_t ts = dsproc_timeslot();
  auto other = [&](auto pred) {
    return UnitReceiverLink<DSProcReceiver>::other(
        this, ts, [](const DSProcReceiver& c) { return c.dsproc_timeslot(); },
        [&](const DSProcReceiver& c) { return SharesWith(c) && pred(c); });
  };
  if (vad_state > 0 && !other([](const DSProcReceiver& c) { return c.vad_state > 0; })) enableVAD(false);
  if (bss_state > 0 && !other([](const DSProcReceiver& c) { return c.bss_state > 0; })) disableBSS();
  if (ng_state > 0 && !other([](const DSProcReceiver& c) { return c.ng_state > 0; })) disableNG();
  if (delays_set && !other([](const DSProcReceiver& c) { return c.delays_set; })) configureDelays(0, 0);
  if (gain_set && !other([](const DSProcReceiver& c) { return c.gain_set; })) configureRxGain(0);
  if (!other([](const DSProcReceiver& c) { return c.tone_filter_set; })) disableToneAll();
}

// ---------------------------------------------------------------- service

DSProcReceiverService& DSProcReceiverService::instance() {
  static DSProcReceiverService service;
  return service;
}

namespace {
const UnitService::Device dsproc_device{
    GetDSPDevName,
    O_RDWR | O_NONBLOCK | O_CLOEXEC,
    "open dsproc fail, VAD proceeding disabled: ",
    "dsproc",
    "DSProcReceiverService::OnEvent",
    dsp::EVENT_SIZE,
};
static_assert(dsp::EVENT_SIZE <= UnitService::max_record_size, "dsproc event record");
}  // namespace

DSProcReceiverService::DSProcReceiverService() : UnitService(dsproc_device) {}

bool DSProcReceiverService::enable(DSProcReceiver& r, std::int32_t DSProcReceiver::*state_of,
                                   std::uint32_t DSProcReceiver::*id_of, std::uint32_t code, const char* word,
                                   bool on) {
  std::int32_t& state = r.*state_of;
  std::uint32_t& id = r.*id_of;
  if (state >= 0 && (state != 0) == on) return true;
  const std::uint32_t ts = r.dsproc_timeslot();
  // The function is the time slot's: while another receiver of it has the
  // function on, this one shares it (and its events) and its disable leaves
  // it on for the other.
  const DSProcReceiver* sharer = UnitReceiverLink<DSProcReceiver>::other(
      &r, ts, [](const DSProcReceiver& c) { return c.dsproc_timeslot(); },
      [&](const DSProcReceiver& c) { return r.SharesWith(c) && c.*state_of > 0; });
  if (sharer) {
    if (on) id = sharer->*id_of;
    state = on ? 1 : 0;
    return true;
  }
  std::uint8_t rec[dsp::ENABLE_SIZE];
  put32(rec, 0, ts);
  put32(rec, 8, code);
  if (on) {
    const std::uint32_t rid = next_id();
    put32(rec, 4, rid);
    if (platform::dev_ioctl(fd.lowlevel_fd(), dsp::DSPROC_ENABLE, rec) < 0) {
      const int e = errno;
      std::cerr << "DSPROC_ENABLE " << word << " fail:" << " timeslot=" << ts << " id=" << rid << FailTail{e}
                << std::endl;
      return false;
    }
    id = rid;
    state = 1;
    std::cerr << "DSPROC_ENABLE " << word << " done:" << " timeslot=" << ts << " id=" << rid << std::endl;
    return true;
  }
  put32(rec, 4, 0);
  if (platform::dev_ioctl(fd.lowlevel_fd(), dsp::DSPROC_DISABLE, rec) < 0) {
    const int e = errno;
    std::cerr << "DSPROC_DISABLE " << word << " fail:" << " timeslot=" << ts << FailTail{e} << std::endl;
    return false;
  }
  state = 0;
  std::cerr << "DSPROC_DISABLE " << word << " done:" << " timeslot=" << ts << std::endl;
  return true;
}

bool DSProcReceiverService::enableVAD(DSProcReceiver& r, bool on) {
  return enable(r, &DSProcReceiver::vad_state, &DSProcReceiver::vad_id, dsp::FUNC_VAD, "VAD", on);
}
bool DSProcReceiverService::enableSD(DSProcReceiver& r, bool on) {
  return enable(r, &DSProcReceiver::sd_state, &DSProcReceiver::sd_id, dsp::FUNC_SD, "SD", on);
}
bool DSProcReceiverService::enableBSS(DSProcReceiver& r, bool on) {
  return enable(r, &DSProcReceiver::bss_state, &DSProcReceiver::bss_id, dsp::FUNC_BSS, "BSS", on);
}
bool DSProcReceiverService::enableNG(DSProcReceiver& r, bool on) {
  return enable(r, &DSProcReceiver::ng_state, &DSProcReceiver::ng_id, dsp::FUNC_NG, "NG", on);
}

bool DSProcReceiverService::enableMute(DSProcReceiver& r, bool a, bool b) {
  if (r.mute_a_state >= 0 && r.mute_b_state >= 0 && (r.mute_a_state != 0) == a && (r.mute_b_state != 0) == b)
    return true;
  const std::uint32_t ts = r.dsproc_timeslot();
  std::uint8_t rec[dsp::ENABLE_SIZE];
  put32(rec, 0, ts);
  if (a || b) {
    const std::uint32_t rid = next_id();
    put32(rec, 4, rid);
    put32(rec, 8, (a ? dsp::FUNC_MUTE_A : 0) | (b ? dsp::FUNC_MUTE_B : 0));
    if (platform::dev_ioctl(fd.lowlevel_fd(), dsp::DSPROC_ENABLE, rec) < 0) {
      const int e = errno;
      std::cerr << "DSPROC_ENABLE MUTE fail:" << " timeslot=" << ts << " id=" << rid << FailTail{e} << std::endl;
      return false;
    }
    r.mute_id = rid;
    r.mute_a_state = a;
    r.mute_b_state = b;
    std::cerr << "DSPROC_ENABLE MUTE done:" << " timeslot=" << ts << " id=" << rid << std::endl;
    return true;
  }
  put32(rec, 4, 0);
  put32(rec, 8, dsp::FUNC_MUTE_A | dsp::FUNC_MUTE_B);
  if (platform::dev_ioctl(fd.lowlevel_fd(), dsp::DSPROC_DISABLE, rec) < 0) {
    const int e = errno;
    std::cerr << "DSPROC_DISABLE MUTE fail:" << " timeslot=" << ts << FailTail{e} << std::endl;
    return false;
  }
  r.mute_a_state = 0;
  r.mute_b_state = 0;
  std::cerr << "DSPROC_DISABLE MUTE done:" << " timeslot=" << ts << std::endl;
  return true;
}

int DSProcReceiverService::configure(std::uint32_t ts, std::uint32_t code, const std::uint8_t* params) {
  std::uint8_t rec[dsp::CONFIGURE_SIZE];
  put32(rec, 0, ts);
  put32(rec, 4, code);
  std::memcpy(rec + dsp::PARAMS_OFFSET, params, dsp::PARAMS_SIZE);
  return platform::dev_ioctl(fd.lowlevel_fd(), dsp::DSPROC_CONFIGURE, rec);
}

bool DSProcReceiverService::configureVAD(DSProcReceiver& r, LGCP::VADParams const& params) {
  const std::uint32_t ts = r.dsproc_timeslot();
  if (!ensure_open("configure VAD fail: (interface not opened)", ts)) return false;
  const int version = platform::dev_ioctl(fd.lowlevel_fd(), dsp::DSPROC_GET_VERSION, nullptr);
  if (version < 0) {
    // Without the version the layout of the parameters is unknown.
    const int e = errno;
    std::cerr << "DSPROC_GET_VERSION fail:" << " timeslot=" << ts << FailTail{e} << std::endl;
    return false;
  }
  std::uint8_t p[dsp::PARAMS_SIZE] = {};
  if (version == 2) {
    if (!params.v2_isSelected()) {
      std::cerr << "DSPROC_CONFIGURE VAD: params not specified for v2: " << " timeslot=" << ts << std::endl;
      return false;
    }
    const TERM::VADParamsV2& v2 = params.get_v2();
    const int voice = v2.get_voice_th_msec().getValue();
    const int silence = v2.get_silence_th_msec().getValue();
    const int energy = v2.get_e_th_dB().getValue();
    // A threshold beyond its field would reach the unit as another one
    // (70000 ms as 4464 ms).
    if (voice < 0 || voice > 0xFFFF || silence < 0 || silence > 0xFFFF || energy < -128 || energy > 127) {
      std::cerr << "DSPROC_CONFIGURE VAD: thresholds out of range: voice=" << voice << " silence=" << silence
                << " energy=" << energy << " timeslot=" << ts << std::endl;
      return false;
    }
    put16(p, 0, static_cast<std::uint16_t>(voice));
    put16(p, 2, static_cast<std::uint16_t>(silence));
    p[4] = static_cast<std::uint8_t>(energy);
  } else {
    put32(p, 0, 3);
    put32(p, 4, 127);
    put32(p, 8, 0);
  }
  if (configure(ts, dsp::FUNC_VAD, p) < 0) {
    const int e = errno;
    std::cerr << "DSPROC_CONFIGURE VAD fail:" << " timeslot=" << ts << FailTail{e} << std::endl;
    return false;
  }
  std::clog << "DSPROC_CONFIGURE VAD" << " ts=" << ts << std::endl;
  return true;
}

bool DSProcReceiverService::configureSD(DSProcReceiver& r) {
  const std::uint32_t ts = r.dsproc_timeslot();
  if (!ensure_open("configure SD fail: (interface not opened)", ts)) return false;
  const std::uint8_t p[dsp::PARAMS_SIZE] = {};
  if (configure(ts, dsp::FUNC_SD, p) < 0) {
    const int e = errno;
    std::cerr << "DSPROC_CONFIGURE SD fail:" << " timeslot=" << ts << FailTail{e} << std::endl;
    return false;
  }
  std::clog << "DSPROC_CONFIGURE SD" << " ts=" << ts << std::endl;
  return true;
}

bool DSProcReceiverService::configureDelays(DSProcReceiver& r, std::uint32_t rx, std::uint32_t tx) {
  const std::uint32_t ts = r.dsproc_timeslot();
  if (!ensure_open("configure Delays fail: (interface not opened)", ts)) return false;
  std::uint8_t p[dsp::PARAMS_SIZE] = {};
  put32(p, 0, rx);
  put32(p, 4, tx);
  if (configure(ts, dsp::FUNC_DELAYS, p) < 0) {
    const int e = errno;
    std::cerr << "DSPROC_CONFIGURE DELAYS fail:" << " timeslot=" << ts << FailTail{e} << std::endl;
    return false;
  }
  std::clog << "DSPROC_CONFIGURE DELAYS" << " ts=" << ts << " rx=" << rx << " tx=" << tx << std::endl;
  return true;
}

bool DSProcReceiverService::configureRxGain(DSProcReceiver& r, std::int8_t gain_dB) {
  const std::uint32_t ts = r.dsproc_timeslot();
  if (!ensure_open("Configure Rx gain fail: (interface not opened)", ts)) return false;
  std::uint8_t p[dsp::PARAMS_SIZE] = {};
  p[0] = static_cast<std::uint8_t>(gain_dB);
  if (configure(ts, dsp::FUNC_RX_GAIN, p) < 0) {
    const int e = errno;
    std::cerr << "DSPROC_CONFIGURE Rx Gain fail:" << " timeslot=" << ts << FailTail{e} << std::endl;
    return false;
  }
  std::clog << "DSPROC_CONFIGURE RX GAIN" << " ts=" << ts << " gain_dB=" << int(gain_dB) << std::endl;
  return true;
}

bool DSProcReceiverService::configureToneFilter(DSProcReceiver& r, std::uint16_t freq, std::uint8_t enable,
                                                std::uint16_t dur_th_msec, std::int8_t det_lvl_dB) {
  const std::uint32_t ts = r.dsproc_timeslot();
  if (!ensure_open("Configure Tone Filter fail: (interface not opened)", ts)) return false;
  std::uint8_t p[dsp::PARAMS_SIZE] = {};
  put16(p, 0, freq);
  p[2] = enable;
  put16(p, 4, dur_th_msec);
  p[6] = static_cast<std::uint8_t>(det_lvl_dB);
  if (configure(ts, dsp::FUNC_TONE_FILTER, p) < 0) {
    const int e = errno;
    std::cerr << "DSPROC_CONFIGURE Tone Filter fail:" << " timeslot=" << ts << FailTail{e} << std::endl;
    return false;
  }
  std::clog << "DSPROC_CONFIGURE TONE FILTER" << " ts=" << ts << " freq=" << freq << ", en=" << unsigned(enable)
            << ", dur_th_msec=" << dur_th_msec << ", det_lvl_dB=" << int(det_lvl_dB) << std::endl;
  return true;
}

bool DSProcReceiverService::disableToneAll(DSProcReceiver& r) {
  const std::uint32_t ts = r.dsproc_timeslot();
  if (!ensure_open("Disable All Tone fail: (interface not opened)", ts)) return false;
  std::uint8_t rec[dsp::ENABLE_SIZE];
  put32(rec, 0, ts);
  put32(rec, 4, 0);
  put32(rec, 8, dsp::FUNC_TONE_FILTER);
  if (platform::dev_ioctl(fd.lowlevel_fd(), dsp::DSPROC_DISABLE, rec) < 0) {
    const int e = errno;
    std::cerr << "Disable All Tone fail:" << " timeslot=" << ts << FailTail{e} << std::endl;
    return false;
  }
  std::clog << "DISABLE ALL TONE done: " << " ts=" << ts << std::endl;
  return true;
}

void DSProcReceiverService::dispatch(const std::uint8_t* rec) {
  const std::uint32_t ts = get32(rec, 0), id = get32(rec, 4), type = get32(rec, 8);
  const std::uint32_t p1 = get32(rec, 12), p2 = get32(rec, 16), p3 = get32(rec, 20);
  const bool trace = traces.signalling.events;
  float score;
  std::memcpy(&score, rec + 12, sizeof score);
  auto fields = [&](std::ostream& os) -> std::ostream& {
    return os << " timeslot=" << ts << " id=" << id << " type=" << type;
  };
  if (trace) {
    fields(std::clog << "dsproc event: ") << std::endl;
    switch (type) {
      case dsp::FUNC_VAD:
        std::clog << "dsproc vad event: " << " dir_mask=" << p1 << " vad_rx=" << p2 << " vad_tx=" << p3 << std::endl;
        break;
      case dsp::FUNC_SD:
        std::clog << "dsproc sd event: " << " sd_rx=" << p1 << std::endl;
        break;
      case dsp::FUNC_BSS:
        std::clog << "dsproc bss event: " << " score=" << score << std::endl;
        break;
      case dsp::FUNC_FLAGS:
        std::clog << "dsproc flags event: " << std::hex << " flags=" << p1 << ", mask=" << p2 << std::dec
                  << std::endl;
        break;
    }
  }
  // Of two receivers on one time slot, the one whose function sent it;
  // receivers sharing the function get its events alike.
  auto timeslot_of = UnitReceiverLink<DSProcReceiver>::live_timeslot(
      ts, [](const DSProcReceiver& c) { return c.dsproc_timeslot(); },
      [](const DSProcReceiver& c) { return c.dsproc_retired(); });
  auto wants = [&](const DSProcReceiver& c) {
    switch (type) {
      case dsp::FUNC_VAD:
        return c.vad_state > 0 && c.vad_id == id;
      case dsp::FUNC_SD:
        return c.sd_state > 0 && c.sd_id == id;
      case dsp::FUNC_BSS:
        return c.bss_state > 0;
      case dsp::FUNC_TONE_FILTER:
        return c.tone_filter_set;
      default:
        return false;
    }
  };
  DSProcReceiver* r = UnitReceiverLink<DSProcReceiver>::find(ts, timeslot_of, wants);
  if (!r) {
    if (trace) std::cerr << "receive dsproc event from unknown timeslot " << ts << std::endl;
    return;
  }
  // A function never switched on (state -1 or 0) has no events of its own:
  // a record for it is stale, whatever its id.
  switch (type) {
    case dsp::FUNC_VAD: {
      if (r->vad_state <= 0) {
        if (trace) fields(std::cerr << "ignore spurious dsproc vad event (dsproc disabled): ") << std::endl;
        return;
      }
      if (id != r->vad_id) {
        if (trace) fields(std::cerr << "ignore spurious dsproc vad event: ") << " rid=" << r->vad_id << std::endl;
        return;
      }
      DSProcVADEvent ev;
      ev.rx = (p1 & 1) ? static_cast<std::int32_t>(p2) : -1;
      ev.tx = (p1 & 2) ? static_cast<std::int32_t>(p3) : -1;
      UnitReceiverLink<DSProcReceiver>::each(ts, timeslot_of, wants,
                                             [&](DSProcReceiver& c) { c.dsproc_vad_event(ev); });
      return;
    }
    case dsp::FUNC_SD: {
      if (r->sd_state <= 0) {
        if (trace) fields(std::cerr << "ignore spurious dsproc sd event (dsproc disabled): ") << std::endl;
        return;
      }
      if (id != r->sd_id) {
        if (trace) fields(std::cerr << "ignore spurious dsproc sd event: ") << " rid=" << r->sd_id << std::endl;
        return;
      }
      DSProcSDEvent ev;
      ev.rx = static_cast<std::int32_t>(p1);
      UnitReceiverLink<DSProcReceiver>::each(ts, timeslot_of, wants,
                                             [&](DSProcReceiver& c) { c.dsproc_sd_event(ev); });
      return;
    }
    case dsp::FUNC_BSS: {
      if (r->bss_state <= 0) {
        if (trace) fields(std::cerr << "ignore spurious dsproc bss event (dsproc disabled): ") << std::endl;
        return;
      }
      const ::dsproc_bss_event ev{score};
      UnitReceiverLink<DSProcReceiver>::each(ts, timeslot_of, wants,
                                             [&](DSProcReceiver& c) { c.dsproc_bss_event(&ev); });
      return;
    }
    case dsp::FUNC_TONE_FILTER: {
      const ::dsproc_tone_event ev{static_cast<std::int32_t>(p1), static_cast<std::int32_t>(p2)};
      r->dsproc_tone_flt_event(&ev);
      return;
    }
    case dsp::FUNC_FLAGS: {
      const ::dsproc_flags_event ev{p1, p2};
      r->dsproc_flags_event(&ev);
      return;
    }
    default:
      return;
  }
}

}  // namespace Hardware
