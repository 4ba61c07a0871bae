// Intrusive lists: the edge cases of linking and unlinking, merge, and the
// sorted insertion that keeps timers in deadline order.
#include "runtime/f_dual_list.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <gtest/gtest.h>
#include <vector>

namespace {

struct Item : F_dual_list_item<Item> {
  int v = 0;
  std::int32_t compare(const Item& o) const { return static_cast<std::int32_t>(std::uint32_t(v) - std::uint32_t(o.v)); }
};

std::vector<int> values(const F_dual_list<Item>& l) {
  std::vector<int> out;
  for (auto it = l.begin(); it != l.end(); ++it) out.push_back(it->v);
  // The backward links must tell the same story.
  std::vector<int> back;
  for (Item* p = l.get_tail(); p; p = p->get_prev()) back.insert(back.begin(), p->v);
  EXPECT_EQ(out, back);
  EXPECT_EQ(out.size(), l.size());
  return out;
}

TEST(FDualList, EmptyAndSingleElementEdges) {
  F_dual_list<Item> l;
  EXPECT_EQ(l.remove_from_head(), nullptr);
  EXPECT_EQ(l.remove_from_tail(), nullptr);
  EXPECT_EQ(l.count(), 0u);
  EXPECT_TRUE(!l.begin());

  Item a;
  l.insert_to_tail(&a);
  l.remove(&a);
  EXPECT_EQ(l.get_head(), nullptr);
  EXPECT_EQ(l.get_tail(), nullptr);
  EXPECT_EQ(l.count(), 0u);
}

TEST(FDualList, InsertRemoveAndIteratorsSurviveRemoval) {
  Item cells[4];
  for (int i = 0; i < 4; ++i) cells[i].v = i;
  F_dual_list<Item> l(cells, 3);  // 0 1 2
  EXPECT_EQ(values(l), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(cells[0].get_prev(), nullptr);
  EXPECT_EQ(cells[2].get_next(), nullptr);

  l.insert_after(&cells[2], &cells[3]);  // after the tail: the new tail
  EXPECT_EQ(l.get_tail(), &cells[3]);
  EXPECT_EQ(values(l), (std::vector<int>{0, 1, 2, 3}));

  auto it = l.begin();
  ++it;  // at 1
  l.remove(&cells[1]);
  EXPECT_EQ(cells[1].get_next(), &cells[2]) << "removal leaves the element's links";
  ++it;
  EXPECT_EQ(*it, &cells[2]);
  EXPECT_EQ(l.remove_from_head(), &cells[0]);
  EXPECT_EQ(cells[0].get_next(), &cells[2]);
  EXPECT_EQ(values(l), (std::vector<int>{2, 3}));
  EXPECT_EQ(l.remove_from_tail(), &cells[3]);
  EXPECT_EQ(values(l), (std::vector<int>{2}));
  l.insert_to_head(&cells[0]);
  EXPECT_EQ(values(l), (std::vector<int>{0, 2}));
}

TEST(FDualList, MergeExchangesContents) {
  Item cells[3];
  for (int i = 0; i < 3; ++i) cells[i].v = i;
  F_dual_list<Item> a, b;
  a.push_back(&cells[0]);
  a.push_back(&cells[1]);
  b.merge(a);
  EXPECT_EQ(values(b), (std::vector<int>{0, 1}));
  EXPECT_EQ(a.count(), 0u);
  EXPECT_EQ(a.get_head(), nullptr);

  a.push_back(&cells[2]);
  a.merge(b);
  EXPECT_EQ(values(a), (std::vector<int>{0, 1}));
  EXPECT_EQ(values(b), (std::vector<int>{2}));
}

TEST(FSortedList, KeepsOrderAcrossWrapAndEqualKeysInInsertionOrder) {
  Item cells[5];
  int keys[5] = {-100 /* 0xFFFFFF9C, just before the wrap */, 50, -100, 10, -200};
  F_sorted_list<Item> l;
  for (int i = 0; i < 5; ++i) {
    cells[i].v = keys[i];
    l.insert_to_tail_by_grown(&cells[i]);
  }
  std::vector<Item*> order;
  for (auto it = l.begin(); it != l.end(); ++it) order.push_back(*it);
  EXPECT_EQ(order, (std::vector<Item*>{&cells[4], &cells[0], &cells[2], &cells[3], &cells[1]}));
}

// The walk that looks from both ends must put every element where a walk
// from the tail alone would: behind all that compare equal or less, for
// lists of every length and keys on both sides of the wrap, with long runs
// of equal keys (timers armed in one millisecond).
TEST(FSortedList, InsertionFromBothEndsMatchesAStableSort) {
  std::mt19937 rng(7);
  for (int n = 1; n <= 40; ++n) {
    for (int round = 0; round < 25; ++round) {
      std::vector<Item> cells(n);
      std::uniform_int_distribution<int> key(-6, 6);
      const int base = (round % 2) ? -3 : 1000;  // half of the keys straddle the wrap
      F_sorted_list<Item> l;
      std::vector<Item*> expected;
      for (int i = 0; i < n; ++i) {
        cells[i].v = base + key(rng);
        l.insert_to_tail_by_grown(&cells[i]);
        expected.push_back(&cells[i]);
      }
      std::stable_sort(expected.begin(), expected.end(),
                       [](const Item* a, const Item* b) { return a->compare(*b) < 0; });
      std::vector<Item*> order;
      for (auto it = l.begin(); it != l.end(); ++it) order.push_back(*it);
      ASSERT_EQ(order, expected) << "n=" << n << " round=" << round;
      ASSERT_EQ(l.count(), static_cast<std::uint32_t>(n));
      std::vector<Item*> backward;
      for (Item* p = l.get_tail(); p; p = p->get_prev()) backward.push_back(p);
      std::reverse(backward.begin(), backward.end());
      ASSERT_EQ(backward, expected);
    }
  }
}

}  // namespace
