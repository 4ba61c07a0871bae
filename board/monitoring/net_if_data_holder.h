#pragma once
// NetIfDataHolder: one network interface of the board, its running flag
// sampled through the packet socket and smoothed over the last three
// samples.
#include <list>
#include <string>

class NetIfDataHolder {
 public:
  NetIfDataHolder(int index, const std::string& name) : index_(index), name_(name) {}

  // Samples the interface; true when its status changed.
  bool updateNetIf();
  // Adds one sample (1 running, 0 not); true when the status changed.
  bool setNetIfStatus(int sample);

  int status() const { return status_; }
  int operStatus() const { return oper_status_; }
  int adminStatus() const { return admin_status_; }
  int index() const { return index_; }
  const std::string& name() const { return name_; }

 private:
  int status_ = -1;
  int oper_status_ = 2;
  int admin_status_ = 2;
  std::list<int> samples_;
  int index_;
  std::string name_;
};
