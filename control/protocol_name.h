#pragma once
// Names of protocol layers, and the naming base every layer derives from.
//
// A name is either the null name (printed "(no name)", equal to every other
// null name) or a text name (equal to a text name of the same bytes). A layer
// that wants a name of its own overrides Protocol_info::name(); the others
// print as "(no name)", which is how their log lines start.
#include <iosfwd>
#include <string>

class Protocol_name {
 public:
  virtual ~Protocol_name();
  virtual int kind() const = 0;
  virtual const char* name() const = 0;
  virtual bool compare(const Protocol_name& other) const = 0;

  // Both names are of the same kind.
  bool compatible(const Protocol_name& other) const { return kind() == other.kind(); }
  void out(std::ostream& os) const;
};

std::ostream& operator<<(std::ostream& os, const Protocol_name& n);

class Protocol_name_null : public Protocol_name {
 public:
  int kind() const override { return 0; }
  const char* name() const override;
  bool compare(const Protocol_name& other) const override { return compatible(other); }
};

class Protocol_name_str : public Protocol_name {
 public:
  // A null text gives "(no name)", still a text name.
  explicit Protocol_name_str(const char* text);
  int kind() const override { return 1; }
  const char* name() const override { return text_.c_str(); }
  bool compare(const Protocol_name& other) const override;

 private:
  std::string text_;
};

class Protocol_info {
 public:
  virtual ~Protocol_info();
  virtual bool compare_name(const Protocol_name& other) const;
  virtual const Protocol_name& name() const;

  void out(std::ostream& os) const;

 private:
  Protocol_name_null null_name_;
};

std::ostream& operator<<(std::ostream& os, const Protocol_info& p);
