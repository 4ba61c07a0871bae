#!/usr/bin/env python3
"""Turns the schema module texts into C++ classes over the ASN.1 runtime.

    asn1gen.py --out DIR [--check] schema/lgcp/LGCP.asn schema/mon/MON.asn ...

Every module given is read, all references are resolved across the set, and
for each module <folder>/<MODULE>.asn the files DIR/<folder>/<MODULE>.h and
DIR/<folder>/<MODULE>.cpp are written. --check only reads and resolves.
"""

import argparse
import os
import sys

# Keep the source tree clean of bytecode caches.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from asn_parser import SchemaError, parse_module, resolve  # noqa: E402
from cpp_emitter import ModuleEmitter, Types  # noqa: E402


def load(paths):
    modules, folders = {}, {}
    for path in paths:
        with open(path, encoding="ascii") as f:
            mod = parse_module(f.read(), path)
        base = os.path.splitext(os.path.basename(path))[0]
        if mod.name != base:
            raise SchemaError("%s: module %s must be in a file named %s.asn" % (path, mod.name, mod.name))
        if mod.name in modules:
            raise SchemaError("%s: module %s also in %s" % (path, mod.name, modules[mod.name].path))
        modules[mod.name] = mod
        folders[mod.name] = os.path.basename(os.path.dirname(os.path.abspath(path)))
    resolve(modules)
    check_import_cycles(modules)
    return modules, folders


def check_import_cycles(modules):
    """Module headers include the headers of the modules they use: no cycles."""
    deps = {}
    for name, mod in modules.items():
        em = ModuleEmitter(mod, None, None)
        deps[name] = em.used_modules()
    state = {}

    def visit(n, path):
        if state.get(n) == 1:
            raise SchemaError("modules use each other in a cycle: %s" % " -> ".join(path + [n]))
        if state.get(n) == 2:
            return
        state[n] = 1
        for d in deps[n]:
            visit(d, path + [n])
        state[n] = 2
    for n in sorted(deps):
        visit(n, [])


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="ascii") as f:
        f.write(text)
    os.replace(tmp, path)


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", help="output directory (the build tree's schema folder)")
    ap.add_argument("--check", action="store_true", help="only read and resolve the modules")
    ap.add_argument("modules", nargs="+")
    args = ap.parse_args(argv)
    try:
        modules, folders = load(args.modules)
        if args.check:
            return 0
        if not args.out:
            raise SchemaError("--out is required")
        types = Types(modules)
        outputs = []
        for name, mod in modules.items():
            em = ModuleEmitter(mod, types, folders)
            d = os.path.join(args.out, folders[name])
            outputs.append((os.path.join(d, name + ".h"), em.header()))
            outputs.append((os.path.join(d, name + ".cpp"), em.source()))
    except SchemaError as e:
        print("asn1gen: error: %s" % e, file=sys.stderr)
        return 1
    for path, text in outputs:
        write(path, text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
