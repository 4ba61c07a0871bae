#include <gtest/gtest.h>

#include "asn1/bit_string.h"

using namespace ASN1;

TEST(BitString, BitsLiveInOctetsTopFirst)
{
    BIT_STRING b;
    b.resize(9);
    EXPECT_EQ(9u, b.size());
    EXPECT_EQ(2u, b.getData().size());
    b.set(0);
    b.set(8);
    EXPECT_EQ(char(0x80), b.getData()[0]);
    EXPECT_EQ(char(0x80), b.getData()[1]);
    EXPECT_TRUE(b[0]);
    EXPECT_TRUE(b[8]);
    EXPECT_FALSE(b[9]);
    b.set(9);  // beyond the count: ignored
    EXPECT_EQ(char(0x80), b.getData()[1]);

    b.set(3);
    b.resize(3);
    EXPECT_EQ(1u, b.getData().size());
    EXPECT_FALSE(b[3]);  // still stored, but past the count
    b.resize(16);
    EXPECT_EQ(0, b.getData()[1]);  // dropped octets are gone
}

TEST(BitString, CompareOctetsThenCount)
{
    BIT_STRING a, b;
    a.assign(std::vector<char>(1, char(0xA0)), 3);  // 101
    b.assign(std::vector<char>(1, char(0xA0)), 4);  // 1010
    EXPECT_EQ(-1, a.compare(b));

    BIT_STRING hi, lo;
    hi.assign(std::vector<char>(1, char(0x80)), 8);
    lo.assign(std::vector<char>(1, char(0x7F)), 8);
    EXPECT_GT(hi.compare(lo), 0);
    EXPECT_LT(lo.compare(hi), 0);
}

TEST(BitString, SizeValidity)
{
    static ConstrainedInfo const fixed = {{&BIT_STRING::create, 3}, FixedConstraint, 2, 4};
    BIT_STRING b(&fixed);
    b.resize(1);
    EXPECT_FALSE(b.isValid());
    b.resize(4);
    EXPECT_TRUE(b.isStrictlyValid());
    b.resize(5);
    EXPECT_FALSE(b.isValid());
    EXPECT_FALSE(b.isStrictlyValid());
}
