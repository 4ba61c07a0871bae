#pragma once
// Model of the board driver "/dev/hal", as far as the TDM cross-connect
// goes: every output channel is never addressed, disabled, driven with a
// constant byte, or fed from an input. A read returns the byte driven onto
// the channel, else 255. Each request kind (and the open) can be made to
// fail with an errno, for a number of requests or until cleared.
//
// Control-socket words:
//   hal get C        -> "none" | "disabled" | "byte V" | "connected I"
//   hal list         -> "O I" per output fed from an input, ascending
//   hal set C V|none -> another party drives byte V on channel C (reads see
//                       it); "none" lets reads see the board's byte again
//   hal fail K E [N] -> requests of kind K (open, connect, disable, write,
//                       read) fail with errno E: the next N, or all until
//                       "hal fail K 0"
// Further request families of the driver live in their own files and add
// their requests, words and failure kinds through the extension calls.
#include "platform/sim/control_words.h"
#include "platform/sim/device_model.h"
#include "platform/sim/failures.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace platform {
namespace sim {

class Hal : public DeviceModel {
 public:
  // Channels the switch knows: the E1, BRI and echo channels and the 16
  // shared buses of 128 channels.
  static constexpr int max_channel = 10239;

  enum class Kind { open, connect, disable, write, read };
  static bool kind_of(const std::string& name, Kind& kind);

  struct Output {
    enum State { disabled, byte, connected } state;
    int value;  // the byte, or the feeding input
  };
  struct Request {
    Kind kind;
    int channel;
    int value;  // input of a connect, byte of a write
  };

  // What each output was last told; a channel never addressed is absent.
  std::map<int, Output> outputs;
  // Bytes another party drives, by channel (what reads see first).
  std::map<int, int> peer_bytes;
  // Every request that reached the switch, while `record` is set.
  bool record = false;
  std::vector<Request> requests;

  // Fails requests of a kind with errno `err` (0 clears): the next `count`
  // of them, or every one when count is negative, after `after` of them that
  // go through.
  void fail(Kind kind, int err, long long count = -1, long long after = 0);
  void clear();

  // Extensions. A request handler gets the argument and returns 0, or -1
  // with errno set; a word handler serves "hal WORD ..." (it gets the words
  // from WORD on); a failure kind can then be named in "hal fail".
  using RequestHandler = std::function<int(void* arg)>;
  void add_request(unsigned long request, RequestHandler handler);
  static void add_words(const std::string& word, WordHandler handler);
  void add_fail_kind(const std::string& name);
  bool has_fail_kind(const std::string& name) const { return extra_kinds_.count(name) != 0; }
  void fail(const std::string& kind, int err, long long count = -1);
  // errno for this request of the named kind (0: none), consuming a
  // counted failure.
  int take_failure(const std::string& kind) { return named_failures_.take(kind); }

  // The texts of "hal get" and of one line of "hal list".
  std::string describe(int channel) const;
  int open_error() override;
  int on_ioctl(Channel& ch, unsigned long request, void* arg) override;

 private:
  Failures<Kind> failures_;
  std::map<unsigned long, RequestHandler> extra_requests_;
  std::set<std::string> extra_kinds_;
  Failures<std::string> named_failures_;
};

// The model installed at "/dev/hal" (installed on first call).
Hal& hal();

}  // namespace sim
}  // namespace platform
