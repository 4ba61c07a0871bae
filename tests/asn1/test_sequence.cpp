#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "asn1/perdecoder.h"
#include "records.h"

using namespace ASN1;

namespace {

// The hooks the read-only walk calls, then its result.
struct ConstRecorder : ConstVisitor {
    using ConstVisitor::do_visit;
    std::string calls;
    bool preVisitExtensionRoots(SEQUENCE const&) override { return log("roots"); }
    bool visitExtensionRoot(SEQUENCE const&, int i) override { return log("root" + std::to_string(i)); }
    bool preVisitExtensions(SEQUENCE const&) override { return log("exts"); }
    bool visitKnownExtension(SEQUENCE const&, int i) override { return log("ext" + std::to_string(i)); }
    bool afterVisitSequence(SEQUENCE const&) override { return log("after"); }
    bool log(std::string const& s)
    {
        calls += calls.empty() ? s : " " + s;
        return true;
    }
};

std::string constWalk(SEQUENCE const& s)
{
    ConstRecorder r;
    bool const ok = s.accept(r);
    return r.calls + (ok ? ": ok" : ": fail");
}

// The mutating walk over a Rec with scripted hook statuses; the field
// visits are the decoder's, which no hook here reaches.
struct Recorder : PERDecoder {
    Recorder() : PERDecoder(nullptr, nullptr) {}
    std::string calls;
    int roots = ContinueWithExt, root = ContinueWithExt, exts = ContinueWithExt,
        ext = ContinueWithExt, unknown = Stop;
    int stopAtRoot = -1;  // field index that answers `root`, others go on

    int preVisitExtensionRoots(SEQUENCE&) override { return log("roots", roots); }
    int visitExtensionRoot(SEQUENCE&, int i, int id) override
    {
        int const s = stopAtRoot < 0 || i == stopAtRoot ? root : ContinueWithExt;
        return log("root" + std::to_string(i) + "/" + std::to_string(id), s);
    }
    int preVisitExtensions(SEQUENCE&) override { return log("exts", exts); }
    int visitKnownExtension(SEQUENCE&, int i, int id) override
    {
        return log("ext" + std::to_string(i) + "/" + std::to_string(id), ext);
    }
    int visitUnknownExtensions(SEQUENCE&) override { return log("unknown", unknown); }
    int log(std::string const& s, int status)
    {
        calls += calls.empty() ? s : " " + s;
        return status;
    }
};

std::string walk(Recorder r)
{
    rec::Rec value;
    bool const ok = value.accept(r);
    return r.calls + (ok ? ": ok" : ": fail");
}

Recorder script(int Recorder::*hook, int status, int stopAtRoot = -1)
{
    Recorder r;
    r.*hook = status;
    r.stopAtRoot = stopAtRoot;
    return r;
}

} // namespace

TEST(Sequence, NewValueHasMandatoryFieldsOnly)
{
    rec::Rec r;
    EXPECT_NE(nullptr, r.getField(0));
    EXPECT_EQ(nullptr, r.getField(1));
    EXPECT_EQ(nullptr, r.getField(2));
    EXPECT_NE(nullptr, r.getField(3));
    EXPECT_EQ(nullptr, r.getField(4));
    EXPECT_EQ(2u, r.optionalMap().size());
    EXPECT_EQ(0u, r.extensionMap().size());

    rec::Opt o;
    EXPECT_EQ(nullptr, o.getField(0));
    EXPECT_EQ(nullptr, o.getField(1));
    EXPECT_EQ("roots after: ok", constWalk(o));
}

TEST(Sequence, OmittedFieldKeepsItsValue)
{
    rec::Message m;
    static_cast<INTEGER&>(*m.includeOptionalField(0, 0)) = 5;
    m.removeOptionalField(0);
    EXPECT_FALSE(m.hasOptionalField(0));
    AbstractData* again = m.includeOptionalField(0, 0);
    EXPECT_TRUE(m.hasOptionalField(0));
    EXPECT_EQ(5, static_cast<INTEGER&>(*again).getValue());
    EXPECT_FALSE(m.hasOptionalField(77));  // past both maps
}

TEST(Sequence, ConstWalkVisitsPresentFieldsAndExtensions)
{
    rec::Rec r;
    r.includeOptionalField(1, 2);  // c
    EXPECT_EQ("roots root0 root2 root3 after: ok", constWalk(r));

    // Including extension k sizes the map to k + 1 with only bit k set.
    r.includeOptionalField(3, 5);  // e, extension 1
    EXPECT_EQ(2u, r.extensionMap().size());
    EXPECT_EQ(0, r.extensionMap()[0]);
    EXPECT_EQ(1, r.extensionMap()[1]);
    EXPECT_EQ("roots root0 root2 root3 exts ext5 after: ok", constWalk(r));

    // Removed again: the map stays, so the extension hook still runs.
    r.removeOptionalField(3);
    EXPECT_EQ("roots root0 root2 root3 exts after: ok", constWalk(r));
}

TEST(Sequence, DefaultConstVisitorFailsOnAVisitedField)
{
    ConstVisitor plain;
    rec::Opt empty;
    EXPECT_TRUE(empty.accept(plain));
    rec::Rec r;
    EXPECT_FALSE(r.accept(plain));
    EXPECT_TRUE(INTEGER(3).accept(plain));
    EXPECT_TRUE(rec::Alt().accept(plain));
}

TEST(Sequence, MutatingWalkStatuses)
{
    std::string const roots = "roots root0/-1 root1/0 root2/1 root3/-1";
    EXPECT_EQ(roots + " exts ext4/2 ext5/3 unknown: ok", walk(Recorder()));
    EXPECT_EQ(roots + ": ok", walk(script(&Recorder::roots, Visitor::Continue)));
    EXPECT_EQ("roots: ok", walk(script(&Recorder::roots, Visitor::Stop)));
    EXPECT_EQ("roots: fail", walk(script(&Recorder::roots, Visitor::Fail)));
    EXPECT_EQ("roots root0/-1 root1/0: ok", walk(script(&Recorder::root, Visitor::Stop, 1)));
    EXPECT_EQ("roots root0/-1 root1/0 root2/1: fail",
              walk(script(&Recorder::root, Visitor::Fail, 2)));
    // Only 3 goes on past an extension hook.
    EXPECT_EQ(roots + " exts ext4/2: ok", walk(script(&Recorder::ext, Visitor::Continue)));
    EXPECT_EQ(roots + " exts: ok", walk(script(&Recorder::exts, Visitor::Continue)));
    EXPECT_EQ(roots + " exts: fail", walk(script(&Recorder::exts, Visitor::Fail)));
    EXPECT_EQ(roots + " exts ext4/2 ext5/3 unknown: fail",
              walk(script(&Recorder::unknown, Visitor::Fail)));
}

TEST(Sequence, CompareByPresenceThenValues)
{
    rec::Rec a, b;
    a.includeOptionalField(0, 1);
    EXPECT_EQ(1, a.compare(b));
    EXPECT_EQ(-1, b.compare(a));
    b.includeOptionalField(0, 1);
    EXPECT_EQ(0, a.compare(b));
    static_cast<BOOLEAN&>(*a.getField(1)) = true;
    EXPECT_GT(a.compare(b), 0);

    // An early extension decides even when later ones are absent on both.
    rec::Rec x, y;
    x.includeOptionalField(2, 4);
    y.includeOptionalField(2, 4);
    static_cast<INTEGER&>(*x.getField(4)) = 1;
    EXPECT_EQ(0, x.compare(x));
    EXPECT_NE(0, x.compare(y));
    y.removeOptionalField(2);
    EXPECT_EQ(1, x.compare(y));
}

TEST(Sequence, CopiesAreDeep)
{
    rec::Rec a;
    static_cast<INTEGER&>(*a.getField(0)) = 3;
    static_cast<IA5String&>(*a.includeOptionalField(1, 2)) = "one";
    a.includeOptionalField(3, 5);
    rec::Rec b(a);
    EXPECT_EQ(0, a.compare(b));
    rec::Rec c;
    c = a;
    EXPECT_EQ(0, a.compare(c));
    static_cast<IA5String&>(*a.getField(2)) = "two";
    EXPECT_NE(0, a.compare(b));
    EXPECT_NE(0, a.compare(c));
    EXPECT_EQ(0, b.compare(c));
    EXPECT_EQ(2u, c.extensionMap().size());

    a.swap(c);
    EXPECT_EQ(0, a.compare(b));
}

TEST(Sequence, FieldTags)
{
    rec::Rec r;
    EXPECT_EQ(0, r.tagMode());
    EXPECT_EQ(0x800003u, r.getFieldTag(3));
}
