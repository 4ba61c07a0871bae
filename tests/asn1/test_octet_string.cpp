#include <gtest/gtest.h>

#include "asn1/octet_string.h"

using namespace ASN1;

TEST(OctetString, CompareIsLexicographicUnsigned)
{
    OCTET_STRING a(std::vector<char>{0x01, char(0xFF)});
    OCTET_STRING b(std::vector<char>{0x01});
    EXPECT_GT(a.compare(b), 0);
    EXPECT_LT(b.compare(a), 0);
    OCTET_STRING z(1, 0x00), h(1, char(0x80));
    EXPECT_LT(z.compare(h), 0);
    EXPECT_TRUE(a == OCTET_STRING(std::vector<char>{0x01, char(0xFF)}));
}

TEST(OctetString, TextAndSizeValidity)
{
    EXPECT_EQ("abc", static_cast<std::string>(OCTET_STRING(std::vector<char>{'a', 'b', 'c'})));
    static ConstrainedInfo const sized = {{&OCTET_STRING::create, 4}, PartiallyConstrained, 2, 3};
    OCTET_STRING s(4, 'x', &sized);
    EXPECT_FALSE(s.isStrictlyValid());
    EXPECT_TRUE(s.isValid());  // the upper bound binds only a fixed constraint
    EXPECT_FALSE(OCTET_STRING(1, 'x', &sized).isValid());
}
