#include <gtest/gtest.h>

#include <sstream>

#include "asn1/asn1.h"
#include "records.h"

using namespace ASN1;

namespace {

// The value read from the text, or "FAIL".
template <class T>
std::string parsed(std::string const& text)
{
    T value;
    if (!value.setFromValueNotation(text))
        return "FAIL";
    return value.asValueNotation();
}

} // namespace

TEST(AvnDecoder, ScalarsAndStrings)
{
    struct Case {
        std::string (*parse)(std::string const&);
        char const* text;
        char const* expected;
    } const cases[] = {
        {&parsed<Null>, "NULL", "NULL"},
        {&parsed<Null>, " N U L L", "NULL"},
        {&parsed<Null>, "NUL", "FAIL"},
        {&parsed<BOOLEAN>, "TRUE", "TRUE"},
        {&parsed<BOOLEAN>, "\tFALSE", "FALSE"},
        {&parsed<BOOLEAN>, "true", "FAIL"},
        {&parsed<INTEGER>, "-17", "-17"},
        {&parsed<INTEGER>, "x", "FAIL"},
        {&parsed<rec::Int1023>, "5000", "5000"},  // constraints are the checks' business
        {&parsed<rec::Int32u>, "4294967295", "4294967295"},
        {&parsed<rec::IntSigned8>, "-128", "-128"},
        {&parsed<rec::StandbyState>, "speak=4", "speak=4"},
        {&parsed<rec::StandbyState>, "speak", "FAIL"},
        {&parsed<rec::StandbyState>, "4", "FAIL"},
        {&parsed<rec::RadioStandby>, "not-use=-1", "not-use=-1"},
        {&parsed<OCTET_STRING>, "'abc'H", "'ab c0'H"},
        {&parsed<OCTET_STRING>, "'0A ff'H", "'0a ff'H"},
        {&parsed<OCTET_STRING>, "''H", "''H"},
        {&parsed<OCTET_STRING>, "'0g'H", "FAIL"},
        {&parsed<OCTET_STRING>, "'101'B", "'a0'H"},
        {&parsed<BIT_STRING>, "'101'B", "'101'B"},
        {&parsed<BIT_STRING>, "'A'H", "'1010'B"},
        {&parsed<BIT_STRING>, "'102'B", "FAIL"},
        {&parsed<IA5String>, "\"a b,}\"", "\"a b,}\""},
        {&parsed<IA5String>, "\"open", "FAIL"},
        {&parsed<BMPString>, "\"AB\"", "\"AB\""},
        {&parsed<BMPString>, "\"open", "FAIL"},
        {&parsed<BMPString>, "\"\xE9\"", "FAIL"},  // no character of the default locale
        {&parsed<GeneralizedTime>, "\"20240305101112.5Z\"", "\"20240305101112.500Z\""},
        {&parsed<GeneralizedTime>, "\"2024", "FAIL"},
        {&parsed<OBJECT_IDENTIFIER>, "{ 1 2 840 }", "{ 1 2 840 }"},
        {&parsed<OBJECT_IDENTIFIER>, "{iso(1) member-body (2) 840}", "{ 1 2 840 }"},
        {&parsed<OBJECT_IDENTIFIER>, "{ iso 2 }", "FAIL"},
        {&parsed<OBJECT_IDENTIFIER>, "{ 1 2", "FAIL"},
        {&parsed<OBJECT_IDENTIFIER>, "{ 1 99999999999 }", "FAIL"},
        {&parsed<OBJECT_IDENTIFIER>, "{ 1 4294967296 }", "FAIL"},
        {&parsed<OBJECT_IDENTIFIER>, "{ 1 18446744073709551617 }", "FAIL"},  // 2^64 + 1
        {&parsed<OBJECT_IDENTIFIER>, "{ 1 2x }", "FAIL"},
        {&parsed<OBJECT_IDENTIFIER>, "1 2 }", "FAIL"},
        {&parsed<OBJECT_IDENTIFIER>, "{ iso (1) }", "{ 1 }"},
        {&parsed<OBJECT_IDENTIFIER>, "{ 1 iso }", "FAIL"},
    };
    for (Case const& c : cases)
        EXPECT_EQ(c.expected, c.parse(c.text)) << c.text;
}

TEST(AvnDecoder, SequencesChoicesAndLists)
{
    struct Case {
        std::string (*parse)(std::string const&);
        char const* text;
        char const* expected;
    } const cases[] = {
        {&parsed<rec::Opt>, "{}", "{\n}"},
        {&parsed<rec::Opt>, "{ x 1 }", "{\n  x 1\n}"},
        {&parsed<rec::Opt>, "{ x 1, }", "{\n  x 1\n}"},
        {&parsed<rec::Opt>, "{x 1,}", "{\n  x 1\n}"},
        {&parsed<rec::Opt>, "{ y TRUE }", "{\n  y TRUE\n}"},
        {&parsed<rec::Opt>, "{ y TRUE, x 1 }", "FAIL"},  // out of order
        {&parsed<rec::Opt>, "{ z 1 }", "FAIL"},
        {&parsed<rec::Opt>, "{ x 1 y TRUE }", "FAIL"},
        {&parsed<rec::Opt>, "{ y MAYBE }", "FAIL"},
        {&parsed<rec::Opt>, "( x 1 }", "FAIL"},
        {&parsed<rec::Inner>, "{ b 1, }", "{\n  b 1\n}"},
        {&parsed<rec::Inner>, "{ }", "{\n  b 0\n}"},  // mandatory fields keep their value
        {&parsed<rec::Message>, "{ seq 1, slot 5, pdu command : ping : NULL }",
         "{\n  seq 1,\n  slot 5,\n  pdu command : ping : NULL\n}"},
        {&parsed<rec::Message>, "{ pdu command:ping : NULL }", "FAIL"},  // name:value is one word
        {&parsed<rec::Message>, "{ pdu command : nothing : NULL }", "FAIL"},
        {&parsed<rec::Message>, "{ pdu response : error : slotIdBusy}",
         "{\n  pdu response : error : slotIdBusy\n}"},
        {&parsed<rec::Alt>, "w : \"x\"", "w : \"x\""},  // an extension alternative
        {&parsed<rec::Alt>, "w = \"x\"", "FAIL"},
        {&parsed<rec::IntList>, "{}", "{\n}"},
        {&parsed<rec::IntList>, "{ 1, -2 }", "{\n  1,\n  -2\n}"},
        {&parsed<rec::IntList>, "{ 1 -2 }", "FAIL"},
        {&parsed<rec::IntList>, "{ 1,", "FAIL"},
        {&parsed<rec::IntList>, "(1, 2}", "FAIL"},
    };
    for (Case const& c : cases)
        EXPECT_EQ(c.expected, c.parse(c.text)) << c.text;
}

TEST(AvnDecoder, ClosingBraceEndsTheSequenceWherever)
{
    // Fields after the closing brace keep what they hold, mandatory ones
    // too: the parse succeeds and the validity check tells what is missing.
    rec::Message m;
    ASSERT_TRUE(m.setFromValueNotation("{ slot 5 }"));
    EXPECT_TRUE(m.hasOptionalField(1));
    EXPECT_FALSE(m.isValid());
}

TEST(AvnDecoder, NamesEndBeforeCommaAndClosingBrace)
{
    // The printer puts "," and "}" right after an item name.
    rec::All all;
    static_cast<rec::StandbyState&>(*all.getField(rec::All::st)).setFromInt(4);
    static_cast<CHOICE&>(*all.getField(rec::All::alt)).select(0);
    std::string const text = all.asValueNotation();
    ASSERT_NE(std::string::npos, text.find("st speak=4,"));
    rec::All back;
    ASSERT_TRUE(back.setFromValueNotation(text)) << text;
    EXPECT_EQ(0, back.compare(all));

    typedef SEQUENCE_OF<rec::StandbyState> States;
    States states;
    EXPECT_TRUE(states.setFromValueNotation("{learn,speak=4}"));
    ASSERT_EQ(2u, states.size());
    EXPECT_EQ(4, states[1].asInt());
}

TEST(AvnDecoder, OpenTypesAreNotRead)
{
    OpenData open;
    EXPECT_FALSE(open.setFromValueNotation("'00'H"));
}

TEST(AvnDecoder, StreamEntryPoints)
{
    std::istringstream in("  { x 7 } { y FALSE } junk");
    rec::Opt a, b, c;
    in >> a >> b;
    EXPECT_TRUE(in.good());
    EXPECT_EQ("{\n  x 7\n}", a.asValueNotation());
    EXPECT_EQ("{\n  y FALSE\n}", b.asValueNotation());
    in >> c;
    EXPECT_TRUE(in.fail());
    rec::Opt untouched;
    in >> untouched;  // a failed stream is left alone
    EXPECT_EQ("{\n}", untouched.asValueNotation());

    std::istringstream bad("{ x }");
    rec::Opt d;
    EXPECT_EQ(static_cast<int>(std::ios_base::failbit), d.get_from(bad));
    std::istringstream good("{ x 1 }");
    EXPECT_EQ(0, d.get_from(good));

    // The exception mask is honoured.
    std::istringstream throwing("{ x }");
    throwing.exceptions(std::ios_base::failbit);
    EXPECT_THROW(throwing >> d, std::ios_base::failure);
}

TEST(AvnDecoder, CoderEnvironmentRuleZero)
{
    CoderEnv env;
    env.set_encodingRule(CoderEnv::avn);
    std::string const text = "{ seq 3, pdu signal : NULL }";
    rec::Message m;
    ASSERT_TRUE(decode(text.data(), text.data() + text.size(), &env, m, true));
    std::vector<char> out;
    ASSERT_TRUE(encode(m, &env, std::back_inserter(out)));
    EXPECT_EQ("{\n  seq 3,\n  pdu signal : NULL\n}", std::string(out.begin(), out.end()));
}
