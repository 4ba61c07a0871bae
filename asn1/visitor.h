#ifndef ASN1_VISITOR_H
#define ASN1_VISITOR_H

// The two visitor interfaces over the value classes. A value is visited by
// double dispatch: AbstractData::accept -> the value's do_accept -> the
// visitor's visit for the value's class -> the visitor's do_visit. Visiting a
// SEQUENCE runs its walk, which calls the SEQUENCE hooks below.

namespace ASN1 {

class AbstractData;
class Null;
class BOOLEAN;
class INTEGER;
class IntegerWithNamedNumber;
class ENUMERATED;
class OBJECT_IDENTIFIER;
class BIT_STRING;
class OCTET_STRING;
class AbstractString;
class BMPString;
class CHOICE;
class SEQUENCE;
class SEQUENCE_OF_Base;
class OpenData;
class TypeConstrainedOpenData;
class GeneralizedTime;
class CoderEnv;

// Mutating visitor (decoders). SEQUENCE hooks answer a walk status.
class Visitor {
 public:
  enum Status {
    Fail = 0,            // the walk fails
    Stop = 1,            // the walk ends with success
    Continue = 2,        // go on
    ContinueWithExt = 3  // go on, extensions included
  };

  explicit Visitor(CoderEnv* env = 0) : env_(env) {}
  virtual ~Visitor() {}

  CoderEnv* get_env() const { return env_; }

  bool visit(Null& v) { return do_visit(v); }
  bool visit(BOOLEAN& v) { return do_visit(v); }
  bool visit(INTEGER& v) { return do_visit(v); }
  bool visit(IntegerWithNamedNumber& v) { return do_visit(v); }
  bool visit(ENUMERATED& v) { return do_visit(v); }
  bool visit(OBJECT_IDENTIFIER& v) { return do_visit(v); }
  bool visit(OCTET_STRING& v) { return do_visit(v); }
  bool visit(BIT_STRING& v) { return do_visit(v); }
  bool visit(AbstractString& v) { return do_visit(v); }
  bool visit(BMPString& v) { return do_visit(v); }
  bool visit(CHOICE& v) { return do_visit(v); }
  bool visit(SEQUENCE_OF_Base& v) { return do_visit(v); }
  bool visit(OpenData& v) { return do_visit(v); }
  bool visit(TypeConstrainedOpenData& v) { return do_visit(v); }
  bool visit(GeneralizedTime& v) { return do_visit(v); }
  // The mutating SEQUENCE walk.
  bool visit(SEQUENCE& v);

 protected:
  virtual bool do_visit(Null&) = 0;
  virtual bool do_visit(BOOLEAN&) = 0;
  virtual bool do_visit(INTEGER&) = 0;
  virtual bool do_visit(IntegerWithNamedNumber& v);  // as INTEGER
  virtual bool do_visit(ENUMERATED&) = 0;
  virtual bool do_visit(OBJECT_IDENTIFIER&) = 0;
  virtual bool do_visit(OCTET_STRING&) = 0;
  virtual bool do_visit(BIT_STRING&) = 0;
  virtual bool do_visit(AbstractString&) = 0;
  virtual bool do_visit(BMPString&) = 0;
  virtual bool do_visit(CHOICE&) = 0;
  virtual bool do_visit(SEQUENCE_OF_Base&) = 0;
  virtual bool do_visit(OpenData&) = 0;
  virtual bool do_revisit(OpenData&) = 0;
  virtual bool do_visit(TypeConstrainedOpenData&) = 0;
  virtual bool do_visit(GeneralizedTime&) = 0;

  virtual int preVisitExtensionRoots(SEQUENCE&) { return ContinueWithExt; }
  // index: field index; optId: optional-field number, -1 when mandatory.
  virtual int visitExtensionRoot(SEQUENCE&, int /*index*/, int /*optId*/) { return Fail; }
  virtual int preVisitExtensions(SEQUENCE&) { return ContinueWithExt; }
  virtual int visitKnownExtension(SEQUENCE&, int /*index*/, int /*optId*/) { return Fail; }
  virtual int visitUnknownExtensions(SEQUENCE&) { return Stop; }

  // For decoders that find out field by field whether a root field is in
  // the input. absentField: the status for a field that is not there (a
  // mandatory one fails, an optional one is marked absent). presentField:
  // the value to fill for one that is (made when missing, an optional one
  // marked present); null when the record makes none.
  static int absentField(SEQUENCE& v, int optId);
  static AbstractData* presentField(SEQUENCE& v, int index, int optId);

 private:
  CoderEnv* env_;
};

// The type operations of a decoder that reads every value class itself, for
// its class body.
#define ASN1_VISITOR_TYPE_OPERATIONS                  \
  bool do_visit(Null& v) override;                    \
  bool do_visit(BOOLEAN& v) override;                 \
  bool do_visit(INTEGER& v) override;                 \
  bool do_visit(ENUMERATED& v) override;              \
  bool do_visit(OBJECT_IDENTIFIER& v) override;       \
  bool do_visit(OCTET_STRING& v) override;            \
  bool do_visit(BIT_STRING& v) override;              \
  bool do_visit(AbstractString& v) override;          \
  bool do_visit(BMPString& v) override;               \
  bool do_visit(CHOICE& v) override;                  \
  bool do_visit(SEQUENCE_OF_Base& v) override;        \
  bool do_visit(OpenData& v) override;                \
  bool do_revisit(OpenData& v) override;              \
  bool do_visit(TypeConstrainedOpenData& v) override; \
  bool do_visit(GeneralizedTime& v) override

// Read-only visitor (encoders, printer, checkers). Hooks answer go on (true)
// or fail (false).
class ConstVisitor {
 public:
  ConstVisitor() {}
  virtual ~ConstVisitor() {}

  bool visit(Null const& v) { return do_visit(v); }
  bool visit(BOOLEAN const& v) { return do_visit(v); }
  bool visit(INTEGER const& v) { return do_visit(v); }
  bool visit(IntegerWithNamedNumber const& v) { return do_visit(v); }
  bool visit(ENUMERATED const& v) { return do_visit(v); }
  bool visit(OBJECT_IDENTIFIER const& v) { return do_visit(v); }
  bool visit(BIT_STRING const& v) { return do_visit(v); }
  bool visit(OCTET_STRING const& v) { return do_visit(v); }
  bool visit(AbstractString const& v) { return do_visit(v); }
  bool visit(BMPString const& v) { return do_visit(v); }
  bool visit(CHOICE const& v) { return do_visit(v); }
  bool visit(OpenData const& v) { return do_visit(v); }
  bool visit(GeneralizedTime const& v) { return do_visit(v); }
  bool visit(SEQUENCE_OF_Base const& v) { return do_visit(v); }
  // The read-only SEQUENCE walk.
  bool visit(SEQUENCE const& v);

 protected:
  virtual bool do_visit(AbstractData const&) { return true; }
  virtual bool do_visit(Null const& v);
  virtual bool do_visit(BOOLEAN const& v);
  virtual bool do_visit(INTEGER const& v);
  virtual bool do_visit(IntegerWithNamedNumber const& v);  // as INTEGER
  virtual bool do_visit(ENUMERATED const& v);
  virtual bool do_visit(OBJECT_IDENTIFIER const& v);
  virtual bool do_visit(BIT_STRING const& v);
  virtual bool do_visit(OCTET_STRING const& v);
  virtual bool do_visit(AbstractString const& v);
  virtual bool do_visit(BMPString const& v);
  virtual bool do_visit(CHOICE const& v);
  virtual bool do_visit(OpenData const& v);
  virtual bool do_visit(GeneralizedTime const& v);
  virtual bool do_visit(SEQUENCE_OF_Base const& v);

  virtual bool preVisitExtensionRoots(SEQUENCE const& v);
  virtual bool visitExtensionRoot(SEQUENCE const&, int /*index*/) { return false; }
  virtual bool preVisitExtensions(SEQUENCE const&) { return true; }
  virtual bool visitKnownExtension(SEQUENCE const&, int /*index*/) { return false; }
  virtual bool afterVisitSequence(SEQUENCE const&) { return true; }
};

// The type operations of a read-only visitor that treats every value class
// itself, for its class body.
#define ASN1_CONST_VISITOR_TYPE_OPERATIONS            \
  bool do_visit(Null const& v) override;              \
  bool do_visit(BOOLEAN const& v) override;           \
  bool do_visit(INTEGER const& v) override;           \
  bool do_visit(ENUMERATED const& v) override;        \
  bool do_visit(OBJECT_IDENTIFIER const& v) override; \
  bool do_visit(BIT_STRING const& v) override;        \
  bool do_visit(OCTET_STRING const& v) override;      \
  bool do_visit(AbstractString const& v) override;    \
  bool do_visit(BMPString const& v) override;         \
  bool do_visit(CHOICE const& v) override;            \
  bool do_visit(OpenData const& v) override;          \
  bool do_visit(GeneralizedTime const& v) override;   \
  bool do_visit(SEQUENCE_OF_Base const& v) override

}  // namespace ASN1

#endif
