#include <gtest/gtest.h>

#include <sstream>

#include "asn1/asn1.h"
#include "records.h"

using namespace ASN1;

namespace {

// "valid/strict" of a value, and the tracer's text ("" when valid).
std::string verdict(AbstractData const& v)
{
    std::ostringstream trace;
    bool const traced = trace_invalid(trace, "", v);
    EXPECT_EQ(v.isValid(), traced) << "tracer and check disagree on " << v.asValueNotation();
    std::string s = std::string(v.isValid() ? "valid" : "invalid") + "/" +
                    (v.isStrictlyValid() ? "strict" : "not strict");
    std::string text = trace.str();
    if (!text.empty()) {
        EXPECT_EQ('\n', text.back());
        text.pop_back();
        s += ":" + text;
    }
    return s;
}

typedef Constrained_INTEGER<ExtendableConstraint, 0, 1023> IntExt1023;
typedef Constrained_INTEGER<PartiallyConstrained, 10, 4294967295u> IntFrom10;

} // namespace

TEST(Validity, ScalarRules)
{
    EXPECT_EQ("valid/strict", verdict(rec::Int1023(1023u)));
    EXPECT_EQ("invalid/not strict: The INTEGER value 1024 is greater than upper bound 1023",
              verdict(rec::Int1023(1024u)));
    EXPECT_EQ("invalid/not strict: The INTEGER value 4294967295 is greater than upper bound 1023",
              verdict(rec::Int1023(4294967295u)));  // a range from 0 prints and compares unsigned
    EXPECT_EQ("valid/not strict", verdict(IntExt1023(1024u)));
    EXPECT_EQ("invalid/not strict: The INTEGER value -1 is smaller than lower bound 0",
              verdict(INTEGER(-1)));
    EXPECT_EQ("valid/strict", verdict(INTEGER(7)));
    EXPECT_EQ("valid/strict", verdict(rec::IntSigned8(static_cast<unsigned>(-1))));
    EXPECT_EQ("invalid/not strict: The INTEGER value -129 is smaller than lower bound -128",
              verdict(rec::IntSigned8(static_cast<unsigned>(-129))));
    EXPECT_EQ("invalid/not strict: The INTEGER value 128 is greater than upper bound 127",
              verdict(rec::IntSigned8(128u)));
    EXPECT_EQ("valid/strict", verdict(rec::Int32u(4294967295u)));
    EXPECT_EQ("invalid/not strict: The INTEGER value 9 is smaller than lower bound 10",
              verdict(IntFrom10(9u)));
    EXPECT_EQ("invalid/not strict: The INTEGER value 111999 is smaller than lower bound 112000",
              verdict(rec::IntWide(111999u)));

    rec::StandbyState st;  // not extensible, largest 16
    st.setFromInt(16);
    EXPECT_EQ("valid/strict", verdict(st));
    st.setFromInt(17);
    EXPECT_EQ("invalid/not strict: This ENUMERATED has invalid value 17", verdict(st));
    rec::ErrorCause cause;  // extensible
    cause.setFromInt(99);
    EXPECT_EQ("valid/not strict", verdict(cause));

    EXPECT_EQ("valid/strict", verdict(Null()));
    EXPECT_EQ("valid/strict", verdict(BOOLEAN(true)));
    EXPECT_EQ("invalid/not strict: This OBJECT IDENTIFIER is not assigned",
              verdict(OBJECT_IDENTIFIER()));
    EXPECT_EQ("invalid/not strict: This GeneralizedTime is not valid", verdict(GeneralizedTime(2024, 13, 5, 10, 0, 0, 0, 0, true)));
    EXPECT_EQ("valid/strict", verdict(GeneralizedTime(2024, 3, 5, 10, 0, 0, 0, 0, true)));
}

namespace {
ConstrainedInfo const octets2to4 = {{&OCTET_STRING::create, 4}, FixedConstraint, 2, 4};
ConstrainedInfo const octetsExt2to4 = {{&OCTET_STRING::create, 4}, ExtendableConstraint, 2, 4};
ConstrainedInfo const bits8 = {{&BIT_STRING::create, 3}, FixedConstraint, 8, 8};
StringInfo const numeric1to3 = {{{&NumericString::create, 18}, FixedConstraint, 1, 3},
                                NumericStringSet, 11, 4, 4, 4};
StringInfo const numericExt1to3 = {{{&NumericString::create, 18}, ExtendableConstraint, 1, 3},
                                   NumericStringSet, 11, 4, 4, 4};
BMPStringInfo const bmpAscii = {{{&BMPString::create, 30}, FixedConstraint, 0, 2}, 32, 126, 16, 16};
SequenceOfInfo const ints1to2 = {{{&SEQUENCE_OF_Base::create, 16}, FixedConstraint, 1, 2},
                                 &rec::Int7::theInfo};
} // namespace

TEST(Validity, SizesAndCharacters)
{
    EXPECT_EQ("valid/strict", verdict(OCTET_STRING(2, 'x', &octets2to4)));
    EXPECT_EQ("invalid/not strict: This OCTET STRING has size 1 smaller than its lower bound 2",
              verdict(OCTET_STRING(1, 'x', &octets2to4)));
    EXPECT_EQ("invalid/not strict: This OCTET STRING has size 5 greater than its upper bound 4",
              verdict(OCTET_STRING(5, 'x', &octets2to4)));
    EXPECT_EQ("valid/not strict", verdict(OCTET_STRING(5, 'x', &octetsExt2to4)));

    BIT_STRING b(&bits8);
    b.resize(9);
    EXPECT_EQ("invalid/not strict: This BIT STRING has size 9 greater than its upper bound 8",
              verdict(b));

    EXPECT_EQ("valid/strict", verdict(NumericString("123", &numeric1to3)));
    EXPECT_EQ("invalid/not strict: This AbstractString has size 4 greater than its upper bound 3",
              verdict(NumericString("1234", &numeric1to3)));
    EXPECT_EQ("valid/not strict", verdict(NumericString("1234", &numericExt1to3)));
    EXPECT_EQ("invalid/not strict: This AbstractString has size 0 smaller than its lower bound 1",
              verdict(NumericString("", &numeric1to3)));
    EXPECT_EQ("invalid/not strict: The character 'a' is not valid for the string",
              verdict(NumericString("1a", &numeric1to3)));

    EXPECT_EQ("invalid/not strict: The character '9' is not valid for the string",
              verdict(BMPString(L"a\t", &bmpAscii)));
    EXPECT_EQ("invalid/not strict: This BMPString has size 3 greater than its upper bound 2",
              verdict(BMPString(L"abc", &bmpAscii)));

    SEQUENCE_OF_Base list(&ints1to2);
    EXPECT_EQ("invalid/not strict: This SEQUENCE OF has size 0 smaller than its lower bound 1",
              verdict(list));
    list.resize(2);
    EXPECT_EQ("valid/strict", verdict(list));
    list.resize(5);
    EXPECT_EQ("invalid/not strict: This SEQUENCE OF has size 5 greater than its upper bound 2",
              verdict(list));
}

TEST(Validity, PathsToTheOffendingPart)
{
    rec::Message m;
    static_cast<rec::Int1023&>(*m.includeOptionalField(1, 1)) = 2000u;
    EXPECT_EQ("invalid/not strict:.slot The INTEGER value 2000 is greater than upper bound 1023",
              verdict(m));
    static_cast<rec::Int1023&>(*m.includeOptionalField(1, 1)) = 5u;
    EXPECT_EQ("invalid/not strict:.pdu This CHOICE is not selected", verdict(m));

    CHOICE& pdu = static_cast<CHOICE&>(*m.getField(2));
    pdu.select(0);
    static_cast<CHOICE&>(*pdu.getSelection()).select(2);
    static_cast<rec::Int1023&>(*static_cast<CHOICE&>(*pdu.getSelection()).getSelection()) = 1024u;
    EXPECT_EQ("invalid/not strict:.pdu.command.connect The INTEGER value 1024 is greater than upper bound 1023",
              verdict(m));
    static_cast<CHOICE&>(*pdu.getSelection()).select(12);
    EXPECT_EQ("valid/strict", verdict(m));
    // An absent optional field is not looked at.
    static_cast<rec::Int1023&>(*m.includeOptionalField(1, 1)) = 2000u;
    m.removeOptionalField(1);
    EXPECT_EQ("valid/strict", verdict(m));

    rec::RecList list;
    list.resize(5);
    static_cast<rec::Int7&>(*static_cast<rec::Inner&>(*list[3].getField(3)).getField(0)) = 8u;
    EXPECT_EQ("invalid/not strict:[3].inner.b The INTEGER value 8 is greater than upper bound 7",
              verdict(list));

    rec::Alt alt;
    alt.select(3);  // an extension alternative of an extensible type
    EXPECT_EQ("valid/not strict", verdict(alt));
    alt.setID(9, 2);  // what a decoder does with an alternative it does not know
    EXPECT_EQ("invalid/not strict: This selection is not understood by this decoder", verdict(alt));

    OpenData empty;
    EXPECT_EQ("invalid/not strict: This Open Type does not contain any valid data", verdict(empty));
    OpenData octets;
    octets.grab(new std::vector<char>(1, 0));
    EXPECT_EQ("valid/strict", verdict(octets));
    OpenData holding(new rec::Int7(9u), &OpenData::theInfo);
    EXPECT_EQ("invalid/not strict: The INTEGER value 9 is greater than upper bound 7", verdict(holding));
}

TEST(Validity, TraceInvalidWritesPrefixReasonAndEndOfLine)
{
    std::ostringstream os;
    EXPECT_TRUE(trace_invalid(os, "send: ", rec::Int7(7u)));
    EXPECT_EQ("", os.str());
    EXPECT_FALSE(trace_invalid(os, "send: ", rec::Int7(8u)));
    EXPECT_EQ("send:  The INTEGER value 8 is greater than upper bound 7\n", os.str());

    InvalidTracer tracer;
    rec::Int7(9u).accept(tracer);
    std::ostringstream direct;
    direct << tracer;
    EXPECT_EQ(" The INTEGER value 9 is greater than upper bound 7", direct.str());
}
