#include "runtime/cyclic.h"

#include <gtest/gtest.h>

namespace {

using Seq = Cyclic<unsigned int, 127u>;

TEST(Cyclic, ReducesAndWrapsModulo128) {
  EXPECT_EQ(72u, unsigned(Seq(200)));
  Seq top(127);
  EXPECT_EQ(0u, unsigned(++top));
  Seq zero;
  EXPECT_EQ(127u, unsigned(--zero));
  EXPECT_EQ(126u, unsigned(Seq(3) - Seq(5)));
  EXPECT_EQ(2u, unsigned(Seq(120) + Seq(10)));
  EXPECT_EQ(0u, unsigned(Seq(127) + 1));
  EXPECT_EQ(127u, unsigned(Seq(0) - 1));

  Seq v(127);
  Seq old = v++;
  EXPECT_EQ(127u, unsigned(old));
  EXPECT_EQ(0u, unsigned(v));
}

TEST(Cyclic, WindowTestCountsForwardAcrossTheWrap) {
  const Seq a(120), c(5);
  EXPECT_TRUE(a <= Seq(2) <= c);
  EXPECT_FALSE(a <= Seq(6) <= c);
  EXPECT_TRUE(a <= Seq(120) <= c);
  EXPECT_TRUE(a <= Seq(5) <= c);
  EXPECT_FALSE(a <= Seq(119) <= c);
  EXPECT_TRUE(a <= 130u <= c);  // plain numbers are reduced first

  // An empty window holds only its one end.
  const Seq e(40);
  EXPECT_TRUE(e <= Seq(40) <= e);
  EXPECT_FALSE(e <= Seq(41) <= e);
  EXPECT_FALSE(e <= Seq(39) <= e);
}

}  // namespace
