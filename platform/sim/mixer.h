#pragma once
// Model of the board's conference mixer "/dev/mixer": units (added and
// removed by tests) with a number of TDM channels and of mixer inputs. Each
// unit channel is an output whose mix maps inputs (unit channels) to
// weights, and has a switch channel of its own on the cross-connect (a
// block of the channels that no trunk, echo bus or shared bus uses is given
// to each unit when it is added). A unit holds at most `mixer_inputs` mix
// entries over all its outputs.
//
// Every request is logged as it reaches the driver, failed or not:
//   clear:U/C  add:U/C<U/C:W  remove:U/C<U/C:W  tdm:U/C  info:U
// (output<input, with the weight word as given).
//
// Control-socket words:
//   mixer add U TDM_CHANNELS MIXER_INPUTS, mixer remove U
//   mixer claim U N  -> unit U reports N TDM channels (any int) from now on;
//                       its real channels and switch block stay as added
//   mixer mix U C    -> "U/C:W" per input of output U/C's mix, ascending
//   mixer log        -> one line per request since the last "mixer log"
//                       (past 65536 waiting lines the oldest half goes)
//   mixer fail clear|add|remove|tdm|info K
//                    -> the K-th next request of that kind fails with EIO
#include "platform/sim/device_model.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace platform {
namespace sim {

class MixerDevice : public DeviceModel {
 public:
  // The block of switch channels handed to units: above the trunks and echo
  // buses, below the shared buses.
  static constexpr int switch_first = 2048;
  static constexpr int switch_end = 8192;

  // A unit channel: {unit, channel}.
  using Point = std::pair<int, int>;

  struct Unit {
    int tdm_channels = 0;
    int mixer_inputs = 0;
    int switch_base = 0;
    // What the unit's info reports, when it lies about its channel count.
    bool claiming = false;
    int claimed_channels = 0;
    // Output channel -> (input -> weight); outputs with an empty mix are
    // absent.
    std::map<int, std::map<Point, std::int32_t>> mixes;
    std::size_t entries() const;
  };

  std::map<int, Unit> units;

  // "" when added, else the reason.
  std::string add_unit(int unit, int tdm_channels, int mixer_inputs);
  bool remove_unit(int unit);
  // The unit reports `channels` TDM channels; false when there is no unit.
  bool claim(int unit, int channels);
  // "U/C:W" per input of the output's mix, ascending.
  std::vector<std::string> mix(int unit, int channel) const;
  // The log lines since the last call (the newest 65536 at most).
  std::vector<std::string> take_log();
  // The `nth` next request of the kind (clear, add, remove, tdm, info)
  // fails with EIO; false for an unknown kind.
  bool fail(const std::string& kind, long long nth);
  // Forgets units, log and failures.
  void clear();

  int on_ioctl(Channel& ch, unsigned long request, void* arg) override;

 private:
  // True when this request of the kind is to fail (counts every pending
  // failure of the kind down by one).
  bool take_failure(const std::string& kind);
  int do_clear(const std::int32_t* slot);
  int do_add(const std::int32_t* rec);
  int do_remove(const std::int32_t* rec);
  int do_tdm(const std::int32_t* slot);
  int do_info(std::int32_t* rec);
  // errno for a mix slot that names no channel (0: it does).
  int check(const std::int32_t* slot) const;

  void note(std::string line);

  static constexpr std::size_t log_limit = 65536;
  std::vector<std::string> log_;
  std::map<std::string, std::vector<long long>> failures_;
};

// The model installed at "/dev/mixer" (installed on first call).
MixerDevice& mixer();

}  // namespace sim
}  // namespace platform
