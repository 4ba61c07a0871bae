#include <gtest/gtest.h>

#include <sstream>

#include "asn1/abstractstring.h"
#include "asn1/bmpstring.h"

using namespace ASN1;

TEST(AbstractString, CharacterSets)
{
    // Every table ascends (the search relies on it).
    for (StringInfo const* info : {&NumericString::theInfo, &PrintableString::theInfo,
                                   &VisibleString::theInfo, &IA5String::theInfo,
                                   &GeneralString::theInfo}) {
        for (unsigned i = 1; i < info->characterSetSize; ++i)
            EXPECT_LT((unsigned char)info->characterSet[i - 1],
                      (unsigned char)info->characterSet[i]);
        EXPECT_EQ(CountBits(info->characterSetSize), info->canonicalSetBits);
    }
}

TEST(AbstractString, FirstInvalidCharacter)
{
    std::string text = "ab";
    text += char(200);
    IA5String ia5(text);
    EXPECT_EQ(2u, ia5.find_first_invalid());
    EXPECT_FALSE(ia5.isValid());
    GeneralString general(text);
    EXPECT_EQ(std::string::npos, general.find_first_invalid());
    EXPECT_TRUE(general.isValid());

    EXPECT_TRUE(NumericString("12 34").isValid());
    NumericString bad("12-34");
    EXPECT_EQ(2u, bad.find_first_invalid());
    EXPECT_FALSE(bad.isValid());
    EXPECT_EQ(0u, NumericString("-1234").find_first_invalid());
    EXPECT_FALSE(PrintableString("a*b").isStrictlyValid());
    EXPECT_TRUE(PrintableString("Call (1) = ok?").isStrictlyValid());
}

TEST(AbstractString, SizeValidityAndPlainPrinting)
{
    static StringInfo const sized = {{{&IA5String::create, 22}, ExtendableConstraint, 1, 4},
                                     IA5StringSet, 128, 7, 7, 8};
    IA5String s("abcdef", &sized);
    EXPECT_FALSE(s.isStrictlyValid());
    EXPECT_TRUE(s.isValid());  // extendable: longer is allowed
    s = "";
    EXPECT_FALSE(s.isValid());

    std::ostringstream os;
    os << IA5String("plain text");
    EXPECT_EQ("plain text", os.str());
}

TEST(AbstractString, BMPStringLegality)
{
    static BMPStringInfo const narrow = {{{&BMPString::create, 30}, Unconstrained, 0, 0xFFFFFFFFu},
                                         32, 126, 7, 8};
    BMPString b(L"ab\x7f", &narrow);
    EXPECT_EQ(2u, b.first_illegal_at());
    EXPECT_FALSE(b.isValid());
    EXPECT_EQ(3u, BMPString(L"ab\x7f").first_illegal_at());
    EXPECT_LT(BMPString(L"a").compare(BMPString(L"b")), 0);
}
