#pragma once
// The build record. Its tag names the running build everywhere: the
// "--version" output, the start-up line, the status dump and the syslog
// identity.
#include <ostream>

class Version {
 public:
  enum Type : int { snapshot = 0, test = 1, release = 2, unit_test = 3 };

  // The texts are not copied: they must outlive the record (literals do).
  Version(Type type, int number, const char* spare, const char* user, const char* date,
          const char* tag, const char* arch);

  Type type() const { return type_; }
  int number() const { return number_; }
  const char* spare() const { return spare_; }
  const char* user() const { return user_; }
  const char* date() const { return date_; }
  const char* tag() const { return tag_; }
  const char* arch() const { return arch_; }

  // Writes the tag alone.
  std::ostream& put(std::ostream& os) const;

  static const char* version_string(Type type);
  static const char* version_suffix(Type type);

  // The record of this build.
  static const Version current;

 private:
  void update() {}

  Type type_;
  int number_;
  const char* spare_;
  const char* user_;
  const char* date_;
  const char* tag_;
  const char* arch_;
};

inline std::ostream& operator<<(std::ostream& os, const Version& v) { return v.put(os); }
std::ostream& operator<<(std::ostream& os, Version::Type type);
