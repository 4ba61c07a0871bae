// Intrusive lists: the edge cases of linking and unlinking, merge, and the
// sorted insertion that keeps timers in deadline order.
#include "runtime/f_dual_list.h"

#include <cstdint>
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

}  // namespace
