#pragma once
// FramerDataHolder: the last known state of one E1 framer, parsed from the
// status text its driver publishes.
#include <string>
#include <vector>

class FramerDataHolder {
 public:
  FramerDataHolder(int number, const std::string& path) : number_(number), path_(path) {}

  // Parses exactly the bytes read from the status file; true when any field
  // changed.
  bool setFramerStatus(std::vector<unsigned char>& bytes);

  bool connected() const { return connected_; }
  const std::string& state() const { return state_; }
  bool lossOfSignal() const { return los_; }
  bool lossOfFrameAlignment() const { return lofa_; }
  int negativeSlips() const { return neg_slips_; }
  int positiveSlips() const { return pos_slips_; }
  int number() const { return number_; }
  const std::string& path() const { return path_; }

 private:
  bool connected_ = false;
  std::string state_ = "absent";
  bool los_ = true;
  bool lofa_ = true;
  int neg_slips_ = 0;
  int pos_slips_ = 0;
  int number_;
  std::string path_;
};
