#pragma once
// The failures a test injects into a device model, by kind of request: the
// next `count` requests of a kind fail with an errno (a negative count: all
// of them until cleared; errno 0 or a count of 0 clears the kind), after
// `after` requests of the kind that still go through (so a test can fail the
// second of two requests alone).
#include <map>

namespace platform {
namespace sim {

template <class Kind>
class Failures {
 public:
  void set(const Kind& kind, int err, long long count = -1, long long after = 0) {
    if (err == 0 || count == 0)
      failures_.erase(kind);
    else
      failures_[kind] = Failure{err, count, after < 0 ? 0 : after};
  }

  // The errno this request of the kind fails with (0: none), using up one of
  // a counted failure.
  int take(const Kind& kind) {
    auto it = failures_.find(kind);
    if (it == failures_.end()) return 0;
    if (it->second.after > 0) {
      --it->second.after;
      return 0;
    }
    const int err = it->second.err;
    if (it->second.left > 0 && --it->second.left == 0) failures_.erase(it);
    return err;
  }

  void clear() { failures_.clear(); }

 private:
  struct Failure {
    int err;
    long long left;  // negative: until cleared
    long long after;  // requests that go through first
  };
  std::map<Kind, Failure> failures_;
};

}  // namespace sim
}  // namespace platform
