#include <gtest/gtest.h>

#include <random>

#include "asn1/asn1.h"
#include "per_support.h"
#include "records.h"
#include "random_values.h"

using namespace ASN1;

namespace {

std::vector<char> encodeOk(AbstractData const& v)
{
    CoderEnv env;
    env.set_encodingRule(2);
    std::vector<char> out;
    EXPECT_TRUE(encode(v, &env, std::back_inserter(out))) << v.asValueNotation();
    return out;
}

} // namespace

TEST(PerRoundTrip, RandomValuesSurviveEncodeAndDecode)
{
    std::mt19937 rng(20240305);
    for (int round = 0; round < 400; ++round) {
        rec::All value;
        randomAll(rng, value, round % 50 == 0 ? 128 : 4);
        std::vector<char> const octets = encodeOk(value);
        rec::All back;
        ASSERT_TRUE(per::decoded(octets, back)) << "round " << round << "\n"
                                                << value.asValueNotation();
        ASSERT_EQ(0, back.compare(value)) << "round " << round << "\n"
                                          << value.asValueNotation() << "\n"
                                          << back.asValueNotation();
        ASSERT_EQ(octets, encodeOk(back));
    }
}

TEST(PerRoundTrip, EveryTruncationStaysInside)
{
    // Each prefix of a rich message sits in an exactly sized heap block:
    // the decoder may fail, but never reads beyond it.
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        rec::All value;
        randomAll(rng, value, 3);
        std::vector<char> const octets = encodeOk(value);
        for (std::size_t n = 0; n < octets.size(); ++n) {
            rec::All partial;
            per::decoded(std::vector<char>(octets.begin(), octets.begin() + n), partial);
        }
    }
}

TEST(PerRoundTrip, RandomOctetsNeverReadOutside)
{
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> octet(0, 255), length(0, 64);
    for (int round = 0; round < 3000; ++round) {
        std::vector<char> in(static_cast<std::size_t>(length(rng)));
        for (char& c : in)
            c = static_cast<char>(octet(rng));
        rec::All all;
        per::decoded(in, all);
        rec::Message m;
        if (per::decoded(in, m)) {
            // Whatever decodes is a value the encoder can write again,
            // unless a choice was left unknown.
            rec::Message again;
            std::vector<char> out;
            CoderEnv env;
            env.set_encodingRule(2);
            if (encode(m, &env, std::back_inserter(out))) {
                ASSERT_TRUE(per::decoded(out, again));
                EXPECT_EQ(0, again.compare(m));
            }
        }
    }
}
