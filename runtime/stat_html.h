#ifndef RUNTIME_STAT_HTML_H
#define RUNTIME_STAT_HTML_H

// Statistics pages: an HTML template filled from a tree of statistics
// sources. In the template, "%name%" becomes the named value of the
// innermost source that has it, and "<!--GEN.name-->" ... "<!--GEN.end-->"
// is expanded with the named sub-object, once per element of the named
// collection, or not at all.

#include <iosfwd>
#include <list>
#include <memory>
#include <string>

namespace Stat {

class IteratorBase;

// A value of a statistics source; invalid when the source has none.
class Value {
public:
    Value() : valid_(false) {}
    explicit Value(std::string const& text) : valid_(true), text_(text) {}

    bool valid() const { return valid_; }
    std::string const& text() const { return text_; }

    typedef void (Value::*bool_type)() const;
    operator bool_type() const { return valid_ ? &Value::true_helper_func : 0; }

private:
    void true_helper_func() const {}

    bool valid_;
    std::string text_;
};

// A statistics source, supplied by the caller; the generator owns none.
class Object {
public:
    virtual ~Object() {}
    virtual Value statistics_value(std::string const& name) const = 0;
    // Null when there is no such sub-object.
    virtual Object const* statistics_object(std::string const& name) const = 0;
    // Null when there is no such collection.
    virtual std::unique_ptr<IteratorBase> statistics_iterator(std::string const& name) const = 0;
};

// A cursor over the elements of a collection.
class IteratorBase {
public:
    virtual ~IteratorBase() {}
    // Back to the first element (the generator does not use it).
    virtual void reset() = 0;
    virtual bool valid() const = 0;
    // Moves on; whether there is an element there.
    virtual bool next() = 0;
    virtual Object const& current() const = 0;
};

namespace Html {

class GeneratorV1 {
public:
    struct Token {
        enum Type { Section = 0, Variable = 1, End = 2 };
        Token() : type(End) {}
        Type type;
        std::string name;
    };

    GeneratorV1(Object const& root, std::ostream& out, std::istream& in);

    bool generate();

private:
    typedef void (GeneratorV1::*State)(char);

    Token parse();
    void put(char c);
    void put(std::string const& s);
    bool generate_body();
    void sub_object(Object const& object);
    void sub_object(std::string const& name);
    void ignore_object();
    void variable(std::string const& name);

    void next_input(State s);
    void next_output(State s);
    void next_state(State input, State output);
    void on_change_input_state() {}
    void on_change_output_state();
    // Writes the captured text and goes on as plain text inside a tag.
    void not_a_marker();

    void pinput_initial(char c);
    void pinput_delayed_initial(char c);
    void pinput_section_open(char c);
    void pinput_section_body(char c);
    void pinput_section_comment1(char c);
    void pinput_section_comment2(char c);
    void pinput_section_obj_begin1(char c);
    void pinput_section_obj_begin2(char c);
    void pinput_section_obj_begin3(char c);
    void pinput_section_obj_begin4(char c);
    void pinput_section_obj_name(char c);
    void pinput_section_obj_name_end1(char c);
    void pinput_section_obj_name_end2(char c);
    void pinput_value_open(char c);
    void pinput_value_body(char c);
    void poutput_pass(char c);
    void poutput_capture(char c);
    void poutput_ignore(char c);

    Object const& root_;
    std::ostream& out_;
    std::istream& in_;
    std::list<Object const*> stack_;
    Object const* current_;
    int ignore_;
    State input_;
    State output_;
    Token token_;
    bool complete_;
    std::string captured_;
};

// Fills the template from `in` into `out` with the values of `root`.
bool generateV1(Object const& root, std::ostream& out, std::istream& in);

} // namespace Html
} // namespace Stat

#endif
