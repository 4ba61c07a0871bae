#include "asn1/generalizedtime.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <boost/polymorphic_cast.hpp>

#include "asn1/visitor.h"

namespace ASN1 {

GeneralizedTime::InfoType const GeneralizedTime::theInfo = {&GeneralizedTime::create, 24};

GeneralizedTime::GeneralizedTime() : GeneralizedTime(&theInfo) {}

GeneralizedTime::GeneralizedTime(void const* info)
    : AbstractData(info),
      year_(1),
      month_(1),
      day_(1),
      hour_(0),
      minute_(0),
      second_(0),
      millisec_(0),
      mindiff_(0),
      utc_(false) {}

GeneralizedTime::GeneralizedTime(char const* text) : GeneralizedTime() { set(text); }

GeneralizedTime::GeneralizedTime(int year, int month, int day, int hour, int minute, int second, int millisec,
                                 int mindiff, bool utc)
    : AbstractData(&theInfo),
      year_(year),
      month_(month),
      day_(day),
      hour_(hour),
      minute_(minute),
      second_(second),
      millisec_(millisec),
      mindiff_(mindiff),
      utc_(utc) {}

GeneralizedTime::GeneralizedTime(GeneralizedTime const& other) : AbstractData(other) { *this = other; }

GeneralizedTime& GeneralizedTime::operator=(GeneralizedTime const& other) {
  year_ = other.year_;
  month_ = other.month_;
  day_ = other.day_;
  hour_ = other.hour_;
  minute_ = other.minute_;
  second_ = other.second_;
  millisec_ = other.millisec_;
  mindiff_ = other.mindiff_;
  utc_ = other.utc_;
  return *this;
}

void GeneralizedTime::swap(GeneralizedTime& other) {
  GeneralizedTime tmp(other);
  other = *this;
  *this = tmp;
}

AbstractData* GeneralizedTime::create(void const* info) { return info ? new GeneralizedTime(info) : 0; }

int GeneralizedTime::set(char const* text) {
  std::sscanf(text, "%4d%2d%2d%2d%2d%2d", &year_, &month_, &day_, &hour_, &minute_, &second_);
  std::size_t const len = std::strlen(text);
  if (len > 14 && text[14] == '.' && std::isdigit(static_cast<unsigned char>(text[15]))) {
    // The fraction times 1000, truncated, read from its digits: exact
    // for every fraction and safe for a text of any length or value.
    int ms = 0;
    char const* p = text + 15;
    for (int i = 0; i < 3; ++i) {
      ms *= 10;
      if (std::isdigit(static_cast<unsigned char>(*p))) ms += *p++ - '0';
    }
    millisec_ = ms;
  }
  if (len >= 1 && text[len - 1] == 'Z') {
    utc_ = true;
  } else if (len >= 5 && (text[len - 5] == '+' || text[len - 5] == '-')) {
    int hh = 0, mm = 0;
    if (std::sscanf(text + len - 4, "%2d%2d", &hh, &mm) == 2)
      mindiff_ = (text[len - 5] == '-' ? -1 : 1) * (hh * 60 + mm);
  }
  return 0;
}

std::string GeneralizedTime::get() const {
  // Room for six fields of eleven characters each: values set through the
  // constructor are not bounded by any text.
  char buf[72];
  int n = std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", year_, month_, day_, hour_, minute_, second_);
  std::string text(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
  if (millisec_ != 0) {
    n = std::snprintf(buf, sizeof buf, ".%03d", millisec_);
    text.append(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
  }
  if (utc_) {
    text += 'Z';
  } else if (mindiff_ != 0) {
    unsigned const a = mindiff_ < 0 ? 0u - static_cast<unsigned>(mindiff_) : static_cast<unsigned>(mindiff_);
    n = std::snprintf(buf, sizeof buf, "%c%02u%02u", mindiff_ < 0 ? '-' : '+', a / 60, a % 60);
    text.append(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
  }
  return text;
}

long GeneralizedTime::get_time_t() const {
  std::tm tm;
  std::memset(&tm, 0, sizeof tm);
  tm.tm_year = year_ - 1900;
  tm.tm_mon = month_ - 1;
  tm.tm_mday = day_;
  tm.tm_hour = hour_;
  tm.tm_min = minute_;
  tm.tm_sec = second_;
  tm.tm_isdst = -1;  // let the system decide daylight saving
  return static_cast<long>(std::mktime(&tm));
}

void GeneralizedTime::set_time_t(long t) {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm;
  if (!gmtime_r(&tt, &tm)) return;
  year_ = tm.tm_year + 1900;
  month_ = tm.tm_mon + 1;
  day_ = tm.tm_mday;
  hour_ = tm.tm_hour;
  minute_ = tm.tm_min;
  second_ = tm.tm_sec;
}

bool GeneralizedTime::isStrictlyValid() const {
  return year_ > 0 && month_ >= 1 && month_ <= 12 && day_ >= 1 && day_ <= 31 && hour_ >= 0 && hour_ <= 24 &&
         minute_ >= 0 && minute_ <= 59 && second_ >= 0 && second_ <= 59 && mindiff_ >= -720 && mindiff_ <= 720;
}

int GeneralizedTime::do_compare(AbstractData const& other) const {
  GeneralizedTime const& o = *boost::polymorphic_downcast<GeneralizedTime const*>(&other);
  int const a[] = {year_, month_, day_, hour_, minute_, second_, millisec_};
  int const b[] = {o.year_, o.month_, o.day_, o.hour_, o.minute_, o.second_, o.millisec_};
  for (int i = 0; i < 7; ++i) {
    if (a[i] != b[i]) return static_cast<int>(static_cast<unsigned>(a[i]) - static_cast<unsigned>(b[i]));
  }
  return static_cast<int>(utc_) - static_cast<int>(o.utc_);
}

AbstractData* GeneralizedTime::do_clone() const { return cloneOf(*this); }

bool GeneralizedTime::do_accept(Visitor& v) { return v.visit(*this); }

bool GeneralizedTime::do_accept(ConstVisitor& v) const { return v.visit(*this); }

}  // namespace ASN1
