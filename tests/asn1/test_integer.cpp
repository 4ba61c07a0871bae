#include <gtest/gtest.h>

#include <memory>

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
    int const cases[][2] = {{0, 1},     {-1, 1},      {127, 1},     {-128, 1},
                            {128, 2},   {-129, 2},    {32767, 2},   {32768, 3},
                            {8388607, 3}, {8388608, 4}, {2147483647, 4}, {-2147483647 - 1, 4}};
    for (auto const& c : cases)
        EXPECT_EQ(c[1], getIntegerDataLength(c[0])) << c[0];
}

TEST(Integer, Validity)
{
    rec::IntSigned8 s8;
    s8.setValue(-1);
    EXPECT_TRUE(s8.isStrictValid());
    s8.setValue(-128);  // both bounds belong to the range
    EXPECT_TRUE(s8.isStrictValid());
    s8.setValue(127);
    EXPECT_TRUE(s8.isStrictValid());
    s8.setValue(128);
    EXPECT_FALSE(s8.isStrictValid());
    s8.setValue(-129);
    EXPECT_FALSE(s8.isStrictValid());

    // The unconstrained record bounds 0..4294967295: negatives fail.
    EXPECT_FALSE(INTEGER(-1).isStrictValid());
    EXPECT_TRUE(INTEGER(2147483647).isStrictValid());
    // A range from 0 holds unsigned values: its top half is valid.
    EXPECT_TRUE(rec::Int32u(0xFFFFFFFFu).isStrictValid());

    rec::IntExt15 x15(99);
    EXPECT_FALSE(x15.isStrictValid());
    EXPECT_TRUE(x15.isValid());
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

    std::unique_ptr<AbstractData> c(v.clone());
    EXPECT_EQ(0, c->compare(v));
    EXPECT_EQ(v.infoPtr(), c->infoPtr());
}
