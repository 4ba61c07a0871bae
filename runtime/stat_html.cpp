#include "runtime/stat_html.h"

#include <istream>
#include <ostream>

namespace Stat {
namespace Html {

namespace {
// Stands in for a section nobody supplies: no values, nothing below it.
class UnknownObject : public Object {
public:
    Value statistics_value(std::string const&) const override { return Value(); }
    Object const* statistics_object(std::string const&) const override { return 0; }
    std::unique_ptr<IteratorBase> statistics_iterator(std::string const&) const override
    {
        return std::unique_ptr<IteratorBase>();
    }
};
} // namespace

GeneratorV1::GeneratorV1(Object const& root, std::ostream& out, std::istream& in)
    : root_(root), out_(out), in_(in), current_(&root), ignore_(0),
      input_(&GeneratorV1::pinput_initial), output_(&GeneratorV1::poutput_pass), complete_(false)
{
    stack_.push_back(&root);
}

bool GeneratorV1::generate()
{
    ignore_ = 0;
    stack_.assign(1, &root_);
    current_ = &root_;
    generate_body();
    return true;
}

void GeneratorV1::put(char c)
{
    if (ignore_ == 0)
        out_.put(c);
}

void GeneratorV1::put(std::string const& s)
{
    if (ignore_ == 0)
        out_ << s;
}

GeneratorV1::Token GeneratorV1::parse()
{
    input_ = &GeneratorV1::pinput_initial;
    output_ = &GeneratorV1::poutput_pass;
    captured_.clear();
    complete_ = false;
    token_ = Token();
    char c;
    while (in_.get(c)) {
        (this->*input_)(c);
        (this->*output_)(c);
        if (complete_)
            return token_;
    }
    // A marker the template ends inside is dropped.
    return Token();
}

void GeneratorV1::next_input(State s)
{
    if (s == input_)
        return;
    input_ = s;
    on_change_input_state();
}

void GeneratorV1::next_output(State s)
{
    if (s == output_)
        return;
    output_ = s;
    on_change_output_state();
}

void GeneratorV1::next_state(State input, State output)
{
    next_input(input);
    next_output(output);
}

void GeneratorV1::on_change_output_state()
{
    if (output_ == &GeneratorV1::poutput_capture)
        captured_.clear();
}

void GeneratorV1::not_a_marker()
{
    put(captured_);
    next_state(&GeneratorV1::pinput_section_body, &GeneratorV1::poutput_pass);
}

void GeneratorV1::pinput_initial(char c)
{
    if (c == '<')
        next_state(&GeneratorV1::pinput_section_open, &GeneratorV1::poutput_capture);
    else if (c == '%')
        next_state(&GeneratorV1::pinput_value_open, &GeneratorV1::poutput_capture);
}

void GeneratorV1::pinput_delayed_initial(char c)
{
    next_state(&GeneratorV1::pinput_initial, &GeneratorV1::poutput_pass);
    pinput_initial(c);
}

void GeneratorV1::pinput_section_open(char c)
{
    if (c == '!')
        next_input(&GeneratorV1::pinput_section_comment1);
    else
        not_a_marker();
}

void GeneratorV1::pinput_section_body(char c)
{
    if (c == '>')
        next_input(&GeneratorV1::pinput_initial);
}

void GeneratorV1::pinput_section_comment1(char c)
{
    if (c == '-')
        next_input(&GeneratorV1::pinput_section_comment2);
    else
        not_a_marker();
}

void GeneratorV1::pinput_section_comment2(char c)
{
    if (c == '-') {
        token_.type = Token::Section;
        token_.name.clear();
        next_input(&GeneratorV1::pinput_section_obj_begin1);
    } else {
        not_a_marker();
    }
}

void GeneratorV1::pinput_section_obj_begin1(char c)
{
    if (c == 'G')
        next_input(&GeneratorV1::pinput_section_obj_begin2);
    else
        not_a_marker();
}

void GeneratorV1::pinput_section_obj_begin2(char c)
{
    if (c == 'E')
        next_input(&GeneratorV1::pinput_section_obj_begin3);
    else
        not_a_marker();
}

void GeneratorV1::pinput_section_obj_begin3(char c)
{
    if (c == 'N')
        next_input(&GeneratorV1::pinput_section_obj_begin4);
    else
        not_a_marker();
}

void GeneratorV1::pinput_section_obj_begin4(char c)
{
    if (c == '.')
        next_input(&GeneratorV1::pinput_section_obj_name);
    else
        not_a_marker();
}

void GeneratorV1::pinput_section_obj_name(char c)
{
    if (c == '-')
        next_input(&GeneratorV1::pinput_section_obj_name_end1);
    else
        token_.name += c;
}

void GeneratorV1::pinput_section_obj_name_end1(char c)
{
    if (c == '-') {
        next_input(&GeneratorV1::pinput_section_obj_name_end2);
    } else {
        token_.name += '-';
        token_.name += c;
        next_input(&GeneratorV1::pinput_section_obj_name);
    }
}

void GeneratorV1::pinput_section_obj_name_end2(char c)
{
    if (c == '>') {
        complete_ = true;
        next_input(&GeneratorV1::pinput_delayed_initial);
    }
}

void GeneratorV1::pinput_value_open(char c)
{
    if (c == '%') {
        put('%');
        next_state(&GeneratorV1::pinput_initial, &GeneratorV1::poutput_pass);
    } else {
        token_.type = Token::Variable;
        token_.name.assign(1, c);
        next_input(&GeneratorV1::pinput_value_body);
    }
}

void GeneratorV1::pinput_value_body(char c)
{
    if (c == '%') {
        complete_ = true;
        next_input(&GeneratorV1::pinput_delayed_initial);
    } else {
        token_.name += c;
    }
}

void GeneratorV1::poutput_pass(char c)
{
    put(c);
}

void GeneratorV1::poutput_capture(char c)
{
    captured_ += c;
}

void GeneratorV1::poutput_ignore(char)
{
}

void GeneratorV1::variable(std::string const& name)
{
    for (std::list<Object const*>::reverse_iterator it = stack_.rbegin(); it != stack_.rend(); ++it) {
        Value const v = (*it)->statistics_value(name);
        if (v) {
            put(v.text());
            return;
        }
    }
    put(captured_);
}

bool GeneratorV1::generate_body()
{
    for (;;) {
        Token const t = parse();
        if (t.type == Token::End)
            return true;
        if (t.type == Token::Variable) {
            variable(t.name);
            continue;
        }
        if (t.name == "end")
            return true;
        std::unique_ptr<IteratorBase> it = current_->statistics_iterator(t.name);
        if (!it) {
            sub_object(t.name);
        } else if (!it->valid()) {
            ignore_object();
        } else {
            std::istream::pos_type const body = in_.tellg();
            sub_object(it->current());
            bool more = it->next();
            while (more && it->valid()) {
                // The template is read again for every element; after a
                // template that ended inside the section, the stream has
                // to be cleared first.
                in_.clear();
                in_.seekg(body);
                sub_object(it->current());
                more = it->next();
            }
        }
    }
}

void GeneratorV1::sub_object(Object const& object)
{
    stack_.push_back(&object);
    current_ = &object;
    generate_body();
    stack_.pop_back();
    current_ = stack_.back();
}

void GeneratorV1::sub_object(std::string const& name)
{
    if (Object const* o = current_->statistics_object(name))
        sub_object(*o);
    else
        ignore_object();
}

void GeneratorV1::ignore_object()
{
    UnknownObject unknown;
    ++ignore_;
    sub_object(unknown);
    --ignore_;
}

bool generateV1(Object const& root, std::ostream& out, std::istream& in)
{
    GeneratorV1 generator(root, out, in);
    return generator.generate();
}

} // namespace Html
} // namespace Stat
