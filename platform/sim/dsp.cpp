#include "platform/sim/dsp.h"

#include "platform/dsp.h"

#include <cerrno>
#include <cstdint>

namespace platform {
namespace sim {

const std::vector<std::string>& Dsp::request_names() const {
  static const std::vector<std::string> names = {"DSPROC_CONFIGURE", "DSPROC_ENABLE", "DSPROC_DISABLE",
                                                 "DSPROC_GET_VERSION"};
  return names;
}

void Dsp::clear() {
  DspUnitModel::clear();
  version = 2;
}

int Dsp::on_ioctl(Channel&, unsigned long request, void* arg) {
  const char* name = nullptr;
  std::vector<long long> fields;
  if (request == dsp::DSPROC_GET_VERSION) {
    name = "DSPROC_GET_VERSION";
    fields.push_back(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(arg)));
  } else if (request == dsp::DSPROC_ENABLE || request == dsp::DSPROC_DISABLE) {
    name = request == dsp::DSPROC_ENABLE ? "DSPROC_ENABLE" : "DSPROC_DISABLE";
    if (!arg) {
      errno = EFAULT;
      return -1;
    }
    fields = {get_u32(arg, 0), get_u32(arg, 4), get_u32(arg, 8)};
  } else if (request == dsp::DSPROC_CONFIGURE) {
    name = "DSPROC_CONFIGURE";
    if (!arg) {
      errno = EFAULT;
      return -1;
    }
    const auto* b = static_cast<const std::uint8_t*>(arg);
    const std::size_t p = dsp::PARAMS_OFFSET;
    const std::uint32_t code = get_u32(arg, 4);
    fields = {get_u32(arg, 0), code};
    switch (code) {
      case dsp::FUNC_VAD:
        if (version == 2) {
          fields.insert(fields.end(), {get_u16(arg, p), get_u16(arg, p + 2), static_cast<std::int8_t>(b[p + 4])});
          break;
        }
        fields.insert(fields.end(), {get_u32(arg, p), get_u32(arg, p + 4), get_u32(arg, p + 8)});
        break;
      case dsp::FUNC_SD:
        break;
      case dsp::FUNC_DELAYS:
        fields.insert(fields.end(), {get_u32(arg, p), get_u32(arg, p + 4)});
        break;
      case dsp::FUNC_RX_GAIN:
        fields.push_back(static_cast<std::int8_t>(b[p]));
        break;
      case dsp::FUNC_TONE_FILTER:
        fields.insert(fields.end(),
                      {get_u16(arg, p), b[p + 2], get_u16(arg, p + 4), static_cast<std::int8_t>(b[p + 6])});
        break;
      default:
        fields.insert(fields.end(), {get_u32(arg, p), get_u32(arg, p + 4), get_u32(arg, p + 8)});
        break;
    }
  } else {
    errno = ENOTTY;
    return -1;
  }
  if (int e = record(name, std::move(fields))) {
    errno = e;
    return -1;
  }
  return request == dsp::DSPROC_GET_VERSION ? version : 0;
}

bool Dsp::event(std::uint32_t timeslot, std::uint32_t id, std::uint32_t type, std::uint32_t p1, std::uint32_t p2,
                std::uint32_t p3) {
  std::vector<std::uint8_t> rec;
  for (std::uint32_t w : {timeslot, id, type, p1, p2, p3}) put_u32(rec, w);
  return deliver_record(rec);
}

Dsp& dsp() { return installed_model<Dsp>("/dev/dsp"); }

namespace {

DefaultModel installed([] { dsp(); });

std::string dsp_words(const Args& args, std::ostream& out) {
  const char* usage =
      "usage: dsp log | dsp event TS ID TYPE P1 P2 P3 | dsp raw HEX | dsp fail NAME ERRNO [COUNT] | dsp version N";
  if (args.empty()) return usage;
  bool handled = false;
  std::string r = dsp().shared_words("dsp", args, out, handled);
  if (handled) return r;
  if (args[0] == "event") {
    std::uint32_t w[6];
    if (args.size() != 7) return "usage: dsp event TS ID TYPE P1 P2 P3";
    for (int i = 0; i < 6; ++i)
      if (!parse_word32(args[i + 1], w[i])) return "usage: dsp event TS ID TYPE P1 P2 P3";
    if (!dsp().event(w[0], w[1], w[2], w[3], w[4], w[5])) return "dsp is not open";
    return "";
  }
  if (args[0] == "version") {
    long long v = 0;
    if (args.size() != 2 || !parse_int(args[1], v) || v < 0 || v > 0x7FFFFFFF) return "usage: dsp version N";
    dsp().version = static_cast<int>(v);
    return "";
  }
  return "unknown dsp request " + args[0];
}

Words words("dsp", dsp_words);

}  // namespace
}  // namespace sim
}  // namespace platform
