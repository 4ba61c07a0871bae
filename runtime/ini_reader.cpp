#include "runtime/ini_reader.h"

#include <ostream>

#include "runtime/ini_file.h"

namespace IniFile {
namespace Private {

// The words a boolean key accepts, exact case; "on" and "off" are not among
// them (unlike SubKey::GetBool).
static const Symbol<bool> boolWords[] = {
    {"true", true},     {"false", false},   {"yes", true},     {"no", false},
    {"enabled", true},  {"disabled", false}, {"enable", true},  {"disable", false},
    {"1", true},        {"0", false},        {nullptr, false},
};

bool parse_bool(const char* text, bool& out) {
  for (const Symbol<bool>* row = boolWords; row->text; ++row) {
    if (std::strcmp(row->text, text) == 0) {
      out = row->value;
      return true;
    }
  }
  return false;
}

}  // namespace Private

Reader::Field::~Field() {
  for (Private::KeyValue* kv : items_) delete kv;
}

bool& Reader::Field::add(Private::KeyValue* kv) {
  items_.push_back(kv);
  return kv->parsed;
}

// Converts the key's one value, or reports why it cannot. A required key
// ends its report with the line; an optional one says it is ignored.
bool Reader::apply(Private::KeyValue* kv, SubSection& block, bool required) {
  Key& key = block[kv->name()];
  const int count = key.GetCount();
  if (count == 0) {
    if (required)
      out_ << prefix_ << "required key \"" << kv->name() << "\"" << " not present, line "
           << block.GetLineNo() << '\n';
    return false;
  }
  const char* kind = required ? "required" : "optional";
  if (count == 1) {
    SubKey* sk = key.GetFirstSubKey();
    if (kv->parse(sk->GetStr())) return true;
    out_ << prefix_ << kind << " key \"" << kv->name() << "\"" << " has invalid value=\""
         << sk->GetStr() << "\"," << " line " << sk->GetLineNo()
         << (required ? "\n" : ". Key will be ignored.\n");
  } else if (count == 2) {
    out_ << prefix_ << kind << " key \"" << kv->name() << "\"" << " is duplicated!\n"
         << prefix_ << " first occurence at " << key.GetFirstSubKey()->GetLineNo() << " line.\n"
         << prefix_ << " second occurence at " << key.GetLastSubKey()->GetLineNo() << " line."
         << (required ? "\n" : " Both keys will be ignored.\n");
  } else {
    out_ << prefix_ << kind << " key \"" << kv->name() << "\"" << " specified more than once:";
    for (SubKey* sk : key) out_ << ' ' << sk->GetLineNo();
    out_ << " lines" << (required ? "\n" : ". All keys will be ignored.\n");
  }
  return false;
}

bool Reader::parse(SubSection& block) {
  // The first faulty required key ends the block.
  for (Private::KeyValue* kv : required)
    if (!apply(kv, block, true)) return false;
  for (Private::KeyValue* kv : optional) {
    kv->parsed = false;
    apply(kv, block, false);
  }
  return true;
}

}  // namespace IniFile
