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

namespace {

// The first line of the report on a key given twice.
void put_duplicated(std::ostream& out, const std::string& prefix, const char* kind,
                    const char* name, Key& key) {
  out << prefix << kind << " key \"" << name << "\"" << " is duplicated!\n"
      << prefix << " first occurence at " << key.GetFirstSubKey()->GetLineNo() << " line.\n"
      << prefix << " second occurence at " << key.GetLastSubKey()->GetLineNo() << " line.";
}

void put_repeated(std::ostream& out, const std::string& prefix, const char* kind,
                  const char* name, Key& key) {
  out << prefix << kind << " key \"" << name << "\"" << " specified more than once:";
  for (SubKey* sk : key) out << ' ' << sk->GetLineNo();
  out << " lines";
}

}  // namespace

bool Reader::parse(SubSection& block) {
  for (Private::KeyValue* kv : required) {
    Key& key = block[kv->name()];
    const int count = key.GetCount();
    if (count == 0) {
      out_ << prefix_ << "required key \"" << kv->name() << "\"" << " not present, line "
           << block.GetLineNo() << '\n';
      return false;
    }
    if (count == 1) {
      SubKey* sk = key.GetFirstSubKey();
      if (!kv->parse(sk->GetStr())) {
        out_ << prefix_ << "required key \"" << kv->name() << "\"" << " has invalid value=\""
             << sk->GetStr() << "\"," << " line " << sk->GetLineNo() << '\n';
        return false;
      }
      continue;
    }
    if (count == 2) {
      put_duplicated(out_, prefix_, "required", kv->name(), key);
      out_ << '\n';
    } else {
      put_repeated(out_, prefix_, "required", kv->name(), key);
      out_ << '\n';
    }
    return false;
  }

  for (Private::KeyValue* kv : optional) {
    Key& key = block[kv->name()];
    kv->parsed = false;
    const int count = key.GetCount();
    if (count == 0) continue;
    if (count == 1) {
      SubKey* sk = key.GetFirstSubKey();
      if (!kv->parse(sk->GetStr())) {
        out_ << prefix_ << "optional key \"" << kv->name() << "\"" << " has invalid value=\""
             << sk->GetStr() << "\"," << " line " << sk->GetLineNo() << ". Key will be ignored.\n";
      }
    } else if (count == 2) {
      put_duplicated(out_, prefix_, "optional", kv->name(), key);
      out_ << " Both keys will be ignored.\n";
    } else {
      put_repeated(out_, prefix_, "optional", kv->name(), key);
      out_ << ". All keys will be ignored.\n";
    }
  }
  return true;
}

}  // namespace IniFile
