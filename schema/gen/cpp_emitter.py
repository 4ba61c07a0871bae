"""Writes the C++ classes and information records of one module.

Every constructed type becomes a class over the ASN.1 runtime with no data of
its own: the class names its static record and offers typed accessors that
index the runtime's value by constant numbers. Records are constant data
(constant-initialised, so no start-up order matters); the only start-up code
is the module initialiser that (re)fills the create word of the list records
its types reach.
"""

from asn_parser import Builtin, Constructed, Ref, SeqOf, SchemaError, target_type

CPP_KEYWORDS = set("""
alignas alignof and and_eq asm auto bitand bitor bool break case catch char char16_t
char32_t class compl const constexpr const_cast continue decltype default delete do
double dynamic_cast else enum explicit export extern false float for friend goto if
inline int long mutable namespace new noexcept not not_eq nullptr operator or or_eq
private protected public register reinterpret_cast return short signed sizeof static
static_assert static_cast struct switch template this thread_local throw true try
typedef typeid typename union unsigned using virtual void volatile wchar_t while xor
xor_eq NULL EOF errno stdin stdout stderr assert major minor unix linux
""".split())

# Names a nested alternative struct may not take: they live inside it.
CHOICE_RESERVED = {"Id", "index", "value_type"}

STRING_RECORDS = {
    # kind: (class, tag, character table, size, canonical bits, unaligned, aligned)
    "IA5String": ("IA5String", 22, "IA5StringSet", 128, 7, 7, 8),
    "NumericString": ("NumericString", 18, "NumericStringSet", 11, 4, 4, 4),
    "PrintableString": ("PrintableString", 19, "PrintableStringSet", 74, 7, 7, 8),
    "VisibleString": ("VisibleString", 26, "VisibleStringSet", 95, 7, 7, 8),
    "GeneralString": ("GeneralString", 27, "GeneralStringSet", 256, 8, 8, 8),
}
SIMPLE_CLASSES = {
    "BOOLEAN": "BOOLEAN", "NULL": "Null", "OCTET STRING": "OCTET_STRING",
    "BIT STRING": "BIT_STRING", "OBJECT IDENTIFIER": "OBJECT_IDENTIFIER",
    "BMPString": "BMPString", "GeneralizedTime": "GeneralizedTime",
}


def ident(name):
    """The C++ spelling of an ASN.1 name in accessor names: '-' becomes '_'."""
    return name.replace("-", "_")


def member(name, forbidden=()):
    """A C++ name that must not be a keyword (enumerators, nested structs)."""
    n = ident(name)
    while n in CPP_KEYWORDS or n in forbidden:
        n += "_"
    return n


def c_string(s):
    return '"%s"' % s.replace("\\", "\\\\").replace('"', '\\"')


def c_int(v):
    return "(-2147483647 - 1)" if v == -2**31 else str(v)


class Types:
    """C++ names, records and value kinds of type expressions."""

    def __init__(self, modules):
        self.modules = modules
        self.string_records = {}     # id(Builtin) -> qualified record name
        for mod in modules.values():
            for td in mod.types:
                self._name_string_records(mod, td)

    def _name_string_records(self, mod, td):
        def visit(ty, ctx):
            if isinstance(ty, Builtin) and ty.constrained() and ty.kind != "INTEGER":
                self.string_records[id(ty)] = ("::%s::%s_info" % (mod.name, ctx), mod.name, ctx, ty)
            elif isinstance(ty, SeqOf):
                elem = ty.elem
                if isinstance(elem, Builtin) and elem.constrained() and elem.kind != "INTEGER":
                    raise SchemaError("%s:%d: list elements with a size constraint are not supported"
                                      % (mod.path, td.line))
                visit(elem, ctx + "_subtype")
        if isinstance(td.type, Constructed):
            for c in td.type.all():
                if c.type is not None:
                    visit(c.type, "%s_%s" % (td.cname(), ident(c.name)))
        else:
            visit(td.type, td.cname())

    def module_strings(self, mod_name):
        return [v for v in self.string_records.values() if v[1] == mod_name]

    def cpp(self, ty):
        if isinstance(ty, Ref):
            t = ty.target
            if isinstance(t.type, Constructed):
                return "::%s::%s" % (t.module.name, t.cname())
            return self.cpp(t.type)
        if isinstance(ty, SeqOf):
            tmpl = "SET_OF" if ty.is_set else "SEQUENCE_OF"
            return "::ASN1::%s< %s, ::ASN1::EmptyConstraint>" % (tmpl, self.cpp(ty.elem))
        if isinstance(ty, Builtin):
            if ty.kind == "INTEGER":
                if not ty.constrained():
                    return "::ASN1::INTEGER"
                return "::ASN1::Constrained_INTEGER< ::ASN1::FixedConstraint, %s, %du>" % (c_int(ty.lb), ty.ub)
            if ty.kind in STRING_RECORDS:
                return "::ASN1::" + STRING_RECORDS[ty.kind][0]
            return "::ASN1::" + SIMPLE_CLASSES[ty.kind]
        raise SchemaError("internal: inline type left unnamed")

    def record(self, ty):
        """Address expression of the type's record."""
        if isinstance(ty, Ref):
            t = ty.target
            if isinstance(t.type, Constructed):
                return "&::%s::%s::theInfo" % (t.module.name, t.cname())
            return self.record(t.type)
        if isinstance(ty, Builtin) and id(ty) in self.string_records:
            return "&" + self.string_records[id(ty)][0]
        return "&%s::theInfo" % self.cpp(ty)

    def kind(self, ty):
        """How plain values are passed: int, uint, bool, enum, string, octets, value."""
        t = target_type(ty)
        if isinstance(t, Builtin):
            if t.kind == "INTEGER":
                return "uint" if t.constrained() and t.lb >= 0 else "int"
            if t.kind == "BOOLEAN":
                return "bool"
            if t.kind in STRING_RECORDS:
                return "string"
            if t.kind == "OCTET STRING":
                return "octets"
            return "value"
        if isinstance(t, Constructed) and t.kind == "ENUMERATED":
            return "enum"
        return "value"

    def plain_param(self, ty):
        """(parameter type, assignment to r) for the plain-value forms, or None."""
        k = self.kind(ty)
        if k == "int":
            return "int", "r.setValue(v);"
        if k == "uint":
            return "unsigned", "r = v;"
        if k == "bool":
            return "bool", "r = v;"
        if k == "enum":
            return self.cpp(ty) + "::NamedNumber", "r = v;"
        if k == "string":
            return "::std::string const&", "r = v;"
        if k == "octets":
            return "::std::vector<char> const&", "r = v;"
        return None

    def value_params(self, ty, name):
        """Every (parameter type, assignment) a setter of this type offers;
        name is how the setter's class spells the value type."""
        out = []
        plain = self.plain_param(ty)
        if plain:
            out.append(plain)
        if self.kind(ty) in ("int", "uint", "enum", "value"):
            out.append(("%s const&" % name, "r = v;"))
        return out

    def lists(self, ty, seen_types, out):
        """Appends the C++ list types reached from ty, depth first, once each."""
        if isinstance(ty, SeqOf):
            self.lists(ty.elem, seen_types, out)
            name = self.cpp(ty)
            if name not in out:
                out.append(name)
        elif isinstance(ty, Ref):
            td = ty.target
            if id(td) not in seen_types:
                seen_types.add(id(td))
                self.lists(td.type, seen_types, out)
        elif isinstance(ty, Constructed):
            for c in ty.all():
                if c.type is not None:
                    self.lists(c.type, seen_types, out)


class ModuleEmitter:
    def __init__(self, mod, types, folders):
        self.mod, self.types, self.folders = mod, types, folders
        self.ns = mod.name

    # ------------------------------------------------------------ helpers
    def used_modules(self):
        used = []

        def visit(ty):
            if isinstance(ty, Ref):
                m = ty.target.module.name
                if m != self.ns and m not in used:
                    used.append(m)
            elif isinstance(ty, SeqOf):
                visit(ty.elem)
            elif isinstance(ty, Constructed):
                for c in ty.all():
                    if c.type is not None:
                        visit(c.type)
        for td in self.mod.types:
            visit(td.type)
        return used

    def constructed(self, kind=None):
        return [td for td in self.mod.types
                if isinstance(td.type, Constructed) and (kind is None or td.type.kind == kind)]

    def check_names(self, td):
        cls = td.cname()
        for c in td.type.all():
            if ident(c.name) == cls:
                raise SchemaError("%s:%d: %s of %s has the name of its type" % (self.mod.path, c.line, c.name, td.name))

    # ------------------------------------------------------------ header
    def header(self):
        folder = self.folders[self.ns]
        guard = "SCHEMA_%s_%s_H" % (folder.upper(), self.ns.upper())
        L = ["// Generated from schema/%s/%s.asn by schema/gen/asn1gen.py: do not edit." % (folder, self.ns),
             "#ifndef " + guard, "#define " + guard, "",
             "#include <string>", "#include <vector>", "", '#include "asn1/asn1.h"']
        for m in self.used_modules():
            L.append('#include "schema/%s/%s.h"' % (self.folders[m], m))
        L += ["", "namespace %s {" % self.ns, ""]
        for td in self.constructed():
            L.append("class %s;" % td.cname())
        for rec, _, ctx, b in self.types.module_strings(self.ns):
            L.append("extern ::ASN1::%s const %s_info;" % (self.string_info_type(b), ctx))
        L.append("")
        for td in self.mod.types:
            if not isinstance(td.type, Constructed):
                L.append("typedef %s %s;" % (self.types.cpp(td.type), td.cname()))
        L.append("")
        for td in self.constructed("ENUMERATED"):
            L += self.enum_class(td)
        bodies = []
        for td in self.constructed():
            self.check_names(td)
            if td.type.kind == "SEQUENCE":
                L += self.sequence_class(td, bodies)
            elif td.type.kind == "CHOICE":
                L += self.choice_class(td, bodies)
        L += bodies
        L += ["} // namespace %s" % self.ns, "", "#endif", ""]
        return "\n".join(L)

    def common_members(self, cls, base, info_type):
        return [
            "    static ::ASN1::%s const theInfo;" % info_type,
            "",
            "    %s() : %s(&theInfo) {}" % (cls, base),
            "    explicit %s(void const* info) : %s(info) {}" % (cls, base),
            "    %s(%s const& other) : %s(other) {}" % (cls, cls, base),
            "    ~%s() override {}" % cls,
            "    %s& operator=(%s const& other)" % (cls, cls),
            "    {",
            "        %s::operator=(other);" % base,
            "        return *this;",
            "    }",
            "    %s* clone() const { return static_cast<%s*>(::ASN1::AbstractData::clone()); }" % (cls, cls),
        ]

    def enum_class(self, td):
        cls, ty = td.cname(), td.type
        base = "::ASN1::ENUMERATED"
        used = set()
        enumerators = []
        for c in ty.all():
            n = member(c.name, {cls, "NamedNumber", "theInfo"})
            enumerators.append((c, n))
            used.add(n)
        L = ["class %s : public %s {" % (cls, base), "public:",
             "    enum NamedNumber : int {"]
        L += ["        %s = %s," % (n, c_int(c.value)) for c, n in enumerators]
        L += ["    };", ""]
        L += self.common_members(cls, base, "EnumeratedInfo")
        L += [
            "    %s(NamedNumber value) : %s(&theInfo) { setFromInt(value); }" % (cls, base),
            "    %s& operator=(NamedNumber value)" % cls,
            "    {",
            "        setFromInt(value);",
            "        return *this;",
            "    }",
            "    operator NamedNumber() const { return static_cast<NamedNumber>(asInt()); }",
            "    bool operator==(NamedNumber value) const { return asInt() == value; }",
            "    bool operator!=(NamedNumber value) const { return asInt() != value; }",
            "",
        ]
        for c, n in enumerators:
            a = ident(c.name)
            L.append("    void set_%s() { setFromInt(%s); }" % (a, n))
            L.append("    bool is_%s() const { return asInt() == %s; }" % (a, n))
        L += ["};", "", "extern char const* const %s_enum_names__[];" % cls, ""]
        return L

    def sequence_class(self, td, bodies):
        cls, ty = td.cname(), td.type
        base = "::ASN1::SEQUENCE"
        L = ["class %s : public %s {" % (cls, base), "public:"]
        fields = []
        opt_root = [c for c in ty.root if c.optional]
        for i, c in enumerate(ty.all()):
            if i < len(ty.root):
                oid = opt_root.index(c) if c.optional else None
            else:
                oid = len(opt_root) + (i - len(ty.root))
            s = member(c.name, {"value_type", cls})
            fields.append((i, c, s, ident(c.name), oid))
            L.append("    struct %s { typedef %s value_type; };" % (s, self.types.cpp(c.type)))
        L.append("")
        L += self.common_members(cls, base, "SequenceInfo")
        L += ["    static void const* const fieldInfos[];",
              "    static unsigned const fieldIds[];",
              "    static char const* const fieldNames[];"]
        for i, c, s, a, oid in fields:
            V = "%s::value_type" % s
            QV = "%s::%s" % (cls, V)
            L += ["", "    // %s" % c.name,
                  "    %s const& get_%s() const;" % (V, a),
                  "    %s& ref_%s();" % (V, a),
                  "    %s& set_%s();" % (V, a)]
            bodies.append("inline %s const& %s::get_%s() const { return static_cast<%s const&>(*getField(%d)); }"
                          % (QV, cls, a, V, i))
            bodies.append("inline %s& %s::ref_%s() { return static_cast<%s&>(*getField(%d)); }" % (QV, cls, a, V, i))
            if oid is None:
                bodies.append("inline %s& %s::set_%s() { return ref_%s(); }" % (QV, cls, a, a))
            else:
                bodies.append("inline %s& %s::set_%s() { return static_cast<%s&>(*includeOptionalField(%d, %d)); }"
                              % (QV, cls, a, V, oid, i))
            for P_, assign in self.types.value_params(c.type, V):
                L.append("    void set_%s(%s v);" % (a, P_))
                bodies.append("inline void %s::set_%s(%s v) { %s& r = set_%s(); %s }"
                              % (cls, a, self.qualify(P_, cls, V), V, a, assign))
            if oid is not None:
                L.append("    bool %s_isPresent() const { return hasOptionalField(%d); }" % (a, oid))
                L.append("    void omit_%s() { removeOptionalField(%d); }" % (a, oid))
        L += ["};", ""]
        bodies.append("")
        return L

    @staticmethod
    def qualify(param, cls, V):
        """A parameter type as written outside the class."""
        return param.replace(V, "%s::%s" % (cls, V)) if param.startswith(V) else param

    def choice_class(self, td, bodies):
        cls, ty = td.cname(), td.type
        base = "::ASN1::CHOICE"
        L = ["class %s : public %s {" % (cls, base), "public:"]
        alts = []
        for i, c in enumerate(ty.all()):
            s = member(c.name, CHOICE_RESERVED | {cls})
            alts.append((i, c, s, ident(c.name)))
            L.append("    struct %s {" % s)
            L.append("        enum Id { index = %d };" % i)
            L.append("        typedef %s value_type;" % self.types.cpp(c.type))
            L.append("    };")
        L.append("")
        L += self.common_members(cls, base, "ChoiceInfo")
        L += ["    static void const* const selectionInfos[];",
              "    static char const* const selectionNames[];"]
        for i, c, s, a in alts:
            V = "%s::value_type" % s
            QV = "%s::%s" % (cls, V)
            params = self.types.value_params(c.type, V)
            L += ["", "    // %s" % c.name]
            for P_, _ in params:
                L.append("    %s(%s::Id, %s v);" % (cls, s, P_))
                bodies.append("inline %s::%s(%s::Id, %s v) : %s(&theInfo) { select_%s(v); }"
                              % (cls, cls, s, self.qualify(P_, cls, V), base, a))
            L += ["    bool %s_isSelected() const { return currentSelection() == %d; }" % (a, i),
                  "    %s const& get_%s() const;" % (V, a),
                  "    %s& ref_%s();" % (V, a),
                  "    %s& select_%s();" % (V, a)]
            bodies += [
                "inline %s const& %s::get_%s() const { return static_cast<%s const&>(selectedAs(%d)); }"
                % (QV, cls, a, V, i),
                "inline %s& %s::ref_%s() { return static_cast<%s&>(selectedAs(%d)); }" % (QV, cls, a, V, i),
                "inline %s& %s::select_%s()" % (QV, cls, a),
                "{",
                "    return static_cast<%s&>(*setSelection(%d, ::ASN1::AbstractData::create(%s)));"
                % (V, i, self.types.record(c.type)),
                "}",
            ]
            for P_, assign in params:
                L.append("    %s& select_%s(%s v);" % (V, a, P_))
                bodies.append("inline %s& %s::select_%s(%s v) { %s& r = select_%s(); %s return r; }"
                              % (QV, cls, a, self.qualify(P_, cls, V), V, a, assign))
        L += ["};", ""]
        bodies.append("")
        return L

    # ------------------------------------------------------------ source
    def string_info_type(self, b):
        if b.kind in STRING_RECORDS:
            return "StringInfo"
        if b.kind == "BMPString":
            return "BMPStringInfo"
        return "ConstrainedInfo"

    def string_record(self, ctx, b):
        head = "%s, %d, %du" % ("::ASN1::FixedConstraint", b.lb, b.ub)
        t = self.string_info_type(b)
        if b.kind in STRING_RECORDS:
            cls, tag, table, n, cbits, ubits, abits = STRING_RECORDS[b.kind]
            body = "{{{&::ASN1::%s::create, %d}, %s}, ::ASN1::%s, %d, %d, %d, %d}" % (
                cls, tag, head, table, n, cbits, ubits, abits)
        elif b.kind == "BMPString":
            body = "{{{&::ASN1::BMPString::create, 30}, %s}, 0, 65535, 16, 16}" % head
        else:
            cls = SIMPLE_CLASSES[b.kind]
            tag = 4 if b.kind == "OCTET STRING" else 3
            body = "{{&::ASN1::%s::create, %d}, %s}" % (cls, tag, head)
        return ["::ASN1::%s const %s_info = %s;" % (t, ctx, body), ""]

    def source(self):
        folder = self.folders[self.ns]
        L = ["// Generated from schema/%s/%s.asn by schema/gen/asn1gen.py: do not edit." % (folder, self.ns),
             '#include "schema/%s/%s.h"' % (folder, self.ns), "", "namespace %s {" % self.ns, ""]
        for _, _, ctx, b in self.types.module_strings(self.ns):
            L += self.string_record(ctx, b)
        for td in self.constructed():
            ty, cls = td.type, td.cname()
            if ty.kind == "ENUMERATED":
                L += self.enum_records(cls, ty)
            elif ty.kind == "SEQUENCE":
                L += self.sequence_records(cls, ty)
            else:
                L += self.choice_records(cls, ty)
        L += ["} // namespace %s" % self.ns, ""]
        L += self.initialiser()
        return "\n".join(L)

    @staticmethod
    def array(decl, items, empty):
        if not items:
            return ["%s = {%s};" % (decl, empty)]
        return ["%s = {" % decl] + ["    %s," % x for x in items] + ["};"]

    def enum_records(self, cls, ty):
        names, prev = [], None
        for c in ty.all():
            expected = 0 if prev is None else prev + 1
            names.append(c_string(c.name if c.value == expected else "%s=%d" % (c.name, c.value)))
            prev = c.value
        maximum = max(c.value for c in ty.root)
        L = self.array("char const* const %s_enum_names__[]" % cls, names, "nullptr")
        L += ["::ASN1::EnumeratedInfo const %s::theInfo = {" % cls,
              "    {&::ASN1::createValue<%s>, 10}, %s, %s, %s_enum_names__, %d};" % (
                  cls, "true" if ty.extensible else "false", c_int(maximum), cls, len(names)), ""]
        return L

    def sequence_records(self, cls, ty):
        comps = ty.all()
        opt = 0
        ids = []
        for c in ty.root:
            if c.optional:
                ids.append(str(opt))
                opt += 1
            else:
                ids.append("::ASN1::MandatoryField")
        L = self.array("void const* const %s::fieldInfos[]" % cls,
                       [self.types.record(c.type) for c in comps], "nullptr")
        L += self.array("unsigned const %s::fieldIds[]" % cls, ids, "0")
        L += self.array("char const* const %s::fieldNames[]" % cls, [c_string(c.name) for c in comps], "nullptr")
        L += ["::ASN1::SequenceInfo const %s::theInfo = {" % cls,
              "    {&::ASN1::createValue<%s>, 16}, %s, fieldInfos, fieldIds, %d, %d, %d, nullptr, nullptr, fieldNames};"
              % (cls, "true" if ty.extensible else "false", len(ty.root), len(ty.additions), opt), ""]
        return L

    def choice_records(self, cls, ty):
        comps = ty.all()
        L = self.array("void const* const %s::selectionInfos[]" % cls,
                       [self.types.record(c.type) for c in comps], "nullptr")
        L += self.array("char const* const %s::selectionNames[]" % cls, [c_string(c.name) for c in comps], "nullptr")
        L += ["::ASN1::ChoiceInfo const %s::theInfo = {" % cls,
              "    {&::ASN1::createValue<%s>, 0}, %s, selectionInfos, %d, %d, nullptr, selectionNames};"
              % (cls, "true" if ty.extensible else "false", len(ty.root), len(comps)), ""]
        return L

    def initialiser(self):
        lists, seen = [], set()
        for td in self.mod.types:
            seen.add(id(td))
            self.types.lists(td.type, seen, lists)
        if not lists:
            return []
        L = ["namespace {", "",
             "// Stores the create word of every list record the module's types reach;",
             "// each record has its own guard, so records shared by modules are set once.",
             "struct ModuleInit {",
             "    ModuleInit()",
             "    {"]
        L += ["        %s::init();" % t for t in lists]
        L += ["    }", "} const moduleInit;", "", "} // namespace", ""]
        return L
