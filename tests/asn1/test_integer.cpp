#include <gtest/gtest.h>

#include "asn1/asn1.h"
#include "records.h"

using namespace ASN1;

TEST(Integer, CompareIsWrappingDifference)
{
    EXPECT_EQ(-2, INTEGER(5).compare(INTEGER(7)));
    EXPECT_EQ(0, INTEGER(7).compare(INTEGER(7)));
    EXPECT_NE(0, INTEGER(-2147483647 - 1).compare(INTEGER(0)));
    EXPECT_EQ(0, Null().compare(Null()));
    EXPECT_EQ(1, BOOLEAN(true).compare(BOOLEAN(false)));
}

TEST(Integer, DataLength)
{
    EXPECT_EQ(1, getIntegerDataLength(0));
    EXPECT_EQ(1, getIntegerDataLength(-1));
    EXPECT_EQ(1, getIntegerDataLength(127));
    EXPECT_EQ(1, getIntegerDataLength(-128));
    EXPECT_EQ(2, getIntegerDataLength(128));
    EXPECT_EQ(2, getIntegerDataLength(-129));
    EXPECT_EQ(2, getIntegerDataLength(32767));
    EXPECT_EQ(3, getIntegerDataLength(32768));
    EXPECT_EQ(3, getIntegerDataLength(8388607));
    EXPECT_EQ(4, getIntegerDataLength(8388608));
    EXPECT_EQ(4, getIntegerDataLength(2147483647));
    EXPECT_EQ(4, getIntegerDataLength(-2147483647 - 1));
}

TEST(Integer, Validity)
{
    rec::IntSigned8 s8;
    s8.setValue(-1);
    EXPECT_TRUE(s8.isStrictValid());
    s8.setValue(128);
    EXPECT_FALSE(s8.isStrictValid());
    s8.setValue(-129);
    EXPECT_FALSE(s8.isStrictValid());

    // The unconstrained record bounds 0..4294967295: negatives fail.
    EXPECT_FALSE(INTEGER(-1).isStrictValid());
    EXPECT_TRUE(INTEGER(2147483647).isStrictValid());

    rec::Int32u u32(0xFFFFFFFFu);
    EXPECT_TRUE(u32.isStrictValid());
    EXPECT_EQ(0xFFFFFFFFu, u32.getValue());

    rec::IntExt15 x15(99);
    EXPECT_FALSE(x15.isStrictValid());
    EXPECT_TRUE(x15.isValid());
}

TEST(Integer, ConstrainedView)
{
    rec::Int1023 slot;
    EXPECT_EQ(&rec::Int1023::theInfo, slot.infoPtr());
    EXPECT_EQ(FixedConstraint, slot.getConstraintType());
    EXPECT_EQ(0, slot.getLowerLimit());
    EXPECT_EQ(1023u, slot.getUpperLimit());
    slot = 5u;
    EXPECT_EQ(5u, slot.getValue());
    Constrained_INTEGER<FixedConstraint, 0, 127> small(3u);
    EXPECT_EQ(10u, 7u + small);
}

namespace {
NameEntry const namedEntries[] = {{-5, "minus"}, {0, "zero"}, {7, "seven"}};
NamedNumberInfo const namedInfo = {
    {{&IntegerWithNamedNumber::create, 2}, Unconstrained, 0, 0xFFFFFFFFu}, namedEntries, 3};

struct IntegerOnly : ConstVisitor {
    using ConstVisitor::do_visit;
    int integers = 0;
    int named = 0;
    bool do_visit(INTEGER const&) override { return ++integers, true; }
};
struct NamedToo : IntegerOnly {
    using IntegerOnly::do_visit;
    bool do_visit(IntegerWithNamedNumber const&) override { return ++named, true; }
};
} // namespace

TEST(Integer, NamedNumbers)
{
    IntegerWithNamedNumber v(7, &namedInfo);
    std::string name = "untouched";
    EXPECT_TRUE(v.getName(name));
    EXPECT_EQ("seven", name);
    v = 3;
    name = "untouched";
    EXPECT_FALSE(v.getName(name));
    EXPECT_EQ("untouched", name);

    EXPECT_TRUE(v.setFromName("minus"));
    EXPECT_EQ(-5, v.getValue());
    EXPECT_FALSE(v.setFromName("Minus"));
    EXPECT_EQ(-5, v.getValue());

    // Without its own operation a visitor sees the INTEGER one.
    IntegerOnly plain;
    EXPECT_TRUE(v.accept(plain));
    EXPECT_EQ(1, plain.integers);
    NamedToo own;
    EXPECT_TRUE(v.accept(own));
    EXPECT_EQ(1, own.named);
    EXPECT_EQ(0, own.integers);

    AbstractData* c = v.clone();
    EXPECT_EQ(0, c->compare(v));
    EXPECT_EQ(v.infoPtr(), c->infoPtr());
    delete c;
}
