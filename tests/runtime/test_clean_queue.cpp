#include "runtime/clean_queue.h"

#include <gtest/gtest.h>

#include "runtime/packet.h"

namespace {

Packet frame(std::uint8_t tag) {
  Packet p;
  p.reserve_head(4);
  p.put8(tag);
  return p;
}

// The tags of the packets get returns, oldest first, until empty.
template <std::uint32_t N>
std::string drain(CleanQueue<Packet, N>& q) {
  std::string order;
  Packet p;
  while (q.get(p)) order += char('0' + p[0]);
  return order;
}

std::uint32_t cells_in_use() { return packet_max_count - PacketPool::available(); }

TEST(CleanQueue, HoldsAtMostItsCapacity) {
  CleanQueue<Packet, 7> q;
  for (int i = 0; i < 7; ++i) EXPECT_TRUE(q.put(frame(std::uint8_t(i))));
  EXPECT_FALSE(q.put(frame(9)));
  EXPECT_FALSE(q.append(frame(9)));
  EXPECT_EQ(7u, q.count());

  Packet p;
  EXPECT_TRUE(q.get(&p));
  EXPECT_EQ(0, p[0]);
  EXPECT_TRUE(q.put(frame(7)));
  EXPECT_EQ("1234567", drain(q));
}

TEST(CleanQueue, BothEndsKeepTheirOrderAcrossTheWrap) {
  CleanQueue<Packet, 4> q;
  EXPECT_TRUE(q.append(frame(1)));
  EXPECT_EQ("1", drain(q));
  q.put(frame(1));
  q.put(frame(2));
  q.append(frame(3));
  EXPECT_EQ("312", drain(q));

  Packet p;
  q.put(frame(1));
  q.put(frame(2));
  std::string newest_first;
  while (q.get_last(&p)) newest_first += char('0' + p[0]);
  EXPECT_EQ("21", newest_first);
  EXPECT_EQ(1, p[0]) << "untouched when empty";

  // Retransmission: unacknowledged frames move back, newest first, in
  // front of the send queue, and go out before the new frames.
  CleanQueue<Packet, 7> unacked;
  for (std::uint8_t i = 1; i <= 3; ++i) unacked.put(frame(i));
  q.put(frame(8));
  while (unacked.get_last(&p)) EXPECT_TRUE(q.append(p));
  EXPECT_EQ("1238", drain(q));
}

TEST(CleanQueue, PreviewLooksWithoutTaking) {
  CleanQueue<Packet, 3> q;
  Packet p;
  EXPECT_FALSE(q.preview(&p) || q.preview(nullptr));
  EXPECT_TRUE(p.null());
  q.put(frame(5));
  EXPECT_TRUE(q.preview(nullptr));
  EXPECT_TRUE(q.preview(&p));
  EXPECT_EQ(5, p[0]);
  EXPECT_EQ(1u, q.count());
}

TEST(CleanQueue, TakenAndClearedPacketsGoBackToThePool) {
  const std::uint32_t before = cells_in_use();
  {
    CleanQueue<Packet, 135> q;
    q.put(frame(1));
    q.put(frame(2));
    {
      Packet p;
      q.get(p);
      EXPECT_EQ(before + 2, cells_in_use());
    }
    EXPECT_EQ(before + 1, cells_in_use()) << "the slot let go of the packet taken";

    q.put(frame(3));
    q.append(frame(4));
    q.clear();
    EXPECT_TRUE(q.empty());
    EXPECT_EQ(0u, q.count());
    EXPECT_EQ(before, cells_in_use());

    // Cleared queues work as new.
    q.put(frame(6));
    q.append(frame(7));
    EXPECT_EQ("76", drain(q));
    q.put(frame(8));
  }
  EXPECT_EQ(before, cells_in_use());
}

}  // namespace
