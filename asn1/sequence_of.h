#ifndef ASN1_SEQUENCE_OF_H
#define ASN1_SEQUENCE_OF_H

#include <cstddef>
#include <iterator>
#include <vector>

#include "asn1/abstractdata.h"

namespace ASN1 {

// The value of every SEQUENCE OF / SET OF type: owned elements of one type.
class SEQUENCE_OF_Base : public ConstrainedObject, public detail::Allocator<SEQUENCE_OF_Base> {
  // The pointer array comes from the value pool.
  typedef std::vector<AbstractData*, detail::PoolAllocator<AbstractData*> > Container;

 public:
  typedef SequenceOfInfo InfoType;
  typedef Container::iterator iterator;
  typedef Container::const_iterator const_iterator;
  typedef Container::size_type size_type;

  // Clones the value it refers to.
  struct create_from0 {
    explicit create_from0(AbstractData const& x) : x_(x) {}
    AbstractData* operator()() const { return x_.clone(); }
    AbstractData const& x_;
  };
  // Clones the pointed-to element.
  struct create_from_ptr {
    AbstractData* operator()(AbstractData const* p) const { return p->clone(); }
  };

  explicit SEQUENCE_OF_Base(void const* info) : ConstrainedObject(info) {}
  SEQUENCE_OF_Base(SEQUENCE_OF_Base const& other);
  SEQUENCE_OF_Base& operator=(SEQUENCE_OF_Base const& other);
  ~SEQUENCE_OF_Base() override;
  void swap(SEQUENCE_OF_Base& other) { container_.swap(other.container_); }

  static AbstractData* create(void const* info);

  InfoType const* info() const { return static_cast<InfoType const*>(info_); }

  size_type size() const { return container_.size(); }
  bool empty() const { return container_.empty(); }
  void reserve(size_type n) { container_.reserve(n); }
  iterator begin() { return container_.begin(); }
  iterator end() { return container_.end(); }
  const_iterator begin() const { return container_.begin(); }
  const_iterator end() const { return container_.end(); }

  // Appends and owns the element.
  void push_back(AbstractData* element) { container_.push_back(element); }
  // A default element of the element type, owned by the caller.
  AbstractData* createElement() const { return AbstractData::create(info()->elementInfo); }
  // Cuts (deleting) or extends with default elements. Stops short when the
  // element record cannot make values.
  void resize(size_type n);
  void insert(iterator position, size_type n, AbstractData const& x);
  void insert(iterator position, const_iterator first, const_iterator last);
  iterator erase(iterator first, iterator last);
  iterator erase(iterator position) { return erase(position, position + 1); }
  void clear();

 private:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

  Container container_;
};

// Size constraint of a list type.
template <ConstraintType Type, int Lower, unsigned Upper>
struct SizeConstraint {
  static ConstraintType const type = Type;
  static int const lower = Lower;
  static unsigned const upper = Upper;
};
typedef SizeConstraint<Unconstrained, 0, 0xFFFFFFFFu> EmptyConstraint;

namespace detail {
// Iterator over element pointers that yields the elements as T.
template <class T, class BaseIt>
class ElementIterator {
 public:
  typedef std::forward_iterator_tag iterator_category;
  typedef T value_type;
  typedef std::ptrdiff_t difference_type;
  typedef T* pointer;
  typedef T& reference;

  ElementIterator() : it_() {}
  explicit ElementIterator(BaseIt it) : it_(it) {}
  template <class U, class It>
  ElementIterator(ElementIterator<U, It> const& other) : it_(other.base()) {}

  T& operator*() const { return static_cast<T&>(**it_); }
  T* operator->() const { return static_cast<T*>(*it_); }
  ElementIterator& operator++() {
    ++it_;
    return *this;
  }
  ElementIterator operator++(int) {
    ElementIterator r(*this);
    ++it_;
    return r;
  }
  bool operator==(ElementIterator const& o) const { return it_ == o.it_; }
  bool operator!=(ElementIterator const& o) const { return it_ != o.it_; }
  BaseIt base() const { return it_; }

 private:
  BaseIt it_;
};
}  // namespace detail

// Typed list of T (a value class with a static theInfo). Tag 16 for
// SEQUENCE OF, 17 for SET OF.
template <class T, class Constraint = EmptyConstraint, unsigned Tag = 16>
class SEQUENCE_OF : public SEQUENCE_OF_Base {
 public:
  typedef T value_type;
  typedef detail::ElementIterator<T, SEQUENCE_OF_Base::iterator> iterator;
  typedef detail::ElementIterator<T const, SEQUENCE_OF_Base::const_iterator> const_iterator;

  // Writable: a module initialiser may store create here (see typeinfo.h).
  static InfoType theInfo;

  SEQUENCE_OF() : SEQUENCE_OF_Base(&theInfo) {}
  explicit SEQUENCE_OF(void const* info) : SEQUENCE_OF_Base(info) {}

  static AbstractData* create(void const* info) { return info ? new SEQUENCE_OF(info) : 0; }
  // Fills the record's create word once.
  static void init() {
    static bool done = false;
    if (!done) {
      theInfo.create = &SEQUENCE_OF::create;
      done = true;
    }
  }

  iterator begin() { return iterator(SEQUENCE_OF_Base::begin()); }
  iterator end() { return iterator(SEQUENCE_OF_Base::end()); }
  const_iterator begin() const { return const_iterator(SEQUENCE_OF_Base::begin()); }
  const_iterator end() const { return const_iterator(SEQUENCE_OF_Base::end()); }

  T& operator[](size_type n) { return static_cast<T&>(*(SEQUENCE_OF_Base::begin()[n])); }
  T const& operator[](size_type n) const { return static_cast<T const&>(*(SEQUENCE_OF_Base::begin()[n])); }

  // Appends a copy of the element.
  void push_back(T const& x) { SEQUENCE_OF_Base::push_back(x.clone()); }
  using SEQUENCE_OF_Base::push_back;

  iterator erase(iterator position) { return iterator(SEQUENCE_OF_Base::erase(position.base())); }
  iterator erase(iterator first, iterator last) { return iterator(SEQUENCE_OF_Base::erase(first.base(), last.base())); }
};

template <class T, class Constraint, unsigned Tag>
typename SEQUENCE_OF<T, Constraint, Tag>::InfoType SEQUENCE_OF<T, Constraint, Tag>::theInfo = {
    {{&SEQUENCE_OF<T, Constraint, Tag>::create, Tag}, Constraint::type, Constraint::lower, Constraint::upper},
    &T::theInfo};

template <class T, class Constraint = EmptyConstraint>
using SET_OF = SEQUENCE_OF<T, Constraint, 17>;

}  // namespace ASN1

#endif
