// libFuzzer target: hostile templates for the statistics page generator,
// over sources with values, a sub-object and collections of 0 to 3 elements.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/stat_html.h"

namespace {

class Source : public Stat::Object {
public:
    std::map<std::string, std::string> values;
    std::map<std::string, Source> objects;
    std::map<std::string, std::vector<Source>> lists;

    Stat::Value statistics_value(std::string const& name) const override
    {
        auto it = values.find(name);
        return it == values.end() ? Stat::Value() : Stat::Value(it->second);
    }
    Stat::Object const* statistics_object(std::string const& name) const override
    {
        auto it = objects.find(name);
        return it == objects.end() ? nullptr : &it->second;
    }
    std::unique_ptr<Stat::IteratorBase> statistics_iterator(std::string const& name) const override;
};

class Cursor : public Stat::IteratorBase {
public:
    explicit Cursor(std::vector<Source> const& v) : v_(v), i_(0) {}
    void reset() override { i_ = 0; }
    bool valid() const override { return i_ < v_.size(); }
    bool next() override { return ++i_ < v_.size(); }
    Stat::Object const& current() const override { return v_[i_]; }

private:
    std::vector<Source> const& v_;
    std::size_t i_;
};

std::unique_ptr<Stat::IteratorBase> Source::statistics_iterator(std::string const& name) const
{
    auto it = lists.find(name);
    if (it == lists.end())
        return nullptr;
    return std::unique_ptr<Stat::IteratorBase>(new Cursor(it->second));
}

Source const& root()
{
    static Source r = [] {
        Source s;
        s.values["a"] = "A";
        Source leaf;
        leaf.values["b"] = "B";
        s.objects["o"] = leaf;
        s.lists["l"] = {leaf, leaf, leaf};
        s.lists["e"] = {};
        s.objects["o"].lists["l"] = {leaf};
        return s;
    }();
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<char const*>(data), size));
    std::ostringstream out;
    if (!Stat::Html::generateV1(root(), out, in))
        std::abort();
    // Every template character is read at most once per collection element
    // (three at most, nested twice): the page cannot grow without bound.
    if (out.str().size() > 16 * (size + 1))
        std::abort();
    return 0;
}
