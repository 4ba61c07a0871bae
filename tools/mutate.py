#!/usr/bin/env python3
"""Finds what the tests do not pin: applies one small change at a time to a
source file (a comparison flipped, a bound moved by one, && and || swapped, a
condition negated, an early return dropped), rebuilds the test targets and
runs the test command; prints each change that the tests let pass.

usage: mutate.py SRC_ROOT BUILD_DIR FILE 'TARGETS' 'TEST COMMAND' [FIRST-LAST ...]

Work on a scratch copy of the tree (the file is rewritten while it runs) with
a build directory of its own, best without sanitizers and at -O1 for speed;
a test program that starts the server needs "server" among the targets. FILE
is relative to SRC_ROOT; the test command runs in BUILD_DIR and is killed after
MUT_TIMEOUT seconds (default 30), which counts as caught; line ranges
(1-based, inclusive) limit where changes are made. Logging lines are left
alone. A change the tests let pass is either harmless (the code means the
same) or a behaviour no test holds.
"""
import os
import signal
import re
import subprocess
import sys

SWAP = [(' < ', ' <= '), (' <= ', ' < '), (' > ', ' >= '), (' >= ', ' > '),
        (' == ', ' != '), (' != ', ' == '), (' && ', ' || '), (' || ', ' && ')]
SKIP = re.compile(r'^\s*(//|#)|std::(clog|cerr|cout)|trace\(\)|<<.*std::endl')


def blank_strings(line):
    """The line with string and char literal contents and comments blanked."""
    out, i, q = [], 0, None
    while i < len(line):
        c = line[i]
        if q:
            if c == '\\':
                out.append('__'); i += 2; continue
            out.append('_' if c != q else c)
            if c == q: q = None
        elif c in '"\'':
            q = c; out.append(c)
        elif line.startswith('//', i):
            out.append(' ' * (len(line) - i)); break
        else:
            out.append(c)
        i += 1
    return ''.join(out)


def paren_end(s, start):
    depth = 0
    for j in range(start, len(s)):
        if s[j] == '(':
            depth += 1
        elif s[j] == ')':
            depth -= 1
            if depth == 0:
                return j
    return -1


def mutants(lines, ranges):
    for n, line in enumerate(lines):
        if ranges and not any(a <= n + 1 <= b for a, b in ranges):
            continue
        if SKIP.search(line):
            continue
        b = blank_strings(line)
        for old, new in SWAP:
            for m in re.finditer(re.escape(old), b):
                yield n, line[:m.start()] + new + line[m.end():], f'{old.strip()} -> {new.strip()}'
        compare = re.search(r' (<|<=|>|>=|==|!=) ', b)
        if compare:
            for m in re.finditer(r'(?<![\w.])(\d+)(?![\w.])', b):
                v = int(m.group(1))
                for w in (v + 1, v - 1):
                    if w >= 0:
                        yield n, line[:m.start()] + str(w) + line[m.end():], f'{v} -> {w}'
        for m in re.finditer(r'\b(if|while) \(', b):
            o = m.end() - 1
            e = paren_end(b, o)
            if e < 0:
                continue
            yield n, line[:o] + '(!' + line[o:e + 1] + ')' + line[e + 1:], f'negate {m.group(1)}'
            rest = b[e + 1:]
            r = re.match(r'\s*(return\b[^;]*;|break;|continue;)', rest)
            if m.group(1) == 'if' and r:
                s, t = e + 1 + r.start(1), e + 1 + r.end(1)
                yield n, line[:s] + ';' + line[t:], 'drop ' + r.group(1).split()[0].rstrip(';')


def run(cmd, cwd, timeout):
    # A mutant that loops forever is killed with its whole process group.
    p = subprocess.Popen(cmd, shell=True, cwd=cwd, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        return p.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        p.wait()
        return 'timeout'


def main():
    root, build, rel, target, test = sys.argv[1:6]
    ranges = [tuple(map(int, r.split('-'))) for r in sys.argv[6:]]
    path = os.path.join(root, rel)
    original = open(path).read()
    lines = original.split('\n')
    make = f'cmake --build {build} --target {target} -j2'
    killed = survived = stillborn = 0
    try:
        for n, mutated, what in list(mutants(lines, ranges)):
            text = '\n'.join(lines[:n] + [mutated] + lines[n + 1:])
            open(path, 'w').write(text)
            if run(make, root, 600) != 0:
                stillborn += 1
                continue
            rc = run(test, build, int(os.environ.get('MUT_TIMEOUT', '30')))
            if rc == 0:
                survived += 1
                print(f'SURVIVED {rel}:{n + 1}: {what}: {mutated.strip()}', flush=True)
            else:
                killed += 1
    finally:
        open(path, 'w').write(original)
        run(make, root, 600)
    print(f'{rel} {ranges}: killed {killed} survived {survived} not built {stillborn}', flush=True)


if __name__ == '__main__':
    main()
