#ifndef ASN1_GENERALIZEDTIME_H
#define ASN1_GENERALIZEDTIME_H

#include <string>

#include "asn1/abstractdata.h"

namespace ASN1 {

// GeneralizedTime, text form YYYYMMDDhhmmss[.fff][Z|+hhmm|-hhmm].
class GeneralizedTime : public AbstractData, public detail::Allocator<GeneralizedTime> {
 public:
  static InfoType const theInfo;

  GeneralizedTime();
  explicit GeneralizedTime(void const* info);
  explicit GeneralizedTime(char const* text);
  GeneralizedTime(int year, int month, int day, int hour, int minute, int second, int millisec, int mindiff, bool utc);
  GeneralizedTime(GeneralizedTime const& other);
  // Copies the nine fields, not the record.
  GeneralizedTime& operator=(GeneralizedTime const& other);
  void swap(GeneralizedTime& other);

  static AbstractData* create(void const* info);

  // Sets the fields the text gives; never reads past the text's end.
  int set(char const* text);
  std::string get() const;
  long get_time_t() const;
  void set_time_t(long t);

  int getYear() const { return year_; }
  int getMonth() const { return month_; }
  int getDay() const { return day_; }
  int getHour() const { return hour_; }
  int getMinute() const { return minute_; }
  int getSecond() const { return second_; }
  int getMillisec() const { return millisec_; }
  int getMinDiff() const { return mindiff_; }
  bool getUTC() const { return utc_; }

  bool isStrictlyValid() const;
  bool isValid() const { return isStrictlyValid(); }

 private:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

  int year_;
  int month_;
  int day_;
  int hour_;
  int minute_;
  int second_;
  int millisec_;
  int mindiff_;
  bool utc_;
};

}  // namespace ASN1

#endif
