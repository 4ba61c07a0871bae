#include "runtime/profile.h"

namespace Profile {

Point* mRoot = nullptr;

Point::Point(const char* name_) : next(mRoot), name(name_) { mRoot = this; }

Point::~Point() {
  for (Point** link = &mRoot; *link; link = &(*link)->next) {
    if (*link == this) {
      *link = next;
      break;
    }
  }
}

std::ostream& Point::put(std::ostream& os) const { return os << "[" << name << "]: " << measure; }

void dump(std::ostream& os) {
  for (const Point* p = mRoot; p; p = p->next_point()) os << *p << '\n';
}

}  // namespace Profile
