#pragma once
// Named timing points, printed in the status dump:
//
//   static Profile::Point point("Tpkt_protocol::message");
//   point.begin();
//   ...                       // the timed stretch
//   point.end();
//
// Every point links itself into one global list (newest first) for its whole
// life; durations are microseconds of the Mux clock.
#include "runtime/measure.h"

#include <ostream>

namespace Profile {

class Point {
 public:
  // The name is not copied: it must outlive the point (literals do).
  explicit Point(const char* name);
  ~Point();
  Point(const Point&) = delete;
  Point& operator=(const Point&) = delete;

  void begin() { measure.begin(); }
  void end() { measure.end(); }
  // "[<name>]: min=<min> max=<max> avg=<last> counter=<count>"
  std::ostream& put(std::ostream& os) const;

  Point* next_point() const { return next; }

 private:
  Point* next;
  const char* name;
  Measure measure;
};

// Head of the list of every point, the newest first.
extern Point* mRoot;

inline std::ostream& operator<<(std::ostream& os, const Point& p) { return p.put(os); }

// Every point of the list, one per line.
void dump(std::ostream& os);

}  // namespace Profile
