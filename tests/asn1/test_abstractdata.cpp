#include <gtest/gtest.h>

#include "asn1/asn1.h"
#include "records.h"

using namespace ASN1;

TEST(AbstractData, CountBitsAtTheEdges)
{
    EXPECT_EQ(32u, CountBits(0));
    EXPECT_EQ(0u, CountBits(1));
    EXPECT_EQ(1u, CountBits(2));
    EXPECT_EQ(2u, CountBits(3));
    EXPECT_EQ(2u, CountBits(4));
    EXPECT_EQ(8u, CountBits(255));
    EXPECT_EQ(8u, CountBits(256));
    EXPECT_EQ(31u, CountBits(0x80000000u));
    EXPECT_EQ(32u, CountBits(0x80000001u));
    EXPECT_EQ(32u, CountBits(0xFFFFFFFFu));
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

    AbstractData* v = AbstractData::create(&INTEGER::theInfo);
    ASSERT_NE(nullptr, v);
    INTEGER* i = dynamic_cast<INTEGER*>(v);
    ASSERT_NE(nullptr, i);
    EXPECT_EQ(0, i->getValue());
    EXPECT_EQ(2u, i->getTag());
    EXPECT_EQ(4294967295u, i->getUpperLimit());
    EXPECT_FALSE(i->constrained());
    delete v;

    // A record makes a value of the class its users see it as, so typed
    // access to made and cloned values is a true downcast.
    AbstractData* m = AbstractData::create(&rec::Message::theInfo);
    EXPECT_NE(nullptr, dynamic_cast<rec::Message*>(m));
    AbstractData* c = m->clone();
    EXPECT_NE(nullptr, dynamic_cast<rec::Message*>(c));
    delete c;
    delete m;

    AbstractData* s = AbstractData::create(&IA5String::theInfo);
    EXPECT_NE(nullptr, dynamic_cast<IA5String*>(s));
    delete s;
    AbstractData* ci = AbstractData::create(&rec::Int1023::theInfo);
    EXPECT_NE(nullptr, dynamic_cast<rec::Int1023*>(ci));
    delete ci;
}

TEST(AbstractData, ClonesAreDeepEqualAndKeepTheRecord)
{
    rec::Rec r;
    static_cast<INTEGER&>(*r.getField(0)) = 5;
    static_cast<IA5String&>(*r.includeOptionalField(1, 2)) = "abc";
    AbstractData* c = r.clone();
    EXPECT_EQ(0, c->compare(r));
    EXPECT_TRUE(*c == r);
    EXPECT_EQ(r.infoPtr(), c->infoPtr());

    // The copy owns its own fields.
    static_cast<IA5String&>(*r.getField(2)) = "xyz";
    EXPECT_TRUE(*c != r);
    EXPECT_EQ("abc", static_cast<std::string const&>(
                         static_cast<IA5String&>(*static_cast<rec::Rec*>(c)->getField(2))));
    delete c;
}
