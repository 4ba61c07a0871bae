#include "board/monitoring/framer_data_holder.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// The prefixes of the driver's status lines (26 characters each).
const char state_prefix[] = "Current state           : ";
const char los_prefix[] = "Loss of Signal          : ";
const char lofa_prefix[] = "Loss of Frame Alignment : ";
const char neg_prefix[] = "Receive Slip Negative   : ";
const char pos_prefix[] = "Receive Slip Positive   : ";

// The rest of the line after the prefix, when the line holds it.
bool value_after(const std::string& line, const char* prefix, std::string& value) {
  const std::string::size_type at = line.find(prefix);
  if (at == std::string::npos) return false;
  value = line.substr(at + std::strlen(prefix));
  return true;
}

bool update_flag(bool& field, const std::string& value) {
  const bool v = value == "yes";
  if (v == field) return false;
  field = v;
  return true;
}

bool update_count(int& field, const std::string& value) {
  // Beyond int a counter reads as the largest int on every machine: atoi
  // would keep its low bits with a 64-bit long and saturate with a 32-bit
  // one.
  const long long n = std::strtoll(value.c_str(), nullptr, 10);
  const int v = n > std::numeric_limits<int>::max()   ? std::numeric_limits<int>::max()
                : n < std::numeric_limits<int>::min() ? std::numeric_limits<int>::min()
                                                      : static_cast<int>(n);
  if (v == field) return false;
  field = v;
  return true;
}

}  // namespace

bool FramerDataHolder::setFramerStatus(std::vector<unsigned char>& bytes) {
  const std::string text(bytes.begin(), bytes.end());
  bool changed = false;
  std::string::size_type start = 0;
  while (start <= text.size()) {
    std::string::size_type end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    std::string value;
    if (value_after(line, state_prefix, value) && value != state_) {
      state_ = value;
      connected_ = value != "No Carrier";
      changed = true;
    }
    if (value_after(line, los_prefix, value)) changed |= update_flag(los_, value);
    if (value_after(line, lofa_prefix, value)) changed |= update_flag(lofa_, value);
    if (value_after(line, neg_prefix, value)) changed |= update_count(neg_slips_, value);
    if (value_after(line, pos_prefix, value)) changed |= update_count(pos_slips_, value);
    start = end + 1;
  }
  return changed;
}
