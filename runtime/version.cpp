#include "runtime/version.h"

#include "runtime/version_build.h"  // generated at configure time

Version::Version(Type type, int number, const char* spare, const char* user, const char* date,
                 const char* tag, const char* arch)
    : type_(type), number_(number), spare_(spare), user_(user), date_(date), tag_(tag), arch_(arch) {
  update();
}

std::ostream& Version::put(std::ostream& os) const { return os << tag_; }

const char* Version::version_string(Type type) {
  switch (type) {
    case snapshot: return "snapshot";
    case test: return "test";
    case release: return "release";
    case unit_test: return "unit-test";
  }
  return "unknown";
}

const char* Version::version_suffix(Type type) {
  switch (type) {
    case snapshot: return "S";
    case test: return "T";
    case release: return "R";
    case unit_test: return "T";
  }
  return "U";
}

std::ostream& operator<<(std::ostream& os, Version::Type type) {
  return os << Version::version_string(type);
}

const Version Version::current(Version::snapshot, 0, "", GW_BUILD_USER, GW_BUILD_DATE, GW_BUILD_TAG,
                               GW_BUILD_ARCH);
