#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <vector>

#include "runtime/stat_html.h"
#include "stat_source.h"

namespace {

using Source = StatSource;

std::string page(Stat::Object const& root, std::string const& tmpl)
{
    std::istringstream in(tmpl);
    std::ostringstream out;
    EXPECT_TRUE(Stat::Html::generateV1(root, out, in));
    return out.str();
}

Source port(char const* name, char const* rx)
{
    Source s;
    s.values["name"] = name;
    s.values["rx"] = rx;
    return s;
}

} // namespace

TEST(StatHtml, MarkupWithoutMarkersIsCopied)
{
    Source root;
    std::string const markup =
        "<!DOCTYPE html>\n<html><!-- a comment --><!x><!-x><a href=\"50%\">half</a>"
        "<!--GEX--></html>\n";
    EXPECT_EQ(markup, page(root, markup));
    EXPECT_EQ("100%% done", page(root, "100%% done"));
}

TEST(StatHtml, ValuesComeFromTheInnermostObjectThatHasThem)
{
    Source root;
    root.values["title"] = "Gateway";
    root.values["rx"] = "outer";
    Source board;
    board.values["rx"] = "42";
    root.objects["board"] = board;
    EXPECT_EQ("<h1>Gateway</h1> outer [42 Gateway] outer %missing%",
              page(root, "<h1>%title%</h1> %rx% [<!--GEN.board-->%rx% %title%<!--GEN.end-->] %rx% %missing%"));
}

TEST(StatHtml, CollectionsRepeatTheirSection)
{
    Source root;
    root.values["title"] = "T";
    root.collections["ports"] = {port("a", "1"), port("b", "2"), port("c", "3")};
    root.collections["none"] = {};
    std::string const tmpl =
        "<table>\n<!--GEN.ports--><tr><td>%name%</td><td>%rx%</td><td>%title%</td></tr>\n"
        "<!--GEN.end--></table>\n<!--GEN.none-->[%name%]<!--GEN.end-->after\n";
    EXPECT_EQ("<table>\n<tr><td>a</td><td>1</td><td>T</td></tr>\n"
              "<tr><td>b</td><td>2</td><td>T</td></tr>\n"
              "<tr><td>c</td><td>3</td><td>T</td></tr>\n</table>\nafter\n",
              page(root, tmpl));
}

TEST(StatHtml, SectionsNobodySuppliesAreSkippedWithWhatTheyHold)
{
    Source root;
    root.values["v"] = "V";
    root.collections["ports"] = {port("a", "1")};
    EXPECT_EQ("x  y",
              page(root, "x <!--GEN.nothing-->%v% <!--GEN.ports-->%name%<!--GEN.end--> %% "
                         "<!--GEN.inner-->deep<!--GEN.end-->tail<!--GEN.end--> y"));
}

TEST(StatHtml, SectionNamesAndTheirEnds)
{
    Source root;
    Source hyphen;
    hyphen.values["v"] = "H";
    root.objects["link-a"] = hyphen;
    Source single;
    single.values["v"] = "S";
    root.objects["link"] = single;
    // One "-" belongs to the name; "--" ends it and the rest up to ">" is dropped.
    EXPECT_EQ("[H][S]", page(root, "[<!--GEN.link-a-->%v%<!--GEN.end-->][<!--GEN.link--ignored>%v%<!--GEN.end-->]"));
    // A section whose end marker is missing ends with the template.
    root.collections["ports"] = {port("a", "1"), port("b", "2")};
    EXPECT_EQ("<ul><li>a<li>b", page(root, "<ul><!--GEN.ports--><li>%name%"));
}

TEST(StatHtml, ATemplateEndingInsideAMarkerDropsIt)
{
    Source root;
    root.values["v"] = "V";
    for (char const* t : {"abc%v", "abc<!--GEN.x", "abc<!--GEN", "abc<!-", "abc<", "abc%"})
        EXPECT_EQ("abc", page(root, t)) << t;
    EXPECT_EQ("abcV", page(root, "abc%v%"));
}
