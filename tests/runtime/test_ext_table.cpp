#include "runtime/ext_table.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

TEST(ExtTable, CellsAreCentredWithTheOddBlankOnTheRight) {
  ext::Table t(4, 3);
  std::ostringstream os;
  os << t << ext::delimeter;
  os << t << ext::beginrow << "ab" << ext::nextrow << "x" << ext::nextrow;
  os << t << ext::beginrow << "a" << ext::nextrow << 42 << ext::nextrow;
  os << t << ext::delimeter;
  EXPECT_EQ(
      "+----+---+\n"
      "| ab | x |\n"
      "| a  |42 |\n"
      "+----+---+\n",
      os.str());
}

TEST(ExtTable, ValuesOfOneCellAreJoined) {
  ext::Table t(12);
  std::ostringstream os;
  os << t << ext::beginrow << "fd=" << 5u << std::string("/") << -1 << ext::nextrow;
  EXPECT_EQ("|  fd=5/-1   |\n", os.str());
}

TEST(ExtTable, LongTextIsWrittenWholeWithoutBlanks) {
  ext::Table t(4, 2);
  std::ostringstream os;
  os << t << ext::beginrow << "abcdef" << ext::nextrow << "" << ext::nextrow;
  EXPECT_EQ("|abcdef|  |\n", os.str());
}

TEST(ExtTable, ShortRowIsCompletedAtTheEndOfTheStatement) {
  ext::Table t(3, 3, 2);
  std::ostringstream os;
  os << t << ext::beginrow << "a" << ext::nextrow << "dropped";
  EXPECT_EQ("| a |   |  |\n", os.str());
}

TEST(ExtTable, CellAfterACompleteRowWritesNothingUntilRestarted) {
  ext::Table t(3);
  std::ostringstream os;
  os << t << ext::beginrow << "a" << ext::nextrow;
  os << t << "b" << ext::nextrow;
  EXPECT_EQ("| a |\n", os.str());
  os << t << ext::beginrow << "c" << ext::nextrow;
  EXPECT_EQ("| a |\n| c |\n", os.str());
}

TEST(ExtTable, DelimiterAndGapCloseAnOpenRow) {
  ext::Table t(2, 2);
  std::ostringstream os;
  t.resetrow();
  t.row(os, "a");
  t.gap(os);
  t.resetrow();
  t.row(os, "b");
  t.delimeter(os);
  EXPECT_EQ("|a |  |\n|  |  |\n|b |  |\n+--+--+\n", os.str());
}

TEST(ExtTable, TableWithoutColumnsDrawsNothing) {
  ext::Table t;
  std::ostringstream os;
  t.delimeter(os);
  t.gap(os);
  os << t << ext::beginrow << "x" << ext::nextrow << ext::delimeter;
  EXPECT_EQ("", os.str());
  t.add(1);
  t.delimeter(os);
  EXPECT_EQ("+-+\n", os.str());
}

}  // namespace
