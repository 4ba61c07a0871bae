#include <gtest/gtest.h>

#include "asn1/asn1.h"
#include "per_support.h"
#include "records.h"

using namespace ASN1;

TEST(CoderEnv, UnknownRuleCodesNothing)
{
    CoderEnv env;
    std::vector<char> out{'x'};
    EXPECT_FALSE(encode(INTEGER(1), &env, std::back_inserter(out)));  // no rule set yet
    env.set_encodingRule(3);
    EXPECT_EQ(3, env.get_encodingRule());
    EXPECT_FALSE(encode(INTEGER(1), &env, std::back_inserter(out)));
    EXPECT_EQ(std::vector<char>{'x'}, out);
    char const in[] = {0x01, 0x05};
    INTEGER i;
    EXPECT_FALSE(decode(in, in + 2, &env, i, true));
    EXPECT_FALSE(encode(INTEGER(1), nullptr, std::back_inserter(out)));
    EXPECT_FALSE(decode(in, in + 2, nullptr, i, true));
}

TEST(CoderEnv, PerAppendsToTheOutput)
{
    CoderEnv env;
    env.set_encodingRule(2);
    std::vector<char> out{'x'};
    ASSERT_TRUE(encode(INTEGER(-1), &env, std::back_inserter(out)));
    EXPECT_EQ((std::vector<char>{'x', 0x01, char(0xFF)}), out);
    // No bits at all: no octets.
    ASSERT_TRUE(encode(Null(), &env, std::back_inserter(out)));
    EXPECT_EQ(3u, out.size());

    char const in[] = {0x01, 0x05, 0x77};
    INTEGER i;
    EXPECT_TRUE(decode(in, in + 3, &env, i, false));
    EXPECT_EQ(5, i.getValue());
}

TEST(CoderEnv, FailedEncodeWritesNothing)
{
    // The message fails at its last field, after the first were written.
    rec::Message m;
    static_cast<INTEGER&>(*m.includeOptionalField(0, 0)) = 1;
    static_cast<rec::Int1023&>(*m.includeOptionalField(1, 1)) = 2000u;
    CoderEnv env;
    env.set_encodingRule(2);
    std::vector<char> out{'k'};
    EXPECT_FALSE(encode(m, &env, std::back_inserter(out)));
    EXPECT_EQ(std::vector<char>{'k'}, out);
}

TEST(CoderEnv, ValueNotationRule)
{
    CoderEnv env;
    env.set_encodingRule(0);
    std::vector<char> out;
    ASSERT_TRUE(encode(OCTET_STRING(std::vector<char>{1}), &env, std::back_inserter(out)));
    EXPECT_EQ("'01'H", std::string(out.begin(), out.end()));
    rec::Message unselected;
    out.clear();
    EXPECT_FALSE(encode(unselected, &env, std::back_inserter(out)));
    EXPECT_TRUE(out.empty());
}
