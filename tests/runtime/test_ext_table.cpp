#include "runtime/ext_table.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

TEST(ExtTable, CellsAreCentredWithTheOddBlankOnTheRightAndLongTextWhole) {
  ext::Table t(4, 3);
  std::ostringstream os;
  os << t << ext::delimeter;
  os << t << ext::beginrow << "ab" << ext::nextrow << "x" << ext::nextrow;
  os << t << ext::beginrow << "a" << ext::nextrow << 42 << ext::nextrow;
  os << t << ext::beginrow << "fd=" << 5u << std::string("/") << -1 << ext::nextrow << "" << ext::nextrow;
  os << t << ext::delimeter;
  EXPECT_EQ(
      "+----+---+\n"
      "| ab | x |\n"
      "| a  |42 |\n"
      "|fd=5/-1|   |\n"
      "+----+---+\n",
      os.str());
}

TEST(ExtTable, RowsAreCompletedAndACompleteRowTakesNothingMore) {
  ext::Table t(3, 3, 2);
  std::ostringstream os;
  os << t << ext::beginrow << "a" << ext::nextrow << "dropped";  // completed at the statement's end
  os << t << "b" << ext::nextrow;                                // not restarted: nothing
  t.resetrow();
  t.row(os, "c");
  t.gap(os);  // closes the open row first
  t.resetrow();
  t.row(os, "d");
  t.delimeter(os);
  EXPECT_EQ("| a |   |  |\n| c |   |  |\n|   |   |  |\n| d |   |  |\n+---+---+--+\n", os.str());
}

TEST(ExtTable, TableWithoutColumnsDrawsNothing) {
  ext::Table t;
  std::ostringstream os;
  t.delimeter(os);
  t.gap(os);
  os << t << ext::beginrow << "x" << ext::nextrow << ext::delimeter;
  EXPECT_EQ("", os.str());
}

}  // namespace
