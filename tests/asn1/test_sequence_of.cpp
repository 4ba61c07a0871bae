#include <gtest/gtest.h>

#include <memory>

#include "asn1/asn1.h"
#include "records.h"

using namespace ASN1;

TEST(SequenceOf, ResizeMakesAndDropsElements)
{
    rec::RecList l;
    l.resize(3);
    ASSERT_EQ(3u, l.size());
    for (rec::Rec& r : l)
        EXPECT_NE(nullptr, r.getField(0));
    static_cast<INTEGER&>(*l[1].getField(0)) = 4;
    l.resize(2);
    EXPECT_EQ(2u, l.size());
    EXPECT_EQ(4, static_cast<INTEGER const&>(*l[1].getField(0)).getValue());
    l.resize(0);
    EXPECT_TRUE(l.empty());
}

TEST(SequenceOf, PushBackAndAssignmentCopy)
{
    rec::IntList src;
    src.push_back(INTEGER(1));
    src.push_back(INTEGER(2));
    rec::IntList dst;
    dst.push_back(INTEGER(9));
    dst = src;
    src[0] = 7;
    ASSERT_EQ(2u, dst.size());
    EXPECT_EQ(1, dst[0].getValue());
    EXPECT_EQ(2, dst[1].getValue());

    rec::IntList copy(src);
    EXPECT_EQ(0, copy.compare(src));
    AbstractData* c = src.clone();
    EXPECT_NE(nullptr, dynamic_cast<rec::IntList*>(c));
    EXPECT_EQ(0, c->compare(src));
    delete c;
}

TEST(SequenceOf, CompareElementsThenSize)
{
    rec::IntList a, b;
    a.push_back(INTEGER(1));
    b.push_back(INTEGER(1));
    b.push_back(INTEGER(0));
    EXPECT_EQ(-1, a.compare(b));
    a.push_back(INTEGER(5));
    EXPECT_EQ(5, a.compare(b));
    a[0] = 3;  // the first elements decide too
    EXPECT_EQ(2, a.compare(b));
}

TEST(SequenceOf, InsertAndErase)
{
    rec::IntList l;
    l.insert(l.SEQUENCE_OF_Base::begin(), 2, INTEGER(3));
    rec::IntList other;
    other.push_back(INTEGER(8));
    l.insert(l.SEQUENCE_OF_Base::end(), other.SEQUENCE_OF_Base::begin(),
             other.SEQUENCE_OF_Base::end());
    ASSERT_EQ(3u, l.size());
    EXPECT_EQ(8, l[2].getValue());
    other[0] = 1;
    EXPECT_EQ(8, l[2].getValue());

    unsigned long const held = detail::ValuePool::inUse();
    rec::IntList::iterator next = l.erase(l.begin());
    EXPECT_EQ(3, next->getValue());
#if GW_POOL_ALLOC
    EXPECT_EQ(held - 1, detail::ValuePool::inUse()) << "the erased element was not freed";
#else
    (void)held;
#endif
    EXPECT_EQ(2u, l.size());
    int sum = 0;
    for (rec::IntList::const_iterator it = l.begin(); it != l.end(); ++it)
        sum += (*it).getValue();
    EXPECT_EQ(11, sum);
    l.clear();
    EXPECT_TRUE(l.empty());
}

TEST(SequenceOf, RecordsOfListTypes)
{
    EXPECT_EQ(17u, rec::NameSet::theInfo.tag);
    // The record makes the typed list, also after a module refilled it.
    rec::RecList::init();
    std::unique_ptr<AbstractData> made(AbstractData::create(&rec::RecList::theInfo));
    EXPECT_NE(nullptr, dynamic_cast<rec::RecList*>(made.get()));
}

TEST(OpenData, HoldsValueOctetsBothOrNeither)
{
    OpenData empty;
    EXPECT_TRUE(empty.isEmpty());
    OpenData withValue(new INTEGER(4), &OpenData::theInfo);
    OpenData withOctets;
    withOctets.grab(new std::vector<char>{1, 2});
    EXPECT_TRUE(withOctets.has_buf());
    EXPECT_FALSE(withOctets.has_data());

    EXPECT_EQ(0, empty.compare(OpenData()));
    EXPECT_EQ(1, withValue.compare(withOctets));
    EXPECT_EQ(-1, withOctets.compare(withValue));
    EXPECT_EQ(-1, withOctets.compare(empty));  // an open type that lost its octets is not equal
    EXPECT_EQ(-1, empty.compare(withOctets));
    OpenData octets2;
    octets2.grab(new std::vector<char>{1, 3});
    EXPECT_EQ(-1, withOctets.compare(octets2));

    OpenData copy(withValue);
    EXPECT_EQ(0, copy.compare(withValue));
    EXPECT_NE(&copy.get_data(), &withValue.get_data());

    AbstractData* typed = AbstractData::create(&rec::RecOpenInfo);
    TypeConstrainedOpenData* t = dynamic_cast<TypeConstrainedOpenData*>(typed);
    ASSERT_NE(nullptr, t);
    EXPECT_NE(nullptr, dynamic_cast<rec::Rec*>(&t->get_data()));
    AbstractData* c = typed->clone();
    EXPECT_NE(nullptr, dynamic_cast<TypeConstrainedOpenData*>(c));
    EXPECT_EQ(0, c->compare(*typed));
    delete c;
    delete typed;
}
