#pragma once
// Fixed-width text tables with ruled lines, drawn one output statement per
// row:
//
//   ext::Table t(10, 5);
//   os << t << ext::delimeter;
//   os << t << ext::beginrow << "name" << ext::nextrow << 42 << ext::nextrow;
//
// Each cell is centred in its column and closed by "|"; a text longer than
// its column is written whole (that line is then longer than the others). A
// row left short at the end of its statement is completed with blank cells.
#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace ext {

class Table {
 public:
  // Collects the cells of one output statement; its end closes the row.
  class Sentry {
   public:
    Sentry(std::ostream& os, Table& table) : os_(os), table_(table) {}
    Sentry(const Sentry&) = delete;
    Sentry& operator=(const Sentry&) = delete;
    ~Sentry() { table_.finalize(os_); }

    // Appends a value, formatted by its own stream operator, to the cell.
    template <typename V>
    Sentry& operator<<(const V& value) {
      put(value);
      return *this;
    }
    Sentry& operator<<(Sentry& (*manip)(Sentry&)) { return manip(*this); }

    template <typename V>
    void put(const V& value) { cell_ << value; }

    void row();  // closes the collected cell
    void resetrow() { table_.resetrow(); }
    void delimeter() { table_.delimeter(os_); }

   private:
    std::ostream& os_;
    Table& table_;
    std::ostringstream cell_;
  };

  Table() { init(); }
  template <typename... W>
  explicit Table(W... widths) {
    static_assert(sizeof...(W) <= 7, "at most seven columns at construction");
    init();
    (add(widths), ...);
  }

  void add(int width) { widths_.push_back(width); }
  void resetrow() {
    column_ = 0;
    in_row_ = false;
  }
  void row(std::ostream& os, const std::string& text);
  void finalize(std::ostream& os);
  void delimeter(std::ostream& os);
  void gap(std::ostream& os);

 private:
  void init() {
    column_ = 0;
    in_row_ = false;
  }

  std::vector<int> widths_;
  std::uint32_t column_ = 0;
  bool in_row_ = false;
};

inline Table::Sentry operator<<(std::ostream& os, Table& table) { return Table::Sentry(os, table); }

// Closes the collected cell (one cell, not a row).
Table::Sentry& nextrow(Table::Sentry& s);
// Starts a new row.
Table::Sentry& beginrow(Table::Sentry& s);
// Draws a ruled line.
Table::Sentry& delimeter(Table::Sentry& s);

}  // namespace ext
