#include <gtest/gtest.h>

#include <sstream>

#include "asn1/literals.h"

using namespace ASN1;

TEST(Literals, BitAndHexStrings)
{
    std::vector<char> out;
    unsigned bits = 99;
    EXPECT_TRUE(get_from_bstring("1", out, bits));
    EXPECT_EQ(std::vector<char>{char(0x80)}, out);
    EXPECT_EQ(1u, bits);

    out.clear();
    EXPECT_TRUE(get_from_hstring("A", out, bits));
    EXPECT_EQ(std::vector<char>{char(0xA0)}, out);
    EXPECT_EQ(4u, bits);

    out.clear();
    EXPECT_TRUE(get_from_hstring("0F", out, bits));
    EXPECT_EQ(std::vector<char>{0x0F}, out);
    EXPECT_EQ(8u, bits);

    out.clear();
    EXPECT_TRUE(get_from_hstring("01 ab\nFF", out, bits));
    EXPECT_EQ((std::vector<char>{0x01, char(0xAB), char(0xFF)}), out);

    out.clear();
    EXPECT_TRUE(get_from_bstring("", out, bits));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(0u, bits);

    out.clear();
    EXPECT_FALSE(get_from_hstring("0G", out, bits));
    EXPECT_FALSE(get_from_bstring("12", out, bits));
    EXPECT_FALSE(get_from_hstring("-1", out, bits));  // no signs
}

TEST(Literals, StreamReaders)
{
    std::istringstream is("  '1010'B 'ff'H 'zz'X \"some text\" x");
    std::vector<char> out;
    unsigned bits = 0;
    EXPECT_TRUE(get_value_from(is, out, bits));
    EXPECT_EQ(std::vector<char>{char(0xA0)}, out);
    EXPECT_EQ(4u, bits);
    out.clear();
    EXPECT_TRUE(get_value_from(is, out, bits));
    EXPECT_EQ(std::vector<char>{char(0xFF)}, out);
    EXPECT_FALSE(get_value_from(is, out, bits));

    std::string text;
    EXPECT_TRUE(get_string(is, text));
    EXPECT_EQ("some text", text);
    EXPECT_FALSE(get_string(is, text));

    char const* names[] = {"a", "b", "b"};
    unsigned id = 9;
    EXPECT_TRUE(get_id(names, 3, "b", id));
    EXPECT_EQ(1u, id);
    EXPECT_FALSE(get_id(names, 3, "c", id));

    EXPECT_TRUE(is_space_or_newline(' '));
    EXPECT_TRUE(is_space_or_newline('\n'));
    EXPECT_FALSE(is_space_or_newline('\t'));
}
