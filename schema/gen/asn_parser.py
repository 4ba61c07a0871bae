"""Reader of our ASN.1 module texts: lexer, parser and the resolved model.

Only the subset that our modules are written in is accepted (see README);
anything else is reported with the file and line, never guessed at.
"""

import re


class SchemaError(Exception):
    pass


# ---------------------------------------------------------------- lexer

_TOKEN_RE = re.compile(r"""
    (?P<ws>\s+)
  | (?P<comment>--)
  | (?P<assign>::=)
  | (?P<ellipsis>\.\.\.)
  | (?P<range>\.\.)
  | (?P<dot>\.)
  | (?P<number>-?\d+)
  | (?P<ident>[A-Za-z][A-Za-z0-9_]*(?:-[A-Za-z0-9_]+)*)
  | (?P<bracket>\[\[|\]\])
  | (?P<sym>[{}(),;|])
""", re.VERBOSE)


class Token:
    __slots__ = ("kind", "text", "line")

    def __init__(self, kind, text, line):
        self.kind, self.text, self.line = kind, text, line

    def __repr__(self):
        return "%s(%r)@%d" % (self.kind, self.text, self.line)


def tokenize(text, path):
    tokens, pos, line = [], 0, 1
    while pos < len(text):
        m = _TOKEN_RE.match(text, pos)
        if not m:
            raise SchemaError("%s:%d: unexpected character %r" % (path, line, text[pos]))
        kind = m.lastgroup
        if kind == "comment":
            # A comment runs to the next "--" or to the end of the line.
            end = text.find("\n", m.end())
            end = len(text) if end < 0 else end
            close = text.find("--", m.end(), end)
            pos = end if close < 0 else close + 2
            continue
        if kind == "ws":
            line += m.group().count("\n")
        elif kind == "bracket":
            raise SchemaError("%s:%d: extension groups [[ ]] are not supported" % (path, line))
        else:
            tokens.append(Token(kind, m.group(), line))
        pos = m.end()
    tokens.append(Token("eof", "", line))
    return tokens


# ---------------------------------------------------------------- model

class Builtin:
    """A builtin type, possibly with a value range (INTEGER) or size range (strings)."""

    def __init__(self, kind, lb=None, ub=None):
        self.kind, self.lb, self.ub = kind, lb, ub

    def constrained(self):
        return self.lb is not None


class Ref:
    """A reference to a named type, resolved to its TypeDef after parsing."""

    def __init__(self, module, name, line):
        self.module, self.name, self.line = module, name, line
        self.target = None


class Component:
    """A SEQUENCE field, CHOICE alternative or ENUMERATED item."""

    def __init__(self, name, type_=None, optional=False, value=None, line=0):
        self.name, self.type, self.optional, self.value, self.line = name, type_, optional, value, line


class Constructed:
    """SEQUENCE, CHOICE or ENUMERATED: root components, extension marker, additions."""

    def __init__(self, kind, root, extensible, additions):
        self.kind, self.root, self.extensible, self.additions = kind, root, extensible, additions

    def all(self):
        return self.root + self.additions


class SeqOf:
    def __init__(self, elem, is_set):
        self.elem, self.is_set = elem, is_set


class TypeDef:
    """A named type of a module; inline types get a synthesized name Outer_field."""

    def __init__(self, module, name, type_, line, inline=False):
        self.module, self.name, self.type, self.line, self.inline = module, name, type_, line, inline

    def cname(self):
        return self.name.replace("-", "_")

    def qualified(self):
        return "%s.%s" % (self.module.name, self.name)


class Module:
    def __init__(self, name, path):
        self.name, self.path = name, path
        self.imports = {}          # type name -> module name
        self.types = []            # TypeDef in declaration order (inline ones after their owner)
        self.by_name = {}


# ---------------------------------------------------------------- parser

_BUILTIN_WORDS = {"INTEGER", "BOOLEAN", "NULL", "OCTET", "IA5String", "OBJECT",
                  "BIT", "NumericString", "PrintableString", "VisibleString",
                  "GeneralString", "BMPString", "GeneralizedTime"}
_STRING_KINDS = {"IA5String", "NumericString", "PrintableString", "VisibleString",
                 "GeneralString", "BMPString", "OCTET STRING", "BIT STRING"}


class Parser:
    def __init__(self, text, path):
        self.path = path
        self.toks = tokenize(text, path)
        self.i = 0

    # -- token helpers
    def peek(self, k=0):
        return self.toks[min(self.i + k, len(self.toks) - 1)]

    def next(self):
        t = self.toks[self.i]
        self.i = min(self.i + 1, len(self.toks) - 1)
        return t

    def error(self, msg, tok=None):
        tok = tok or self.peek()
        return SchemaError("%s:%d: %s (at %r)" % (self.path, tok.line, msg, tok.text))

    def accept(self, text):
        if self.peek().text == text:
            return self.next()
        return None

    def expect(self, text):
        t = self.next()
        if t.text != text:
            raise self.error("expected %r" % text, t)
        return t

    def ident(self, what):
        t = self.next()
        if t.kind != "ident":
            raise self.error("expected %s" % what, t)
        return t

    def number(self):
        t = self.next()
        if t.kind != "number":
            raise self.error("expected a number", t)
        return int(t.text)

    # -- grammar
    def module(self):
        name = self.ident("module name")
        mod = Module(name.text, self.path)
        self.expect("DEFINITIONS")
        if self.peek().text in ("AUTOMATIC", "EXPLICIT", "IMPLICIT"):
            self.next()
            self.expect("TAGS")
        self.expect("::=")
        self.expect("BEGIN")
        if self.accept("IMPORTS"):
            self.imports(mod)
        while not self.accept("END"):
            if self.peek().kind == "eof":
                raise self.error("missing END")
            self.assignment(mod)
        if self.peek().kind != "eof":
            raise self.error("text after END")
        return mod

    def imports(self, mod):
        names = []
        while not self.accept(";"):
            t = self.ident("imported type or FROM")
            if t.text == "FROM":
                if not names:
                    raise self.error("FROM without imported names", t)
                src = self.ident("module name").text
                for n in names:
                    if n in mod.imports:
                        raise self.error("%s imported twice" % n, t)
                    mod.imports[n] = src
                names = []
                continue
            names.append(t.text)
            self.accept(",")
        if names:
            raise self.error("imported names without FROM")

    def assignment(self, mod):
        t = self.ident("type name")
        if not t.text[0].isupper():
            raise self.error("type names start with a capital letter", t)
        self.expect("::=")
        td = TypeDef(mod, t.text, None, t.line)
        add_type(mod, td)
        td.type = self.type(mod, td.name)

    def type(self, mod, ctx):
        """A type expression; ctx names the inline types it may define."""
        t = self.peek()
        w = t.text
        if w in ("SEQUENCE", "SET"):
            self.next()
            if self.accept("OF"):
                return SeqOf(self.element(mod, ctx), w == "SET")
            if w == "SET":
                raise self.error("SET is not supported (use SEQUENCE)", t)
            return self.inline(mod, ctx, self.sequence_body(mod, ctx), t)
        if w == "CHOICE":
            self.next()
            return self.inline(mod, ctx, self.choice_body(mod, ctx), t)
        if w == "ENUMERATED":
            self.next()
            return self.inline(mod, ctx, self.enum_body(), t)
        if w in _BUILTIN_WORDS:
            return self.builtin()
        if t.kind != "ident" or not w[0].isupper():
            raise self.error("expected a type", t)
        self.next()
        if self.peek().text == "." and self.peek(1).kind == "ident":
            self.next()
            return Ref(w, self.next().text, t.line)
        return Ref(None, w, t.line)

    def element(self, mod, ctx):
        # Constructed element types of an inline SEQUENCE OF are named <ctx>_subtype.
        return self.type(mod, ctx + "_subtype")

    def inline(self, mod, ctx, constructed, tok):
        """Top-level constructed types are the assignment itself; nested ones get a TypeDef."""
        if ctx is None:
            raise self.error("constructed type needs a name", tok)
        owner = mod.by_name.get(ctx)
        if owner is not None and owner.type is None:
            return constructed            # the right-hand side of "ctx ::= ..."
        td = TypeDef(mod, ctx, constructed, tok.line, inline=True)
        add_type(mod, td)
        return Ref(mod.name, ctx, tok.line)

    def builtin(self):
        t = self.next()
        w = t.text
        if w == "OCTET" or w == "BIT":
            self.expect("STRING")
            w += " STRING"
        elif w == "OBJECT":
            self.expect("IDENTIFIER")
            w = "OBJECT IDENTIFIER"
        b = Builtin(w)
        if self.peek().text == "(":
            self.next()
            if w == "INTEGER":
                b.lb, b.ub = self.range()
            elif w in _STRING_KINDS:
                self.expect("SIZE")
                self.expect("(")
                b.lb, b.ub = self.range()
                self.expect(")")
            else:
                raise self.error("%s takes no constraint" % w, t)
            self.expect(")")
            if b.lb > b.ub:
                raise self.error("empty range", t)
            if w != "INTEGER" and b.lb < 0:
                raise self.error("negative size", t)
        return b

    def range(self):
        lb = self.number()
        ub = lb
        if self.accept(".."):
            ub = self.number()
        if self.peek().text == "...":
            raise self.error("extensible constraints are not supported")
        if lb < -2**31 or ub > 2**32 - 1 or (lb < 0 and ub > 2**31 - 1):
            raise self.error("range does not fit 32 bits")
        return lb, ub

    def components(self, item):
        """'{' items [',' '...' [',' additions]] '}' -> (root, extensible, additions)."""
        self.expect("{")
        root, adds, ext = [], [], False
        if self.accept("}"):
            return root, ext, adds
        while True:
            if self.peek().text == "...":
                t = self.next()
                if ext:
                    raise self.error("a second extension marker is not supported", t)
                ext = True
            else:
                (adds if ext else root).append(item(ext))
            if self.accept("}"):
                return root, ext, adds
            self.expect(",")

    def component_name(self):
        t = self.ident("component name")
        if not t.text[0].islower():
            raise self.error("component names start with a lower-case letter", t)
        return t

    def sequence_body(self, mod, ctx):
        def field(in_ext):
            n = self.component_name()
            ty = self.type(mod, "%s_%s" % (ctx, n.text.replace("-", "_")))
            opt = bool(self.accept("OPTIONAL"))
            if self.peek().text == "DEFAULT":
                raise self.error("DEFAULT values are not supported")
            return Component(n.text, ty, opt or in_ext, line=n.line)
        return Constructed("SEQUENCE", *self.components(field))

    def choice_body(self, mod, ctx):
        def alt(_):
            n = self.component_name()
            return Component(n.text, self.type(mod, "%s_%s" % (ctx, n.text.replace("-", "_"))), line=n.line)
        return Constructed("CHOICE", *self.components(alt))

    def enum_body(self):
        def item(_):
            n = self.component_name()
            if not self.accept("("):
                raise self.error("enumeration values are numbered explicitly: %s(n)" % n.text)
            v = self.number()
            self.expect(")")
            return Component(n.text, value=v, line=n.line)
        return Constructed("ENUMERATED", *self.components(item))


def add_type(mod, td):
    if td.name in mod.by_name:
        raise SchemaError("%s:%d: type %s defined twice" % (mod.path, td.line, td.name))
    clash = [t for t in mod.types if t.cname() == td.cname()]
    if clash:
        raise SchemaError("%s:%d: type %s has the same C++ name as %s" % (mod.path, td.line, td.name, clash[0].name))
    mod.types.append(td)
    mod.by_name[td.name] = td


def parse_module(text, path):
    return Parser(text, path).module()


# ---------------------------------------------------------------- checks and resolution

def _check_unique(names, what, owner):
    seen = {}
    for c in names:
        key = c.name.replace("-", "_")
        if key in seen:
            raise SchemaError("%s:%d: %s %s of %s clashes with %s" % (
                owner.module.path, c.line, what, c.name, owner.name, seen[key]))
        seen[key] = c.name


def _walk_refs(ty, fn):
    if isinstance(ty, Ref):
        fn(ty)
    elif isinstance(ty, SeqOf):
        _walk_refs(ty.elem, fn)
    elif isinstance(ty, Constructed):
        for c in ty.all():
            if c.type is not None:
                _walk_refs(c.type, fn)


def resolve(modules):
    """Bind every reference to its TypeDef and check the definitions; modules: name -> Module."""
    for mod in modules.values():
        for name, src in mod.imports.items():
            if src not in modules:
                raise SchemaError("%s: module %s (imported for %s) not found" % (mod.path, src, name))
            if name not in modules[src].by_name:
                raise SchemaError("%s: %s does not define %s" % (mod.path, src, name))

        def bind(ref, mod=mod):
            if ref.module is None:
                if ref.name in mod.by_name:
                    ref.target = mod.by_name[ref.name]
                    return
                src = mod.imports.get(ref.name)
                if src is None:
                    raise SchemaError("%s:%d: unknown type %s (not defined, not imported)" % (mod.path, ref.line, ref.name))
                ref.module = src
            other = modules.get(ref.module)
            if other is None or ref.name not in other.by_name:
                raise SchemaError("%s:%d: unknown type %s.%s" % (mod.path, ref.line, ref.module, ref.name))
            ref.target = other.by_name[ref.name]

        for td in mod.types:
            _walk_refs(td.type, bind)
            ty = td.type
            if isinstance(ty, Constructed):
                what = {"SEQUENCE": "field", "CHOICE": "alternative", "ENUMERATED": "value"}[ty.kind]
                _check_unique(ty.all(), what, td)
                if ty.kind == "ENUMERATED" and not ty.root:
                    raise SchemaError("%s:%d: %s has no values" % (mod.path, td.line, td.name))
                if ty.kind == "CHOICE" and not ty.root:
                    raise SchemaError("%s:%d: %s has no alternatives" % (mod.path, td.line, td.name))

    # Aliases must end in a real type.
    for mod in modules.values():
        for td in mod.types:
            seen = set()
            t = td
            while isinstance(t.type, Ref):
                if t in seen:
                    raise SchemaError("%s:%d: %s is defined in terms of itself" % (mod.path, td.line, td.name))
                seen.add(t)
                t = t.type.target


def target_type(ty):
    """Follows aliases: the Builtin, SeqOf or Constructed a type expression stands for."""
    while isinstance(ty, Ref):
        ty = ty.target.type
    return ty


def target_def(ty):
    """The TypeDef behind a reference once aliases are followed (None for builtins)."""
    td = None
    while isinstance(ty, Ref):
        td = ty.target
        ty = td.type
    return td if isinstance(ty, Constructed) else None
