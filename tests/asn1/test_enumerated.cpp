#include <gtest/gtest.h>

#include <string>

#include "asn1/asn1.h"
#include "records.h"

using namespace ASN1;

TEST(Enumerated, NamesFollowTheNumbering)
{
    // Gaps, a negative first value and an explicit value after plain names.
    struct Case {
        void const* info;
        int value;
        char const* name;
    } const cases[] = {
        {&rec::StandbyState::theInfo, 8, "standby=8"}, {&rec::StandbyState::theInfo, 2, "listen"},
        {&rec::StandbyState::theInfo, 3, nullptr},     {&rec::RadioStandby::theInfo, -1, "not-use=-1"},
        {&rec::RadioStandby::theInfo, 0, "active"},    {&rec::RadioStandby::theInfo, 1, "standby"},
        {&rec::RadioStandby::theInfo, 2, nullptr},     {&rec::Payload::theInfo, 13, "ptG728"},
        {&rec::Payload::theInfo, 14, nullptr},         {&rec::Payload::theInfo, 123, "ptR2S=123"}};
    for (Case const& c : cases) {
        ENUMERATED e(c.info);
        e.setFromInt(c.value);
        char const* name = e.getName();
        EXPECT_EQ(std::string(c.name ? c.name : "(null)"), std::string(name ? name : "(null)"))
            << c.value;
    }
}

TEST(Enumerated, SetFromNameAndValidity)
{
    rec::StandbyState s;
    EXPECT_TRUE(s.setFromName("active=16"));
    EXPECT_EQ(16, s.asInt());
    EXPECT_TRUE(s.isStrictlyValid());
    EXPECT_FALSE(s.setFromName("active"));  // the whole entry text is the name
    EXPECT_EQ(17, s.asInt());
    EXPECT_FALSE(s.isStrictlyValid());
    EXPECT_FALSE(s.isValid());

    rec::RadioStandby r;
    r.setFromInt(-1);
    EXPECT_TRUE(r.isStrictlyValid());

    rec::ErrorCause e;
    e.setFromInt(40);
    EXPECT_FALSE(e.isStrictlyValid());
    EXPECT_TRUE(e.isValid());  // extendable
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
