#include <gtest/gtest.h>

#include <string>

#include "asn1/asn1.h"
#include "records.h"

using namespace ASN1;

namespace {
std::string nameOf(ENUMERATED const& e)
{
    char const* n = e.getName();
    return n ? n : "(null)";
}
} // namespace

TEST(Enumerated, NamesWithGapsFollowTheNumbering)
{
    rec::StandbyState s;
    EXPECT_EQ(16, s.getMaximum());
    EXPECT_FALSE(s.extendable());
    s.setFromInt(8);
    EXPECT_EQ("standby=8", nameOf(s));
    s.setFromInt(2);
    EXPECT_EQ("listen", nameOf(s));
    s.setFromInt(3);
    EXPECT_EQ("(null)", nameOf(s));

    EXPECT_TRUE(s.setFromName("active=16"));
    EXPECT_EQ(16, s.asInt());
    EXPECT_FALSE(s.setFromName("active"));
    EXPECT_EQ(17, s.asInt());
    EXPECT_FALSE(s.isStrictlyValid());
    EXPECT_FALSE(s.isValid());
}

TEST(Enumerated, NegativeValueAndFollowers)
{
    rec::RadioStandby r;
    r.setFromInt(-1);
    EXPECT_EQ("not-use=-1", nameOf(r));
    EXPECT_TRUE(r.isStrictlyValid());
    r.setFromInt(0);
    EXPECT_EQ("active", nameOf(r));
    r.setFromInt(1);
    EXPECT_EQ("standby", nameOf(r));
    r.setFromInt(2);
    EXPECT_EQ("(null)", nameOf(r));
    EXPECT_FALSE(r.isStrictlyValid());
}

TEST(Enumerated, ExplicitValueAfterPlainNames)
{
    rec::Payload p;
    p.setFromInt(13);
    EXPECT_EQ("ptG728", nameOf(p));
    p.setFromInt(14);
    EXPECT_EQ("(null)", nameOf(p));
    p.setFromInt(123);
    EXPECT_EQ("ptR2S=123", nameOf(p));
}

TEST(Enumerated, ExtendableAcceptsAnyValueAsValid)
{
    rec::ErrorCause e;
    e.setFromInt(40);
    EXPECT_FALSE(e.isStrictlyValid());
    EXPECT_TRUE(e.isValid());
}

TEST(Enumerated, AssignmentCopiesTheValueOnly)
{
    rec::Payload p;
    p.setFromInt(123);
    rec::ErrorCause e;
    static_cast<ENUMERATED&>(e) = p;
    EXPECT_EQ(123, e.asInt());
    EXPECT_EQ(&rec::ErrorCause::theInfo, e.infoPtr());
    EXPECT_EQ(0, e.compare(p));
}
