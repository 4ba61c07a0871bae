#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "records.h"

using namespace ASN1;

namespace {

// Records the hooks of the read-only walk.
struct ConstRecorder : ConstVisitor {
    using ConstVisitor::do_visit;
    std::vector<std::string> calls;
    bool preVisitExtensionRoots(SEQUENCE const&) override { return log("roots"); }
    bool visitExtensionRoot(SEQUENCE const&, int i) override { return log("root " + std::to_string(i)); }
    bool preVisitExtensions(SEQUENCE const&) override { return log("exts"); }
    bool visitKnownExtension(SEQUENCE const&, int i) override { return log("ext " + std::to_string(i)); }
    bool afterVisitSequence(SEQUENCE const&) override { return log("after"); }
    bool log(std::string s)
    {
        calls.push_back(s);
        return true;
    }
};

// Records the hooks of the mutating walk and answers scripted statuses.
struct Recorder : Visitor {
    using Visitor::do_visit;
    std::vector<std::string> calls;
    int roots = ContinueWithExt, root = ContinueWithExt, exts = ContinueWithExt,
        ext = ContinueWithExt, unknown = Stop;
    int stopAtRoot = -1;  // field index that answers `root`, others go on

    int preVisitExtensionRoots(SEQUENCE&) override { return log("roots", roots); }
    int visitExtensionRoot(SEQUENCE&, int i, int id) override
    {
        int s = stopAtRoot < 0 || i == stopAtRoot ? root : ContinueWithExt;
        return log("root " + std::to_string(i) + "/" + std::to_string(id), s);
    }
    int preVisitExtensions(SEQUENCE&) override { return log("exts", exts); }
    int visitKnownExtension(SEQUENCE&, int i, int id) override
    {
        return log("ext " + std::to_string(i) + "/" + std::to_string(id), ext);
    }
    int visitUnknownExtensions(SEQUENCE&) override { return log("unknown", unknown); }
    int log(std::string s, int status)
    {
        calls.push_back(s);
        return status;
    }

    bool do_visit(Null&) override { return true; }
    bool do_visit(BOOLEAN&) override { return true; }
    bool do_visit(INTEGER&) override { return true; }
    bool do_visit(ENUMERATED&) override { return true; }
    bool do_visit(OBJECT_IDENTIFIER&) override { return true; }
    bool do_visit(OCTET_STRING&) override { return true; }
    bool do_visit(BIT_STRING&) override { return true; }
    bool do_visit(AbstractString&) override { return true; }
    bool do_visit(BMPString&) override { return true; }
    bool do_visit(CHOICE&) override { return true; }
    bool do_visit(SEQUENCE_OF_Base&) override { return true; }
    bool do_visit(OpenData&) override { return true; }
    bool do_revisit(OpenData&) override { return true; }
    bool do_visit(TypeConstrainedOpenData&) override { return true; }
    bool do_visit(GeneralizedTime&) override { return true; }
};

typedef std::vector<std::string> Calls;

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
    EXPECT_STREQ("inner", r.getFieldName(3));

    rec::Opt o;
    EXPECT_EQ(nullptr, o.getField(0));
    EXPECT_EQ(nullptr, o.getField(1));
    ConstRecorder walk;
    EXPECT_TRUE(o.accept(walk));
    EXPECT_EQ((Calls{"roots", "after"}), walk.calls);
}

TEST(Sequence, OmittedFieldKeepsItsValue)
{
    rec::Message m;
    static_cast<INTEGER&>(*m.includeOptionalField(0, 0)) = 5;
    EXPECT_TRUE(m.hasOptionalField(0));
    m.removeOptionalField(0);
    EXPECT_FALSE(m.hasOptionalField(0));
    AbstractData* again = m.includeOptionalField(0, 0);
    EXPECT_EQ(5, static_cast<INTEGER&>(*again).getValue());
    EXPECT_FALSE(m.hasOptionalField(77));  // past both maps
}

TEST(Sequence, ConstWalkVisitsPresentFieldsAndExtensions)
{
    rec::Rec r;
    r.includeOptionalField(1, 2);  // c
    ConstRecorder plain;
    EXPECT_TRUE(r.accept(plain));
    EXPECT_EQ((Calls{"roots", "root 0", "root 2", "root 3", "after"}), plain.calls);

    // Including extension k sizes the map to k + 1 with only bit k set.
    r.includeOptionalField(3, 5);  // e, extension 1
    EXPECT_EQ(2u, r.extensionMap().size());
    EXPECT_EQ(0, r.extensionMap()[0]);
    EXPECT_EQ(1, r.extensionMap()[1]);
    ConstRecorder ext;
    EXPECT_TRUE(r.accept(ext));
    EXPECT_EQ((Calls{"roots", "root 0", "root 2", "root 3", "exts", "ext 5", "after"}), ext.calls);

    // Removed again: the map stays, so the extension hook still runs.
    r.removeOptionalField(3);
    ConstRecorder removed;
    EXPECT_TRUE(r.accept(removed));
    EXPECT_EQ((Calls{"roots", "root 0", "root 2", "root 3", "exts", "after"}), removed.calls);
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
    rec::Rec r;
    Recorder all;
    EXPECT_TRUE(r.accept(all));
    EXPECT_EQ((Calls{"roots", "root 0/-1", "root 1/0", "root 2/1", "root 3/-1", "exts",
                     "ext 4/2", "ext 5/3", "unknown"}),
              all.calls);

    Recorder noExt;
    noExt.roots = Visitor::Continue;  // roots only
    EXPECT_TRUE(r.accept(noExt));
    EXPECT_EQ((Calls{"roots", "root 0/-1", "root 1/0", "root 2/1", "root 3/-1"}), noExt.calls);

    Recorder stop;
    stop.roots = Visitor::Stop;
    EXPECT_TRUE(r.accept(stop));
    EXPECT_EQ(Calls{"roots"}, stop.calls);

    Recorder fail;
    fail.roots = Visitor::Fail;
    EXPECT_FALSE(r.accept(fail));

    Recorder rootStop;
    rootStop.root = Visitor::Stop;
    rootStop.stopAtRoot = 1;
    EXPECT_TRUE(r.accept(rootStop));
    EXPECT_EQ((Calls{"roots", "root 0/-1", "root 1/0"}), rootStop.calls);

    Recorder rootFail;
    rootFail.root = Visitor::Fail;
    rootFail.stopAtRoot = 2;
    EXPECT_FALSE(r.accept(rootFail));
    EXPECT_EQ(4u, rootFail.calls.size());

    // Only 3 goes on past an extension hook.
    Recorder extStop;
    extStop.ext = Visitor::Continue;
    EXPECT_TRUE(r.accept(extStop));
    EXPECT_EQ("ext 4/2", extStop.calls.back());

    Recorder extsOff;
    extsOff.exts = Visitor::Continue;
    EXPECT_TRUE(r.accept(extsOff));
    EXPECT_EQ("exts", extsOff.calls.back());
    extsOff.exts = Visitor::Fail;
    EXPECT_FALSE(r.accept(extsOff));

    Recorder unknownFail;
    unknownFail.unknown = Visitor::Fail;
    EXPECT_FALSE(r.accept(unknownFail));
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
