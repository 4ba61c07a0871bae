#include <gtest/gtest.h>

#include <memory>

#include "asn1/asn1.h"
#include "records.h"

using namespace ASN1;

TEST(AbstractData, CountBitsAtTheEdges)
{
    unsigned const cases[][2] = {{0, 32},   {1, 0},   {2, 1},           {3, 2},
                                 {4, 2},    {255, 8}, {256, 8},         {0x80000000u, 31},
                                 {0x80000001u, 32}, {0xFFFFFFFFu, 32}};
    for (auto const& c : cases)
        EXPECT_EQ(c[1], CountBits(c[0])) << c[0];
    // Either side of every power of two: a bit lost in the counting shows
    // up at one of them.
    for (unsigned b = 1; b < 32; ++b) {
        unsigned const p = 1u << b;
        EXPECT_EQ(b, CountBits(p)) << p;
        EXPECT_EQ(b + 1, CountBits(p + 1)) << p + 1;
        if (b > 1) {
            EXPECT_EQ(b, CountBits(p - 1)) << p - 1;
        }
    }
}

TEST(AbstractData, LexicographicCompareTakesOctetsUnsigned)
{
    char const a[] = {0x01, char(0xFF)};
    char const b[] = {0x01, 0x00};
    EXPECT_EQ(0, lexicographic_compare_bytes(a, a, b, b));
    EXPECT_EQ(-1, lexicographic_compare_bytes(a, a, b, b + 1));
    EXPECT_EQ(1, lexicographic_compare_bytes(a, a + 1, b, b));
    EXPECT_EQ(255, lexicographic_compare_bytes(a, a + 2, b, b + 2));
    EXPECT_EQ(-255, lexicographic_compare_bytes(b, b + 2, a, a + 2));
    EXPECT_EQ(0, lexicographic_compare_bytes(a, a + 1, b, b + 1));
}

TEST(AbstractData, CreateFromRecords)
{
    EXPECT_EQ(nullptr, AbstractData::create(nullptr));

    std::unique_ptr<AbstractData> v(AbstractData::create(&INTEGER::theInfo));
    INTEGER* i = dynamic_cast<INTEGER*>(v.get());
    ASSERT_NE(nullptr, i);
    EXPECT_EQ(0, i->getValue());
    EXPECT_EQ(2u, i->getTag());
    EXPECT_EQ(4294967295u, i->getUpperLimit());

    // A record makes a value of the class its users see it as, so typed
    // access to made and cloned values is a true downcast.
    std::unique_ptr<AbstractData> m(AbstractData::create(&rec::Message::theInfo));
    EXPECT_NE(nullptr, dynamic_cast<rec::Message*>(m.get()));
    std::unique_ptr<AbstractData> c(m->clone());
    EXPECT_NE(nullptr, dynamic_cast<rec::Message*>(c.get()));
    std::unique_ptr<AbstractData> s(AbstractData::create(&IA5String::theInfo));
    EXPECT_NE(nullptr, dynamic_cast<IA5String*>(s.get()));
    std::unique_ptr<AbstractData> ci(AbstractData::create(&rec::Int1023::theInfo));
    EXPECT_NE(nullptr, dynamic_cast<rec::Int1023*>(ci.get()));
    std::unique_ptr<AbstractData> e(AbstractData::create(&rec::ErrorCause::theInfo));
    EXPECT_NE(nullptr, dynamic_cast<rec::ErrorCause*>(e.get()));
}

TEST(AbstractData, ClonesAreDeepEqualAndKeepTheRecord)
{
    rec::Rec r;
    static_cast<INTEGER&>(*r.getField(0)) = 5;
    static_cast<IA5String&>(*r.includeOptionalField(1, 2)) = "abc";
    std::unique_ptr<AbstractData> c(r.clone());
    EXPECT_TRUE(*c == r);
    EXPECT_EQ(r.infoPtr(), c->infoPtr());

    // The copy owns its own fields.
    static_cast<IA5String&>(*r.getField(2)) = "xyz";
    EXPECT_TRUE(*c != r);
    EXPECT_EQ("abc", static_cast<std::string const&>(
                         static_cast<IA5String&>(*static_cast<rec::Rec&>(*c).getField(2))));
}
