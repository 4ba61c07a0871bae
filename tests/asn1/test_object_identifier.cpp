#include <gtest/gtest.h>

#include "asn1/object_identifier.h"

using namespace ASN1;

namespace {
OBJECT_IDENTIFIER oid(std::initializer_list<unsigned> arcs)
{
    OBJECT_IDENTIFIER o;
    for (unsigned a : arcs)
        o.append(a);
    return o;
}
std::vector<unsigned> arcsOf(OBJECT_IDENTIFIER const& o)
{
    std::vector<unsigned> r;
    for (unsigned i = 0; i < o.levels(); ++i)
        r.push_back(o[i]);
    return r;
}
} // namespace

TEST(ObjectIdentifier, CommonEncoding)
{
    std::vector<char> out;
    oid({1, 2, 840, 113549}).encodeCommon(out);
    EXPECT_EQ((std::vector<char>{0x2A, char(0x86), 0x48, char(0x86), char(0xF7), 0x0D}), out);

    OBJECT_IDENTIFIER back;
    EXPECT_TRUE(back.decodeCommon(out.data(), static_cast<unsigned>(out.size())));
    EXPECT_EQ((std::vector<unsigned>{1, 2, 840, 113549}), arcsOf(back));

    // Arcs up to 32 bits take five octets; the octets go in front.
    out.assign(1, 'x');
    oid({2, 5, 0xFFFFFFFFu}).encodeCommon(out);
    EXPECT_EQ(7u, out.size());  // 1 + 5 + the old octet
    EXPECT_EQ('x', out.back());
    out.pop_back();
    OBJECT_IDENTIFIER big;
    ASSERT_TRUE(big.decodeCommon(out.data(), static_cast<unsigned>(out.size())));
    EXPECT_EQ((std::vector<unsigned>{2, 5, 0xFFFFFFFFu}), arcsOf(big));

    std::vector<char> none(3, 'x');
    oid({1}).encodeCommon(none);
    EXPECT_TRUE(none.empty());
}

TEST(ObjectIdentifier, DecodeSplitsTheFirstSubidentifier)
{
    OBJECT_IDENTIFIER o;
    char const truncated[] = {0x2A, char(0x86)};
    EXPECT_FALSE(o.decodeCommon(truncated, 2));
    // 2^32 as the third arc does not fit: refused, not wrapped to 0.
    char const wide[] = {0x2A, char(0x90), char(0x80), char(0x80), char(0x80), 0x00};
    EXPECT_FALSE(o.decodeCommon(wide, sizeof wide));
    char const eighty[] = {0x50};
    EXPECT_TRUE(o.decodeCommon(eighty, 1));
    EXPECT_EQ((std::vector<unsigned>{2, 0}), arcsOf(o));
    char const thirtynine[] = {0x27};
    EXPECT_TRUE(o.decodeCommon(thirtynine, 1));
    EXPECT_EQ((std::vector<unsigned>{0, 39}), arcsOf(o));
    EXPECT_TRUE(o.decodeCommon(thirtynine, 0));
    EXPECT_EQ(0u, o.levels());
    EXPECT_FALSE(o.isValid());
}

TEST(ObjectIdentifier, CompareByArcsThenLength)
{
    EXPECT_EQ(0, oid({1, 2, 3}).compare(oid({1, 2, 3})));
    EXPECT_LT(oid({1, 2}).compare(oid({1, 2, 3})), 0);
    EXPECT_EQ(-1, oid({1, 2, 3}).compare(oid({1, 2, 4})));
    EXPECT_EQ(1, oid({2, 2, 3}).compare(oid({1, 2, 3})));  // the first arc counts too
}
