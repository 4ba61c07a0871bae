#include <gtest/gtest.h>

#include <sstream>

#include "asn1/asn1.h"
#include "records.h"

using namespace ASN1;

namespace {
rec::Message connectMessage()
{
    rec::Message m;
    static_cast<INTEGER&>(*m.includeOptionalField(0, 0)) = 7;
    static_cast<rec::Int1023&>(*m.includeOptionalField(1, 1)) = 3u;
    CHOICE& pdu = static_cast<CHOICE&>(*m.getField(2));
    pdu.setSelection(0, AbstractData::create(&rec::Command::theInfo));
    CHOICE& cmd = static_cast<CHOICE&>(*pdu.getSelection());
    cmd.setSelection(2, AbstractData::create(&rec::Int1023::theInfo));
    static_cast<rec::Int1023&>(*cmd.getSelection()) = 5u;
    return m;
}
} // namespace

TEST(AvnEncoder, FiveLineMessage)
{
    EXPECT_EQ("{\n"
              "  seq 7,\n"
              "  slot 3,\n"
              "  pdu command : connect : 5\n"
              "}",
              connectMessage().asValueNotation());
    std::ostringstream os;
    os << connectMessage();
    EXPECT_TRUE(os.good());
    EXPECT_EQ(connectMessage().asValueNotation(), os.str());
}

TEST(AvnEncoder, NestedAndEmpty)
{
    rec::Rec r;
    static_cast<INTEGER&>(*static_cast<SEQUENCE&>(*r.getField(3)).getField(0)) = 1;
    EXPECT_EQ("{\n"
              "  a 0,\n"
              "  inner {\n"
              "    b 1\n"
              "  }\n"
              "}",
              r.asValueNotation());
    EXPECT_EQ("{\n}", rec::Opt().asValueNotation());
    EXPECT_EQ("{\n}", rec::IntList().asValueNotation());

    // Extensions print like root fields.
    static_cast<OCTET_STRING&>(*r.includeOptionalField(3, 5)) = std::vector<char>{1};
    static_cast<IA5String&>(*r.includeOptionalField(1, 2)) = "x";
    EXPECT_EQ("{\n"
              "  a 0,\n"
              "  c \"x\",\n"
              "  inner {\n"
              "    b 1\n"
              "  },\n"
              "  e '01'H\n"
              "}",
              r.asValueNotation());
}

TEST(AvnEncoder, Lists)
{
    rec::IntList l;
    l.push_back(INTEGER(1));
    l.push_back(INTEGER(-2));
    EXPECT_EQ("{\n  1,\n  -2\n}", l.asValueNotation());

    rec::RecList rl;
    rl.resize(1);
    EXPECT_EQ("{\n"
              "  {\n"
              "    a 0,\n"
              "    inner {\n"
              "      b 0\n"
              "    }\n"
              "  }\n"
              "}",
              rl.asValueNotation());
}

TEST(AvnEncoder, Scalars)
{
    EXPECT_EQ("NULL", Null().asValueNotation());
    EXPECT_EQ("TRUE", BOOLEAN(true).asValueNotation());
    EXPECT_EQ("4294967295", rec::Int32u(0xFFFFFFFFu).asValueNotation());
    EXPECT_EQ("-1", INTEGER(-1).asValueNotation());
    EXPECT_EQ("-1", rec::IntSigned8(0xFFFFFFFFu).asValueNotation());

    rec::StandbyState s;
    s.setFromInt(8);
    EXPECT_EQ("standby=8", s.asValueNotation());
    s.setFromInt(3);
    EXPECT_EQ("3", s.asValueNotation());

    OBJECT_IDENTIFIER o;
    o.append(1);
    o.append(2);
    o.append(840);
    EXPECT_EQ("{ 1 2 840 }", o.asValueNotation());

    BIT_STRING b;
    b.assign(std::vector<char>(1, char(0xA0)), 4);
    EXPECT_EQ("'1010'B", b.asValueNotation());

    EXPECT_EQ("'01 ab ff'H", OCTET_STRING(std::vector<char>{1, char(0xAB), char(0xFF)}).asValueNotation());
    EXPECT_EQ("''H", OCTET_STRING().asValueNotation());
    EXPECT_EQ("\"a b\"", IA5String("a b").asValueNotation());
    EXPECT_EQ("\"20240305140709.250Z\"",
              GeneralizedTime(2024, 3, 5, 14, 7, 9, 250, 0, true).asValueNotation());
    EXPECT_EQ("\"ab\"", BMPString(L"ab").asValueNotation());
    EXPECT_EQ("{{ 0, 0, 1, 0}, { 0, 0, 0, 65}}", BMPString(L"\x100" L"A").asValueNotation());
}

TEST(AvnEncoder, OctetsLeaveTheStreamDecimal)
{
    std::ostringstream os;
    os << OCTET_STRING(std::vector<char>{0x00, 0x0F}) << ' ' << 26;
    EXPECT_EQ("'00 0f'H 26", os.str());
}

TEST(AvnEncoder, OpenTypes)
{
    OpenData v(new INTEGER(4), &OpenData::theInfo);
    EXPECT_EQ("4", v.asValueNotation());
    OpenData o;
    o.grab(new std::vector<char>{0x10});
    EXPECT_EQ("'10'H", o.asValueNotation());
    std::ostringstream os;
    os << OpenData();
    EXPECT_TRUE(os.fail());
}

TEST(AvnEncoder, UnselectedChoiceFailsTheStream)
{
    rec::Message m;
    static_cast<INTEGER&>(*m.includeOptionalField(0, 0)) = 1;
    std::ostringstream os;
    os << m;
    EXPECT_TRUE(os.fail());
    EXPECT_EQ("{\n  seq 1,\n  pdu ", os.str());
    EXPECT_EQ(static_cast<int>(std::ios_base::failbit), m.print_on(os));

    // A stream that is not good receives nothing.
    std::ostringstream bad;
    bad.setstate(std::ios_base::failbit);
    bad << connectMessage();
    EXPECT_EQ("", bad.str());
}

TEST(AvnEncoder, ExceptionMaskDecidesWhetherFailureThrows)
{
    rec::Message m;  // nothing selected: the print fails
    std::ostringstream loud;
    loud.exceptions(std::ios_base::failbit);
    EXPECT_THROW(loud << m, std::ios_base::failure);
}
