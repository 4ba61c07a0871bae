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
#include "stat_source.h"

namespace {

using Source = StatSource;

Source const& root()
{
    static Source r = [] {
        Source s;
        s.values["a"] = "A";
        Source leaf;
        leaf.values["b"] = "B";
        s.objects["o"] = leaf;
        s.collections["l"] = {leaf, leaf, leaf};
        s.collections["e"] = {};
        s.objects["o"].collections["l"] = {leaf};
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
