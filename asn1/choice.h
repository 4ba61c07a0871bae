#ifndef ASN1_CHOICE_H
#define ASN1_CHOICE_H

#include "asn1/abstractdata.h"

namespace ASN1 {

// The value of every CHOICE type: one owned alternative and its index
// (-1 nothing selected, -2 an alternative the record does not know or a
// failed selection).
class CHOICE : public AbstractData, public detail::Allocator<CHOICE> {
 public:
  typedef ChoiceInfo InfoType;

  enum { NoSelection = -1, UnknownSelection = -2 };

  explicit CHOICE(void const* info, int id = NoSelection, AbstractData* value = 0);
  CHOICE(CHOICE const& other);
  CHOICE& operator=(CHOICE const& other);
  ~CHOICE() override;
  void swap(CHOICE& other);

  static AbstractData* create(void const* info);

  InfoType const* info() const { return static_cast<InfoType const*>(info_); }

  // Owns `value`, deletes the previous alternative; returns `value`.
  AbstractData* setSelection(int id, AbstractData* value);
  // Same index: keeps the alternative; else makes a default one.
  bool select(int id);
  bool createSelection();

  // The alternative of index `id`, for the generated get_ and ref_
  // accessors. Any other selection (none, an unknown one, another index)
  // ends the process with "CHOICE ASSERTION FAILED!": read as `id`'s type
  // it would be a null dereference or a type confusion. Checked in every
  // build, since the controller chooses the alternatives.
  AbstractData const& selectedAs(int id) const {
    if (choiceID_ != id || !choice_) selectionFailed(id);
    return *choice_;
  }
  AbstractData& selectedAs(int id) {
    if (choiceID_ != id || !choice_) selectionFailed(id);
    return *choice_;
  }

  int currentSelection() const { return choiceID_; }
  AbstractData* getSelection() { return choice_; }
  AbstractData const* getSelection() const { return choice_; }
  bool isUnknownSelection() const { return choiceID_ == UnknownSelection; }
  unsigned getNumChoices() const { return info()->numChoices; }
  unsigned getTotalChoices() const { return info()->totalChoices; }
  bool extendable() const { return info()->extendableFlag; }
  // Defined for an index from 0 to total - 1 only.
  char const* getSelectionName() const { return info()->selectionNames[choiceID_]; }
  unsigned getSelectionTag() const;
  bool setID(unsigned tagNumber, unsigned tagClass);

 private:
  // Index -2 and no alternative; false.
  bool failSelection();
  [[noreturn]] void selectionFailed(int id) const;

  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

  AbstractData* choice_;
  int choiceID_;
};

}  // namespace ASN1

#endif
