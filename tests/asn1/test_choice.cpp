#include <gtest/gtest.h>

#include "asn1/asn1.h"
#include "records.h"

using namespace ASN1;

TEST(Choice, SelectKeepsTheCurrentAlternative)
{
    rec::Alt a;
    EXPECT_EQ(-1, a.currentSelection());
    EXPECT_EQ(nullptr, a.getSelection());
    EXPECT_TRUE(a.select(1));
    static_cast<INTEGER&>(*a.getSelection()) = 42;
    EXPECT_TRUE(a.select(1));
    EXPECT_EQ(42, static_cast<INTEGER&>(*a.getSelection()).getValue());
    EXPECT_STREQ("y", a.getSelectionName());

    // setSelection always replaces (the generated select_ accessors).
    a.setSelection(1, AbstractData::create(&rec::Int255::theInfo));
    EXPECT_EQ(0, static_cast<INTEGER&>(*a.getSelection()).getValue());
    EXPECT_NE(nullptr, dynamic_cast<rec::Int255*>(a.getSelection()));
}

TEST(Choice, SelectBeyondTheRecordIsUnknown)
{
    rec::Alt a;
    a.select(2);
    EXPECT_FALSE(a.select(4));  // == total alternatives
    EXPECT_EQ(-2, a.currentSelection());
    EXPECT_TRUE(a.isUnknownSelection());
    EXPECT_EQ(nullptr, a.getSelection());
    EXPECT_TRUE(a.select(3));  // the known extension alternative
    EXPECT_NE(nullptr, dynamic_cast<IA5String*>(a.getSelection()));
    EXPECT_EQ(3u, a.getNumChoices());
    EXPECT_TRUE(a.extendable());
}

TEST(Choice, CompareByIndexThenAlternative)
{
    rec::Alt none, x, y1, y2;
    x.select(0);
    y1.select(1);
    y2.select(1);
    EXPECT_LT(none.compare(x), 0);
    EXPECT_EQ(-1, x.compare(y1));
    EXPECT_EQ(0, y1.compare(y2));
    static_cast<INTEGER&>(*y2.getSelection()) = 3;
    EXPECT_EQ(-3, y1.compare(y2));
    EXPECT_EQ(0, none.compare(rec::Alt()));

    // Alternative 0 is compared too (round trips rely on it).
    rec::PDU p, q;
    p.select(0);
    q.select(0);
    static_cast<CHOICE&>(*q.getSelection()).select(2);
    EXPECT_EQ(-3, p.compare(q));
}

TEST(Choice, CopiesAreDeep)
{
    rec::Alt a;
    a.select(2);
    static_cast<INTEGER&>(*static_cast<SEQUENCE*>(a.getSelection())->getField(0)) = 6;
    rec::Alt b(a);
    rec::Alt c;
    c = a;
    static_cast<INTEGER&>(*static_cast<SEQUENCE*>(a.getSelection())->getField(0)) = 1;
    EXPECT_NE(0, a.compare(b));
    EXPECT_EQ(0, b.compare(c));
    EXPECT_NE(a.getSelection(), b.getSelection());
    EXPECT_NE(nullptr, dynamic_cast<rec::Rec*>(c.getSelection()));
}

TEST(Choice, TagsAndIds)
{
    rec::Alt a;
    EXPECT_TRUE(a.setID(1, 2));
    EXPECT_EQ(1, a.currentSelection());
    EXPECT_EQ(0x800001u, a.getSelectionTag());
    EXPECT_FALSE(a.setID(9, 2));
    EXPECT_EQ(-2, a.currentSelection());
}
