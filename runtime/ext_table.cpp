#include "runtime/ext_table.h"

#include <algorithm>

namespace ext {

void Table::Sentry::row() {
  table_.row(os_, cell_.str());
  cell_.str(std::string());
  cell_.clear();
}

void Table::row(std::ostream& os, const std::string& text) {
  // A complete row takes nothing more until it is restarted.
  if (column_ >= widths_.size()) return;
  in_row_ = true;
  const int w = widths_[column_];
  const int len = static_cast<int>(std::min<std::size_t>(text.size(), w < 0 ? 0 : std::size_t(w)));
  const int surplus = w - len > 0 ? w - len : 0;
  os << '|' << std::string(surplus / 2, ' ') << text << std::string((surplus + 1) / 2, ' ');
  ++column_;
  if (column_ == widths_.size()) {
    os << "|\n";
    in_row_ = false;
  }
}

void Table::finalize(std::ostream& os) {
  while (in_row_ && column_ < widths_.size()) row(os, " ");
}

void Table::delimeter(std::ostream& os) {
  finalize(os);
  if (widths_.empty()) return;
  os << '+';
  for (int w : widths_) os << std::string(w > 0 ? w : 0, '-') << '+';
  os << '\n';
}

void Table::gap(std::ostream& os) {
  finalize(os);
  if (widths_.empty()) return;
  for (int w : widths_) os << '|' << std::string(w > 0 ? w : 0, ' ');
  os << "|\n";
}

Table::Sentry& nextrow(Table::Sentry& s) {
  s.row();
  return s;
}

Table::Sentry& beginrow(Table::Sentry& s) {
  s.resetrow();
  return s;
}

Table::Sentry& delimeter(Table::Sentry& s) {
  s.delimeter();
  return s;
}

}  // namespace ext
