// Property tests of the BER codec and the value-notation parser on random
// values of the test records, and of the validity checks against the tracer.

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "asn1/asn1.h"
#include "ber_support.h"
#include "random_values.h"
#include "records.h"

using namespace ASN1;

namespace {

// Brings a random value into the forms value notation can carry: strings
// without double quotes, BMP text the default locale converts, items with
// names (numbers are not read back).
class NotationScrubber : public Visitor {
protected:
    using Visitor::do_visit;
    bool do_visit(Null&) override { return true; }
    bool do_visit(BOOLEAN&) override { return true; }
    bool do_visit(INTEGER&) override { return true; }
    bool do_visit(ENUMERATED& v) override
    {
        if (!v.getName())
            v.setFromName(v.info()->names[0]);
        return true;
    }
    bool do_visit(OBJECT_IDENTIFIER&) override { return true; }
    bool do_visit(OCTET_STRING&) override { return true; }
    bool do_visit(BIT_STRING&) override { return true; }
    bool do_visit(AbstractString& v) override
    {
        for (char& c : v) {
            if (c == '"')
                c = '\'';
        }
        return true;
    }
    bool do_visit(BMPString& v) override
    {
        for (wchar_t& c : v) {
            c = static_cast<wchar_t>(32 + static_cast<unsigned>(c) % 95);
            if (c == L'"')
                c = L'#';
        }
        return true;
    }
    bool do_visit(CHOICE& v) override { return !v.getSelection() || v.getSelection()->accept(*this); }
    bool do_visit(SEQUENCE_OF_Base& v) override
    {
        for (AbstractData* e : v) {
            if (!e->accept(*this))
                return false;
        }
        return true;
    }
    bool do_visit(OpenData&) override { return true; }
    bool do_revisit(OpenData&) override { return true; }
    bool do_visit(TypeConstrainedOpenData& v) override { return v.get_data().accept(*this); }
    bool do_visit(GeneralizedTime&) override { return true; }
    int visitExtensionRoot(SEQUENCE& v, int index, int optId) override
    {
        if (optId >= 0 && !v.hasOptionalField(static_cast<unsigned>(optId)))
            return ContinueWithExt;
        return v.getField(static_cast<unsigned>(index))->accept(*this) ? ContinueWithExt : Fail;
    }
    int visitKnownExtension(SEQUENCE& v, int index, int optId) override
    {
        return visitExtensionRoot(v, index, optId);
    }
};

} // namespace

TEST(BerRoundTrip, RandomValuesComeBackEqualAndNoPrefixDecodes)
{
    std::mt19937 rng(20261207);
    for (int round = 0; round < 300; ++round) {
        rec::All value;
        randomAll(rng, value, round % 50 == 0 ? 128 : 4);
        std::vector<char> octets;
        ASSERT_TRUE(bertest::encode(value, octets)) << value.asValueNotation();
        ASSERT_EQ(octets.size(), getObjectLength(value, 0xFFFFFFFFu));
        rec::All back;
        ASSERT_TRUE(bertest::decoded(octets, back)) << "round " << round << "\n" << value.asValueNotation();
        ASSERT_EQ(0, back.compare(value)) << value.asValueNotation() << "\n" << back.asValueNotation();
        std::vector<char> again;
        ASSERT_TRUE(bertest::encode(back, again));
        ASSERT_EQ(octets, again);
        if (round % 10 == 0) {
            for (std::size_t n = 0; n < octets.size(); ++n) {
                rec::All partial;
                ASSERT_FALSE(bertest::decoded(std::vector<char>(octets.begin(), octets.begin() + n), partial))
                    << "prefix of " << n << " of " << octets.size();
            }
        }
    }
}

TEST(BerRoundTrip, RandomOctetsNeverReadOutside)
{
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> octet(0, 255), length(0, 48);
    for (int round = 0; round < 3000; ++round) {
        std::vector<char> in(static_cast<std::size_t>(length(rng)));
        for (char& c : in)
            c = static_cast<char>(octet(rng));
        if (round % 2 && in.size() > 2) {
            in[0] = 0x30;  // mostly well-formed outer headers
            in[1] = static_cast<char>(in.size() - 2);
        }
        rec::All all;
        bertest::decoded(in, all);
        rec::Message m;
        if (bertest::decoded(in, m)) {
            std::vector<char> out;
            if (bertest::encode(m, out)) {
                rec::Message again;
                ASSERT_TRUE(bertest::decoded(out, again));
                EXPECT_EQ(0, again.compare(m));
            }
        }
    }
}

TEST(NotationRoundTrip, PrintedRandomValuesParseBackEqual)
{
    std::mt19937 rng(1207);
    NotationScrubber scrub;
    for (int round = 0; round < 300; ++round) {
        rec::All value;
        randomAll(rng, value, round % 50 == 0 ? 128 : 4);
        value.removeOptionalField(6);  // an open type holds nothing notation can name
        ASSERT_TRUE(value.accept(scrub));
        std::string const text = value.asValueNotation();
        rec::All back;
        ASSERT_TRUE(back.setFromValueNotation(text)) << text;
        ASSERT_EQ(0, back.compare(value)) << text << "\n" << back.asValueNotation();

        std::istringstream in(text + "\n" + text);
        rec::All first, second;
        in >> first >> second;
        ASSERT_FALSE(in.fail());
        EXPECT_EQ(0, second.compare(value));
    }
}

TEST(ValidityProperty, TracerRejectsExactlyWhatTheCheckRejects)
{
    std::mt19937 rng(99);
    int invalid = 0;
    for (int round = 0; round < 300; ++round) {
        rec::All value;
        randomAll(rng, value, 4);
        // Now and then a part out of its range.
        if (round % 3 == 0)
            static_cast<rec::Int7&>(*value.getField(rec::All::i7)) = static_cast<unsigned>(rnd::between(rng, 0, 9));
        if (round % 5 == 0)
            static_cast<rec::StandbyState&>(*value.getField(rec::All::st)).setFromInt(rnd::between(rng, 15, 17));
        std::ostringstream trace;
        bool const traced = trace_invalid(trace, "x", value);
        ASSERT_EQ(value.isValid(), traced) << trace.str();
        ASSERT_EQ(traced, trace.str().empty());
        if (value.isStrictlyValid()) {
            ASSERT_TRUE(value.isValid());
        }
        invalid += traced ? 0 : 1;
    }
    EXPECT_GT(invalid, 20);
}
