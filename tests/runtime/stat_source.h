#pragma once
// A statistics source made of maps, for the page generator's tests and its
// fuzz target: values, sub-objects and collections by name.
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "runtime/stat_html.h"

class StatSource : public Stat::Object {
public:
    std::map<std::string, std::string> values;
    std::map<std::string, StatSource> objects;
    std::map<std::string, std::vector<StatSource>> collections;

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
    std::unique_ptr<Stat::IteratorBase> statistics_iterator(std::string const& name) const override
    {
        auto it = collections.find(name);
        if (it == collections.end())
            return nullptr;
        return std::unique_ptr<Stat::IteratorBase>(new Cursor(it->second));
    }

private:
    class Cursor : public Stat::IteratorBase {
    public:
        explicit Cursor(std::vector<StatSource> const& v) : v_(v), i_(0) {}
        void reset() override { i_ = 0; }
        bool valid() const override { return i_ < v_.size(); }
        bool next() override { return ++i_ < v_.size(); }
        Stat::Object const& current() const override { return v_[i_]; }

    private:
        std::vector<StatSource> const& v_;
        std::size_t i_;
    };
};
