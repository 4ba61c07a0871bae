#include "asn1/choice.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>

#include <boost/polymorphic_cast.hpp>

#include "asn1/visitor.h"

namespace ASN1 {

CHOICE::CHOICE(void const* info, int id, AbstractData* value) : AbstractData(info), choice_(value), choiceID_(id) {}

CHOICE::CHOICE(CHOICE const& other)
    : AbstractData(other), choice_(other.choice_ ? other.choice_->clone() : 0), choiceID_(other.choiceID_) {}

CHOICE& CHOICE::operator=(CHOICE const& other) {
  if (this != &other) {
    AbstractData* copy = other.choice_ ? other.choice_->clone() : 0;
    delete choice_;
    choice_ = copy;
    choiceID_ = other.choiceID_;
  }
  return *this;
}

CHOICE::~CHOICE() { delete choice_; }

void CHOICE::swap(CHOICE& other) {
  std::swap(choice_, other.choice_);
  std::swap(choiceID_, other.choiceID_);
}

AbstractData* CHOICE::create(void const* info) { return info ? new CHOICE(info) : 0; }

AbstractData* CHOICE::setSelection(int id, AbstractData* value) {
  if (value != choice_) delete choice_;
  choice_ = value;
  choiceID_ = id;
  return value;
}

bool CHOICE::select(int id) {
  if (id == choiceID_) return true;
  choiceID_ = id;
  return createSelection();
}

void CHOICE::selectionFailed(int id) const {
  InfoType const* i = info();
  auto name = [i](int index) -> std::string {
    if (index == NoSelection) return "nothing";
    if (index >= 0 && static_cast<unsigned>(index) < i->totalChoices && i->selectionNames)
      return i->selectionNames[index];
    return "an unknown alternative";
  };
  std::cerr << "CHOICE ASSERTION FAILED!" << std::endl
            << "alternative " << name(id) << " read while " << name(choiceID_) << " is selected" << std::endl;
  std::abort();
}

bool CHOICE::createSelection() {
  InfoType const* i = info();
  if (choiceID_ >= 0 && static_cast<unsigned>(choiceID_) < i->totalChoices && i->selectionInfos[choiceID_]) {
    AbstractData* value = AbstractData::create(i->selectionInfos[choiceID_]);
    if (value) {
      delete choice_;
      choice_ = value;
      return true;
    }
  }
  return failSelection();
}

bool CHOICE::failSelection() {
  choiceID_ = UnknownSelection;
  delete choice_;
  choice_ = 0;
  return false;
}

unsigned CHOICE::getSelectionTag() const {
  if (!info()->tags) return static_cast<unsigned>(choiceID_) | 0x800000u;
  return info()->tags[choiceID_];
}

bool CHOICE::setID(unsigned tagNumber, unsigned tagClass) {
  InfoType const* i = info();
  if (!i->tags) {
    choiceID_ = static_cast<int>(tagNumber);
    return createSelection();
  }
  unsigned const key = (tagClass << 16) | tagNumber;
  unsigned const* first = i->tags;
  unsigned const* last = i->tags + i->numChoices;
  unsigned const* pos = std::lower_bound(first, last, key);
  if (pos != last && *pos == key) {
    choiceID_ = static_cast<int>(pos - first);
    return createSelection();
  }
  if (i->numChoices > 0 && i->tags[0] == 0) {
    // The first alternative is an untagged CHOICE: look inside it.
    choiceID_ = 0;
    if (createSelection()) {
      CHOICE* inner = dynamic_cast<CHOICE*>(choice_);
      if (inner && inner->setID(tagNumber, tagClass)) return true;
    }
  }
  return failSelection();
}

int CHOICE::do_compare(AbstractData const& other) const {
  CHOICE const& o = *boost::polymorphic_downcast<CHOICE const*>(&other);
  if (choiceID_ < 0 || choiceID_ != o.choiceID_) return choiceID_ - o.choiceID_;
  if (!choice_ || !o.choice_) return (choice_ != 0) - (o.choice_ != 0);
  return choice_->compare(*o.choice_);
}

AbstractData* CHOICE::do_clone() const { return cloneOf(*this); }

bool CHOICE::do_accept(Visitor& v) { return v.visit(*this); }

bool CHOICE::do_accept(ConstVisitor& v) const { return v.visit(*this); }

}  // namespace ASN1
