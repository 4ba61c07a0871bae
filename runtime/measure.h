#pragma once
// A timing record of durations in microseconds (shortest, longest, latest,
// count), fed by begin/end pairs around each piece of work it measures.
#include <cstdint>
#include <iosfwd>

class Measure {
 public:
  void begin();
  void end();
  // "min=<min> max=<max> avg=<latest> counter=<count>"
  void put(std::ostream& os) const;

  std::uint32_t min = 0;
  std::uint32_t max = 0;
  std::uint32_t cur = 0;
  bool first = true;
  std::uint32_t start = 0;
  std::uint32_t counter = 0;
};

std::ostream& operator<<(std::ostream& os, const Measure& m);
