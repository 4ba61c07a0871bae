// Circular intrusive list: empty heads, moving elements between rings,
// unlinking on destruction, and finding the embedding object.
#include "runtime/cyclic_list.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

struct Receiver {
  virtual ~Receiver() = default;
  int slot = 0;
  Containers::CyclicList link;
};

std::vector<int> slots(Containers::CyclicList& ring) {
  std::vector<int> out;
  for (auto it = ring.begin(); it != ring.end(); ++it)
    out.push_back(Containers::offset<Receiver>(*it, &Receiver::link)->slot);
  return out;
}

TEST(CyclicList, RingsMoveElementsAndStayClosed) {
  Containers::CyclicList one, two;
  EXPECT_TRUE(one.begin() == one.end());
  Receiver a, b, c;
  a.slot = 1;
  b.slot = 2;
  c.slot = 3;
  one.AddToTail(&a.link);
  one.AddToTail(&b.link);
  one.AddToTail(&c.link);
  EXPECT_EQ(slots(one), (std::vector<int>{1, 2, 3}));

  two.AddToTail(&b.link);  // moved from the other ring
  EXPECT_EQ(slots(one), (std::vector<int>{1, 3}));
  EXPECT_EQ(slots(two), (std::vector<int>{2}));
  EXPECT_EQ(one.get_prev(), &c.link);
  EXPECT_EQ(c.link.get_next(), &one);

  {
    Receiver d;
    d.slot = 4;
    one.AddToTail(&d.link);
    EXPECT_EQ(slots(one), (std::vector<int>{1, 3, 4}));
  }  // leaves its ring when destroyed
  EXPECT_EQ(slots(one), (std::vector<int>{1, 3}));
}

}  // namespace
