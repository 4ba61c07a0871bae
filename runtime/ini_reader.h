#pragma once
// Declarative binding of the keys of one configuration block to variables:
//
//   IniFile::Reader r("snmpagent: ", std::cerr);
//   r.required.add(&host, "host");
//   bool& given = r.optional.add(&flag, "some.flag");
//   if (!r(block)) ...   // one message per fault, prefixed, on the stream
//
// Booleans accept the words of the table in ini_reader.cpp (exact case);
// strings take the text unchanged; enumerations match a Symbol table first
// and otherwise read a whole number (decimal, 0x hexadecimal, 0 octal).
#include <cstdlib>
#include <cstring>
#include <iosfwd>
#include <string>
#include <type_traits>
#include <vector>

namespace IniFile {

class SubSection;

// One row of a symbol table; a table ends with a row whose text is null.
template <class T>
struct Symbol {
  const char* text;
  T value;
};

namespace Private {

class KeyValue {
 public:
  KeyValue() = default;
  KeyValue(const KeyValue&) = delete;
  KeyValue& operator=(const KeyValue&) = delete;
  virtual ~KeyValue() = default;
  virtual const char* name() const = 0;
  // Converts the text into the variable; true when the text was valid.
  virtual bool do_parse(const char* text) = 0;

  bool parse(const std::string& text) { return parsed = do_parse(text.c_str()); }

  // True when the last conversion of this key succeeded.
  bool parsed = false;
};

bool parse_bool(const char* text, bool& out);

// Enumerations: the symbol table first, then a whole number.
template <class T>
class TKeyValue : public KeyValue {
  static_assert(std::is_enum<T>::value, "bind bool, std::string or an enumeration");

 public:
  TKeyValue(T* target, const char* name, const Symbol<T>* table)
      : target_(target), name_(name), table_(table) {}
  const char* name() const override { return name_; }
  bool do_parse(const char* text) override {
    if (table_) {
      for (const Symbol<T>* row = table_; row->text; ++row) {
        if (std::strcmp(row->text, text) == 0) {
          *target_ = row->value;
          return true;
        }
      }
    }
    char* end = nullptr;
    long v = std::strtol(text, &end, 0);
    *target_ = static_cast<T>(v);
    return *text != '\0' && *end == '\0';
  }

 private:
  T* target_;
  const char* name_;
  const Symbol<T>* table_;
};

template <>
class TKeyValue<bool> : public KeyValue {
 public:
  TKeyValue(bool* target, const char* name, const Symbol<bool>*) : target_(target), name_(name) {}
  const char* name() const override { return name_; }
  bool do_parse(const char* text) override { return parse_bool(text, *target_); }

 private:
  bool* target_;
  const char* name_;
};

template <>
class TKeyValue<std::string> : public KeyValue {
 public:
  TKeyValue(std::string* target, const char* name, const Symbol<std::string>*)
      : target_(target), name_(name) {}
  const char* name() const override { return name_; }
  bool do_parse(const char* text) override {
    *target_ = text;
    return true;
  }

 private:
  std::string* target_;
  const char* name_;
};

}  // namespace Private

class Reader {
 public:
  // Bindings in registration order; owns them.
  class Field {
   public:
    Field() = default;
    Field(const Field&) = delete;
    Field& operator=(const Field&) = delete;
    ~Field();

    // The returned flag tells whether the key's last conversion succeeded:
    // an optional key's flag is cleared at every parse, a required key's
    // changes only when its one value is converted (a missing or repeated
    // key, or a parse ended at an earlier required key, leaves it as it
    // was). The key name is kept by pointer (pass a literal).
    template <class T>
    bool& add(T* target, const char* name, const Symbol<T>* table = nullptr) {
      return add(new Private::TKeyValue<T>(target, name, table));
    }
    bool& add(Private::KeyValue* kv);

    typedef std::vector<Private::KeyValue*>::const_iterator const_iterator;
    const_iterator begin() const { return items_.begin(); }
    const_iterator end() const { return items_.end(); }

   private:
    std::vector<Private::KeyValue*> items_;
  };

  Reader(const std::string& prefix, std::ostream& out) : prefix_(prefix), out_(out) {}
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Applies the bindings to one block; false when a required key is missing,
  // invalid or repeated. Absent keys are added to the block as empty keys.
  bool operator()(SubSection& block) { return parse(block); }
  bool parse(SubSection& block);

  Field required;
  Field optional;

 private:
  bool apply(Private::KeyValue* kv, SubSection& block, bool required);

  std::string prefix_;
  std::ostream& out_;
};

}  // namespace IniFile
