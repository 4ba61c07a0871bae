#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "asn1/generalizedtime.h"

using namespace ASN1;

namespace {
std::vector<int> fields(GeneralizedTime const& t)
{
    return {t.getYear(),   t.getMonth(),    t.getDay(),    t.getHour(), t.getMinute(),
            t.getSecond(), t.getMillisec(), t.getMinDiff(), t.getUTC()};
}
} // namespace

TEST(GeneralizedTime, ParseAndFormat)
{
    GeneralizedTime t("20240305140709Z");
    EXPECT_EQ((std::vector<int>{2024, 3, 5, 14, 7, 9, 0, 0, 1}), fields(t));
    EXPECT_EQ("20240305140709Z", t.get());

    GeneralizedTime o("20240305140709.5-0130");
    EXPECT_EQ(500, o.getMillisec());
    EXPECT_EQ(-90, o.getMinDiff());
    EXPECT_FALSE(o.getUTC());
    EXPECT_EQ("20240305140709.500-0130", o.get());

    EXPECT_EQ("20240305140709.250Z", GeneralizedTime(2024, 3, 5, 14, 7, 9, 250, 0, true).get());
    EXPECT_EQ("20240305140709.250+0130",
              GeneralizedTime(2024, 3, 5, 14, 7, 9, 250, 90, false).get());
}

TEST(GeneralizedTime, ExtremeFieldsFormatWhole)
{
    // Fields set through the constructor are not bounded by any text.
    int const m = -2147483647 - 1;
    EXPECT_EQ("-2147483648-2147483648-2147483648-2147483648-2147483648-2147483648.-2147483648-3579139408",
              GeneralizedTime(m, m, m, m, m, m, m, m, false).get());
    EXPECT_EQ("00010101000000+3579139407", GeneralizedTime(1, 1, 1, 0, 0, 0, 0, 2147483647, false).get());
}

TEST(GeneralizedTime, EveryMillisecondSurvivesItsText)
{
    for (int ms = 0; ms < 1000; ++ms) {
        GeneralizedTime t(2001, 2, 3, 4, 5, 6, ms, 0, true);
        GeneralizedTime back(t.get().c_str());
        ASSERT_EQ(ms, back.getMillisec()) << t.get();
    }
}

TEST(GeneralizedTime, ShortTextsReadNothingOutside)
{
    // Short texts sit at the end of exactly sized heap blocks, so a read
    // before or after them is caught by the address sanitizer.
    for (char const* text : {"", "Z", "+", "2024", "-0130", "20240305", "2024030514070"}) {
        std::size_t const n = std::strlen(text) + 1;
        char* copy = new char[n];
        std::memcpy(copy, text, n);
        GeneralizedTime t;
        t.set(copy);
        delete[] copy;
    }
    GeneralizedTime partial("2024");
    EXPECT_EQ(2024, partial.getYear());
    EXPECT_EQ(1, partial.getMonth());  // unread fields keep their values
    GeneralizedTime z("Z");
    EXPECT_TRUE(z.getUTC());
}

TEST(GeneralizedTime, ValidityAndCompare)
{
    EXPECT_TRUE(GeneralizedTime(2024, 1, 1, 24, 0, 0, 0, 0, false).isValid());
    EXPECT_FALSE(GeneralizedTime(2024, 1, 1, 0, 0, 0, 0, 721, false).isValid());
    EXPECT_FALSE(GeneralizedTime(2024, 13, 1, 0, 0, 0, 0, 0, false).isValid());

    // The offset is not compared; the UTC flag is, last.
    GeneralizedTime a(2024, 1, 1, 0, 0, 0, 0, 60, false), b(2024, 1, 1, 0, 0, 0, 0, -60, false);
    EXPECT_EQ(0, a.compare(b));
    GeneralizedTime u(2024, 1, 1, 0, 0, 0, 0, 0, true);
    EXPECT_EQ(-1, a.compare(u));
    EXPECT_EQ(-1, GeneralizedTime(2024, 1, 1, 0, 0, 0, 0, 0, true)
                      .compare(GeneralizedTime(2024, 1, 2, 0, 0, 0, 0, 0, false)));
}

TEST(GeneralizedTime, TimeT)
{
    GeneralizedTime t;
    t.set_time_t(0);
    EXPECT_EQ("19700101000000", t.get());
    t.set_time_t(1709647629);  // 2024-03-05 14:07:09 UTC
    EXPECT_EQ("20240305140709", t.get());
}
