#!/usr/bin/env python3
"""Copies the schema modules into a form Erlang's asn1ct compiles and that
codes exactly as our aligned PER coder does, for the differential check only.

- "_" in names becomes "x" (ASN.1 names allow "-" only).
- ENUMERATED { ... } becomes INTEGER (0..max) (with ", ..." when it has an
  extension marker): our coder puts the item's value on the wire as a
  constrained number 0..largest root value, not its position, so several
  enumerations have gaps or shared numbers that X.691 would code otherwise.
  Negative items cannot be sent and are left out. With --root-only the
  marker is dropped: asn1ct:value then makes root values only, whose form
  is the same in both coders (it would make numbers past the root too, and
  ours sends those in a form of its own).

usage: adapt.py [--root-only] OUTDIR MODULE.asn...
"""
import os
import re
import sys


def strip_comments(text):
    # "--" opens a comment that ends at the next "--" or at the line end.
    return re.sub(r"--.*?(--|$)", "", text, flags=re.M)


ROOT_ONLY = False


def enum_to_integer(m):
    items = [p.strip() for p in m.group(1).split(",") if p.strip()]
    root, prev, extensible = [], None, False
    for item in items:
        if item == "...":
            extensible = True
            continue
        if extensible:
            sys.exit("extension additions of an enumeration are not adapted: " + item)
        n = re.fullmatch(r"[\w-]+\s*(?:\(\s*(-?\d+)\s*\))?", item)
        if not n:
            sys.exit("cannot read enumeration item " + item)
        value = int(n.group(1)) if n.group(1) is not None else (0 if prev is None else prev + 1)
        root.append(value)
        prev = value
    top = max(root)
    if top == 0:
        # Erlang reads INTEGER (0..0, ...) wrongly (two bits where there
        # are none); a one-item enumeration codes the same.
        return "ENUMERATED { v0(0)%s }" % (", ..." if extensible and not ROOT_ONLY else "")
    return "INTEGER (0..%d%s)" % (top, ", ..." if extensible and not ROOT_ONLY else "")


def main():
    global ROOT_ONLY
    args = sys.argv[1:]
    if args[:1] == ["--root-only"]:
        ROOT_ONLY = True
        args = args[1:]
    out = args[0]
    os.makedirs(out, exist_ok=True)
    for path in args[1:]:
        text = strip_comments(open(path).read())
        text = re.sub(r"ENUMERATED\s*\{([^}]*)\}", enum_to_integer, text)
        text = text.replace("_", "x")
        with open(os.path.join(out, os.path.basename(path)), "w") as f:
            f.write(text)


main()
