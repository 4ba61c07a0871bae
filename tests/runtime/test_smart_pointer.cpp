// Reference-counting handle: shared lifetime, self-assignment, copy on
// write through the traits, and the null-dereference assertion.
#include "runtime/smart_pointer.h"

#include <cstdint>
#include <gtest/gtest.h>

namespace {

struct Counted {
  static int alive;
  std::uint32_t ref_counter = 0;
  int value = 0;
  Counted() { ++alive; }
  Counted(const Counted& o) : value(o.value) { ++alive; }
  ~Counted() { --alive; }
};
int Counted::alive = 0;

struct Cow {
  static int alive;
  std::uint32_t refs = 0;
  int value = 0;
  Cow() { ++alive; }
  Cow(const Cow& o) : refs(o.refs), value(o.value) { ++alive; }
  ~Cow() { --alive; }
};
int Cow::alive = 0;

}  // namespace

template <>
struct Smart_pointer_traits<Cow> {
  static std::uint32_t& counter(Cow& c) { return c.refs; }
  static void destroy(Cow* c) { delete c; }
  static constexpr bool copy_on_write = true;
  static Cow* clone(const Cow& c) { return new Cow(c); }
};

namespace {

TEST(SmartPointer, LastHandleDestroysTheObjectOnce) {
  {
    Smart_pointer<Counted> a(new Counted);
    {
      Smart_pointer<Counted> b(a);
      Smart_pointer<Counted> c;
      c = b;
      EXPECT_EQ(a->ref_counter, 3u);
    }
    EXPECT_EQ(Counted::alive, 1);
    Smart_pointer<Counted> d(a);
    d.clean();
    EXPECT_TRUE(d.null());
    EXPECT_EQ(Counted::alive, 1) << "clean leaves it to the other holders";
    EXPECT_EQ(a->ref_counter, 1u);
  }
  EXPECT_EQ(Counted::alive, 0);
}

TEST(SmartPointer, SelfAssignmentKeepsTheObject) {
  Smart_pointer<Counted> a(new Counted);
  a->value = 7;
  Smart_pointer<Counted>& same = a;
  a = same;
  a = a.get();
  ASSERT_FALSE(a.null());
  EXPECT_EQ(a->value, 7);
  EXPECT_EQ(a->ref_counter, 1u);
  a = nullptr;
  EXPECT_EQ(Counted::alive, 0);
}

TEST(SmartPointer, CopyOnWriteGivesTheWriterItsOwnCopy) {
  {
    Smart_pointer<Cow> a(new Cow);
    a->value = 1;  // not shared: no copy
    EXPECT_EQ(Cow::alive, 1);
    Smart_pointer<Cow> b(a);
    const Smart_pointer<Cow>& reader = b;
    EXPECT_EQ(reader->value, 1);  // reading shares
    EXPECT_EQ(Cow::alive, 1);
    b->value = 2;  // writing copies
    EXPECT_EQ(Cow::alive, 2);
    EXPECT_EQ(a->value, 1);
    EXPECT_EQ(b->value, 2);
    EXPECT_EQ(a->refs, 1u);
    EXPECT_EQ(b->refs, 1u);
  }
  EXPECT_EQ(Cow::alive, 0);
}

TEST(SmartPointerDeathTest, NullDereferenceEndsTheProcess) {
  Smart_pointer<Counted> none;
  EXPECT_DEATH((void)none->value, "SMART POINTER ASSERTION!");
}

}  // namespace
